#!/usr/bin/env bash
# Installs every Debian package the project needs. Quick when all is there: apt runs only when a
# package is missing, and then `apt-get update` runs once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format clang-tidy
  zlib1g-dev libdeflate-dev libjpeg-dev
  qt6-base-dev libqt6opengl6-dev qt6-qpa-plugins libxkbcommon-dev
  libassimp-dev libglm-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libspdlog-dev libfmt-dev
  xvfb xauth libgl1-mesa-dri mesa-utils
  systemd
  lintian help2man desktop-file-utils appstream
  iproute2 nftables
  debootstrap systemd-container
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
