#!/usr/bin/env bash
# Tests the Debian packages of a build folder (cmake/Packaging.cmake):
#   1. builds them (the package target), checks their version against
#      project() and runs lintian (no errors, and no warnings but the ones
#      docs/packaging.md explains);
#   2. installs them into a clean Debian 12 root (debootstrap --variant=minbase,
#      the machine's own mirror and suite), where the programs run from the
#      PATH, man finds their pages and the C headers build against the library;
#      desktop-file-validate and appstreamcli validate the installed files;
#   3. purges them and checks that no file is left behind.
# The root is made once and kept in $ZELK_PACKAGE_ROOT_CACHE (default
# /var/cache/zelkupdatetool/package-root, outside the checkout so that a fresh
# clone on the same machine reuses it), with the libraries the packages depend
# on; later runs reuse it. A run that could not bring it back
# to its state before the install deletes it.
# Last, with a Windows build folder, scripts/windows-archive-tests.sh checks
# the Windows release archive.
#   package-tests.sh [linux build folder] [windows build folder]
#                                  (default: build/default, no Windows build)
# Exit status: 0 passed, 1 failed, 77 could not run here (not root).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
windows_build=${2:-}
root=${ZELK_PACKAGE_ROOT_CACHE:-/var/cache/zelkupdatetool/package-root}/root

if [[ $(id -u) != 0 ]]; then
  echo "SKIP: the package tests need root (debootstrap, chroot)"
  exit 77
fi

failed=0
dirty=0 # the root holds files of the packages
fail() {
  echo "FAIL: $*"
  failed=1
}

echo "-- packages (at $SECONDS s)"
cmake --build "$build" --target package >/dev/null
version=$(sed -n 's/^project(ZelkUpdateTool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packages=(zelkupdatetool libzelkcfu1 libzelkcfu-dev)
debs=()
for p in "${packages[@]}"; do
  deb=$build/packages/${p}_${version}_amd64.deb
  [[ -f $deb ]] || { echo "FAIL: no $deb (the version of project() is $version)"; exit 1; }
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: version $(dpkg-deb -f "$deb" Version)"
  debs+=("$deb")
done
echo "-- lintian (at $SECONDS s)"
lintian_status=0
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" >"$build/lintian.log" 2>&1 || lintian_status=$?
grep -v 'root privileges' "$build/lintian.log" || true
[[ $lintian_status == 0 ]] || fail "lintian reports errors"
# The warnings that remain are the ones docs/packaging.md explains; a new one fails.
if unexplained=$(grep -E '^W: ' "$build/lintian.log" | grep -v ': maintscript-calls-ldconfig '); then
  fail "lintian warnings that docs/packaging.md does not explain: $unexplained"
fi

# The machine's mirror and suite (deb822 sources or a sources.list line).
mirror=$(sed -n 's/^URIs: *\([^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1)
suite=$(sed -n 's/^Suites: *\([a-z]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1)
if [[ -z $mirror ]]; then
  read -r mirror suite < <(awk '$1 == "deb" && $2 !~ /security/ { print $2, $3; exit }' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null)
fi
: "${mirror:=http://deb.debian.org/debian}" "${suite:=bookworm}"

mounted=()
unmount_all() {
  local m
  for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done
  mounted=()
}
# Deletes the cached root, never while anything is mounted below it (a bind
# mount of the machine's package cache shares its file system).
remove_root() {
  local top
  top=$(dirname "$root")
  if grep -qF " $top/" /proc/mounts; then
    echo "FAIL: still mounted below $top; not deleted"
    return 1
  fi
  rm -rf --one-file-system "$top"
}
cleanup() {
  unmount_all
  rm -rf "$root/tmp/zelk-debs"
  if [[ $dirty != 0 && -d $root ]]; then
    echo "the package root is deleted: the next run makes it again"
    remove_root
  fi
}
trap 'dirty=1; cleanup' INT TERM
trap cleanup EXIT

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

# The libraries the packages depend on, by name (dpkg-shlibdeps computed them).
depends=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; done | tr ',' '\n' |
  sed 's/[(|].*//; s/ //g' | grep -v -e '^$' -e '^libzelkcfu' | sort -u | tr '\n' ' ')

# The machine's own downloaded packages serve the root as well (apt checks them
# against the mirror's lists): most of a first run is downloading otherwise.
host_archives=/var/cache/apt/archives
if [[ ! -f $root/.zelk-ready || $(cat "$root/.zelk-ready") != "$mirror $suite" ]]; then
  echo "-- a clean Debian root: debootstrap --variant=minbase $suite $mirror (at $SECONDS s)"
  unmount_all
  remove_root || exit 1
  mkdir -p "$root"
  debootstrap --variant=minbase --include=man-db --cache-dir="$host_archives" "$suite" "$root" "$mirror" \
    >"$build/debootstrap.log" 2>&1 ||
    { tail -n 20 "$build/debootstrap.log"; fail "debootstrap"; dirty=1; exit 1; }
  in_root apt-get update -qq >>"$build/debootstrap.log" 2>&1
  echo "$mirror $suite" >"$root/.zelk-ready"
fi
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --bind "$host_archives" "$root/var/cache/apt/archives" && mounted+=("$root/var/cache/apt/archives")
# The libraries the packages need, installed beforehand (marked manual) so that
# the purge below leaves exactly the files there were before the install.
# shellcheck disable=SC2086
in_root apt-get install -y -qq --no-install-recommends $depends >"$build/package-depends.log" 2>&1 ||
  fail "installing the libraries the packages depend on: $depends"

# Every file of the root but the package manager's own records and caches.
file_list() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp -o -path ./run \
    -o -path ./var/lib/dpkg -o -path ./var/lib/apt -o -path ./var/cache -o -path ./var/log \) -prune -o -print |
    sort)
}
file_list >"$build/package-files-before.txt"

mkdir -p "$root/tmp/zelk-debs"
cp "${debs[@]}" "$root/tmp/zelk-debs/"
in_root_debs=()
for deb in "${debs[@]}"; do in_root_debs+=("/tmp/zelk-debs/$(basename "$deb")"); done
echo "-- install (at $SECONDS s)"
dirty=1
if ! in_root apt-get install -y -qq --no-install-recommends \
  "${in_root_debs[@]}" >"$build/package-install.log" 2>&1; then
  cat "$build/package-install.log"
  fail "apt-get install of the packages"
  exit 1
fi

echo "-- the udev reload of the maintainer scripts (at $SECONDS s)"
# Stand-ins: udevadm records its calls and fails when told to; ischroot says
# "not a chroot" when put first in the PATH; a socket stands for a running udev.
fake=$root/tmp/zelk-fake
mkdir -p "$fake/udev" "$fake/nochroot" "$root/run/udev"
# shellcheck disable=SC2016 # the stand-in's own variables
printf '#!/bin/sh\necho "$*" >>/tmp/zelk-fake/calls\nexit "${UDEVADM_STATUS:-0}"\n' >"$fake/udev/udevadm"
printf '#!/bin/sh\nexit 1\n' >"$fake/nochroot/ischroot"
chmod 755 "$fake/udev/udevadm" "$fake/nochroot/ischroot"
# script | udev running | outside a chroot | udevadm status | the udevadm calls expected
udev_rows=(
  "postinst configure|yes|yes|0|control --reload-rules;trigger --subsystem-match=hidraw"
  "postrm remove|yes|yes|0|control --reload-rules;trigger --subsystem-match=hidraw"
  "postinst configure|yes|yes|1|control --reload-rules"
  "postinst configure|yes|no|0|"
  "postinst configure|no|yes|0|"
  "postrm purge|yes|no|1|"
)
for row in "${udev_rows[@]}"; do
  IFS='|' read -r script running outside status calls <<<"$row"
  rm -f "$fake/calls" "$root/run/udev/control"
  [[ $running == yes ]] && python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' \
    "$root/run/udev/control"
  path=/tmp/zelk-fake/udev:/usr/sbin:/usr/bin:/sbin:/bin
  [[ $outside == yes ]] && path=/tmp/zelk-fake/nochroot:$path
  code=0
  in_root env PATH="$path" UDEVADM_STATUS="$status" sh "/var/lib/dpkg/info/zelkupdatetool.${script% *}" \
    "${script#* }" || code=$?
  got=$(paste -sd';' "$fake/calls" 2>/dev/null || true)
  [[ $code == 0 ]] || fail "[$row] the maintainer script exited with $code"
  [[ $got == "$calls" ]] || fail "[$row] udevadm was called [$got], not [$calls]"
done
rm -rf "$fake" "$root/run/udev"

echo "-- programs from the PATH, manual pages, library (at $SECONDS s)"
# expected exit | text expected in the output | command in the root
rows=(
  "0|zelkupdate $version|zelkupdate --version"
  "0|Usage: zelkupdate|zelkupdate --help"
  "0|ZelkUpdateTool $version|ZelkUpdateTool --version"
  "0|usage: qrb_resource_adder|qrb_resource_adder --help"
  "0|Usage: zelk-uhid-device|zelk-uhid-device --help"
  "0|/usr/share/man/man1/zelkupdate.1.gz|man -w zelkupdate"
  "0|/usr/share/man/man1/ZelkUpdateTool.1.gz|man -w ZelkUpdateTool"
  "0|/usr/share/man/man1/qrb_resource_adder.1.gz|man -w qrb_resource_adder"
  "0|/usr/share/man/man1/zelk-uhid-device.1.gz|man -w zelk-uhid-device"
)
# The whole update of the built-in virtual earbud.
rows+=("0|Device Description|zelkupdate --simulate")
for row in "${rows[@]}"; do
  expected=${row%%|*}
  rest=${row#*|}
  text=${rest%%|*}
  command=${rest#*|}
  status=0
  # shellcheck disable=SC2086
  out=$(in_root $command 2>&1) || status=$?
  if [[ $status != "$expected" ]]; then
    fail "[$command] exited with $status, not $expected: $out"
  elif ! grep -qF -- "$text" <<<"$out"; then
    fail "[$command] did not say \"$text\": $out"
  fi
done
[[ -L $root/usr/lib/libzelkcfu.so && -f $root/usr/lib/libzelkcfu.so.1 ]] || fail "libzelkcfu.so links"
# The headers are C and complete: a C program builds against the installed library.
printf '#include <zelk/cfu_update.h>\nint main(void) { return 0; }\n' >"$build/package-c-check.c"
gcc -std=c11 -Wall -Werror -I"$root/usr/include" "$build/package-c-check.c" -L"$root/usr/lib" -lzelkcfu \
  -o "$build/package-c-check" || fail "a C program against /usr/include/zelk and -lzelkcfu"
desktop-file-validate "$root"/usr/share/applications/com.zelk.ZelkUpdateTool.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/com.zelk.ZelkUpdateTool.metainfo.xml >/dev/null ||
  fail "appstreamcli validate"
grep -qF "<release version=\"$version\"" "$root"/usr/share/metainfo/com.zelk.ZelkUpdateTool.metainfo.xml ||
  fail "the metainfo's release is not $version"

echo "-- purge (at $SECONDS s)"
in_root apt-get purge -y -qq "${packages[@]}" >"$build/package-purge.log" 2>&1 || fail "apt-get purge"
file_list >"$build/package-files-after.txt"
if diff -u "$build/package-files-before.txt" "$build/package-files-after.txt"; then
  dirty=0
else
  fail "files left behind or removed by install and purge (above)"
fi

if [[ -n $windows_build ]]; then
  echo "-- the Windows archive (at $SECONDS s)"
  bash scripts/windows-archive-tests.sh "$windows_build" || fail "the Windows archive"
fi

if [[ $failed != 0 ]]; then
  echo "package tests: FAILED"
  exit 1
fi
echo "package tests: passed"
