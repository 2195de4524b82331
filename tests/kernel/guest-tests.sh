#!/bin/sh
# Runs inside the guest kernel (scripts/kernel-hid-tests.sh puts it there with
# the programs it needs): the backend conformance tests on hidraw over uhid,
# the round-trip figure, and zelkupdate against uhid earbuds.
cd /test
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
now_ms() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}0"; }
export TMPDIR=/tmp

echo "== conformance tests on hidraw over uhid"
t0=$(now_ms)
if ZELK_CONFORMANCE_BACKEND=hidraw ./hid_conformance_tests --gtest_brief=1; then
  pass "backend conformance on hidraw ($(($(now_ms) - t0)) ms)"
else
  fail "backend conformance on hidraw"
fi

echo "== one report through hidraw and uhid"
./hidraw_round_trip 2000 || fail "round trip"

# update NAME DEVICES EXPECTED-STATUS: runs zelkupdate against the uhid
# devices of DEVICES; leaves its output in /tmp/NAME.*
update() {
  name=$1 devices=$2 expected=$3
  mkdir -p "/tmp/$name.flash"
  rm -f "/tmp/$name.ready"
  ./zelk-uhid-device --flash-dir "/tmp/$name.flash" --ready-file "/tmp/$name.ready" \
    "$devices" >"/tmp/$name.device" 2>&1 &
  device=$!
  n=0
  while [ ! -e "/tmp/$name.ready" ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
  if [ ! -e "/tmp/$name.ready" ]; then
    cat "/tmp/$name.device"
    fail "$name: the uhid device did not come up"
    kill "$device" 2>/dev/null
    return 1
  fi
  t0=$(now_ms)
  ./zelkupdate >"/tmp/$name.out" 2>"/tmp/$name.err"
  status=$?
  elapsed=$(($(now_ms) - t0))
  kill -TERM "$device" 2>/dev/null
  wait "$device"
  if [ "$status" -ne "$expected" ]; then
    echo "---- zelkupdate output"; cat "/tmp/$name.out" "/tmp/$name.err"
    fail "$name: zelkupdate exited with $status, expected $expected"
    return 1
  fi
  echo "$name: zelkupdate exited with $status after $elapsed ms"
  return 0
}

echo "== zelkupdate updates a uhid earbud"
if update earbud default 0; then
  if cmp -s /tmp/earbud.flash/device0-component0F.bin expected-flash.bin; then
    pass "update of the uhid earbud; its flash holds the sample image"
  else
    fail "update: the earbud's flash differs from the sample image"
  fi
fi

echo "== zelkupdate finds the CFU collection of a device with two"
if update collections two-collections.json 0; then
  if cmp -s /tmp/collections.flash/device0-component0F.bin expected-flash.bin; then
    pass "update through the second top-level collection"
  else
    fail "two collections: the flash differs from the sample image"
  fi
fi

echo "== the earbud is unplugged in the middle of the transfer"
if update unplug unplug-mid-transfer.json 1; then
  if [ "$elapsed" -lt 30000 ]; then
    pass "unplug mid-transfer ends the run with its failure code in $elapsed ms"
  else
    fail "unplug mid-transfer took $elapsed ms"
  fi
  grep -i -E "fail|error" /tmp/unplug.out /tmp/unplug.err | head -n 5
fi

echo "== update_bench through hidraw against uhid earbuds (figures only)"
# bench NAME DEVICES LATENCY-US: one update of a fresh uhid earbud.
bench() {
  name=$1 devices=$2 latency=$3
  mkdir -p "/tmp/$name.flash"
  ./zelk-uhid-device --flash-dir "/tmp/$name.flash" --ready-file "/tmp/$name.ready" \
    "$devices" >"/tmp/$name.device" 2>&1 &
  device=$!
  n=0; while [ ! -e "/tmp/$name.ready" ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
  ./update_bench --hidraw --runs 1 --latency-us "$latency" --offer sample.offer.bin \
    --payload sample.payload.bin || fail "update_bench against the $name earbud"
  kill -TERM "$device"; wait "$device"
}
bench bench-instant default 0
bench bench-1ms earbud-1ms.json 1000

echo "== the station updates uhid earbuds created one after another"
# Four earbuds answering in 1 ms are created 250 ms apart while
# zelkupdate --watch waits for them; each must be updated once, and the run's
# time is set beside the wire time (blocks x 1 ms), with the guest's load.
blocks=$(($(wc -c <sample.payload.bin) / 57))
rm -f /tmp/station.log
t0=$(now_ms)
./zelkupdate --watch --count 4 --json --log /tmp/station.log >/tmp/station.out 2>/tmp/station.err &
station=$!
sleep 0.3
earbuds=""
for i in 1 2 3 4; do
  mkdir -p "/tmp/station$i.flash"
  ./zelk-uhid-device --flash-dir "/tmp/station$i.flash" earbud-1ms.json \
    >"/tmp/station$i.device" 2>&1 &
  earbuds="$earbuds $!"
  sleep 0.25
done
n=0
while kill -0 "$station" 2>/dev/null && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
if kill -0 "$station" 2>/dev/null; then
  kill -KILL "$station"
fi
wait "$station"
status=$?
elapsed=$(($(now_ms) - t0))
kill -TERM $earbuds 2>/dev/null
for pid in $earbuds; do wait "$pid"; done
updated=$(grep -c '"result":"updated"' /tmp/station.log 2>/dev/null)
flashed=0
for i in 1 2 3 4; do
  cmp -s "/tmp/station$i.flash/device0-component0F.bin" expected-flash.bin && flashed=$((flashed + 1))
done
read -r load1 load5 _ </proc/loadavg
transfers=$(grep -o '"durationMs":[0-9]*' /tmp/station.log 2>/dev/null | cut -d: -f2 | tr '\n' ' ')
echo "station: 4 earbuds created 250 ms apart, $blocks blocks each (wire time $blocks ms at 1 ms an answer): transfers of ${transfers}ms; all done $elapsed ms after the station started (guest load $load1 $load5)"
if [ "$status" -eq 0 ] && [ "$updated" = 4 ] && [ "$flashed" = 4 ]; then
  pass "the station updated 4 uhid earbuds once each, each flash holds the sample image"
else
  echo "---- zelkupdate --watch"; cat /tmp/station.out /tmp/station.err /tmp/station.log
  fail "station: exit $status, $updated records updated, $flashed flashes hold the image"
fi

echo "== a user without access to the node is told what to do"
echo "nobody:x:65534:65534:nobody:/tmp:/bin/sh" >/etc/passwd
echo "nogroup:x:65534:" >/etc/group
./zelk-uhid-device --ready-file /tmp/access.ready default >/dev/null 2>&1 &
device=$!
n=0; while [ ! -e /tmp/access.ready ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
chmod 0600 /dev/hidraw*
su -s /bin/sh nobody -c "TMPDIR=/tmp/nobody; mkdir -p \$TMPDIR; ./zelkupdate" \
  >/tmp/access.out 2>/tmp/access.err
status=$?
kill -TERM "$device"; wait "$device"
if [ "$status" -eq 2 ] && grep -q "No permission to open /dev/hidraw.*udev" /tmp/access.err; then
  pass "no access: exit 2 with the udev hint"
else
  cat /tmp/access.out /tmp/access.err
  fail "no access: zelkupdate exited with $status without the udev hint"
fi

echo "kernel HID tests: $failed failed"
[ "$failed" -eq 0 ]
