#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (run as root).
#   install-deps.sh        everything: every build, every test, Wine, the guest kernel
#   install-deps.sh main   only what the console updater's build and run need
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
profile=${1:-all}

# Installs the packages that are missing; "--recommends" keeps recommended ones.
install_missing() {
  local recommends=--no-install-recommends
  if [[ $1 == --recommends ]]; then
    recommends=
    shift
  fi
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    apt-get update -qq
    apt-get install -y -qq $recommends "${missing[@]}"
  fi
}

# The console updater, the library and the tools.
install_missing build-essential cmake ninja-build g++-12 nlohmann-json3-dev libsystemd-dev pkg-config
[[ $profile == main ]] && exit 0

install_missing \
  ccache clang clang-format libclang-rt-14-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  g++-mingw-w64-x86-64-posix \
  dbus dbus-daemon \
  qt6-base-dev xvfb xauth \
  qemu-system-x86 busybox-static cpio xz-utils kmod python3 locales
# The packages and their tests (scripts/package-tests.sh): the icon's PNG made
# from the .ico, a clean Debian root, lintian, the desktop entry's and the
# metainfo's validators, man for the manual pages, unzip for the Windows archive.
install_missing icoutils debootstrap lintian desktop-file-utils appstream man-db unzip
# The kernel HID tests (above): a guest kernel under QEMU with a busybox
# initramfs. Wine runs the Windows cross build (scripts/wine-tests.sh);
# installed with its recommended libraries, which its X11 driver and fonts
# need; the Chinese font is for the screenshots of the Windows window
# (docs/window.md).
install_missing --recommends wine64 wine fonts-wqy-microhei
# A Chinese locale, under which Wine uses code page 936 (the console code page
# check in tests/windows/).
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# systemd-udevd for the Wine HID tests (scripts/wine-hid-tests.sh): in the
# guest it passes the kernel's hotplug events on to Wine's winebus. Debian's
# udev package of the installed libudev's version, fetched with apt-get
# download and unpacked (never installed: the machine's own device manager is
# left alone) into /opt/zelk-udev.
udev_root=/opt/zelk-udev
udev_version=$(dpkg-query -W -f='${Version}' libudev1 2>/dev/null || true)
if [[ -n $udev_version && $(cat "$udev_root/version" 2>/dev/null) != "$udev_version" ]]; then
  udev_tmp=$(mktemp -d /tmp/zelk-udev.XXXXXX)
  chmod 755 "$udev_tmp"; chown _apt "$udev_tmp" 2>/dev/null || true  # apt downloads as _apt
  if (cd "$udev_tmp" && apt-get download -q "udev=$udev_version" >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get download -q "udev=$udev_version"; }); then
    rm -rf "$udev_root"
    dpkg-deb -x "$udev_tmp"/udev_*.deb "$udev_root"
    # systemd-udevd is udevadm under another name; the package's link is absolute
    ln -sf ../../bin/udevadm "$udev_root/lib/systemd/systemd-udevd"
    echo "$udev_version" >"$udev_root/version"
  else
    echo "install-deps: could not fetch udev $udev_version; the Wine HID tests will be skipped" >&2
  fi
  rm -rf "$udev_tmp"
fi
