#!/usr/bin/env bash
# The windows against the command line on the same trees: what the window adds on top of the engine.
#
#   1. a first backup of 200,000 small files into a fresh folder: "Analyse/Synchronize Now" (backup,
#      review off, with the scans after the run) against `paritas-cli sync backup A B`
#   2. the CRC compare of the tree against that copy: "CRC Matching A -> B" and "Start CRC Compare"
#      against `paritas-cli crc A B`
#   3. ten no-op analyses in a row: the growth of the process after the first
#   4. the activity log: memory for 1,000,000 lines, and the export of 455,000 lines
#
# The windows run under Xvfb (a real X server: painting and X traffic count) when xvfb-run is there,
# else on Qt's offscreen platform. Every copy goes into a new, never-used folder; the source is read
# back into the page cache before each timed run, `sync` runs before each copy, and the order of the
# two tools alternates. Both figures are medians of RUNS runs; each ratio is the median of the ratios of
# the runs, window over command line taken back to back, which the load of a shared machine disturbs
# far less than the lone times. The last line holds both figures and the ratios.
#
#   bench/window_bench.sh [BUILD_DIR]      RUNS=3 by default; a Release build is best
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${RUNS:-3}
cli="$build/src/cli/paritas-cli"
driver="$build/bench/window_bench"
maker="$build/bench/copy_tree_bench"
for program in "$cli" "$driver" "$maker"; do
    [[ -x "$program" ]] || { echo "build first: cmake --build $build --target paritas-cli window_bench copy_tree_bench" >&2; exit 1; }
done

if command -v xvfb-run >/dev/null; then
    platform="Xvfb"
    windows() { xvfb-run -a -s "-screen 0 1280x1024x24" "$driver" "$@"; }
else
    platform="offscreen"
    windows() { QT_QPA_PLATFORM=offscreen "$driver" "$@"; }
fi

tree=/tmp/paritas-bench-tree
count_files() { find "$1" -type f | wc -l; }
if [[ ! -d "$tree" ]] || (( $(count_files "$tree") != 200000 )); then
    tree=/tmp/paritas-bench-tree-window
    if [[ ! -f "$tree/.complete" ]]; then
        echo "building $tree"
        rm -rf "$tree.partial"
        "$maker" make-tree "$tree.partial"
        touch "$tree.partial/.complete"
        rm -rf "$tree"
        mv "$tree.partial" "$tree"
    fi
fi
echo "source: $(count_files "$tree") files in $(find "$tree" -mindepth 1 -type d | wc -l) folders; windows on $platform"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo), $(uname -r)"

work=$(mktemp -d /tmp/paritas-window-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
warm() { for folder in "$@"; do find "$folder" -type f -print0 | xargs -0 cat >/dev/null; done; }
seconds() { echo "scale=3; ($(date +%s.%N) - $1) / 1" | bc; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }
# The median of the run-by-run ratios of two lists of times.
paired_ratio() {
    local -n windows=$1 lines=$2
    local ratios=() i
    for i in "${!windows[@]}"; do ratios+=("$(echo "scale=4; ${windows[$i]} / ${lines[$i]}" | bc)"); done
    printf '%.2f' "$(median "${ratios[@]}")"
}

# 1. First backup.
cli_backup=() window_backup=()
for ((run = 1; run <= runs; run++)); do
    for tool in $( ((run % 2)) && echo "cli window" || echo "window cli"); do
        destination="$work/$tool-$run"
        mkdir "$destination"
        warm "$tree"
        sync
        if [[ $tool == cli ]]; then
            start=$(date +%s.%N)
            "$cli" sync backup "$tree" "$destination" >/dev/null
            cli_backup+=("$(seconds "$start")")
        else
            window_backup+=("$(windows backup "$tree" "$destination" 2>/dev/null | awk '/^seconds/ {print $2}')")
        fi
    done
    echo "backup run $run: command line ${cli_backup[-1]} s, window ${window_backup[-1]} s, ratio $(ratio "${window_backup[-1]}" "${cli_backup[-1]}")x"
done
diff -r -q "$tree" "$work/window-1" >/dev/null || { echo "the window's copy differs from the source" >&2; exit 1; }

# 2. CRC compare of the tree against the command line's first copy.
cli_crc=() window_crc=()
for ((run = 1; run <= runs; run++)); do
    for tool in $( ((run % 2)) && echo "cli window" || echo "window cli"); do
        warm "$tree" "$work/cli-1"
        if [[ $tool == cli ]]; then
            start=$(date +%s.%N)
            "$cli" crc "$tree" "$work/cli-1" >/dev/null 2>&1
            cli_crc+=("$(seconds "$start")")
        else
            window_crc+=("$(windows crc "$tree" "$work/cli-1" 2>/dev/null | awk '/^seconds/ {print $2}')")
        fi
    done
    echo "crc run $run: command line ${cli_crc[-1]} s, window ${window_crc[-1]} s, ratio $(ratio "${window_crc[-1]}" "${cli_crc[-1]}")x"
done

# 3. Ten no-op analyses.
read -r _ first _ last < <(windows analyses "$tree" "$work/cli-1" 10 2>/dev/null)
growth=$(echo "scale=1; $last - $first" | bc)
echo "10 no-op analyses: ${first} MB after the first, ${last} MB after the tenth (+${growth} MB)"

# 4. The activity log.
read -r _ _ _ million_mb _ _ < <(windows log 1000000 2>/dev/null)
read -r _ _ _ _ _ export_s < <(windows log 455000 2>/dev/null)
echo "activity log: 1,000,000 lines take ${million_mb} MB; exporting 455,000 lines takes ${export_s} s"

cb=$(median "${cli_backup[@]}") wb=$(median "${window_backup[@]}")
cc=$(median "${cli_crc[@]}") wc=$(median "${window_crc[@]}")
echo "window vs command line ($runs runs, medians, $platform): first backup $wb s vs $cb s, ratio $(paired_ratio window_backup cli_backup)x (goal <= 1.2x); crc compare $wc s vs $cc s, ratio $(paired_ratio window_crc cli_crc)x (goal <= 1.2x); 10 analyses +${growth} MB (goal <= 20); 1M log lines ${million_mb} MB (goal <= 100); export 455k lines ${export_s} s (goal < 1)"
