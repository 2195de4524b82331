#!/usr/bin/env bash
# The console updater as a user runs it: a copy packaged with other firmware
# updates the virtual earbud with that firmware, and damaged copies are
# refused before anything reaches a device.
#   zelkupdate_package_test.sh <zelkupdate> <qrb_resource_adder> <deviceinfo>
set -u
updater=$1 adder=$2 deviceinfo=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_RUNTIME_DIR=
mkdir -p "$TMPDIR"
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# Ten records of other firmware: progress then climbs in tenths.
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
open(f"{work}/ten.offer.bin", "wb").write(bytes([0, 1, 0x0F, 0, 1, 0x50, 0, 0x10, 0, 0, 0, 0, 4, 0, 0, 0]))
with open(f"{work}/ten.payload.bin", "wb") as f:
    for i in range(10):
        f.write(struct.pack("<IB", 52 * i, 52) + bytes((i * 7 + j) & 0xFF for j in range(52)))
PY
cp "$updater" "$work/zelkupdate"
"$adder" "$work/zelkupdate" "$work/ten.offer.bin" "$work/ten.payload.bin" "$deviceinfo" \
    > "$work/adder.out" || fail "qrb_resource_adder exited with $?"
packaged="$work/zelkupdate-packaged"
[ -x "$packaged" ] || fail "no packaged copy at $packaged"

# Other programs hear the run on a session bus of its own.
dbus-daemon --session --address="unix:path=$work/bus" --nofork --nopidfile &
daemon=$!
trap 'kill $daemon $monitor 2>/dev/null; rm -rf "$work"' EXIT
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
for _ in $(seq 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
dbus-monitor --session "interface='com.zelk.UpdateTool',member='Progress'" > "$work/bus.log" 2>&1 &
monitor=$!
sleep 0.5

"$packaged" --simulate > "$work/run.out" 2> "$work/run.err"
status=$?
sleep 0.5
events=$(grep -A3 "member=Progress" "$work/bus.log" | grep -E "uint32|int64" | paste - - |
         awk '{printf "%s:%s ", $2, $4}')
expected="4:10 4:20 4:30 4:40 4:50 4:60 4:70 4:80 4:90 1:0 5:0 "
[ "$events" = "$expected" ] || fail "broadcasts on the bus: '$events', expected '$expected'"
[ "$status" -eq 0 ] || fail "the packaged copy exited with $status"
grep -q "percentage: 10, status: 0" "$work/run.out" || fail "no progress of the packaged firmware"
grep -q "percentage: 1, status: 0" "$work/run.out" && fail "the embedded sample was sent instead"
grep -q "Success" "$work/run.err" || fail "no success text"
grep -q "Verified: the device now reports version" "$work/run.err" ||
    fail "the new version was not read back"
# The run worked in a directory of its own and took it away at its end.
for left in "$TMPDIR/zelkupdate-$(id -u)"/ZelkUpdate-*; do
    [ -e "$left" ] && fail "the run left $left behind"
done

# A cut copy and a copy with one altered byte in its package are refused.
size=$(stat -c %s "$packaged")
head -c $((size - 100)) "$packaged" > "$work/cut" && chmod +x "$work/cut"
cp "$packaged" "$work/altered"
printf '\xff' | dd of="$work/altered" bs=1 seek=$((size - 300)) conv=notrunc status=none
for damaged in cut altered; do
    "$work/$damaged" --simulate > "$work/$damaged.out" 2> "$work/$damaged.err"
    status=$?
    [ "$status" -eq 1 ] || fail "$damaged copy exited with $status, not 1"
    grep -q "the resource user defined is error,please check resource" "$work/$damaged.out" ||
        fail "$damaged copy did not report its damaged package"
    grep -q "missing or damaged; nothing was sent" "$work/$damaged.err" ||
        fail "$damaged copy did not say it stopped"
    grep -q "Test 1" "$work/$damaged.out" && fail "$damaged copy started a run"
done

# A temporary directory that cannot be used is named as the reason, not the
# package (here something else sits where the run's directory goes).
mkdir -m 700 "$work/runtime" && : > "$work/runtime/zelkupdate"
XDG_RUNTIME_DIR="$work/runtime" "$packaged" --simulate > "$work/notmp.out" 2> "$work/notmp.err"
status=$?
[ "$status" -eq 1 ] || fail "an unusable temporary directory exited with $status, not 1"
grep -q "cannot use the temporary directory $work/runtime/zelkupdate" "$work/notmp.err" ||
    fail "no reason for the unusable temporary directory"
grep -q "missing or damaged" "$work/notmp.err" && fail "a whole package was called damaged"

# A device that stores the image but never switches to it: the transfer
# succeeds, and --verify turns the unchanged version into exit status 3.
cat > "$work/stays-old.json" <<'JSON'
{ "devices": [{ "vendorId": "0x320F", "productId": "0x5055", "interfaceNumber": 2,
    "components": [{ "id": "0x0F", "budRole": 1, "version": "0x10003001" }],
    "behaviour": { "applyVersionOnComplete": false } }] }
JSON
"$packaged" --verify --simulate="$work/stays-old.json" > "$work/old.out" 2> "$work/old.err"
status=$?
[ "$status" -eq 3 ] || fail "--verify on a device that kept its version exited with $status, not 3"
grep -q "The device still reports 1.0.3.2: it may apply the update when it restarts." \
    "$work/old.out" || fail "no word that the version did not change"

# A payload the packaging tool would refuse is refused before any device is touched.
head -c 1048629 /dev/zero > "$work/big.payload.bin"
"$packaged" --simulate --offer "$work/ten.offer.bin" --payload "$work/big.payload.bin" \
    > "$work/big.out" 2> "$work/big.err"
status=$?
[ "$status" -eq 1 ] || fail "an oversized payload exited with $status, not 1"
grep -q "Payload file too large: 1048629 bytes, at most 1048575" "$work/big.out" ||
    fail "no message for the oversized payload"
grep -q "percentage" "$work/big.out" && fail "the oversized payload was sent"

echo "packaged update: $failed failed"
[ "$failed" -eq 0 ]
