#!/usr/bin/env bash
# zelkupdate's script-facing modes run as a production line would run them:
# --json, --list and --all on device files, good and failing devices, and
# command lines with a value missing. Each row is one run; the runs go at
# once (each ends with the fixed ten-second wait of a run).
#   zelkupdate_modes_test.sh <zelkupdate>
set -u
updater=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_RUNTIME_DIR= DBUS_SESSION_BUS_ADDRESS=
mkdir -p "$TMPDIR"
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

earbud() {  # earbud ROLE [BEHAVIOUR [SERIAL]]
    printf '{ "vendorId": "0x320F", "productId": "0x5055", "interfaceNumber": 2,
      "components": [{ "id": "0x0F", "budRole": %s, "version": "0x10003001" }]%s%s }' \
        "$1" "${2:+, \"behaviour\": $2}" "${3:+, \"serial\": \"$3\"}"
}
devices() { echo "{ \"devices\": [$(IFS=,; echo "$*")] }"; }
devices "$(earbud 1)" "$(earbud 1 '{ "offerAnswers": [{ "status": "reject", "rejectReason": 1 }] }')" \
    "$(earbud 2)" > "$work/one-bad.json"
devices "$(earbud 1)" "$(earbud 2)" > "$work/two-good.json"
devices "$(earbud 1 '{ "offerAnswers": ["reject"] }')" > "$work/rejecting.json"
devices "$(earbud 1 '{ "unplugAtBlock": 3 }')" > "$work/unplugged.json"
devices "$(earbud 1)" > "$work/one.json"
# The updated bud restarts and stays away; another bud of the same role,
# already on the offered version, is there: it must not be read in its place.
devices "$(earbud 1 '{ "unplugOnComplete": true }')" \
    "$(earbud 1 | sed 's/0x10003001/0x10004001/')" > "$work/verify-gone.json"
devices "$(earbud 1)" "$(earbud 2 '{ "unplugOnComplete": true }')" > "$work/all-verify-gone.json"
# The updated bud restarts and comes back under a new node a moment later,
# as real buds do: it is read back there. Without a serial it is the only new
# node of its role; with serials, two buds of one role that both come back are
# each told apart by their own; one that comes back with another serial is
# not the bud that was updated.
back='{ "reappearAsNewNode": { "delayMs": 1500 } }'
devices "$(earbud 1 "$back")" "$(earbud 2)" > "$work/verify-new-node.json"
devices "$(earbud 1 "$back" L-1)" "$(earbud 1 "$back" L-2)" > "$work/all-verify-new-nodes.json"
devices "$(earbud 1 '{ "reappearAsNewNode": { "delayMs": 1500, "serial": "L-7" } }' L-1)" \
    > "$work/verify-other-serial.json"
devices "$(earbud 1)" "$(earbud 2 '{ "versionFailures": 1000 }')" > "$work/undescribed.json"
devices "$(earbud 1)" "$(earbud 2)" "$(earbud 1 '{ "faults": { "open": true } }')" \
    > "$work/one-unopenable.json"
devices "$(earbud 1 '{ "contentScript": [{ "block": 37, "status": 4, "times": 0 }] }')" \
    > "$work/verify-error.json"
echo '{ "devices": [] }' > "$work/none.json"
devices "$(earbud 1 '' L-1)" "$(earbud 2 '' R-1)" > "$work/two-serials.json"
# A bud already on a later version than the one the program offers.
devices "$(earbud 1 | sed 's/0x10003001/0x10005001/')" > "$work/newer-device.json"
# The station: two buds that restart under new nodes after their update (read
# back there, not taken for new devices) and one already on the offered version.
devices "$(earbud 1 "$back" W-1)" "$(earbud 2 "$back" W-2)" \
    "$(earbud 1 '' W-3 | sed 's/0x10003001/0x10004001/')" > "$work/watch.json"

# name | arguments
rows=(
    "good-json|--json --simulate=$work/one.json"
    "one-bad-all|--all --json --simulate=$work/one-bad.json"
    "two-good-all|--all --verify --simulate=$work/two-good.json"
    "verify-gone|--verify --json --simulate=$work/verify-gone.json"
    "all-verify-gone|--all --verify --simulate=$work/all-verify-gone.json"
    "verify-new-node|--verify --json --simulate=$work/verify-new-node.json"
    "all-verify-new-nodes|--all --verify --simulate=$work/all-verify-new-nodes.json"
    "verify-other-serial|--verify --json --simulate=$work/verify-other-serial.json"
    "list|--list --simulate=$work/one-bad.json"
    "list-json|--list --json --simulate=$work/one-bad.json"
    "list-none|--list --json --simulate=$work/none.json"
    "list-undescribed|--list --simulate=$work/undescribed.json"
    "unopenable-all|--all --json --simulate=$work/one-unopenable.json"
    "unopenable-list|--list --simulate=$work/one-unopenable.json"
    "none-json|--json --simulate=$work/none.json"
    "rejected-json|--json --simulate=$work/rejecting.json"
    "unplugged-json|--json --simulate=$work/unplugged.json"
    "verify-error-json|--json --simulate=$work/verify-error.json"
    "offer-without-value|--offer --payload $work/x --simulate"
    "log-single|--log $work/single.log --simulate=$work/two-serials.json"
    "log-all|--all --log $work/all.log --simulate=$work/two-serials.json"
    "log-one-bad-all|--all --log $work/one-bad.log --simulate=$work/one-bad.json"
    "log-rejected|--log $work/rejected.log --simulate=$work/rejecting.json"
    "log-none|--log $work/none.log --simulate=$work/none.json"
    "log-directory|--log $work --simulate=$work/one.json"
    "log-list|--list --log $work/list.log --simulate=$work/one.json"
    "downgrade-json|--json --simulate=$work/newer-device.json"
    "list-downgrade-json|--list --json --simulate=$work/newer-device.json"
    "list-unknown-offer|--list --offer $work/missing.offer --simulate=$work/one.json"
    "watch-count|--watch --count 3 --json --simulate=$work/watch.json"
    "watch-rejected|--watch --count 1 --simulate=$work/rejecting.json"
    "count-without-watch|--count 2 --simulate"
    "watch-bad-count|--watch --count 0 --simulate"
    "watch-log|--watch --count 3 --log $work/watch.log --simulate=$work/watch.json"
)
pids=()
for row in "${rows[@]}"; do
    name=${row%%|*}
    # shellcheck disable=SC2086
    ( "$updater" ${row#*|} > "$work/$name.out" 2> "$work/$name.err"
      echo $? > "$work/$name.status" ) &
    pids+=($!)
done
wait "${pids[@]}"

status() { cat "$work/$1.status"; }
expect_status() { [ "$(status "$1")" -eq "$2" ] || fail "$1 exited with $(status "$1"), not $2"; }
# Every line of a --json run's stdout is one JSON object; prints the query's answer.
json() {  # json NAME PYTHON-EXPRESSION over `events` (the list of objects)
    python3 - "$work/$1.out" "$2" <<'PY'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
print(eval(sys.argv[2]))
PY
}
check() {  # check NAME DESCRIPTION PYTHON-EXPRESSION
    [ "$(json "$1" "$3" 2>&1)" = "True" ] || fail "$1: $2 ($(json "$1" "$3" 2>&1 | tail -1))"
}

expect_status good-json 0
check good-json "events in order, stdout only JSON" \
    "[e['event'] for e in events if e['event'] != 'progress'] == ['start', 'device_found', 'description', 'verification', 'result', 'exit']"
check good-json "progress climbs to 100" \
    "[e['percentage'] for e in events if e['event'] == 'progress'][-1] == 100"
check good-json "result" \
    "[(e['success'], e['verification'], e['reportedVersion']) for e in events if e['event'] == 'result'] == [(True, 'verified', '1.0.4.2')]"
grep -q "Verified: the device now reports version 1.0.4.2." "$work/good-json.err" ||
    fail "good-json: the human texts did not go to stderr"

expect_status one-bad-all 1
check one-bad-all "summary names the bad device" \
    "[(e['succeeded'], e['failed'], [d['path'].split('#')[2] for d in e['devices'] if not d['success']]) for e in events if e['event'] == 'summary'] == [(2, 1, ['virtual&1&0000'])]"
check one-bad-all "the bad device's result says why" \
    "[(e['code'], e['codeName'], e['step']) for e in events if e['event'] == 'result' and not e['success']] == [(4, 'CFU_RESULT_LAST_IMAGE_REJECTED', 'Update')]"
check one-bad-all "the good ones were updated" \
    "sorted(e['path'].split('#')[2] for e in events if e['event'] == 'verification' and e['state'] == 'verified') == ['virtual&0&0000', 'virtual&2&0000']"
grep -q "FAILED .*virtual&1&0000.*CFU_RESULT_LAST_IMAGE_REJECTED.*The device rejected the offer: reason 0x01, invalid component." "$work/one-bad-all.err" ||
    fail "one-bad-all: the human summary does not name the bad device and its reason"
check one-bad-all "the summary gives the device's reject reason" \
    "[d['rejectReason'] for e in events if e['event'] == 'summary' for d in e['devices'] if not d['success']] == [{'code': 1, 'name': 'INVALID_COMPONENT'}]"

expect_status two-good-all 0
grep -q "2 of 2 devices updated." "$work/two-good-all.out" || fail "two-good-all: no summary"

expect_status unopenable-all 1
check unopenable-all "the earbud that cannot be opened is a failed device" \
    "[(e['succeeded'], e['failed'], [(d['path'].split('#')[2], d['cannotOpen']) for d in e['devices'] if not d['success']]) for e in events if e['event'] == 'summary'] == [(2, 1, [('virtual&2&0000', True)])]"
grep -q "2 of 3 devices updated." "$work/unopenable-all.err" ||
    fail "unopenable-all: the summary does not count the earbud that cannot be opened"
expect_status unopenable-list 1
grep -A1 "virtual&2&0000" "$work/unopenable-list.out" | grep -q "Not openable" ||
    fail "unopenable-list: the earbud that cannot be opened is not listed as such"

expect_status list 0
[ "$(grep -c "Component ID: 15   Bank: 0   Bud Role: [12]   FwVersion: 1.0.3.2   Offered: 1.0.4.2 (newer)$" "$work/list.out")" -eq 3 ] ||
    fail "list: not every device listed with its component and the offered version"
expect_status list-json 0
check list-json "three devices, their roles" \
    "[c['budRole'] for e in events if e['event'] == 'device' for c in e['components']] == [1, 1, 2]"
grep -q "percentage" "$work/list.out" "$work/list.err" && fail "list: something was sent"

# An interface that matches but cannot be described (as a stale one Wine
# still lists) is not a listed device: said so, and the run fails.
expect_status list-undescribed 1
grep -q "^1 of 2 matching interfaces could not be described.$" "$work/list-undescribed.out" ||
    fail "list-undescribed: no line saying how many could not be described"

expect_status list-none 2
check list-none "no device, with the identity" \
    "[(e['identity']['vendorId'], e['identity']['productId']) for e in events if e['event'] == 'no_device'] == [('0x320F', '0x5055')]"

expect_status none-json 2
check none-json "no device and its result" \
    "[e['event'] for e in events] == ['start', 'no_device', 'result', 'exit'] and events[2]['noDevice']"
grep -q "No HID device matches VID 0x320F, PID 0x5055" "$work/none-json.err" ||
    fail "none-json: the identity searched for is not named"

expect_status rejected-json 1
check rejected-json "rejected by name" \
    "[(e['code'], e['codeName']) for e in events if e['event'] == 'result'] == [(4, 'CFU_RESULT_LAST_IMAGE_REJECTED')]"

expect_status unplugged-json 1
check unplugged-json "an unplugged device is gone, not a device error" \
    "[(e['deviceGone'], e['step']) for e in events if e['event'] == 'result'] == [(True, 'Update')]"
grep -q "The device is gone (unplugged or restarted)." "$work/unplugged-json.err" ||
    fail "unplugged-json: no word that the device is gone"

expect_status verify-error-json 1
check verify-error-json "the device's content status by name, with its block" \
    "[(e['code'], e['contentStatus']) for e in events if e['event'] == 'result'] == [(20, {'code': 4, 'name': 'VERIFY_ERROR', 'block': 37})]"
grep -q "CFU_RESULT_CONTENT_FAILED: .* The device reported content status 0x04 (verify error) for block 37\.$" "$work/verify-error-json.err" ||
    fail "verify-error-json: the console does not name the content status"

expect_status offer-without-value 64
grep -q "^zelkupdate: --offer needs a value" "$work/offer-without-value.err" ||
    fail "offer-without-value: $(head -1 "$work/offer-without-value.err")"

# JSON lines that cannot be written (a full disk) fail the run: the caller
# never saw its report.
"$updater" --list --json --simulate > /dev/full 2> "$work/full.err"
status=$?
[ "$status" -eq 1 ] || fail "json-to-full-disk: exited with $status, not 1"
grep -q "JSON lines could not be written" "$work/full.err" ||
    fail "json-to-full-disk: $(head -1 "$work/full.err")"

# --verify reads back the device it updated, or says it could not: never
# "Verified" or "Success" about another bud.
expect_status verify-gone 3
grep -q "^Verified" "$work/verify-gone.out" "$work/verify-gone.err" &&
    fail "verify-gone: another bud was taken for the updated one"
grep -q "^Success" "$work/verify-gone.out" "$work/verify-gone.err" &&
    fail "verify-gone: success shown for a device that did not confirm its version"
check verify-gone "the result is unconfirmed" \
    "[e['verification'] for e in events if e['event'] == 'result'] == ['unverified']"
expect_status all-verify-gone 3
grep -q "UNCONFIRMED" "$work/all-verify-gone.out" ||
    fail "all-verify-gone: the bud that did not come back is not listed as unconfirmed"
grep -q "1 of 2 devices updated." "$work/all-verify-gone.out" ||
    fail "all-verify-gone: $(grep 'devices updated' "$work/all-verify-gone.out")"

expect_status verify-new-node 0
check verify-new-node "verified under the new node" \
    "[(e['verification'], e['reportedVersion']) for e in events if e['event'] == 'result'] == [('verified', '1.0.4.2')]"
grep -q "^Verified: the device now reports version 1.0.4.2.$" "$work/verify-new-node.err" ||
    fail "verify-new-node: no Verified line"
expect_status all-verify-new-nodes 0
grep -q "2 of 2 devices updated." "$work/all-verify-new-nodes.out" ||
    fail "all-verify-new-nodes: $(grep 'devices updated' "$work/all-verify-new-nodes.out")"
[ "$(grep -c "^   OK .*: now 1.0.4.2$" "$work/all-verify-new-nodes.out")" -eq 2 ] ||
    fail "all-verify-new-nodes: not both buds listed as updated to 1.0.4.2"
expect_status verify-other-serial 3
grep -q "^Verified" "$work/verify-other-serial.err" &&
    fail "verify-other-serial: a bud with another serial was taken for the updated one"
check verify-other-serial "the result is unconfirmed" \
    "[e['verification'] for e in events if e['event'] == 'result'] == ['unverified']"

# The unit log: one line per device and attempt, none for a run that found
# no device; a log that cannot be opened stops the run before any device.
records() {  # records NAME PYTHON-EXPRESSION over `lines` (the log's objects)
    python3 - "$work/$1.log" "$2" <<'PY'
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
print(eval(sys.argv[2]))
PY
}
check_log() {  # check_log NAME DESCRIPTION PYTHON-EXPRESSION
    [ "$(records "$1" "$3" 2>&1)" = "True" ] || fail "log $1: $2 ($(records "$1" "$3" 2>&1 | tail -1))"
}
keys="['time', 'path', 'serial', 'component', 'budRole', 'versionBefore', 'versionAfter', 'result', 'reason', 'durationMs', 'blocks']"
expect_status log-single 0
check_log single "one line with every field, the first bud updated" \
    "[(list(l), l['serial'], l['component'], l['budRole'], l['versionBefore'], l['versionAfter'], l['result'], l['reason'], l['blocks'] > 0) for l in lines] == [($keys, 'L-1', 15, 1, '1.0.3.2', '1.0.4.2', 'updated', None, True)]"
check_log single "the time is UTC with milliseconds" \
    "__import__('re').fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z', lines[0]['time']) is not None"
expect_status log-all 0
check_log all "a line per bud" \
    "sorted((l['serial'], l['budRole'], l['result']) for l in lines) == [('L-1', 1, 'updated'), ('R-1', 2, 'updated')]"
expect_status log-one-bad-all 1
check_log one-bad "the failed bud's reason is the summary's" \
    "sorted(l['result'] for l in lines) == ['failed', 'updated', 'updated'] and [l['reason'] for l in lines if l['result'] == 'failed'][0] in open('$work/log-one-bad-all.out').read()"
expect_status log-rejected 1
check_log rejected "a failed attempt is recorded" \
    "[(l['result'], l['reason'].startswith('Update fail, rst 4 (CFU_RESULT_LAST_IMAGE_REJECTED'), l['versionAfter']) for l in lines] == [('failed', True, None)]"
expect_status log-none 2
[ -f "$work/none.log" ] && [ ! -s "$work/none.log" ] || fail "log-none: a line was written, or no file"
expect_status log-directory 64
grep -q "^zelkupdate: the log file $work is not a regular file (it is a directory)$" "$work/log-directory.err" ||
    fail "log-directory: $(head -1 "$work/log-directory.err")"
grep -q "Download\|percentage" "$work/log-directory.out" && fail "log-directory: the device was updated"
expect_status log-list 64

# A log line that cannot be written (the file may grow no further, as on a
# full disk) fails a run that updated its device, and says so.
head -c 2097152 /dev/zero > "$work/full.log"
( trap '' XFSZ; ulimit -f 2048; exec "$updater" --log "$work/full.log" --simulate=$work/one.json ) \
    > "$work/log-full.out" 2> "$work/log-full.err"
status=$?
[ "$status" -eq 1 ] || fail "log-full: exited with $status, not 1"
grep -q "^zelkupdate: a record could not be written to the log file $work/full.log" "$work/log-full.err" ||
    fail "log-full: $(tail -1 "$work/log-full.err")"

# An offer older than the device's version is said before the transfer; the
# update goes on.
expect_status downgrade-json 0
check downgrade-json "a downgrade event before the first block" \
    "[e['event'] for e in events if e['event'] != 'progress'][:4] == ['start', 'device_found', 'description', 'downgrade'] and [(e['deviceVersion'], e['offeredVersion']) for e in events if e['event'] == 'downgrade'] == [('1.0.5.2', '1.0.4.2')]"
grep -q "^Downgrade: the device has version 1.0.5.2; the offered firmware is the older version 1.0.4.2.$" "$work/downgrade-json.err" ||
    fail "downgrade-json: no downgrade line"
grep -q "Downgrade" "$work/good-json.err" && fail "good-json: a newer offer called a downgrade"
expect_status list-downgrade-json 0
check list-downgrade-json "the offered version, older" \
    "[(e['offeredVersion'], e['offerComparison']) for e in events if e['event'] == 'device'] == [('1.0.4.2', 'downgrade')]"
expect_status list-unknown-offer 0
grep -q "FwVersion: 1.0.3.2   Offered: unknown$" "$work/list-unknown-offer.out" ||
    fail "list-unknown-offer: $(cat "$work/list-unknown-offer.out")"
# The station updates each bud once, reports the current one and ends after
# three units with their summary.
expect_status watch-count 0
check watch-count "watching, one unit line per device, the summary, the exit" \
    "[e['event'] for e in events if e['event'] in ('start', 'watching', 'unit', 'summary', 'exit')] == ['start', 'watching', 'unit', 'unit', 'unit', 'summary', 'exit']"
check watch-count "each unit's result" \
    "sorted((e['serial'], e['result'], e.get('versionAfter')) for e in events if e['event'] == 'unit') == [('W-1', 'updated', '1.0.4.2'), ('W-2', 'updated', '1.0.4.2'), ('W-3', 'already-current', '1.0.4.2')]"
check watch-count "the summary counts them" \
    "[(e['updated'], e['alreadyCurrent'], e['failed']) for e in events if e['event'] == 'summary'] == [(2, 1, 0)]"
check watch-count "the updates' events carry their device's path" \
    "all('VID_320F' in e['path'] for e in events if e['event'] in ('device_found', 'progress', 'result'))"
expect_status watch-rejected 1
grep -q "FAILED .*virtual&0&0000.*CFU_RESULT_LAST_IMAGE_REJECTED" "$work/watch-rejected.out" ||
    fail "watch-rejected: no FAILED line with the reason"
grep -q "^      .*virtual&0&0000.*: failed, Update fail" "$work/watch-rejected.out" ||
    fail "watch-rejected: the summary does not name the failed unit"
expect_status count-without-watch 64
expect_status watch-bad-count 64
grep -q "^zelkupdate: --count needs a number of devices" "$work/watch-bad-count.err" ||
    fail "watch-bad-count: $(head -1 "$work/watch-bad-count.err")"

# The station's log has a line per unit, as its summary says.
expect_status watch-log 0
check_log watch "a line per unit with its result" \
    "sorted((l['serial'], l['result'], l['versionAfter']) for l in lines) == [('W-1', 'updated', '1.0.4.2'), ('W-2', 'updated', '1.0.4.2'), ('W-3', 'already-current', '1.0.4.2')]"

echo "zelkupdate modes: $failed failed"
[ "$failed" -eq 0 ]
