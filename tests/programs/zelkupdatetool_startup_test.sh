#!/usr/bin/env bash
# The window program's start without a display: usage mistakes, --help and
# --version are answered before Qt starts, and a start with no display to
# show the window on ends with a clear line instead of Qt's abort.
#   zelkupdatetool_startup_test.sh <ZelkUpdateTool>
set -u
program=$1
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# expected exit | text expected in the output | arguments
rows=(
    "64|unknown option --bogus|--bogus"
    "64|unknown option --bogus|-platform offscreen --bogus"
    "64|unknown option --bogus|-style=fusion --bogus"
    "64|--simulate= needs a file|--simulate="
    "64|-platform needs a value|-platform"
    "64|--style needs a value|--simulate --style"
    "0|Usage: ZelkUpdateTool|--help"
    "0|Usage: ZelkUpdateTool|-reverse -h"
    "0|ZelkUpdateTool 1.0|-style fusion --version"
    "69|there is no display to show the window on|--simulate"
    "69|there is no display to show the window on|"
)
for row in "${rows[@]}"; do
    expected=${row%%|*}
    rest=${row#*|}
    text=${rest%%|*}
    args=${rest#*|}
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" $args \
        > "$work/out" 2>&1 < /dev/null
    status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL: [$args] exited with $status, not $expected:"; cat "$work/out"
        failed=$((failed + 1))
    elif ! grep -qF -- "$text" "$work/out"; then
        echo "FAIL: [$args] did not say \"$text\":"; cat "$work/out"
        failed=$((failed + 1))
    fi
done
[ "$failed" -eq 0 ] && echo "all ${#rows[@]} start-ups as expected"
exit $((failed > 0))
