#!/usr/bin/env bash
# Scan speed and inventory memory against find.
#
#   bench/scan_bench.sh [TREE]      TREE defaults to $PARITAS_BENCH_TREE or /tmp/paritas-bench-tree
#
# Builds a deterministic tree of 200,000 files of 1-8 KiB in about 15,000 folders once (reused when
# present), then, RUNS times (default 5), interleaved and each right after warming the metadata cache:
#   find TREE -type f -printf '%s %T@ %p\n'    the reference
#   scan_bench scan TREE plain                the scan with a host that does nothing
#   scan_bench scan TREE gui                  the scan with a window-like keep-alive (clock check per call)
# and prints the medians of whole-process wall times and their ratios. Goals: scan <= 1.15 x find,
# gui <= 1.10 x scan, inventory <= 200 bytes per file beyond its path bytes (1,000,000 rows).
# As root (the page cache can be dropped) it then times the same with a cold cache, right after
# `echo 3 > /proc/sys/vm/drop_caches` each: find, the scan with its default readers, and the scan with
# 2 readers (the default of this 2-core machine before the readers were sized for waiting). Goal:
# cold scan <= 0.5 x find. COLD=0 leaves the cold runs out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build}
tree=${1:-${PARITAS_BENCH_TREE:-/tmp/paritas-bench-tree}}
runs=${RUNS:-5}
program="$build/bench/scan_bench"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARITAS_BUILD_GUI=OFF >/dev/null
fi
cmake --build "$build" --target scan_bench -j 2 >/dev/null
"$program" make-tree "$tree" 200000 15000

warm() { find "$tree" -printf '%s %T@\n' >/dev/null; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Runs a command with stdout to $out; prints "wall cpu" seconds (cpu = user + system of the process).
timed() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >"$out"; } 2>&1 | awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }'
}

find_wall=() find_cpu=() scan_wall=() scan_cpu=() gui_wall=() gui_cpu=()
for run in $(seq "$runs"); do
    warm
    read -r w c < <(timed find "$tree" -type f -printf '%s %T@ %p\n')
    find_wall+=("$w") find_cpu+=("$c")
    warm
    read -r w c < <(timed "$program" scan "$tree" plain)
    scan_wall+=("$w") scan_cpu+=("$c")
    plain_out=$(cat "$out")
    warm
    read -r w c < <(timed "$program" scan "$tree" gui)
    gui_wall+=("$w") gui_cpu+=("$c")
    echo "run $run (wall/cpu s): find ${find_wall[-1]}/${find_cpu[-1]}, scan ${scan_wall[-1]}/${scan_cpu[-1]}," \
        "scan with gui-like host ${gui_wall[-1]}/${gui_cpu[-1]}"
done
echo "scan: $plain_out"

cold_find=() cold_scan=() cold_two=()
if [ "${COLD:-1}" = 1 ] && [ -w /proc/sys/vm/drop_caches ]; then
    drop() { sync; echo 3 >/proc/sys/vm/drop_caches; }
    for run in $(seq "$runs"); do
        drop
        read -r w c < <(timed find "$tree" -type f -printf '%s %T@ %p\n')
        cold_find+=("$w")
        drop
        read -r w c < <(timed "$program" scan "$tree" plain)
        cold_scan+=("$w")
        drop
        read -r w c < <(timed "$program" scan "$tree" plain 2)
        cold_two+=("$w")
        echo "cold run $run (wall s): find ${cold_find[-1]}, scan ${cold_scan[-1]}, scan with 2 readers ${cold_two[-1]}"
    done
fi
memory_out=$("$program" memory 1000000)
echo "memory: $memory_out"

m() { printf '%s\n' "$@" | median; }
per_file=$(sed -n 's/.*bytes_per_file_beyond_paths=\([0-9.]*\).*/\1/p' <<<"$memory_out")
awk -v fw="$(m "${find_wall[@]}")" -v fc="$(m "${find_cpu[@]}")" -v sw="$(m "${scan_wall[@]}")" \
    -v sc="$(m "${scan_cpu[@]}")" -v gw="$(m "${gui_wall[@]}")" -v gc="$(m "${gui_cpu[@]}")" -v mem="$per_file" 'BEGIN {
    printf "medians wall/cpu s: find %.3f/%.3f, scan %.3f/%.3f, scan+gui host %.3f/%.3f; scan/find wall %.2f cpu %.2f (goal <= 1.15); gui/scan wall %.2f cpu %.2f (goal <= 1.10); inventory %.1f bytes/file beyond paths (goal <= 200)\n",
        fw, fc, sw, sc, gw, gc, sw / fw, sc / fc, gw / sw, gc / sc, mem }'
if [ ${#cold_find[@]} -gt 0 ]; then
    awk -v f="$(m "${cold_find[@]}")" -v s="$(m "${cold_scan[@]}")" -v t="$(m "${cold_two[@]}")" 'BEGIN {
        printf "cold medians wall s: find %.3f, scan %.3f, scan with 2 readers %.3f; scan/find %.2f (goal <= 0.5), 2 readers/find %.2f\n",
            f, s, t, s / f, t / f }'
fi
