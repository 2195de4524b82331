#!/usr/bin/env bash
# An interrupted run (Ctrl+C, kill, a closed terminal, a --json reader that
# went away) removes its directory, offer and payload included, and ends with
# the conventional status; with --json it says it was interrupted.
#   zelkupdate_interrupt_test.sh <zelkupdate>
set -u
updater=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_RUNTIME_DIR=
mkdir -p "$TMPDIR"
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
shared="$TMPDIR/zelkupdate-$(id -u)"

# A slow earbud: every answer comes 20 ms late, so the run is still sending
# blocks when the signal comes.
cat > "$work/slow.json" <<'JSON'
{ "devices": [{ "vendorId": "0x320F", "productId": "0x5055", "interfaceNumber": 2,
    "components": [{ "id": "0x0F", "budRole": 1, "version": "0x10003001" }],
    "behaviour": { "latencyUs": 20000 } }] }
JSON

wait_for_payload() {
    for _ in $(seq 200); do
        compgen -G "$shared/ZelkUpdate-*/ImgPacketFile.payload.bin" > /dev/null && return 0
        sleep 0.05
    done
    return 1
}
left_behind() { compgen -G "$shared/ZelkUpdate-*" > /dev/null; }

for row in "INT 130" "TERM 143" "HUP 129"; do
    set -- $row
    signal=$1 expected=$2
    "$updater" --json --simulate="$work/slow.json" > "$work/$signal.out" 2> "$work/$signal.err" &
    pid=$!
    wait_for_payload || fail "SIG$signal: no run directory appeared"
    sleep 0.3
    kill -s "$signal" "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq "$expected" ] || fail "SIG$signal: exit status $status, not $expected"
    left_behind && fail "SIG$signal: the run directory was left behind"
    tail -n 2 "$work/$signal.out" | head -n 1 |
        grep -qx "{\"event\":\"interrupted\",\"signal\":\"SIG$signal\"}" ||
        fail "SIG$signal: no interrupted line: $(tail -n 2 "$work/$signal.out")"
    tail -n 1 "$work/$signal.out" | grep -qx "{\"event\":\"exit\",\"status\":$expected}" ||
        fail "SIG$signal: the last line is not the exit line"
done

# A reader that takes one line and goes: the next progress line meets a
# closed pipe.
"$updater" --json --simulate="$work/slow.json" 2> "$work/pipe.err" | head -n 1 > "$work/pipe.out"
status=${PIPESTATUS[0]}
[ "$status" -eq 141 ] || fail "SIGPIPE: exit status $status, not 141"
left_behind && fail "SIGPIPE: the run directory was left behind"

echo "interrupted runs: $failed failed"
[ "$failed" -eq 0 ]
