#!/bin/bash
# Runs inside the guest kernel, chrooted into the host's root file system
# (scripts/wine-hid-tests.sh starts it through kernel-hid-run.sh -r, in the
# shared RUN folder that holds the programs): the Windows build under Wine
# against kernel HID devices served by zelk-uhid-device through /dev/uhid, that
# is zelkupdate.exe -> hid.dll -> hidclass.sys -> winebus.sys -> /dev/hidrawN ->
# hid-generic -> uhid. One Wine session (wineserver -p) serves every step: a
# Wine start costs 17-27 s under emulation.
# Usage: wine-guest-tests.sh SYSTEMD-UDEVD
set -u
udevd=$1
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin
run=$PWD
out=$run/out
mkdir -p "$out"
export WINEPREFIX=$run/prefix HOME=$run/home TMPDIR=/tmp
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }
show() { echo "---- $1"; cat "$out/$1.out" "$out/$1.err" 2>/dev/null | tr '\r' '\n' | tail -n 40; }

# The programs run from the guest's tmpfs: loaded from the 9p share, Wine 8.0
# faulted on executing zelkupdate.exe (at the start of its .data section).
mkdir -p /tmp/bin
cp "$run"/bin/*.exe "$run"/bin/*.dll "$run"/bin/sample.*.bin /tmp/bin/

# systemd-udevd (no rules) passes the kernel's hotplug events on to winebus:
# without it a device plugged in while Wine runs is never shown and a removal
# is not seen.
"$udevd" --daemon >"$out/udevd.log" 2>&1 || { cat "$out/udevd.log"; fail "systemd-udevd"; exit 1; }
n=0; while [ ! -e /run/udev/control ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done

# device NAME FILE: starts zelk-uhid-device and waits for its hidraw nodes
device() {
  mkdir -p "$out/$1.flash"
  "$run/bin/zelk-uhid-device" --flash-dir "$out/$1.flash" --ready-file "/tmp/$1.ready" "$2" \
    >"$out/$1.device" 2>&1 &
  eval "dev_$1=$!"
  local n=0
  while [ ! -e "/tmp/$1.ready" ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
  [ -e "/tmp/$1.ready" ] || { cat "$out/$1.device"; fail "$1: the uhid device did not come up"; return 1; }
}
unplug() {  # SIGTERM destroys the kernel device and writes its flash
  local pid; eval "pid=\${dev_$1:-}"
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  eval "dev_$1="
}
# win NAME EXPECTED-STATUS TEXT PROGRAM [ARGS...]: a Windows program under
# Wine; passes when it exits with EXPECTED-STATUS and its output holds TEXT
win() {
  local name=$1 expected=$2 text=$3 t0 status; shift 3
  t0=$EPOCHREALTIME
  (cd /tmp/bin && timeout -k 10 300 wine "$@" >"$out/$name.out" 2>"$out/$name.err")
  status=$?
  elapsed=$(since "$t0")
  if [ "$status" -eq "$expected" ] && tr '\r' '\n' <"$out/$name.out" | cat - "$out/$name.err" |
       grep -qiF -- "$text"; then
    pass "$name: exit $status, \"$text\" ($elapsed s)"
    return 0
  fi
  show "$name"
  fail "$name: exit $status (expected $expected), \"$text\" $(tr '\r' '\n' <"$out/$name.out" |
    cat - "$out/$name.err" | grep -qiF -- "$text" && echo found || echo missing)"
  return 1
}
flash() {  # flash NAME: the device's flash against the sample image
  if cmp -s "$out/$1.flash/device0-component0F.bin" expected-flash.bin; then
    pass "$1: the earbud's flash holds the sample image"
  else
    fail "$1: the earbud's flash differs from the sample image"
  fi
}
# listed NAME: waits (six listings) until Wine has installed a device plugged
# in while it runs, that is until zelkupdate.exe --list finds it (a
# device's Plug and Play install takes Wine seconds under emulation)
listed() {
  local t0=$EPOCHREALTIME n=0
  while [ $n -lt 6 ]; do
    (cd /tmp/bin && timeout 120 wine zelkupdate.exe --list >"$out/$1.out" 2>"$out/$1.err") &&
      { echo "   ($1: listed $(since "$t0") s after it came up)"; return 0; }
    sleep 2; n=$((n + 1))
  done
  return 1
}
# watch_start NAME: starts hid_watch_check.exe (the Windows backend's change
# watch) in the background and waits until it listens; watch_end NAME then
# passes when it heard an interface come or go (within 120 s)
watch_start() {
  rm -f "/tmp/bin/$1.ready"
  (cd /tmp/bin && timeout -k 10 300 wine hid_watch_check.exe "$1.ready" 120 \
    >"$out/$1.out" 2>"$out/$1.err") &
  eval "$1=$!"
  local n=0
  while [ ! -e "/tmp/bin/$1.ready" ] && [ $n -lt 1200 ]; do sleep 0.1; n=$((n + 1)); done
  [ -e "/tmp/bin/$1.ready" ] || { show "$1"; fail "$1: the watch did not start"; }
}
watch_end() {
  local pid status t0=$EPOCHREALTIME; eval "pid=\${$1:-}"
  [ -n "$pid" ] || return 0
  wait "$pid"; status=$?
  if [ "$status" -eq 0 ] && grep -q "change heard" "$out/$1.out"; then
    pass "$1: $(tr -d '\r' <"$out/$1.out" | head -n 1) (waited $(since "$t0") s more)"
  else
    show "$1"; fail "$1: hid_watch_check exited with $status"
  fi
}
# blocks per second from a run's progress lines ("hh:mm:ss.mmm HANDLE h:
# percentage: p, ..."): from the 1 % line to the 100 % one, as update_bench
# counts them (the first notification comes as blocks/99 have gone out)
rate() {
  tr '\r' '\n' <"$1" | awk -v blocks="$2" '
    /percentage: / { split($1, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]
                     if (first == "") first = s; last = s }
    END { n = blocks - int(blocks / 99); d = last - first; if (d < 0) d += 86400
          if (d > 0) printf "%.0f blocks/s (%d blocks in %.3f s, %.1f us per block)", n / d, n, d, d * 1e6 / n }'
}
blocks=$(($(stat -c %s bin/sample.payload.bin) / 57))

echo "== Wine's HID stack: a kernel earbud there before Wine starts"
device earbud default || exit 1
t0=$EPOCHREALTIME
wineserver -p
win list 0 '\\?\hid#vid_320f&pid_5055&mi_02#' zelkupdate.exe --list &&
  grep -q "FwVersion: 1.0.3.2" "$out/list.out" || fail "list: no component version 1.0.3.2"
echo "   (Wine start and the first listing: $(since "$t0") s)"
win c-hid-exports 0 "hid exports: 0 failed" hid_exports_check.exe -1
win update 0 "Verified: the device now reports version" zelkupdate.exe
windows_rate=$(rate "$out/update.out" "$blocks")
unplug earbud
flash earbud

echo "== the earbud is gone: Wine drops it"
sleep 2
win list-removed 2 "No HID device matches" zelkupdate.exe --list

echo "== plugged in while Wine runs (the change watch hears it), then unplugged in the middle of the transfer (heard too)"
watch_start watch_arrival
device unplug unplug-mid-transfer.json || exit 1
watch_end watch_arrival
listed wait-unplug || fail "a device plugged in while Wine runs is not listed"
watch_start watch_removal
win unplug-mid-transfer 1 "The device is gone" zelkupdate.exe &&
  { grep -q "rst 20" "$out/unplug-mid-transfer.out" || fail "unplug: not rst 20"; }
watch_end watch_removal
unplug unplug

echo "== an interface without report IDs beside the earbud (plugged in while Wine runs); the C interface updates the earbud"
device noids wine-no-report-ids.json || exit 1
if listed wait-noids; then
  cp "$out/wait-noids.out" "$out/list-noids.out"
  listed=$(grep -c '^\\\\?\\hid#' "$out/list-noids.out")
  [ "$listed" -eq 1 ] && grep -qi 'vid_320f&pid_5055&mi_02#' "$out/list-noids.out" &&
    pass "no report IDs: the earbud is listed, the interface without report IDs passed over" ||
    { cat "$out/list-noids.out"; fail "no report IDs: $listed interfaces listed, expected the earbud's"; }
  win c-cfu-update 0 "cfu update: 0 failed" cfu_update_check.exe sample.offer.bin sample.payload.bin
  unplug noids
  flash noids
else
  fail "no report IDs: the earbud beside it is not listed"
  unplug noids
fi

echo "== two top-level collections (plugged in while Wine runs)"
device collections two-collections.json || exit 1
sleep 10
# every HID interface Wine presents, whatever its identity
(cd /tmp/bin && timeout 120 wine hid_exports_check.exe -1 2>&1 | grep '^record') >"$out/collections.records"
if grep -qi 'usage page 0xFF0B.*vid_320f&pid_5055&mi_02' "$out/collections.records"; then
  win list-collections 0 '\\?\hid#vid_320f&pid_5055&mi_02' zelkupdate.exe --list
elif grep -qi 'usage page 0x000C.*vid_320f&pid_5055&mi_02' "$out/collections.records"; then
  echo "SKIP: two top-level collections: Wine 8.0 presents the device as one interface with its" \
    "first collection only (usage page 0x000C), so its CFU collection cannot be reached through Wine:"
  cat "$out/collections.records"
else
  cat "$out/collections.records"
  fail "two collections: Wine presents no interface of the device"
fi
unplug collections
wineserver -k; wineserver -w

echo "SKIP: the backend conformance suite on Wine's stack: it makes its devices through /dev/uhid" \
  "from its own process, which a Windows program cannot (it runs on hidraw in kernel-hid-tests.sh;" \
  "the Windows backend's cases run as the scripted table under wine-tests.sh)"

echo "== blocks per second, the same guest and the same uhid earbud: Windows build through Wine's stack, Linux build through hidraw"
device bench default || exit 1
bin/update_bench --hidraw --runs 1 --latency-us 0 --offer bin/sample.offer.bin \
  --payload bin/sample.payload.bin >"$out/bench.out" 2>&1 || { cat "$out/bench.out"; fail "update_bench"; }
unplug bench
linux=$(sed -n 's/.*: [0-9]* blocks, \([0-9]*\) blocks\/s.*/\1/p' "$out/bench.out")
echo "windows (zelkupdate.exe under Wine): ${windows_rate:-none}"
echo "linux (update_bench --hidraw): $(head -n 1 "$out/bench.out")"
win_bps=${windows_rate%% *}
if [ -n "$linux" ] && [ -n "$win_bps" ]; then
  echo "per-block figure: Windows/Linux = $(awk -v w="$win_bps" -v l="$linux" 'BEGIN { printf "%.2f", w / l }')" \
    "(guest load $(cut -d' ' -f1-3 /proc/loadavg))"
fi

echo "Wine HID tests: $failed failed"
[ "$failed" -eq 0 ]
