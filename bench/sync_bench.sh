#!/usr/bin/env bash
# The command line against the tools a shell user compares it with, on a tree of 200,000 files of
# 1-8 KiB in about 15,000 folders, each figure the median of RUNS runs (default 3) with the two tools
# interleaved, and the ratio on the last line of each part:
#
#   scan      paritas-cli scan A                   find A -type f -printf '%s %T@ %p\n'  goal <= 1.0x
#             (and --threads 1 against the default, for the record)
#   no-op     paritas-cli sync backup A B           rsync -a --delete A/ B/               goal <= 0.5x
#             (identical trees, criteria size,name,time)
#   renamed   two top folders of A renamed and 1,000 files moved, then
#             paritas-cli sync backup A B           rclone sync --track-renames
#                                                   --track-renames-strategy modtime,leaf  goal <= 0.5x
#             (B a hard-linked copy of the old mirror for every run; Paritas must copy nothing)
#   fresh     paritas-cli sync backup A NEW         rsync -a A/ NEW/ (and cp -a A NEW)     goal <= 0.8x
#             (a never-used folder for every run, `sync` before each, the order alternated)
#   no-op-xattrs  paritas-cli sync backup --xattrs A B   rsync -aX --delete A/ B/          goal <= 0.6x
#             (identical trees; both read every entry's attributes on both sides)
#   fresh-hax paritas-cli sync backup --hard-links --xattrs A NEW   rsync -aHAX A/ NEW/     goal <= 0.8x
#             (copies carry owners, modes, times, ACLs and attributes; as fresh)
#   sparse    a 4 GiB file holding 12 MiB of data   cp --sparse=auto                       goal <= 1 s
#   pool      the fresh backup with --threads 1, 2, 4 and 8 (copies at once; the scan of A is a
#             small part of it), each against rsync -a in the same round (not among the defaults)
#   cold      paritas-cli scan with 1, 2, 4 and 8 threads on a cold cache, and find (needs root:
#             the page cache is dropped before every run; not among the default parts)
#
#   bench/sync_bench.sh [PARTS...]     PARTS default to all; RUNS=3; PARITAS_BUILD_DIR=build/bench
# Heed shared/BENCHMARKING.md: the page cache is warmed right before each timed run, copies go into
# fresh folders, outputs are deleted only after all runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build/bench}
runs=${RUNS:-3}
parts=("$@")
[[ ${#parts[@]} -gt 0 ]] || parts=(scan no-op renamed fresh sparse no-op-xattrs fresh-hax)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPARITAS_BUILD_GUI=OFF -DPARITAS_BUILD_TESTS=OFF >/dev/null 2>&1
fi
cmake --build "$build" --target paritas-cli scan_bench -j "$(nproc)" >/dev/null
cli="$(pwd)/$build/src/cli/paritas-cli"
for tool in rsync rclone; do
    command -v "$tool" >/dev/null || { echo "install $tool first (apt-get install $tool)" >&2; exit 1; }
done

tree=${PARITAS_BENCH_TREE:-/tmp/paritas-bench-tree}
"$build/bench/scan_bench" make-tree "$tree" 200000 15000 >/dev/null
work=$(mktemp -d /tmp/paritas-sync-bench.XXXXXX)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
echo "machine: $(nproc) cores; tree: $(find "$tree" -type f | wc -l) files, $(find "$tree" -type d | wc -l) folders"

warm_names() { find "$@" -printf '%s %T@\n' >/dev/null; }
warm_bytes() { find "$1" -type f -print0 | xargs -0 cat >/dev/null; }
# Runs a command, its output thrown away; prints its wall time in seconds.
timed() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "scale=3; ($end - $start) / 1" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }

part_scan() {
    local p=() f=() one=()
    for ((run = 1; run <= runs; run++)); do
        warm_names "$tree"; f+=("$(timed find "$tree" -type f -printf '%s %T@ %p\n')")
        warm_names "$tree"; p+=("$(timed "$cli" scan "$tree")")
        warm_names "$tree"; one+=("$(timed "$cli" scan --threads 1 "$tree")")
    done
    local pm fm om
    pm=$(median "${p[@]}"); fm=$(median "${f[@]}"); om=$(median "${one[@]}")
    echo "scan: find $fm s, paritas-cli scan $pm s (one thread $om s); ratio $(ratio "$pm" "$fm")x find (goal <= 1.0x)"
}

part_noop() {
    local mirror="$work/noop-mirror"
    [[ -d "$mirror" ]] || cp -a "$tree" "$mirror"
    local p=() r=()
    for ((run = 1; run <= runs; run++)); do
        warm_names "$tree" "$mirror"; r+=("$(timed rsync -a --delete "$tree/" "$mirror/")")
        warm_names "$tree" "$mirror"; p+=("$(timed "$cli" sync backup --criteria size,name,time "$tree" "$mirror")")
    done
    local pm rm_
    pm=$(median "${p[@]}"); rm_=$(median "${r[@]}")
    echo "no-op backup: rsync -a --delete $rm_ s, paritas-cli sync backup $pm s; ratio $(ratio "$pm" "$rm_")x rsync (goal <= 0.5x)"
}

part_noop_xattrs() {
    local mirror="$work/noop-mirror"
    [[ -d "$mirror" ]] || cp -a "$tree" "$mirror"
    local p=() r=()
    for ((run = 1; run <= runs; run++)); do
        warm_names "$tree" "$mirror"; r+=("$(timed rsync -aX --delete "$tree/" "$mirror/")")
        warm_names "$tree" "$mirror"; p+=("$(timed "$cli" sync backup --xattrs --criteria size,name,time "$tree" "$mirror")")
    done
    local pm rm_
    pm=$(median "${p[@]}"); rm_=$(median "${r[@]}")
    echo "no-op backup with attributes: rsync -aX --delete $rm_ s, paritas-cli sync backup --xattrs $pm s; ratio $(ratio "$pm" "$rm_")x rsync (goal <= 0.6x)"
}

part_fresh_hax() {
    local p=() r=()
    for ((run = 1; run <= runs; run++)); do
        local order=(rsync paritas)
        ((run % 2)) || order=(paritas rsync)
        for tool in "${order[@]}"; do
            local destination="$work/fresh-hax-$tool-$run"
            warm_bytes "$tree"
            sync
            case $tool in
            rsync) r+=("$(timed rsync -aHAX "$tree/" "$destination/")") ;;
            paritas) p+=("$(timed "$cli" sync backup --hard-links --xattrs "$tree" "$destination")") ;;
            esac
        done
        echo "  fresh-hax run $run: rsync -aHAX ${r[-1]} s, paritas ${p[-1]} s"
    done
    local oracle
    # grep finds nothing to print when the copy is exact: that is no failure of the script.
    oracle=$({ rsync -aHAXn --itemize-changes "$tree/" "$work/fresh-hax-paritas-1/" | grep -v '^\.d\.\.t\.\.\.\.\.\. \./$' || true; } | wc -l)
    local pm rm_
    pm=$(median "${p[@]}"); rm_=$(median "${r[@]}")
    echo "fresh backup keeping everything: rsync -aHAX $rm_ s, paritas-cli sync backup --hard-links --xattrs $pm s; ratio $(ratio "$pm" "$rm_")x rsync (goal <= 0.8x); rsync -aHAXn lists $oracle differences"
}

part_renamed() {
    # The old mirror, then A changed: two top folders renamed, 1,000 files moved to another folder.
    local source="$work/renamed-a" mirror="$work/renamed-b0"
    if [[ ! -d "$mirror" ]]; then
        cp -a "$tree" "$source"
        cp -a "$tree" "$mirror"
        mv "$source/dir0" "$source/dir0-renamed"
        mv "$source/dir1" "$source/dir1-renamed"
        mkdir "$source/moved"
        find "$source/dir2" -type f | sort | sed -n 1,1000p | while read -r f; do mv "$f" "$source/moved/"; done
    fi
    local p=() c=() copies
    for ((run = 1; run <= runs; run++)); do
        cp -al "$mirror" "$work/renamed-rclone-$run"
        cp -al "$mirror" "$work/renamed-paritas-$run"
        warm_names "$source" "$work/renamed-rclone-$run"
        c+=("$(timed rclone sync --track-renames --track-renames-strategy modtime,leaf "$source" "$work/renamed-rclone-$run")")
        warm_names "$source" "$work/renamed-paritas-$run"
        p+=("$(timed "$cli" sync backup --criteria size,name,time --log-file "$work/renamed-$run.log" "$source" "$work/renamed-paritas-$run")")
    done
    copies=$(grep -c "Success Copy-File" "$work/renamed-1.log" || true)
    local pm cm
    pm=$(median "${p[@]}"); cm=$(median "${c[@]}")
    echo "renamed folders: rclone --track-renames $cm s, paritas-cli sync backup $pm s ($copies copies); ratio $(ratio "$pm" "$cm")x rclone (goal <= 0.5x, 0 copies)"
}

part_fresh() {
    local p=() r=() c=()
    for ((run = 1; run <= runs; run++)); do
        local order=(rsync paritas cp)
        ((run % 2)) || order=(paritas cp rsync)
        for tool in "${order[@]}"; do
            local destination="$work/fresh-$tool-$run"
            warm_bytes "$tree"
            sync
            case $tool in
            rsync) r+=("$(timed rsync -a "$tree/" "$destination/")") ;;
            cp) c+=("$(timed cp -a "$tree" "$destination")") ;;
            paritas) p+=("$(timed "$cli" sync backup "$tree" "$destination")") ;;
            esac
        done
        echo "  fresh run $run: rsync ${r[-1]} s, cp -a ${c[-1]} s, paritas ${p[-1]} s"
    done
    diff -r -q "$tree" "$work/fresh-paritas-1" >/dev/null || { echo "paritas copy differs from the source" >&2; exit 1; }
    local pm rm_ cm
    pm=$(median "${p[@]}"); rm_=$(median "${r[@]}"); cm=$(median "${c[@]}")
    echo "fresh backup: rsync -a $rm_ s, cp -a $cm s, paritas-cli sync backup $pm s; ratio $(ratio "$pm" "$rm_")x rsync (goal <= 0.8x), $(ratio "$pm" "$cm")x cp -a"
}

part_sparse() {
    local source="$work/sparse-a"
    if [[ ! -d "$source" ]]; then
        mkdir -p "$source"
        truncate -s 4G "$source/disk.img"
        for at in 0 1024 2048 4090; do # 3 MiB of data at each of four places (MiB offsets)
            head -c 3M /dev/urandom | dd of="$source/disk.img" bs=1M seek="$at" conv=notrunc status=none
        done
    fi
    local p=() c=()
    for ((run = 1; run <= runs; run++)); do
        mkdir -p "$work/sparse-cp-$run"
        c+=("$(timed cp --sparse=auto "$source/disk.img" "$work/sparse-cp-$run/")")
        p+=("$(timed "$cli" sync backup "$source" "$work/sparse-paritas-$run")")
    done
    local allocated
    allocated=$(du -k "$work/sparse-paritas-1/disk.img" | cut -f1)
    cmp -s "$source/disk.img" "$work/sparse-paritas-1/disk.img" || { echo "sparse copy differs" >&2; exit 1; }
    echo "sparse 4 GiB file with 12 MiB of data: cp $(median "${c[@]}") s, paritas-cli sync backup $(median "${p[@]}") s, $((allocated / 1024)) MiB allocated (goal <= 1 s, stays sparse)"
}

part_pool() {
    local -A times=()
    local threads tool destination
    for ((run = 1; run <= runs; run++)); do
        for tool in rsync 1 2 4 8; do
            destination="$work/pool-$tool-$run"
            warm_bytes "$tree"
            sync
            if [[ $tool == rsync ]]; then
                times[$tool]+=" $(timed rsync -a "$tree/" "$destination/")"
            else
                times[$tool]+=" $(timed "$cli" sync backup --threads "$tool" "$tree" "$destination")"
            fi
        done
    done
    local line="copy pool, fresh backup:" rm_
    # shellcheck disable=SC2086
    rm_=$(median ${times[rsync]})
    line+=" rsync -a $rm_ s;"
    for threads in 1 2 4 8; do
        # shellcheck disable=SC2086
        local m
        m=$(median ${times[$threads]})
        line+=" $threads: $m s ($(ratio "$m" "$rm_")x);"
    done
    echo "$line"
}

part_cold() {
    [[ -w /proc/sys/vm/drop_caches ]] || { echo "cold: needs root to drop the page cache" >&2; return; }
    local line="cold cache scan:" threads times t
    for threads in 1 2 4 8 find; do
        times=()
        for ((run = 1; run <= runs; run++)); do
            sync
            echo 3 >/proc/sys/vm/drop_caches
            if [[ $threads == find ]]; then
                t=$(timed find "$tree" -type f -printf '%s %T@ %p\n')
            else
                t=$(timed "$cli" scan --threads "$threads" "$tree")
            fi
            times+=("$t")
        done
        line+=" $threads: $(median "${times[@]}") s;"
    done
    echo "$line"
}

for part in "${parts[@]}"; do
    case $part in
    scan) part_scan ;;
    no-op) part_noop ;;
    renamed) part_renamed ;;
    fresh) part_fresh ;;
    sparse) part_sparse ;;
    cold) part_cold ;;
    pool) part_pool ;;
    no-op-xattrs) part_noop_xattrs ;;
    fresh-hax) part_fresh_hax ;;
    *) echo "unknown part $part (scan, no-op, renamed, fresh, sparse, cold, pool, no-op-xattrs, fresh-hax)" >&2; exit 2 ;;
    esac
done
