#!/usr/bin/env bash
# Installs what is needed, builds every configuration once and runs every test:
# the plain build, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer
# on the threaded parts, and the Windows cross build, run under Wine; last the
# tests on a real kernel HID stack in a QEMU guest: the Linux build on hidraw,
# then the Windows build through Wine's HID stack.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

# Compiles go through ccache, keyed on paths relative to the checkout, so a
# fresh clone anywhere reuses what an earlier run compiled.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

jobs=$(nproc)
for preset in default sanitize; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
# ThreadSanitizer runs only the threaded suites (tests/threaded-tests.txt), so
# only the test programs that hold them are built; a suite whose program is
# left out here would show as "Not Run" and fail the step.
echo "== tsan: build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target app_tests hidtransport_tests engine_tests \
  hid_conformance_tests capi_tests updatelib_tests hid_exports_check cfu_update_check

echo "== fuzz: build the libFuzzer targets and run each for 5 s"
bash scripts/fuzz-ci.sh 5

echo "== windows: cross build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

echo "== default: tests"
ctest --preset default -j "$jobs"
echo "== sanitize: tests"
ctest --preset sanitize -j "$jobs"
echo "== tsan: threaded tests"
TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan -j "$jobs" -R "$(cat tests/threaded-tests.txt | paste -sd'|')"
echo "== windows: tests and programs under Wine"
bash scripts/wine-tests.sh build/windows
echo "== packages: the Debian packages in a clean Debian 12 root, the Windows archive under Wine"
package_status=0
bash scripts/package-tests.sh build/default build/windows || package_status=$?
if [[ $package_status == 77 ]]; then
  echo "SKIP: the package tests could not run on this machine (not counted as passed)"
elif [[ $package_status != 0 ]]; then
  exit "$package_status"
fi
echo "== kernel HID tests: hidraw over uhid in a guest kernel (QEMU)"
kernel_status=0
bash scripts/kernel-hid-tests.sh build/default || kernel_status=$?
if [[ $kernel_status == 77 ]]; then
  echo "SKIP: the kernel HID tests could not run on this machine (not counted as passed)"
elif [[ $kernel_status != 0 ]]; then
  exit "$kernel_status"
fi
echo "== Wine HID tests: the Windows build through Wine's HID stack in a guest kernel (QEMU)"
wine_hid_status=0
bash scripts/wine-hid-tests.sh build/default build/windows || wine_hid_status=$?
if [[ $wine_hid_status == 77 ]]; then
  echo "SKIP: the Wine HID tests could not run on this machine (not counted as passed)"
elif [[ $wine_hid_status != 0 ]]; then
  exit "$wine_hid_status"
fi
