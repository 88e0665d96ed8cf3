#!/usr/bin/env bash
# A backup that deletes 10,000 files (1-8 KiB, in 100 folders, beside 1,000 files A and B share),
# run by paritas-cli three ways: deleting them (the default), moving them to the trash (--trash, the
# home trash on the same file system) and moving them to a versions folder (--versions-keep). Each run
# starts from a fresh copy of B made before the clock starts, with the page cache warm and the dirty
# pages written out; the order alternates. Medians; the last line holds the trash's ratio to plain
# deletion.
#
#   bench/trash_bench.sh [BUILD_DIR]      RUNS=5 by default
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
cli="$build/src/cli/paritas-cli"
[[ -x "$cli" ]] || { echo "build first: cmake --build $build --target paritas-cli" >&2; exit 1; }

work=$(mktemp -d /tmp/paritas-trash-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Deterministic data: 1,000 files in A and B alike, 10,000 more in B alone.
chunk=$(printf '%8192s' '')
make_file() { printf "%s" "${chunk:0:$2}" >"$1"; }
mkdir -p "$work/A" "$work/template"
for ((f = 0; f < 1000; f++)); do
    folder="shared/$((f % 10))"
    mkdir -p "$work/A/$folder"
    make_file "$work/A/$folder/f$f.txt" $((1024 + (f * 7919) % 7168))
done
cp -a "$work/A/." "$work/template/"
for ((f = 0; f < 10000; f++)); do
    folder="stale/$((f % 100))"
    mkdir -p "$work/template/$folder"
    make_file "$work/template/$folder/s$f.txt" $((1024 + (f * 104729) % 7168))
done
echo "A: $(find "$work/A" -type f | wc -l) files; B: $(find "$work/template" -type f | wc -l) files"

seconds() { printf '%.3f' "$(echo "$(date +%s.%N) - $1" | bc)"; }
ratio() { printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; }
warm() { find "$work/A" "$1" -type f -print0 | xargs -0 cat >/dev/null; }

declare -A times
for ((run = 1; run <= runs; run++)); do
    order="delete trash versions"
    ((run % 2)) || order="versions trash delete"
    for way in $order; do
        b="$work/B-$way-$run"
        cp -a "$work/template" "$b"
        data="$work/data-$way-$run"
        mkdir "$data"
        options=(--max-delete none --quiet)
        case $way in
        trash) options+=(--trash) ;;
        versions) options+=(--versions-keep 30) ;;
        esac
        warm "$b"
        sync
        start=$(date +%s.%N)
        XDG_DATA_HOME="$data" "$cli" sync backup "${options[@]}" "$work/A" "$b"
        times[$way]+="$(seconds "$start") "
        left=$(find "$b" -path "$b/.paritas-versions" -prune -o -type f -print | wc -l)
        [[ $left == 1000 ]] || { echo "$way left $left files in B" >&2; exit 1; }
    done
    echo "run $run: delete, trash, versions: $(echo ${times[delete]} | awk "{print \$NF}") $(echo ${times[trash]} | awk "{print \$NF}") $(echo ${times[versions]} | awk "{print \$NF}") s"
done
kept=$(find "$work"/data-trash-1/Trash/files -type f | wc -l)
[[ $kept == 10000 ]] || { echo "the trash holds $kept files, not 10000" >&2; exit 1; }

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
d=$(median ${times[delete]})
t=$(median ${times[trash]})
v=$(median ${times[versions]})
echo "versions folder: $v s, ratio $(ratio "$v" "$d")x"
echo "backup deleting 10000 files ($runs runs, median): plain delete $d s, trash $t s, ratio $(ratio "$t" "$d")x (goal <= 1.5x)"
