#!/usr/bin/env bash
# Screenshots of every window under Xvfb with the openbox window manager, at the default font and at
# 12 pt, on the benchmark tree (a 200,000-line review, a run in progress): for a person to look at.
#
#   bench/window_shots.sh [BUILD_DIR] [OUT_DIR]      needs xvfb-run, openbox and ImageMagick's import
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=${2:-/tmp/paritas-shots}
program="$build/bench/window_shots"
[[ -x "$program" ]] || { echo "build first: cmake --build $build --target window_shots" >&2; exit 1; }
tree=/tmp/paritas-bench-tree
[[ -d "$tree" ]] || { echo "make the tree first: $build/bench/copy_tree_bench make-tree $tree" >&2; exit 1; }
for points in 0 12; do
    folder="$out/$([[ $points == 0 ]] && echo default || echo "${points}pt")"
    rm -rf "$folder"
    xvfb-run -a -s "-screen 0 1600x1000x24" bash -c \
        "openbox >/dev/null 2>&1 & sleep 1; '$program' '$folder' $points '$tree'"
done
echo "screenshots in $out"
