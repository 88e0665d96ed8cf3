#!/usr/bin/env bash
# A fresh backup-like copy of 1 GiB in 8 files on btrfs, where a copy can share the source's blocks
# (FICLONE): Paritas's copy (copyFileBeneath as copy lines run it, nothing expected at the
# destination, capabilities probed once) beside `cp --reflink=never` (every byte written again) and
# `cp --reflink=always` (a clone). The btrfs is a loop image made and mounted here, so this needs
# root. Every run copies into a fresh folder and ends with syncfs, which the time includes (a copy is
# done when it is on the disk); the order of the tools rotates. Medians; btrfs's count of the bytes
# each copy holds alone shows whether it cloned. The last line holds the ratios.
#
#   bench/clone_bench.sh [BUILD_DIR]      RUNS=5 by default
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
program="$build/bench/clone_bench"
[[ -x "$program" ]] || { echo "build first: cmake --build $build --target clone_bench" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "needs root: the btrfs is a loop image mounted here" >&2; exit 1; }
command -v mkfs.btrfs >/dev/null || { echo "mkfs.btrfs is missing (package btrfs-progs)" >&2; exit 1; }

work=$(mktemp -d /tmp/paritas-clone-bench.XXXXXX)
mnt="$work/mnt"
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$mnt"
truncate -s 4G "$work/btrfs.img" # sparse; the loop device goes with the unmount (autoclear)
mkfs.btrfs -q -f "$work/btrfs.img" >/dev/null 2>&1 || { echo "mkfs.btrfs failed" >&2; exit 1; }
mount -o loop "$work/btrfs.img" "$mnt"

# Deterministic and incompressible: AES-CTR of zeros under a fixed key, another IV per file.
mkdir "$mnt/source"
for ((f = 0; f < 8; f++)); do
    (set +o pipefail; openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv "$f" -in /dev/zero \
        2>/dev/null | head -c $((128 << 20)) >"$mnt/source/part$f.bin")
done
sync -f "$mnt"
echo "source: $(cat "$mnt"/source/* | wc -c) bytes in $(ls "$mnt/source" | wc -l) files on btrfs"

seconds() { echo "scale=4; ($(date +%s.%N) - $1) / 1" | bc; }
exclusive() { btrfs filesystem du -s --raw "$1" | awk 'NR == 2 {print $2}'; }

copy_with() {
    local tool=$1 into=$2
    case $tool in
    never) cp --reflink=never "$mnt"/source/* "$into"/ ;;
    always) cp --reflink=always "$mnt"/source/* "$into"/ ;;
    paritas) "$program" "$mnt/source" "$into" >"$work/paritas.out" ;;
    esac
    sync -f "$into"
}

declare -A times=([never]="" [always]="" [paritas]="")
tools=(never always paritas)
for ((run = 1; run <= runs; run++)); do
    line="run $run:"
    for ((t = 0; t < 3; t++)); do
        tool=${tools[$(((run + t) % 3))]}
        into="$mnt/copy-$tool-$run"
        mkdir "$into"
        start=$(date +%s.%N)
        copy_with "$tool" "$into"
        took=$(seconds "$start")
        times[$tool]+="$took "
        line+=" $tool $took s (alone $(exclusive "$into") bytes)"
        if ((run == 1)) && [[ $tool == paritas ]]; then
            for part in "$mnt"/source/*; do cmp "$part" "$into/$(basename "$part")"; done
            echo "paritas: $(cat "$work/paritas.out")"
        fi
        rm -rf "$into"
        sync -f "$mnt"
    done
    echo "$line"
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
n=$(median ${times[never]})
a=$(median ${times[always]})
p=$(median ${times[paritas]})
ratio() { if [[ $(echo "$2 > 0" | bc) -eq 1 ]]; then echo "scale=3; $1 / $2" | bc; else echo "n/a"; fi; }
echo "copy 1 GiB in 8 files on btrfs ($runs runs, median): cp --reflink=never $n s, cp --reflink=always $a s," \
    "paritas $p s; paritas / cp --reflink=never $(ratio "$p" "$n")x, paritas / cp --reflink=always $(ratio "$p" "$a")x"
