#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those missing), then builds.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake ninja-build g++ pkg-config python3
  qtbase5-dev libqt5serialport5-dev libqt5opengl5-dev qttools5-dev-tools qttools5-dev
  libeigen3-dev libpolyclipping-dev libquazip1-qt5-dev libexpat1-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev
  xvfb xauth xdotool libgl1-mesa-dri libglu1-mesa-dev fonts-font-awesome fonts-dejavu-core fonts-wqy-microhei fonts-droid-fallback
  qttranslations5-l10n admesh
  fonts-noto-core fonts-urw-base35
  clang libfuzzer-14-dev)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
