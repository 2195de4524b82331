#!/usr/bin/env bash
# Tests the Windows release archive of a cross build (cmake/Packaging.cmake):
# its name carries the version of project(); it holds the programs, the DLL,
# README.txt and LICENSE.txt; every DLL that a program or the DLL imports is in
# the archive or among Windows' system DLLs (those of a fresh Wine prefix); the
# programs' version resources carry the version; and, unpacked, zelkupdate.exe
# answers --version and updates the virtual earbud in a fresh Wine prefix.
#   windows-archive-tests.sh [build folder]      (default: build/windows)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# Wine's programs want a display: the run gets an X server of its own.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
build=$(realpath "${1:-build/windows}")
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

version=$(sed -n 's/^project(ZelkUpdateTool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake --build "$build" --target package >/dev/null || { echo "FAIL: the package target"; exit 1; }
zip=$build/packages/ZelkUpdateTool-$version-win64.zip
[[ -f $zip ]] || { echo "FAIL: no $zip (the version of project() is $version)"; exit 1; }
work=$(mktemp -d)
export WINEPREFIX=$work/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work" || { echo "FAIL: unzip $zip"; exit 1; }
top=$work/ZelkUpdateTool-$version-win64
for file in zelkupdate.exe ZelkUpdateTool.exe qrb_resource_adder.exe libzelkcfu.dll README.txt LICENSE.txt \
  include/zelk/cfu_update.h; do
  [[ -f $top/$file ]] || fail "the archive has no $file"
done

echo "-- a fresh Wine prefix"
wine wineboot -i >/dev/null 2>&1
system32=$WINEPREFIX/drive_c/windows/system32
[[ -d $system32 ]] || { echo "FAIL: no Wine prefix"; exit 1; }

echo "-- imports"
# Windows finds DLLs whatever the case of their names.
available=$( (ls "$top"; ls "$system32") | tr '[:upper:]' '[:lower:]' | sort -u)
for binary in "$top"/*.exe "$top"/*.dll; do
  while read -r dll; do
    grep -qxF "$(tr '[:upper:]' '[:lower:]' <<<"$dll")" <<<"$available" ||
      fail "$(basename "$binary") imports $dll, which is neither in the archive nor a system DLL"
  done < <(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: *//p')
done

echo "-- version resources"
utf16_version=$(printf '%s' "$version.0" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')
for program in zelkupdate.exe ZelkUpdateTool.exe; do
  od -An -tx1 -v "$top/$program" | tr -d ' \n' | grep -q "$utf16_version" ||
    fail "$program has no version resource $version.0"
done

echo "-- the unpacked programs under Wine"
out=$(cd "$top" && wine ./zelkupdate.exe --version 2>&1 | tr -d '\r')
[[ $out == "zelkupdate $version" ]] || fail "zelkupdate.exe --version said: $out"
out=$(cd "$top" && wine ./zelkupdate.exe --simulate 2>&1)
status=$?
if [[ $status != 0 ]] || ! grep -q "percentage: 100" <<<"$out"; then
  fail "zelkupdate.exe --simulate exited with $status: $(tail -n 5 <<<"$out")"
fi

if [[ $failed != 0 ]]; then
  echo "Windows archive tests: FAILED"
  exit 1
fi
echo "Windows archive tests: passed ($(basename "$zip"), $(stat -c %s "$zip") bytes)"
