#!/usr/bin/env bash
# Figures for remote locations through rclone, against `rclone serve sftp` on 127.0.0.1 over a
# deterministic tree of 40,000 files of 1-4 KiB in 400 folders (built once, kept in ROOT/tree):
#   - one recursive operations/list, against listing folder by folder with 1/8/16/32 calls under way
#     (wall time, and the rcd's peak RSS: a fresh daemon for each);
#   - a stat's round trip (how wide the check-then-act window is at the least);
#   - rclone's own command line: `rclone copy --transfers 4` (first copy) and `rclone sync` (no-op);
#   - one sync/move of a folder (server-side DirMove) against moving its files one by one.
# These guide the design of remote scans and runs; there is no goal to meet yet.
#
#   bench/remote_ops_bench.sh [ROOT]     ROOT defaults to /tmp/paritas-remote-bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build/bench-remote}
root=${1:-/tmp/paritas-remote-bench}
for tool in rclone ssh-keygen; do
    command -v "$tool" >/dev/null || { echo "install $tool first (apt-get install rclone openssh-client)" >&2; exit 1; }
done
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPARITAS_BUILD_GUI=OFF -DPARITAS_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target remote_ops_bench -j 2 >/dev/null
program="$build/bench/remote_ops_bench"
mkdir -p "$root"
"$program" make-tree "$root" 40000 400
echo "machine: $(nproc) cores; rclone $(rclone version | head -1 | awk '{print $2}'); tree: $(find "$root/tree" -type f -name '*.dat' | wc -l) files in $(find "$root/tree" -mindepth 1 -type d | wc -l) folders"
find "$root/tree" -type f -name '*.dat' -print0 | xargs -0 cat >/dev/null # warm the page cache
"$program" run "$root"
