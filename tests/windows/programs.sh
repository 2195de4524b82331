#!/usr/bin/env bash
# The Windows programs under Wine, as a user runs them (called by
# scripts/wine-tests.sh with the build folder and WINEPREFIX set):
#  - qrb_resource_adder.exe packages other firmware into copies of
#    zelkupdate.exe and ZelkUpdateTool.exe, as real resources;
#  - the packaged console copy updates the virtual earbud with that firmware;
#    copies damaged afterwards (a payload byte, the seal) send nothing;
#  - the dialog program shows template 102 as another program reads it: every
#    control by id, with its class, visibility, place in dialog units and text
#    (tests/windows/main_dialog_controls.txt), and closes when asked;
#  - the packaged dialog copy, whose device information asks to hide the
#    window, runs under Xvfb until its run ends without ever showing its
#    window, while a listener window of this test receives its progress
#    broadcasts 4 (each tenth), 1 and 5.
#   programs.sh BUILD_DIR
set -u
# One X server for every Wine process of the check: a wineserver started
# without a display cannot give a later program windows.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
build=$1
work=$(mktemp -d "$build/wine-programs.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
winpath() { echo "Z:${1//\//\\}"; }

# Ten records of other firmware: progress then climbs in tenths.
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
open(f"{work}/ten.offer.bin", "wb").write(bytes([0, 1, 0x0F, 0, 1, 0x50, 0, 0x10, 0, 0, 0, 0, 4, 0, 0, 0]))
with open(f"{work}/ten.payload.bin", "wb") as f:
    for i in range(10):
        f.write(struct.pack("<IB", 52 * i, 52) + bytes((i * 7 + j) & 0xFF for j in range(52)))
open(f"{work}/hidden.txt", "wb").write(b"0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n1\r\n")
PY
cp "$build/app/zelkupdate.exe" "$build/app/ZelkUpdateTool.exe" "$work/"
adder=$build/tools/qrb_resource_adder.exe
for program in zelkupdate ZelkUpdateTool; do
    wine "$adder" "$(winpath "$work/$program.exe")" "$(winpath "$work/ten.offer.bin")" \
        "$(winpath "$work/ten.payload.bin")" "$(winpath "$work/hidden.txt")" \
        > "$work/adder-$program.out" 2>&1 || fail "qrb_resource_adder.exe on $program.exe: $(cat "$work/adder-$program.out")"
    [ -s "$work/$program-packaged.exe" ] || fail "no packaged copy of $program.exe"
done
cmp -s "$work/zelkupdate.exe" "$build/app/zelkupdate.exe" || fail "the updater itself was changed"

# The console copy finds its package and sends the packaged firmware.
(cd "$work" && ZELK_VIRTUAL_DEVICES=default wine ./zelkupdate-packaged.exe --simulate \
    > "$work/console.out" 2> "$work/console.err")
status=$?
[ "$status" -eq 0 ] || fail "the packaged console copy exited with $status: $(tail -5 "$work/console.err")"
grep -q "percentage: 10, status: 0" "$work/console.out" || fail "no progress of the packaged firmware"
grep -q "percentage: 1, status: 0" "$work/console.out" && fail "the embedded sample was sent instead"

# Copies whose package was damaged after packaging are refused before
# anything reaches a device: one byte of the payload resource altered, and
# the seal resource removed.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(open(f"{work}/zelkupdate-packaged.exe", "rb").read())
payload = open(f"{work}/ten.payload.bin", "rb").read()
at = data.find(payload)
assert at > 0, "payload resource not found"
altered = bytearray(data)
altered[at + 100] ^= 0xFF
open(f"{work}/altered.exe", "wb").write(altered)
PY
wine "$build/tools/qrb_resource_adder.exe" "$(winpath "$work/zelkupdate-packaged.exe")" \
    "$(winpath "$work/ten.offer.bin")" "$(winpath "$work/ten.payload.bin")" \
    "$(winpath "$work/hidden.txt")" -o "$(winpath "$work/unsealed.exe")" > /dev/null 2>&1
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(open(f"{work}/unsealed.exe", "rb").read())
# The seal's three lines of digests become other digits: as good as no seal.
import hashlib
seal = b"".join(hashlib.md5(open(f"{work}/{name}", "rb").read()).hexdigest().encode() + b"\n"
                for name in ("ten.offer.bin", "ten.payload.bin", "hidden.txt"))
at = data.find(seal)
assert at > 0, "seal resource not found"
data[at:at + len(seal)] = b"0" * len(seal)
open(f"{work}/unsealed.exe", "wb").write(data)
PY
for damaged in altered unsealed; do
    (cd "$work" && ZELK_VIRTUAL_DEVICES=default wine "./$damaged.exe" --simulate \
        > "$work/$damaged.out" 2> "$work/$damaged.err")
    status=$?
    [ "$status" -eq 1 ] || fail "$damaged copy exited with $status, not 1"
    grep -q "the resource user defined is error,please check resource" "$work/$damaged.out" ||
        fail "$damaged copy did not report its damaged package"
    grep -q "percentage:" "$work/$damaged.out" && fail "$damaged copy sent firmware"
done

# The dialog as another program reads it, in English (Wine's default language).
bash -c '
    work=$1 build=$2
    (cd "$build/app" && timeout 60 wine ./ZelkUpdateTool.exe --simulate > "$work/window.out" 2>&1
     echo $? > "$work/window.status") &
    wine "$build/tests/dialog_probe.exe" "$work/controls.txt" 40
    echo $? > "$work/probe.status"
    wait
' _ "$work" "$build" 2>/dev/null
[ "$(cat "$work/probe.status" 2>/dev/null)" = 0 ] || fail "the dialog probe found no main dialog"
[ "$(cat "$work/window.status" 2>/dev/null)" = 0 ] ||
    fail "ZelkUpdateTool.exe did not end with 0 after the close request: $(tail -3 "$work/window.out")"
diff -u "$(dirname "$0")/main_dialog_controls.txt" "$work/controls.txt" > "$work/controls.diff" ||
    fail "the dialog's controls differ: $(cat "$work/controls.diff")"

# The dialog used with keys and buttons as a person would (--simulate: the
# run takes its real 2 s and 10 s waits, time for the password dialog).
bash -c '
    work=$1 build=$2
    (cd "$build/app" && timeout 90 wine ./ZelkUpdateTool.exe --simulate > "$work/person.out" 2>&1
     echo $? > "$work/person.status") &
    wine "$build/tests/dialog_probe.exe" --person "$work/person.txt"
    wait
' _ "$work" "$build" 2>/dev/null
diff -u "$(dirname "$0")/main_dialog_person.txt" <(tr -d '\r' < "$work/person.txt" 2>/dev/null) \
    > "$work/person.diff" || fail "the dialog as a person uses it: $(cat "$work/person.diff")"
[ "$(cat "$work/person.status" 2>/dev/null)" = 0 ] ||
    fail "ZelkUpdateTool.exe did not end with 0 after closing during its run"

# The dialog copy in hidden mode, heard by a listener window.
bash -c '
    work=$1 listener=$2 build=$3
    wine "$listener" "$work/broadcasts.txt" 90 &
    listening=$!
    for _ in $(seq 100); do [ -e "$work/broadcasts.txt.ready" ] && break; sleep 0.2; done
    wine "$build/tests/dialog_probe.exe" --watch "$work/visibility.txt" 20 &
    watching=$!
    (cd "$work" && timeout 120 wine ./ZelkUpdateTool-packaged.exe --simulate > "$work/dialog.out" 2>&1)
    echo $? > "$work/dialog.status"
    wait $watching
    wait $listening
    echo $? > "$work/listener.status"
' _ "$work" "$build/tests/broadcast_listener.exe" "$build" 2>/dev/null
status=$(cat "$work/dialog.status" 2>/dev/null || echo none)
[ "$status" = 0 ] || fail "the hidden dialog copy exited with $status: $(tail -5 "$work/dialog.out")"
heard=$(tr -d '\r' < "$work/broadcasts.txt" 2>/dev/null | paste -sd' ')
expected="4:10 4:20 4:30 4:40 4:50 4:60 4:70 4:80 4:90 1:0 5:0"
[ "$(cat "$work/visibility.txt" 2>/dev/null)" = "never shown" ] ||
    fail "the hidden dialog copy showed its window: $(cat "$work/visibility.txt" 2>/dev/null)"
[ "$heard" = "$expected" ] || fail "the listener heard '$heard', expected '$expected'"

echo "windows programs: $failed failed"
[ "$failed" -eq 0 ]
