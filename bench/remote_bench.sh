#!/usr/bin/env bash
# Paritas backing up to an SFTP server against rclone's own command line, on the same server in the
# same run (`rclone serve sftp` on 127.0.0.1, password login, one rclone.conf for both tools):
#
#   1. first backup of 40,000 small files (1-4 KiB, 10 top folders of 4,000):
#        paritas-cli sync backup A bench:p<k>        against  rclone copy --transfers 4 A bench:r<k>
#      (Paritas copies 4 at once by default)                              goal: <= 1.0 x rclone copy
#   2. the same backup again with nothing changed (both list both sides):
#        paritas-cli sync backup A bench:p<k>        against  rclone sync A bench:r<k>
#                                                                         goal: <= 1.0 x rclone sync
#   3. a top folder of 10% of the files renamed in A, then the backup again:
#        paritas-cli sync backup A bench:p<k>        against  rclone sync --track-renames
#                                                              --track-renames-strategy modtime,leaf
#      and how many files each tool sent again: a file moved on the server keeps its inode number on
#      the server's disk, a file sent again gets a new one.               goal: <= 0.2 x, 0 sent
#   4. listing 200,000 files (the scan benchmark's tree, 15,000 folders) over SFTP:
#        paritas-cli scan bench:<tree>               against  one recursive operations/list through
#                                                              a fresh rclone rcd (its start not
#                                                              counted; Paritas's own start is)
#      and Paritas's peak memory (VmHWM of paritas-cli alone; its rclone child keeps its own) against
#      paritas-cli scan of the same tree on the local disk.  goal: <= 0.5 x, memory <= 1.2 x
#
# LATENCY_MS=20 puts a relay (bench/latency_proxy.py) with that round trip between both tools and the
# servers, as a NAS or server across a network is reached. Row 1 is then left out (it would take an
# hour at that latency): both backups are made on the server's disk before the servers start, and
# rows 2-4 run through the relay.
#
# Rows 1-3 run ROUNDS times (default 1: a first backup takes minutes; 0 leaves them out) into fresh
# folders, the order of the two tools alternating; row 4 runs RUNS times (default 3). Medians and
# ratios on the last lines.
#
#   bench/remote_bench.sh [BUILD_DIR] [ROOT]     BUILD_DIR: a Release build (default build/release);
#                                                ROOT: work folder (default /tmp/paritas-remote-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
root=${2:-/tmp/paritas-remote-bench}
rounds=${ROUNDS:-1}
latency=${LATENCY_MS:-0}
(( latency > 0 && rounds > 1 )) && rounds=1
runs=${RUNS:-3}
cli="$build/src/cli/paritas-cli"
scanner="$build/bench/scan_bench"
for program in "$cli" "$scanner"; do
    [[ -x "$program" ]] || { echo "build first: cmake --build $build --target paritas-cli scan_bench" >&2; exit 1; }
done
for tool in rclone curl python3; do
    command -v "$tool" >/dev/null || { echo "install $tool first (apt-get install rclone curl python3)" >&2; exit 1; }
done

big_tree=${PARITAS_BENCH_TREE:-/tmp/paritas-bench-tree}
"$scanner" make-tree "$big_tree" 200000 15000 >/dev/null

mkdir -p "$root"
served="$root/served"
source_tree="$root/a"
if [[ ! -f "$root/a.complete" ]]; then
    rm -rf "$source_tree"
    python3 - "$source_tree" <<'EOF'
import os, sys
root = sys.argv[1]
seed = 42
for top in range(10):
    for sub in range(40):
        folder = os.path.join(root, "t%02d" % top, "s%02d" % sub)
        os.makedirs(folder)
        for i in range(100):
            seed = (seed * 6364136223846793005 + 1442695040888963407) % 2**64
            size = 1024 + (seed >> 33) % 3072
            with open(os.path.join(folder, "f%03d.dat" % i), "wb") as out:
                out.write(bytes([97 + (seed >> 40) % 26]) * size)
EOF
    touch "$root/a.complete"
fi
# A rename left by an interrupted earlier run is undone first.
[[ -d "$source_tree/t03-renamed" ]] && mv "$source_tree/t03-renamed" "$source_tree/t03"
rm -rf "$served"
mkdir -p "$served"
if (( latency > 0 && rounds > 0 )); then
    cp -a "$source_tree" "$served/p1"
    cp -a "$source_tree" "$served/r1"
fi

user=bench
password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [[ -d "$source_tree/t03-renamed" ]] && mv "$source_tree/t03-renamed" "$source_tree/t03"
    rm -rf "$served"
}
trap cleanup EXIT

# Starts `rclone serve sftp FOLDER` on a free port of 127.0.0.1, its output in LOG.
serve() {
    rclone serve sftp "$1" --addr 127.0.0.1:0 --user "$user" --pass "$password" --config /dev/null \
        >"$2" 2>&1 &
    pids+=($!)
}
# The port a program started in the background says in LOG that it listens on (the sed expression
# EXPR prints it), once it says so.
printed_port() {
    for _ in $(seq 100); do
        local port
        port=$(sed -n "$2" "$1")
        [[ -n "$port" ]] && { echo "$port"; return; }
        sleep 0.05
    done
    echo "$3 did not start: $(cat "$1")" >&2
    exit 1
}
port_of() { printed_port "$1" 's/.*SFTP server listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "rclone serve sftp"; }
serve "$served" "$root/serve.log"
serve "$(dirname "$big_tree")" "$root/serve-big.log"
port=$(port_of "$root/serve.log")
big_port=$(port_of "$root/serve-big.log")
# With a round trip to add, each server is reached through a relay of its own.
relay() {
    python3 bench/latency_proxy.py "$1" "$latency" >"$2" 2>&1 &
    pids+=($!)
}
relayed_port() { printed_port "$1" 's/^relaying on \([0-9]*\)$/\1/p' "the relay"; }
if (( latency > 0 )); then
    relay "$port" "$root/relay.log"
    relay "$big_port" "$root/relay-big.log"
    port=$(relayed_port "$root/relay.log")
    big_port=$(relayed_port "$root/relay-big.log")
fi
export RCLONE_CONFIG="$root/rclone.conf"
obscured=$(rclone obscure "$password")
cat >"$RCLONE_CONFIG" <<EOF
[bench]
type = sftp
host = 127.0.0.1
port = $port
user = $user
pass = $obscured

[bigtree]
type = sftp
host = 127.0.0.1
port = $big_port
user = $user
pass = $obscured
EOF

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
m() { printf '%s\n' "$@" | median; }
# Runs a command, its output to $root/out.log (its log to err.log); prints its wall time in seconds. A failure ends the
# benchmark with the command's last lines: a figure of a failed run would mean nothing.
timed() {
    local start end
    start=$(date +%s.%N)
    if ! "$@" >"$root/out.log" 2>"$root/err.log"; then
        echo "failed: $*" >&2
        tail -5 "$root/out.log" "$root/err.log" >&2
        exit 1
    fi
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
paritas_backup() { timed "$cli" sync backup --quiet --max-delete none "$source_tree" "bench:$1"; }
# Files under FOLDER on the server whose inode numbers were not among those in FILE.
sent_again() { find "$1" -type f -printf '%i\n' | sort | comm -13 "$2" - | wc -l; }
same_tree() { diff -r -q "$source_tree" "$1" >/dev/null; }

echo "machine: $(nproc) cores; rclone $(rclone version | head -1 | awk '{print $2}'); A: $(find "$source_tree" -type f | wc -l) files; round trip to the servers: ${latency} ms added"
p_first=() r_first=() first_ratio=() p_noop=() r_noop=() noop_ratio=() p_rename=() r_rename=() rename_ratio=()
p_sent=() r_sent=()
find "$source_tree" -type f -print0 | xargs -0 cat >/dev/null # the source in the page cache
for round in $(seq "$rounds"); do
    p="p$round" r="r$round"
    if (( latency > 0 )); then
        pf=0 rf=1 # made on the server's disk
    elif (( round % 2 )); then
        pf=$(paritas_backup "$p"); rf=$(timed rclone copy --transfers 4 "$source_tree" "bench:$r")
    else
        rf=$(timed rclone copy --transfers 4 "$source_tree" "bench:$r"); pf=$(paritas_backup "$p")
    fi
    if (( round % 2 )); then
        pn=$(paritas_backup "$p"); rn=$(timed rclone sync "$source_tree" "bench:$r")
    else
        rn=$(timed rclone sync "$source_tree" "bench:$r"); pn=$(paritas_backup "$p")
    fi
    same_tree "$served/$p" || { echo "Paritas's first backup differs from A" >&2; exit 1; }
    find "$served/$p/t03" -type f -printf '%i\n' | sort >"$root/p.inodes"
    find "$served/$r/t03" -type f -printf '%i\n' | sort >"$root/r.inodes"
    mv "$source_tree/t03" "$source_tree/t03-renamed"
    if (( round % 2 )); then
        pr=$(paritas_backup "$p")
        rr=$(timed rclone sync --track-renames --track-renames-strategy modtime,leaf "$source_tree" "bench:$r")
    else
        rr=$(timed rclone sync --track-renames --track-renames-strategy modtime,leaf "$source_tree" "bench:$r")
        pr=$(paritas_backup "$p")
    fi
    same_tree "$served/$p" || { echo "Paritas's backup after the rename differs from A" >&2; exit 1; }
    [[ ! -e "$served/$p/t03" ]] || { echo "the old folder is still in Paritas's backup" >&2; exit 1; }
    p_sent+=("$(sent_again "$served/$p/t03-renamed" "$root/p.inodes")")
    r_sent+=("$(sent_again "$served/$r/t03-renamed" "$root/r.inodes")")
    mv "$source_tree/t03-renamed" "$source_tree/t03"
    p_first+=("$pf") r_first+=("$rf") p_noop+=("$pn") r_noop+=("$rn") p_rename+=("$pr") r_rename+=("$rr")
    first_ratio+=("$(awk -v a="$pf" -v b="$rf" 'BEGIN { print a / b }')")
    noop_ratio+=("$(awk -v a="$pn" -v b="$rn" 'BEGIN { print a / b }')")
    rename_ratio+=("$(awk -v a="$pr" -v b="$rr" 'BEGIN { print a / b }')")
    echo "round $round (s): first backup paritas $pf rclone copy $rf; no-op paritas $pn rclone sync $rn;" \
        "after the rename paritas $pr (${p_sent[-1]} files sent again) rclone --track-renames $rr (${r_sent[-1]} sent again)"
    rm -rf "${served:?}/$p" "${served:?}/$r"
done

# Peak resident memory (VmHWM, kB) of a command's own process, sampled until it ends.
peak_memory() {
    "$@" >/dev/null 2>"$root/err.log" &
    local pid=$! peak=0 now
    while now=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null); [[ -n "$now" ]]; do
        peak=$now
        sleep 0.02
    done
    wait "$pid" || { echo "failed: $* ($(tail -2 "$root/err.log"))" >&2; exit 1; }
    echo "$peak"
}
# One recursive operations/list of the big tree through a fresh rcd; prints the seconds of the call.
recursive_list() {
    local log="$root/rcd.log" rc_port="" pass
    pass=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
    RCLONE_RC_USER=bench RCLONE_RC_PASS=$pass rclone rcd --rc-addr 127.0.0.1:0 >"$log" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
        rc_port=$(sed -n 's|.*Serving remote control on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$log")
        [[ -n "$rc_port" ]] && break
        sleep 0.05
    done
    local start end
    start=$(date +%s.%N)
    curl -sf -u "bench:$pass" -H 'Content-Type: application/json' -o "$root/list.json" \
        -d "{\"fs\":\"bigtree:\",\"remote\":\"$(basename "$big_tree")\",\"opt\":{\"recurse\":true}}" \
        "http://127.0.0.1:$rc_port/operations/list" || { echo "operations/list failed" >&2; kill "$pid"; exit 1; }
    end=$(date +%s.%N)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
remote_tree="bigtree:$(basename "$big_tree")"
local_lines=$("$cli" scan "$big_tree" 2>/dev/null | wc -l)
p_list=() r_list=() list_ratio=() remote_memory=() local_memory=()
for run in $(seq "$runs"); do
    if (( run % 2 )); then
        pl=$(timed "$cli" scan "$remote_tree"); rl=$(recursive_list)
    else
        rl=$(recursive_list); pl=$(timed "$cli" scan "$remote_tree")
    fi
    lines=$(wc -l <"$root/out.log")
    (( lines == local_lines )) || { echo "the remote scan gave $lines lines, the local one $local_lines" >&2; exit 1; }
    p_list+=("$pl") r_list+=("$rl")
    list_ratio+=("$(awk -v a="$pl" -v b="$rl" 'BEGIN { print a / b }')")
    remote_memory+=("$(peak_memory "$cli" scan "$remote_tree")")
    local_memory+=("$(peak_memory "$cli" scan "$big_tree")")
    echo "listing run $run: paritas scan $pl s, one recursive operations/list $rl s;" \
        "paritas peak memory remote ${remote_memory[-1]} kB, local ${local_memory[-1]} kB"
done

(( rounds > 0 )) && awk -v pf="$(m "${p_first[@]}")" -v rf="$(m "${r_first[@]}")" -v fr="$(m "${first_ratio[@]}")" \
    -v pn="$(m "${p_noop[@]}")" -v rn="$(m "${r_noop[@]}")" -v nr="$(m "${noop_ratio[@]}")" \
    -v pr="$(m "${p_rename[@]}")" -v rr="$(m "${r_rename[@]}")" -v rnr="$(m "${rename_ratio[@]}")" \
    -v ps="$(m "${p_sent[@]}")" -v rs="$(m "${r_sent[@]}")" 'BEGIN {
    if (pf > 0) printf "first backup of 40000 files: paritas %.2f s, rclone copy --transfers 4 %.2f s: %.2fx (goal <= 1.0)\n", pf, rf, fr
    printf "no-op backup: paritas %.2f s, rclone sync %.2f s: %.2fx (goal <= 1.0)\n", pn, rn, nr
    printf "after renaming a folder of 4000 files: paritas %.2f s (%d sent again), rclone sync --track-renames modtime,leaf %.2f s (%d sent again): %.3fx (goal <= 0.2, 0 sent)\n", pr, ps, rr, rs, rnr }'
awk -v pl="$(m "${p_list[@]}")" -v rl="$(m "${r_list[@]}")" -v lr="$(m "${list_ratio[@]}")" \
    -v rm="$(m "${remote_memory[@]}")" -v lm="$(m "${local_memory[@]}")" 'BEGIN {
    printf "listing 200000 files over sftp: paritas %.2f s, one recursive operations/list %.2f s: %.2fx (goal <= 0.5); paritas memory %.0f MB remote, %.0f MB local: %.2fx (goal <= 1.2)\n",
        pl, rl, lr, rm / 1024, lm / 1024, rm / lm }'
