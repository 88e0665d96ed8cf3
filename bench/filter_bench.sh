#!/usr/bin/env bash
# What filter rules cost a scan, and what leaving out a large folder saves.
#
#   bench/filter_bench.sh [WORK]    WORK defaults to $PARITAS_FILTER_BENCH_DIR or /tmp/paritas-filter-bench
#
# Trees (deterministic, built once and reused when present):
#   $PARITAS_BENCH_TREE or /tmp/paritas-bench-tree   200,000 files in about 15,000 folders (scan_bench's)
#   WORK/with      100,000 files in about 7,500 folders, plus cache/ holding 100,000 more
#   WORK/without   the same 100,000 files without cache/
# Then, RUNS times (default 5), interleaved and each right after warming the metadata cache:
#   scan of the 200,000-file tree without rules           the reference
#   scan of it with 20 typical rules (none matches)        goal <= 1.10 x the reference
#   scan of WORK/with leaving out cache/                   goal: as fast as the next (ratio ~1.00)
#   scan of WORK/without without rules                     its reference
# and prints the medians of whole-process wall and CPU times and their ratios (last line).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build}
work=${1:-${PARITAS_FILTER_BENCH_DIR:-/tmp/paritas-filter-bench}}
tree=${PARITAS_BENCH_TREE:-/tmp/paritas-bench-tree}
runs=${RUNS:-5}
program="$build/bench/filter_bench"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARITAS_BUILD_GUI=OFF >/dev/null
fi
cmake --build "$build" --target scan_bench filter_bench -j 2 >/dev/null
"$build/bench/scan_bench" make-tree "$tree" 200000 15000
mkdir -p "$work"
if [ ! -d "$work/with/cache" ]; then
    rm -rf "$work/with"
    "$build/bench/scan_bench" make-tree "$work/with" 100000 7500
    "$build/bench/scan_bench" make-tree "$work/with/cache" 100000 7500
fi
"$build/bench/scan_bench" make-tree "$work/without" 100000 7500

typical="$work/typical-rules"
cat >"$typical" <<'EOF'
# what people leave out of their backups
*.o
*.obj
*.class
*.py[co]
__pycache__/
*.tmp
*.swp
*~
.DS_Store
Thumbs.db
node_modules/
.cache/
build/
dist/
**/target
.git/
.venv/
/.local/share/Trash/
*.log
vm-images/**/*.vdi
EOF
cache_rule="$work/cache-rule"
echo "cache/" >"$cache_rule"

warm() { find "$1" -printf '%s %T@\n' >/dev/null; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Runs a command with stdout to $out; prints "wall cpu" seconds (cpu = user + system of the process).
timed() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >"$out"; } 2>&1 | awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }'
}

plain_w=() plain_c=() typical_w=() typical_c=() leaving_w=() leaving_c=() without_w=() without_c=()
for run in $(seq "$runs"); do
    warm "$tree"
    read -r w c < <(timed "$program" scan "$tree" -)
    plain_w+=("$w") plain_c+=("$c")
    warm "$tree"
    read -r w c < <(timed "$program" scan "$tree" "$typical")
    typical_w+=("$w") typical_c+=("$c")
    typical_out=$(cat "$out")
    warm "$work/with"
    read -r w c < <(timed "$program" scan "$work/with" "$cache_rule")
    leaving_w+=("$w") leaving_c+=("$c")
    leaving_out=$(cat "$out")
    warm "$work/without"
    read -r w c < <(timed "$program" scan "$work/without" -)
    without_w+=("$w") without_c+=("$c")
    without_out=$(cat "$out")
    echo "run $run (wall/cpu s): no rules ${plain_w[-1]}/${plain_c[-1]}, 20 rules ${typical_w[-1]}/${typical_c[-1]}," \
        "with cache/ left out ${leaving_w[-1]}/${leaving_c[-1]}, without cache/ ${without_w[-1]}/${without_c[-1]}"
done
echo "20 rules:           $typical_out"
echo "cache/ left out:    $leaving_out"
echo "no cache/ at all:   $without_out"
echo "matcher alone:      $("$program" match 2000000 "$typical")"

m() { printf '%s\n' "$@" | median; }
awk -v pw="$(m "${plain_w[@]}")" -v pc="$(m "${plain_c[@]}")" -v tw="$(m "${typical_w[@]}")" \
    -v tc="$(m "${typical_c[@]}")" -v lw="$(m "${leaving_w[@]}")" -v lc="$(m "${leaving_c[@]}")" \
    -v ww="$(m "${without_w[@]}")" -v wc="$(m "${without_c[@]}")" 'BEGIN {
    printf "medians wall/cpu s: no rules %.3f/%.3f, 20 rules %.3f/%.3f; cache/ left out %.3f/%.3f, tree without it %.3f/%.3f; 20 rules/no rules wall %.3f cpu %.3f (goal <= 1.10); left out/without wall %.3f cpu %.3f (goal ~1.00)\n",
        pw, pc, tw, tc, lw, lc, ww, wc, tw / pw, tc / pc, lw / ww, lc / wc }'
