#!/usr/bin/env bash
# Runs the Windows cross build under Wine: every cross-built GoogleTest suite
# (from the folder it was built in, whose Z:/ paths the tests carry), the
# console updater end to end on the virtual earbud, and whatever Windows
# program checks tests/windows/ provides. A fresh Wine prefix lives under the
# build folder.
#   wine-tests.sh [BUILD_DIR]     (default: build/windows)
set -uo pipefail
cd "$(dirname "$0")/.."
# Windows need a display: the whole run gets one X server of its own.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
build=$(realpath "${1:-build/windows}")
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The C checks load the shared library from beside themselves.
cp "$build/capi/libzelkcfu.dll" "$build/tests/"

start=$SECONDS
rm -rf "$WINEPREFIX"
wine wineboot -i >/dev/null 2>&1
echo "wine prefix ready in $((SECONDS - start)) s"

failed=()
run() {  # run NAME COMMAND...: prints the outcome and its time
    local name=$1 t0=$SECONDS
    shift
    if "$@" > "$build/wine-$name.log" 2>&1; then
        echo "  ok    $name ($((SECONDS - t0)) s)"
    else
        echo "  FAIL  $name ($((SECONDS - t0)) s), log:"
        tail -40 "$build/wine-$name.log" | sed 's/^/        /'
        failed+=("$name")
    fi
}

echo "== GoogleTest suites under Wine"
for suite in "$build"/tests/*_tests.exe; do
    run "$(basename "$suite" .exe)" bash -c 'cd "$(dirname "$1")" && wine "$1"' _ "$suite"
done

echo "== the C call interface through libzelkcfu.dll under Wine"
run c-hid-exports bash -c 'cd "$1/tests" && ZELK_VIRTUAL_DEVICES=default wine ./hid_exports_check.exe 1' _ "$build"
run c-cfu-update bash -c 'cd "$1/tests" && ZELK_VIRTUAL_DEVICES=default wine ./cfu_update_check.exe \
    "Z:$1/firmware/sample.offer.bin" "Z:$1/firmware/sample.payload.bin"' _ "$build"

echo "== zelkupdate.exe --simulate under Wine"
run zelkupdate-simulate bash -c '
    cd "$1/app" && out=$(ZELK_VIRTUAL_DEVICES=default wine ./zelkupdate.exe --simulate 2>&1)
    status=$?
    printf "%s\n" "$out"
    [ $status -eq 0 ] && grep -q "percentage: 100" <<<"$out"' _ "$build"

for check in tests/windows/*.sh; do
    [ -e "$check" ] || continue
    echo "== $(basename "$check" .sh) under Wine"
    run "$(basename "$check" .sh)" bash "$check" "$build"
done

wineserver -k 2>/dev/null || true
echo "wine steps: $((SECONDS - start)) s"
if ((${#failed[@]})); then
    echo "failed under Wine: ${failed[*]}"
    exit 1
fi
