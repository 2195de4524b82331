#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake ninja-build g++-12 clang clang-format
  libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix
  libsystemd-dev pkg-config dbus dbus-daemon
  qt6-base-dev xvfb xauth
  # the kernel HID tests: a guest kernel under QEMU with a busybox initramfs
  qemu-system-x86 busybox-static cpio xz-utils kmod python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine runs the Windows cross build (scripts/wine-tests.sh). Installed with its
# recommended libraries, which its X11 driver and fonts need; the Chinese font
# is for the screenshots of the Windows window (docs/window.md).
wine_packages=(wine64 wine fonts-wqy-microhei)
missing=()
for p in "${wine_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
