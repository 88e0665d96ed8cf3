# Sourced by scripts/run and scripts/test: installs the Debian packages that are missing, and only those.
paritas_install_missing() {
  local wanted=(cmake g++ make qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libgtest-dev googletest
                zlib1g-dev rsync git tzdata nlohmann-json3-dev dpkg-dev appstream desktop-file-utils
                e2fsprogs xfsprogs btrfs-progs dosfstools exfatprogs exfat-fuse ntfs-3g sshfs openssh-server
                openssh-client fuse3 acl attr libcurl4-openssl-dev rclone "$@")
  local missing=()
  local pkg
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
