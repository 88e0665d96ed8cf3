#!/usr/bin/env bash
# CRC-32 of a cached 1 GiB file: CRC32File against zlib's crc32() over the same file read in the same
# block size (32768 bytes), with cksum (coreutils) for reference. Medians of RUNS runs, the cache warmed
# before every run. The last line gives paritas/zlib.
#   bench/crc_bench.sh [build folder]      (RUNS=5, BYTES=1073741824, DATA=folder for the file)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
bytes=${BYTES:-1073741824}
data=${DATA:-${TMPDIR:-/tmp}/paritas-crc-bench}
program="$build/bench/crc_bench"
[ -x "$program" ] || { echo "build $program first (cmake --build $build --target crc_bench)" >&2; exit 1; }

mkdir -p "$data"
file="$data/one-gib.bin"
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != "$bytes" ]; then
    "$program" make "$file" "$bytes"
fi
warm() { cat "$file" >/dev/null; }

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

paritas=() zlib=() cksum=()
crcs=""
for ((i = 0; i < runs; i++)); do
    warm
    read -r _ speed crc < <("$program" paritas "$file"); paritas+=("$speed"); crcs+="$crc "
    warm
    read -r _ speed crc < <("$program" zlib "$file"); zlib+=("$speed"); crcs+="$crc "
    warm
    start=$(date +%s%N)
    cksum "$file" >/dev/null
    end=$(date +%s%N)
    cksum+=("$(awk -v b="$bytes" -v ns="$((end - start))" 'BEGIN { printf "%.3f", b / ns }')")
done

distinct=$(tr ' ' '\n' <<<"$crcs" | sed '/^$/d' | sort -u | wc -l)
[ "$distinct" -eq 1 ] || { echo "CRC values differ between methods: $crcs" >&2; exit 1; }

p=$(printf '%s\n' "${paritas[@]}" | median)
z=$(printf '%s\n' "${zlib[@]}" | median)
c=$(printf '%s\n' "${cksum[@]}" | median)
echo "file: $file ($bytes bytes, CRC-32 ${crcs%% *}), $runs runs, GB = 10^9 bytes"
echo "runs paritas: ${paritas[*]}"
echo "runs zlib:    ${zlib[*]}"
echo "runs cksum:   ${cksum[*]}"
echo "cksum (reference, other CRC): $c GB/s"
awk -v p="$p" -v z="$z" 'BEGIN { printf "CRC32File %.2f GB/s, zlib crc32 %.2f GB/s, ratio paritas/zlib %.2f\n", p, z, p / z }'
