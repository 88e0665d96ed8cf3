#!/usr/bin/env bash
# One 1 GiB file: Paritas's copy (chunked copy_file_range into a temporary file, renamed into place)
# against `cp --reflink=never`. Fresh destination names for every run, source read back into the page
# cache before each run, medians; the last line holds the ratio.
#
#   bench/copy_large_bench.sh [BUILD_DIR]      RUNS=5 by default
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
program="$build/bench/copy_large_bench"
[[ -x "$program" ]] || { echo "build first: cmake --build $build --target copy_large_bench" >&2; exit 1; }

work=$(mktemp -d /tmp/paritas-copy-large-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
source="$work/source.bin"
# Deterministic and incompressible: AES-CTR of zeros under a fixed key (head ends the pipe early).
(set +o pipefail; openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -in /dev/zero 2>/dev/null \
    | head -c $((1 << 30)) >"$source")
[[ $(stat -c %s "$source") -eq $((1 << 30)) ]] || { echo "could not build the source file" >&2; exit 1; }

warm() { cat "$source" >/dev/null; }
seconds() { echo "scale=3; ($(date +%s.%N) - $1) / 1" | bc; }

cp_times=() paritas_times=()
for ((run = 1; run <= runs; run++)); do
    for tool in $( ((run % 2)) && echo "cp paritas" || echo "paritas cp"); do
        warm
        start=$(date +%s.%N)
        if [[ $tool == cp ]]; then
            cp --reflink=never "$source" "$work/cp-$run.bin"
            cp_times+=("$(seconds "$start")")
        else
            "$program" "$source" "$work/paritas-$run.bin" >/dev/null
            paritas_times+=("$(seconds "$start")")
        fi
    done
    cmp "$source" "$work/paritas-$run.bin"
    echo "run $run: cp ${cp_times[-1]} s, paritas ${paritas_times[-1]} s"
    rm -f "$work/cp-$run.bin" "$work/paritas-$run.bin"
    sync
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
c=$(median "${cp_times[@]}")
p=$(median "${paritas_times[@]}")
echo "copy 1 GiB file ($runs runs, median): cp --reflink=never $c s, paritas $p s, ratio $(echo "scale=3; $p / $c" | bc)x (goal <= 1.05x)"
