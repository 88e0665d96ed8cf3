#!/usr/bin/env bash
# A scan of a location on sshfs against find over the same mount.
#
#   bench/scan_sshfs_bench.sh        (as root: it starts its own sshd on a free port of 127.0.0.1)
#
# Builds a deterministic tree of FILES files (default 20,000) in FOLDERS folders (default 1,500) once,
# serves it with an sshd of its own on 127.0.0.1 and mounts it with sshfs. Each of RUNS rounds
# (default 3) mounts afresh before every timed command, so that neither finds sshfs's caches warm:
#   find MOUNT -type f -printf '%s %T@ %p\n'     the reference
#   scan_bench scan MOUNT plain                  the scan with its default readers
#   scan_bench scan MOUNT plain 2                the scan with 2 readers (the old default here)
# and prints medians and ratios. Goal: scan <= 0.5 x find.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PARITAS_BUILD_DIR:-build}
runs=${RUNS:-3}
files=${FILES:-20000}
folders=${FOLDERS:-1500}
program="$build/bench/scan_bench"

for tool in sshfs ssh-keygen; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (packages sshfs, openssh-client)"; exit 1; }
done
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[ -x "$sshd" ] || { echo "sshd is missing (package openssh-server)"; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARITAS_BUILD_GUI=OFF >/dev/null
fi
cmake --build "$build" --target scan_bench -j 2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/paritas-sshfs-bench-XXXXXX")
mount="$work/mount"
sshd_pid=""
cleanup() {
    fusermount -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
    [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/ssh" "$mount"
chmod 700 "$work/ssh"
"$program" make-tree "$work/tree" "$files" "$folders" >/dev/null
for key in host_key user_key; do ssh-keygen -q -t ed25519 -N "" -f "$work/ssh/$key"; done
cp "$work/ssh/user_key.pub" "$work/ssh/authorized_keys"
mkdir -p /run/sshd
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/ssh/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/ssh/host_key
PidFile none
AuthorizedKeysFile $work/ssh/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
EOF
"$sshd" -D -e -f "$work/ssh/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

remount() {
    fusermount -u "$mount" 2>/dev/null || true
    sshfs -F /dev/null -p "$port" -o "IdentityFile=$work/ssh/user_key,StrictHostKeyChecking=no" \
        -o "UserKnownHostsFile=/dev/null,BatchMode=yes" "$(id -un)@127.0.0.1:$work/tree" "$mount"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
timed() {
    local TIMEFORMAT='%R'
    { time "$@" >/dev/null; } 2>&1 | tail -1
}

find_wall=() scan_wall=() two_wall=()
for run in $(seq "$runs"); do
    remount
    find_wall+=("$(timed find "$mount" -type f -printf '%s %T@ %p\n')")
    remount
    scan_wall+=("$(timed "$program" scan "$mount" plain)")
    remount
    two_wall+=("$(timed "$program" scan "$mount" plain 2)")
    echo "run $run (wall s): find ${find_wall[-1]}, scan ${scan_wall[-1]}, scan with 2 readers ${two_wall[-1]}"
done
m() { printf '%s\n' "$@" | median; }
awk -v f="$(m "${find_wall[@]}")" -v s="$(m "${scan_wall[@]}")" -v t="$(m "${two_wall[@]}")" \
    -v n="$files" 'BEGIN {
    printf "sshfs, %d files, medians wall s: find %.3f, scan %.3f, scan with 2 readers %.3f; scan/find %.2f (goal <= 0.5), 2 readers/find %.2f\n",
        n, f, s, t, s / f, t / f }'
