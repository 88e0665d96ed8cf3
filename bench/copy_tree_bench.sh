#!/usr/bin/env bash
# First copy of a tree of 200,000 small files (1-8 KiB, ~15,000 folders) into a fresh, never-used
# empty folder: Paritas's executor (CreateDir + Copy lines, no windows) against `rsync -a SRC/ DST/`.
# Every run copies into new folders; the copies are deleted only after all runs. The source is read
# back into the page cache right before each timed copy. Medians; the last line holds the ratio.
#
#   bench/copy_tree_bench.sh [BUILD_DIR]      RUNS=3 by default
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-3}
program="$build/bench/copy_tree_bench"
[[ -x "$program" ]] || { echo "build first: cmake --build $build --target copy_tree_bench" >&2; exit 1; }

tree=/tmp/paritas-bench-tree
count_files() { find "$1" -type f | wc -l; }
count_folders() { find "$1" -mindepth 1 -type d | wc -l; }
if [[ -d "$tree" ]] && (( $(count_files "$tree") == 200000 )) && (( $(count_folders "$tree") >= 14000 )); then
    echo "reusing $tree"
else
    tree=/tmp/paritas-bench-tree-copy
    if [[ ! -f "$tree/.complete" ]]; then
        echo "building $tree"
        rm -rf "$tree.partial"
        "$program" make-tree "$tree.partial"
        touch "$tree.partial/.complete"
        rm -rf "$tree"
        mv "$tree.partial" "$tree"
    fi
fi
echo "source: $(count_files "$tree") files, $(count_folders "$tree") folders, $(du -sh "$tree" | cut -f1)"

work=$(mktemp -d /tmp/paritas-copy-tree-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

warm() { find "$tree" -type f -print0 | xargs -0 cat >/dev/null; }
seconds() { echo "scale=3; ($(date +%s.%N) - $1) / 1" | bc; }

rsync_times=() paritas_times=()
for ((run = 1; run <= runs; run++)); do
    # Alternate the order so that neither tool always runs on the fresher file system.
    for tool in $( ((run % 2)) && echo "rsync paritas" || echo "paritas rsync"); do
        destination="$work/$tool-$run"
        mkdir "$destination"
        warm
        start=$(date +%s.%N)
        if [[ $tool == rsync ]]; then
            rsync -a "$tree/" "$destination/"
            rsync_times+=("$(seconds "$start")")
        else
            "$program" copy "$tree" "$destination" >"$work/paritas-$run.out"
            paritas_times+=("$(seconds "$start")")
        fi
        sync
    done
    echo "run $run: rsync ${rsync_times[-1]} s, paritas ${paritas_times[-1]} s ($(cat "$work/paritas-$run.out"))"
done

# The copy must be whole: same names, sizes, bytes and modified times as rsync's.
if ! diff -r -q "$tree" "$work/paritas-1" >/dev/null; then
    echo "paritas copy differs from the source" >&2
    exit 1
fi
mismatch=$(rsync -a -n -i --no-owner --no-group "$tree/" "$work/paritas-1/" | grep -c '^[.>]f' || true)
echo "verified: bytes equal; rsync sees $mismatch files to update (times, permissions)"

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
r=$(median "${rsync_times[@]}")
p=$(median "${paritas_times[@]}")
echo "copy tree of 200000 files ($runs runs, median): rsync -a $r s, paritas $p s, ratio $(echo "scale=3; $p / $r" | bc)x (goal <= 1.1x)"
