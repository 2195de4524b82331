#!/usr/bin/env bash
# kernel-hid-run.sh - runs a program inside a throw-away QEMU guest that boots
# Debian's own kernel with the uhid and hid-generic modules loaded, so that the
# program meets the real kernel HID stack (/dev/uhid, /dev/hidrawN) even where
# the host kernel has no uhid. Prints the program's output and exits with its
# status.
#
# Usage: scripts/kernel-hid-run.sh [-t SECONDS] [-f PATH[:GUEST]]... PROGRAM [ARGS...]
#        scripts/kernel-hid-run.sh -r RUN [-t SECONDS] [-m MEMORY] PROGRAM [ARGS...]
#   -f PATH[:GUEST]  copy a file or folder into the guest (default: /test/<name>);
#                    the shared libraries of every ELF file come along
#   -r RUN           the host's root file system instead of a busybox initramfs:
#                    shared read-only over virtio-9p, with RUN (a folder under
#                    /tmp) read-write at the same path; the program (a host path)
#                    runs chrooted there, in RUN, so the host's own programs
#                    (Wine) run unchanged. /tmp, /run and /dev/shm are the
#                    guest's own tmpfs apart from RUN.
#   -m MEMORY        guest memory (default 512M, with -r 2G)
#   -t SECONDS       time limit for the whole guest (default 300)
#   -v               show the guest's whole console
# Without -r the program runs as root in /test, with /dev, /sys, /proc and a
# writable /tmp; there is no network and no udev.
#
# Exit status: the program's; 77 when QEMU cannot run here (SKIP, not a pass);
# 124 at the time limit; 125 when the guest could not be set up.
#
# The kernel package (the one linux-image-amd64 depends on) is fetched with
# apt-get download and unpacked, never installed, into $ZELK_KERNEL_CACHE
# (default: build/kernel-cache in the source tree), about 40 MB. QEMU and
# busybox-static come from scripts/install-deps.sh.
set -Eeuo pipefail

me=kernel-hid-run
say() { echo "$me: $*" >&2; }
die() { say "error: $*"; exit 125; }
skip() { echo "SKIP: $*" >&2; exit 77; }

repo=$(cd "$(dirname "$0")/.." && pwd)
limit=300
verbose=0
copies=()
run=''
memory=''
while getopts ':f:t:r:m:vh' opt; do
  case $opt in
    f) copies+=("$OPTARG") ;;
    r) run=$OPTARG ;;
    m) memory=$OPTARG ;;
    t) limit=$OPTARG ;;
    v) verbose=1 ;;
    h) sed -n '2,/^set -E/{/^set -E/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) die "bad option (see -h)" ;;
  esac
done
shift $((OPTIND - 1))
[[ $# -ge 1 ]] || die "no program given (see -h)"
program=$(readlink -f -- "$1") || die "no program $1"
[[ -f $program && -x $program ]] || die "$1 is not an executable file"
shift
if [[ -n $run ]]; then
  run=$(readlink -f -- "$run") || die "no folder $run"
  [[ -d $run && $run == /tmp/?* ]] || die "RUN must be a folder under /tmp (the guest mounts it inside its own /tmp)"
  ((${#copies[@]} == 0)) || die "-f and -r do not go together"
  [[ $(id -u) == 0 ]] || skip "sharing the host's root with the guest needs root"
fi
[[ -n $memory ]] || { [[ -n $run ]] && memory=2G || memory=512M; }

# ------------------------------------------------------------ can QEMU run?
command -v qemu-system-x86_64 >/dev/null ||
  skip "qemu-system-x86_64 is not installed (scripts/install-deps.sh installs it)"
qemu-system-x86_64 -version >/dev/null 2>&1 || skip "qemu-system-x86_64 does not start here"
busybox=/bin/busybox
[[ -x $busybox ]] && ! ldd "$busybox" >/dev/null 2>&1 ||
  skip "no static busybox (package busybox-static) for the guest"
for tool in cpio xz; do command -v $tool >/dev/null || skip "$tool is not installed"; done
PATH=$PATH:/usr/sbin:/sbin
command -v depmod >/dev/null || skip "depmod (package kmod) is not installed"
# Hardware KVM only when the kvm_intel/kvm_amd module drives /dev/kvm; other
# /dev/kvm flavours (kvm_pvm) cannot run a stock kernel. Otherwise emulate.
if [[ -w /dev/kvm && ( -d /sys/module/kvm_intel || -d /sys/module/kvm_amd ) ]]; then
  accel=(-enable-kvm -cpu host)
else
  # No SMAP under emulation: with QEMU 7.2's "max", every Wine process dies
  # with a kernel oops (a supervisor read in user mode at an IRETQ).
  accel=(-accel tcg -cpu max,-smap)
fi

# ------------------------------------------------------- the guest kernel
cache=${ZELK_KERNEL_CACHE:-$repo/build/kernel-cache}
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock -w 900 9 || die "kernel cache $cache is busy"
package=$(apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
  sed -n 's/^Depends:.*\(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1=\2/p' | head -n 1 || true)
if [[ -z $package && $(id -u) == 0 ]]; then
  apt-get update -qq >&2 || true
  package=$(apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends:.*\(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1=\2/p' | head -n 1 || true)
fi
if [[ -z $package ]]; then  # no apt lists: take any kernel already in the cache
  package=$(cd "$cache" && ls -d linux-image-* 2>/dev/null | tail -n 1 | tr '_' '=' || true)
fi
[[ -n $package ]] || die "cannot tell which kernel package to use (apt-cache knows no linux-image-amd64)"
kdir="$cache/${package/=/_}"
# "ready2": the cache also holds virtio-pci and 9p for -r.
if [[ ! -e $kdir/ready2 ]]; then
  say "fetching $package into $kdir (once)"
  rm -rf "$kdir" "$cache"/tmp.*
  tmp=$(mktemp -d "$cache/tmp.XXXXXX")
  chmod 755 "$tmp"; chown _apt "$tmp" 2>/dev/null || true   # apt downloads as _apt
  (cd "$tmp" && apt-get download -q "$package" >&2) || die "apt-get download $package failed"
  # only the kernel and the HID and input drivers: a tenth of the package
  mkdir -p "$tmp/root"
  dpkg-deb --fsys-tarfile "$tmp"/*.deb |
    tar -x -C "$tmp/root" --wildcards './boot/vmlinuz-*' './boot/config-*' \
      './lib/modules/*/modules.*' './lib/modules/*/kernel/drivers/hid' \
      './lib/modules/*/kernel/drivers/input' './lib/modules/*/kernel/drivers/virtio' \
      './lib/modules/*/kernel/net/9p' './lib/modules/*/kernel/fs/9p' \
      './lib/modules/*/kernel/fs/netfs' './lib/modules/*/kernel/fs/fscache' ||
    die "cannot unpack the kernel package"
  kver=$(ls "$tmp/root/lib/modules")
  mods="$tmp/root/lib/modules/$kver"
  depmod -b "$tmp/root" "$kver" || die "depmod failed"
  mkdir -p "$tmp/keep/modules"
  cp "$tmp/root/boot/vmlinuz-$kver" "$tmp/keep/vmlinuz"
  # hid-generic and uhid with what they need, dependencies first
  order=()
  add() {
    local m=$1 file dep
    file=$(modinfo -b "$tmp/root" -k "$kver" -F filename "$m" 2>/dev/null) || return 0
    [[ $file == "(builtin)" || -z $file ]] && return 0
    for dep in $(modinfo -b "$tmp/root" -k "$kver" -F depends "$m" | tr ',' ' '); do add "$dep"; done
    [[ " ${order[*]-} " == *" $file "* ]] || order+=("$file")
  }
  keep() {  # keep DIR: the modules of `order`, numbered in load order
    local n=0 file base dest
    mkdir -p "$1"
    for file in "${order[@]}"; do
      n=$((n + 1)); base=$(basename "$file"); dest="$1/$(printf %02d $n)-${base%%.ko*}.ko"
      case $file in *.xz) xz -dc "$file" >"$dest" ;; *.zst) zstd -qdc "$file" >"$dest" ;; *) cp "$file" "$dest" ;; esac
    done
  }
  add uhid; add hid-generic
  ((${#order[@]} > 0)) || die "the kernel has neither uhid nor hid-generic as modules"
  keep "$tmp/keep/modules"
  # for -r: the same, then what reaches the host's file system over 9p
  add virtio_pci; add 9pnet_virtio; add 9p
  keep "$tmp/keep/modules-host"
  # The bare ELF kernel boots through PVH without decompressing under emulation
  # (about 3 s faster); fall back to vmlinuz when that is not possible.
  at=$({ LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$tmp/keep/vmlinuz" || true; } | head -n 1 | cut -d: -f1)
  if grep -qx 'CONFIG_PVH=y' "$tmp/root/boot/config-$kver" && [[ -n $at ]] &&
     { { tail -c +$((at + 1)) "$tmp/keep/vmlinuz" || true; } |  # xz stops early: tail gets SIGPIPE
         xz -dc --single-stream >"$tmp/keep/vmlinux"; } 2>/dev/null &&
     [[ $(head -c 4 "$tmp/keep/vmlinux" | od -An -tx1 | tr -d ' ') == 7f454c46 ]]; then :
  else rm -f "$tmp/keep/vmlinux"; fi
  echo "$kver" >"$tmp/keep/kver"
  touch "$tmp/keep/ready" "$tmp/keep/ready2"
  mv "$tmp/keep" "$kdir"
  rm -rf "$tmp"
fi
flock -u 9
kernel="$kdir/vmlinux"; [[ -f $kernel ]] || kernel="$kdir/vmlinuz"

# ------------------------------------------------------------ the initramfs
work=$(mktemp -d /tmp/kernel-hid-run.XXXXXX)
qemu_pid=''
finish() {
  local rc=$?
  [[ -n $qemu_pid ]] && { kill "$qemu_pid" 2>/dev/null || true; wait "$qemu_pid" 2>/dev/null || true; }
  rm -rf "$work"
  exit "$rc"
}
trap finish EXIT
root="$work/root"
mkdir -p "$root"/{bin,sbin,dev,etc,proc,sys,tmp,test,modules,usr/bin,usr/sbin}
cp "$busybox" "$root/bin/busybox"
cp "$kdir"/modules/*.ko "$root/modules/"
if [[ -n $run ]]; then
  # the HID modules first (their numbers restart in the second set)
  for m in "$kdir"/modules-host/*.ko; do
    name=$(basename "$m" | cut -d- -f2-)
    compgen -G "$root/modules/[0-9][0-9]-$name" >/dev/null && continue
    cp "$m" "$root/modules/9$(basename "$m")"
  done
fi
libs() {  # the shared libraries of an ELF file, at the same paths
  local file=$1 lib
  [[ $(head -c 4 "$file" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || return 0
  ldd "$file" >/dev/null 2>&1 || return 0
  for lib in $(ldd "$file" | awk '{for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i}'); do
    [[ -e $root$lib ]] && continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
}
[[ -n $run ]] || { cp -L "$program" "$root/test/"; libs "$program"; }
for copy in ${copies[@]+"${copies[@]}"}; do
  src=${copy%%:*}; dst=/test/$(basename "$src"); [[ $copy == *:* ]] && dst=${copy#*:}
  [[ -e $src ]] || die "nothing to copy at $src"
  mkdir -p "$root$(dirname "$dst")"
  cp -a -L -T "$src" "$root$dst"
  while IFS= read -r -d '' f; do libs "$f"; done < <(find "$root$dst" -type f -perm -u+x -print0)
done
# the command line, quoted for the guest's shell
command="'/test/$(basename "$program")'"
[[ -z $run ]] || command="'$program'"
for arg in "$@"; do command+=" '${arg//\'/\'\\\'\'}'"; done
hostroot=''
if [[ -n $run ]]; then
  # the host's root read-only, RUN read-write, the guest's own tmpfs and
  # devices; the command then runs chrooted there
  command="chroot /newroot /bin/sh -c \"cd '$run' && $(printf %s "$command" | sed 's/[\\"$`]/\\&/g')\""
  hostroot="opts=trans=virtio,version=9p2000.L,msize=512000
mkdir -p /newroot
mount -t 9p -o \$opts,ro,cache=loose hostroot /newroot || echo 'ZELK-GUEST-SETUP-FAILED cannot mount the host root'
mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
mkdir -p /newroot/dev/shm /newroot/dev/pts
mount -t tmpfs shm /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/tmp
mount -t tmpfs tmpfs /newroot/run
mkdir -p '/newroot$run'
mount -t 9p -o \$opts,cache=mmap run '/newroot$run' || echo 'ZELK-GUEST-SETUP-FAILED cannot mount $run'"
fi
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s
export PATH=/sbin:/bin:/usr/sbin:/usr/bin HOME=/tmp TMPDIR=/tmp
echo
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
exec </dev/console >/dev/console 2>&1
for m in /modules/*.ko; do insmod \$m || echo "ZELK-GUEST-SETUP-FAILED insmod \$m"; done
n=0; while [ ! -c /dev/uhid ] && [ \$n -lt 50 ]; do sleep 0.1; n=\$((n + 1)); done
[ -c /dev/uhid ] || echo "ZELK-GUEST-SETUP-FAILED no /dev/uhid"
$hostroot
cd /test
echo ZELK-GUEST-BEGIN
$command
status=\$?
echo
echo "ZELK-GUEST-STATUS=\$status"
sync
poweroff -f
EOF
chmod 755 "$root/init"
(cd "$root" && find . -print0 | cpio --null -o -H newc -R 0:0 --quiet) >"$work/initrd" ||
  die "cannot pack the initramfs"

# ------------------------------------------------------------------- boot
started=$(date +%s%N)
append="console=ttyS0 panic=-1 rdinit=/init"
[[ $verbose == 1 ]] || append+=" quiet loglevel=3"
shares=()
[[ -z $run ]] || shares=(
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap
  -virtfs "local,path=$run,mount_tag=run,security_model=passthrough,multidevs=remap")
timeout -k 5 "$limit" qemu-system-x86_64 "${accel[@]}" -m "$memory" -smp 1 -nographic -nodefaults \
  -no-reboot -serial stdio -kernel "$kernel" -initrd "$work/initrd" -append "$append" \
  ${shares[@]+"${shares[@]}"} </dev/null >"$work/console" 2>&1 &
qemu_pid=$!
status=0; wait "$qemu_pid" || status=$?
qemu_pid=''
tr -d '\r' <"$work/console" >"$work/console.txt"
if [[ $verbose == 1 ]]; then
  cat "$work/console.txt"
else
  sed -n '/ZELK-GUEST-BEGIN$/,/ZELK-GUEST-STATUS=/{/ZELK-GUEST-BEGIN$/d;/ZELK-GUEST-STATUS=/d;p}' "$work/console.txt"
fi
ms=$((($(date +%s%N) - started) / 1000000))
result=$(sed -n 's/.*ZELK-GUEST-STATUS=\([0-9]*\)$/\1/p' "$work/console.txt" | tail -n 1)
if grep -q 'ZELK-GUEST-SETUP-FAILED' "$work/console.txt"; then
  grep 'ZELK-GUEST-SETUP-FAILED' "$work/console.txt" >&2
  [[ $verbose == 1 ]] || tail -n 30 "$work/console.txt" >&2
  die "the guest could not be set up"
fi
if [[ -n $result ]]; then
  say "guest finished in $((ms / 1000)).$((ms % 1000 / 100)) s (kernel $(cat "$kdir/kver"), ${accel[*]:0:2}), status $result"
  exit "$result"
fi
if [[ $status == 124 || $status == 137 ]]; then
  [[ $verbose == 1 ]] || tail -n 40 "$work/console.txt" >&2
  say "error: the guest hit the ${limit}s time limit"; exit 124
fi
if [[ $status != 0 ]] && ! grep -q 'ZELK-GUEST-BEGIN' "$work/console.txt"; then
  # QEMU itself refused to run (no usable accelerator, sandboxing, ...).
  tail -n 5 "$work/console.txt" >&2
  skip "qemu-system-x86_64 cannot run a guest here (status $status)"
fi
[[ $verbose == 1 ]] || tail -n 40 "$work/console.txt" >&2
die "the guest ended (qemu status $status) without the program's status"
