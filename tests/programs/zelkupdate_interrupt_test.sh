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

# The station: the first SIGINT or SIGTERM stops it; the update that runs is
# finished, the summary printed, and the status is the station's (0: its one
# unit was updated). A second signal ends it at once.
cat > "$work/watch.json" <<'JSON'
{ "devices": [{ "vendorId": "0x320F", "productId": "0x5055", "interfaceNumber": 2,
    "components": [{ "id": "0x0F", "budRole": 1, "version": "0x10003001" }],
    "behaviour": { "latencyUs": 1000 } }] }
JSON
wait_for_line() {  # wait_for_line FILE PATTERN
    for _ in $(seq 400); do
        grep -q "$2" "$1" 2> /dev/null && return 0
        sleep 0.05
    done
    return 1
}
for signal in INT TERM; do
    "$updater" --watch --json --simulate="$work/watch.json" > "$work/watch-$signal.out" \
        2> "$work/watch-$signal.err" &
    pid=$!
    wait_for_line "$work/watch-$signal.out" '"event":"progress"' ||
        fail "watch SIG$signal: the update did not start"
    kill -s "$signal" "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || fail "watch SIG$signal: exit status $status, not 0"
    grep -q '"event":"unit".*"result":"updated"' "$work/watch-$signal.out" ||
        fail "watch SIG$signal: the running update was not finished"
    grep -q '"event":"summary"' "$work/watch-$signal.out" || fail "watch SIG$signal: no summary"
    tail -n 1 "$work/watch-$signal.out" | grep -qx '{"event":"exit","status":0}' ||
        fail "watch SIG$signal: the last line is not the exit line"
    left_behind && fail "watch SIG$signal: the run directory was left behind"
done
"$updater" --watch --simulate="$work/watch.json" > "$work/watch-twice.out" 2>&1 &
pid=$!
wait_for_line "$work/watch-twice.out" "Watching for devices" || fail "watch twice: not watching"
sleep 0.3
kill -s INT "$pid"
sleep 0.1
kill -s INT "$pid"
wait "$pid"
status=$?
[ "$status" -eq 130 ] || fail "watch twice: exit status $status, not 130"
left_behind && fail "watch twice: the run directory was left behind"

echo "interrupted runs: $failed failed"
[ "$failed" -eq 0 ]
