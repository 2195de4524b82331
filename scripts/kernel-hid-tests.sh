#!/usr/bin/env bash
# The tests that need the real kernel HID stack, run in a guest kernel under
# QEMU (scripts/kernel-hid-run.sh): the backend conformance tests on hidraw
# over uhid, one report's round-trip time, and zelkupdate updating uhid earbuds
# (plain, with two top-level collections, unplugged mid-transfer).
#
# Usage: scripts/kernel-hid-tests.sh [BUILD-DIR]   (default: build/default)
# Builds the programs it needs in BUILD-DIR first. Exit status: 0 passed,
# 77 skipped (QEMU cannot run here; says why), anything else failed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/default}
stage=$(mktemp -d /tmp/zelk-kernel-hid.XXXXXX)
trap 'rm -rf "$stage"' EXIT
if ! cmake --build "$build" -j "$(nproc)" --target hid_conformance_tests zelk-uhid-device \
     zelkupdate hidraw_round_trip update_bench sample_firmware >"$stage/build.log" 2>&1; then
  cat "$stage/build.log"
  echo "kernel HID tests: the programs they need do not build" >&2
  exit 1
fi
rm "$stage/build.log"
cp "$repo"/tests/kernel/*.json "$stage/"
# The flash the sample image must leave.
python3 "$repo/tests/kernel/expected_flash.py" "$build/firmware/sample.payload.bin" "$stage/expected-flash.bin"

files=()
for f in "$build/tests/hid_conformance_tests" "$build/tools/zelk-uhid-device" \
         "$build/app/zelkupdate" "$build/bench/hidraw_round_trip" "$build/bench/update_bench" \
         "$build/firmware/sample.offer.bin" "$build/firmware/sample.payload.bin" "$stage"/*; do
  files+=(-f "$f")
done
status=0
"$repo/scripts/kernel-hid-run.sh" -t "${ZELK_KERNEL_TEST_LIMIT:-600}" "${files[@]}" \
  "$repo/tests/kernel/guest-tests.sh" || status=$?
if [[ $status == 77 ]]; then
  echo "SKIP: kernel HID tests were not run (see the reason above)"
fi
exit "$status"
