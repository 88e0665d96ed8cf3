#!/usr/bin/env bash
# What reading extended attributes and ACLs costs per file, against rsync's no-op with attributes.
#
#   bench/metadata_bench.sh [TREE]      TREE defaults to /tmp/paritas-bench-xattr-tree; RUNS=5
#
# Builds once a deterministic tree A of 200,000 files of 0-4 KiB in 2,000 folders (every 10th file
# with two user.* attributes, every 20th with an access ACL) and its copy B (rsync -aAX), then, RUNS
# times, interleaved, each right after warming the metadata cache of both trees:
#   rsync -aX --delete A/ B/        the reference: nothing to do, both sides' attributes compared
#   rsync -a  --delete A/ B/        the same without attributes
#   metadata_bench walk plain A B   the scan's listing and stat of both trees
#   metadata_bench walk llistxattr  the same plus one bare llistxattr per file (full path)
#   metadata_bench walk read        the same plus readAttributesAt (attributes and ACLs) per file
#   metadata_bench walk read-proc   the same as kernels before 6.13 read (no listxattrat)
# and prints medians, the cost per file of reading attributes (read - plain), and ratios to rsync.
# Ends with the inventory row's size now and with the proposed ownership fields (1,000,000 rows).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build}
tree=${1:-/tmp/paritas-bench-xattr-tree}
runs=${RUNS:-5}
program="$build/bench/metadata_bench"
files=200000

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARITAS_BUILD_GUI=OFF >/dev/null
fi
if ! grep -q 'PARITAS_BUILD_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
    cmake -S . -B "$build" -DPARITAS_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" --target metadata_bench -j 2 >/dev/null
command -v rsync >/dev/null || { echo "rsync is needed (apt-get install rsync)" >&2; exit 1; }

a="$tree/a" b="$tree/b"
if [ ! -f "$tree/.complete" ]; then
    rm -rf "$tree"
    mkdir -p "$tree"
    "$program" make-tree "$a" "$files" 2000
    rsync -aAX "$a/" "$b/"
    touch "$tree/.complete"
fi

warm() { find "$a" "$b" -printf '%s\n' >/dev/null; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timed() {
    local TIMEFORMAT='%R'
    { time "$@" >"$out"; } 2>&1
}

rsync_x=() rsync_plain=() walk_plain=() walk_list=() walk_read=() walk_proc=()
for run in $(seq "$runs"); do
    warm
    rsync_x+=("$(timed rsync -aX --delete "$a/" "$b/")")
    warm
    rsync_plain+=("$(timed rsync -a --delete "$a/" "$b/")")
    warm
    walk_plain+=("$(timed "$program" walk plain "$a" "$b")")
    warm
    walk_list+=("$(timed "$program" walk llistxattr "$a" "$b")")
    warm
    walk_read+=("$(timed "$program" walk read "$a" "$b")")
    read_out=$(cat "$out")
    warm
    walk_proc+=("$(timed "$program" walk read-proc "$a" "$b")")
    echo "run $run (wall s): rsync -aX ${rsync_x[-1]}, rsync -a ${rsync_plain[-1]}, walk ${walk_plain[-1]}," \
        "walk+llistxattr ${walk_list[-1]}, walk+readAttributesAt ${walk_read[-1]}, same before 6.13 ${walk_proc[-1]}"
done
echo "last read: $read_out"
# A no-op must have changed nothing: B is still A's exact copy.
changes=$(rsync -aHAXn --itemize-changes --delete "$a/" "$b/" | { grep -v ' \./$' || true; } | wc -l)
echo "oracle lines after the runs: $changes"

m() { printf '%s\n' "$@" | median; }
awk -v rx="$(m "${rsync_x[@]}")" -v ra="$(m "${rsync_plain[@]}")" -v wp="$(m "${walk_plain[@]}")" \
    -v wl="$(m "${walk_list[@]}")" -v wr="$(m "${walk_read[@]}")" -v wo="$(m "${walk_proc[@]}")" \
    -v n="$((2 * files))" 'BEGIN {
    printf "medians wall s: rsync -aX %.3f, rsync -a %.3f, walk %.3f, walk+llistxattr %.3f, walk+read %.3f, walk+read before 6.13 %.3f\n",
        rx, ra, wp, wl, wr, wo
    printf "per file (both trees, %d files): rsync -X adds %.2f us, llistxattr adds %.2f us, readAttributesAt adds %.2f us (%.2f us before 6.13)\n",
        n, (rx - ra) * 1e6 / n, (wl - wp) * 1e6 / n, (wr - wp) * 1e6 / n, (wo - wp) * 1e6 / n
    printf "walk+read / rsync -aX %.2f; walk / rsync -a %.2f\n", wr / rx, wp / ra
}'
"$program" memory 1000000
