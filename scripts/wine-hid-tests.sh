#!/usr/bin/env bash
# The Windows build on a real HID stack: in a guest kernel under QEMU
# (scripts/kernel-hid-run.sh -r, the host's root shared read-only), Debian's
# Wine runs zelkupdate.exe and the C checks through libzelkcfu.dll against
# uhid earbuds, through Wine's own HID stack (hid.dll, hidclass.sys,
# winebus.sys on hidraw): the listing, an update with the flash compared, a
# removal, a device plugged in while Wine runs (two top-level collections,
# beside an interface without report IDs), the change watch hearing a device
# plugged in and pulled out, an unplug mid-transfer, and the
# blocks per second against the Linux build on the same guest and device
# (tests/kernel/wine-guest-tests.sh). About 5 minutes under emulation.
#
# Usage: scripts/wine-hid-tests.sh [LINUX-BUILD] [WINDOWS-BUILD]
#        (default: build/default and build/windows)
# Builds the programs it needs first. Needs root, Wine and systemd-udevd
# unpacked by scripts/install-deps.sh (ZELK_UDEV_ROOT, default /opt/zelk-udev).
# Exit status: 0 passed, 77 skipped (says why; not a pass), anything else failed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath "${1:-$repo/build/default}")
windows=$(realpath "${2:-$repo/build/windows}")
udev=${ZELK_UDEV_ROOT:-/opt/zelk-udev}
skip() { echo "SKIP: Wine HID tests: $*"; exit 77; }

[[ $(id -u) == 0 ]] || skip "the guest shares the host's root file system, which needs root"
command -v wine >/dev/null && command -v wineserver >/dev/null || skip "Wine is not installed"
[[ -x $udev/bin/udevadm ]] || skip "no systemd-udevd unpacked in $udev (scripts/install-deps.sh)"

log=$(mktemp /tmp/zelk-wine-hid-build.XXXXXX)
if ! cmake --build "$linux" -j "$(nproc)" --target zelk-uhid-device update_bench sample_firmware \
       >"$log" 2>&1 ||
   ! cmake --build "$windows" -j "$(nproc)" --target zelkupdate zelkcfu hid_exports_check \
       cfu_update_check hid_watch_check sample_firmware >>"$log" 2>&1; then
  cat "$log"; rm -f "$log"
  echo "Wine HID tests: the programs they need do not build" >&2
  exit 1
fi
rm -f "$log"

# The shared folder lies under /tmp: the guest mounts it inside its own /tmp.
run=$(mktemp -d /tmp/zelk-wine-hid.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$run"' EXIT
mkdir -p "$run/bin" "$run/home"
cp "$linux/tools/zelk-uhid-device" "$linux/bench/update_bench" "$windows/app/zelkupdate.exe" \
   "$windows/capi/libzelkcfu.dll" "$windows/tests/hid_exports_check.exe" \
   "$windows/tests/cfu_update_check.exe" "$windows/tests/hid_watch_check.exe" \
   "$windows/firmware/sample.offer.bin" \
   "$windows/firmware/sample.payload.bin" "$run/bin/"
cp "$repo"/tests/kernel/*.json "$run/"
# The flash the sample image must leave.
python3 "$repo/tests/kernel/expected_flash.py" "$run/bin/sample.payload.bin" "$run/expected-flash.bin"

# The prefix, made here with the Wine the guest runs. Wine 8.0's winebus
# starts its hidraw (udev) bus only when its SDL bus is off: with libSDL2
# present, only the SDL bus starts and no earbud is ever shown.
export WINEPREFIX=$run/prefix HOME=$run/home WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
t0=$SECONDS
wine wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" /t REG_DWORD /d 0 \
  /f >/dev/null 2>&1
wineserver -w
echo "Wine prefix made in $((SECONDS - t0)) s (host load $(cut -d' ' -f1-3 /proc/loadavg))"

status=0
"$repo/scripts/kernel-hid-run.sh" -r "$run" -t "${ZELK_WINE_HID_LIMIT:-900}" \
  "$repo/tests/kernel/wine-guest-tests.sh" "$udev/lib/systemd/systemd-udevd" || status=$?
echo "host load after the guest: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ $status == 77 ]]; then
  echo "SKIP: Wine HID tests were not run (see the reason above)"
fi
exit "$status"
