#!/usr/bin/env bash
# Both Windows programs carry their application manifest, read back from the
# built files as Windows reads it (called by scripts/wine-tests.sh with the
# build folder and WINEPREFIX set).
#   manifest.sh BUILD_DIR
set -u
build=$1
cd "$build/app" && wine "$build/tests/manifest_check.exe" zelkupdate.exe ZelkUpdateTool.exe
