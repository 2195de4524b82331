#!/usr/bin/env bash
# Installs what is needed, builds the console updater and runs the main job: an
# update of the embedded firmware onto the built-in virtual earbud, shown as it
# runs. Pass other zelkupdate options to change that (e.g. --simulate=FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh main
cmake --preset main >/dev/null
cmake --build --preset main -j "$(nproc)" --target zelkupdate
if [ "$#" -eq 0 ]; then
  set -- --simulate
fi
exec ./build/main/app/zelkupdate "$@"
