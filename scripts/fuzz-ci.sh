#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang) and runs each one for a
# few seconds from its seed corpus in fuzz/corpus/. Any crash, sanitizer report
# or broken invariant fails the step; the input that caused it is left in
# build/fuzz/fuzz-ci/<target>/ for reproduction.
#
#   scripts/fuzz-ci.sh [SECONDS_PER_TARGET]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzz_targets

work=build/fuzz/fuzz-ci
rm -rf "$work"
failed=0
for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  target=build/fuzz/fuzz/${name}_fuzz
  corpus=fuzz/corpus/$name
  if [ ! -d "$corpus" ]; then
    echo "fuzz: $name has no seed corpus in $corpus"
    failed=1
    continue
  fi
  mkdir -p "$work/$name/new"
  # New inputs go to a scratch directory, never into the committed seeds.
  # What the code under test prints is dropped; libFuzzer's and the
  # sanitizers' reports still reach the log.
  if ! (cd "$work/$name" && "$OLDPWD/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$PWD/" "$PWD/new" "$OLDPWD/$corpus" \
        >log 2>&1); then
    echo "fuzz: $name FAILED, see $work/$name/log and the crash-* input there"
    tail -n 40 "$work/$name/log"
    failed=1
  else
    echo "fuzz: $name ok, $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name/log" |
      grep -o '[0-9]*$') executions in ${seconds}s"
  fi
done
exit "$failed"
