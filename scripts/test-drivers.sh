#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The real-driver stage: the release-built zelk-upload in a small QEMU guest
# (Debian's own kernel, a busybox initramfs, no KVM needed) on a 16550 UART
# (8250 driver, /dev/ttyS1) and an FTDI USB adapter (ftdi_sio, /dev/ttyUSB0),
# each wired to a pseudo-terminal on this machine where zelk-emu plays the
# controller, and on two USB gadgets in the guest (dummy_hcd): g_serial seen
# through cdc_acm (/dev/ttyACM0) and a CH340 in user space seen through ch341
# (/dev/ttyUSB0 once the FTDI adapter is gone), served by zelk-emu in the
# guest. Every check prints PASS or FAIL; the last line is "drivers: N
# passed, M failed" and the exit status is 1 on any failure.
#
#   scripts/test-drivers.sh          (also the "drivers" stage of scripts/test.sh)
#
# The kernel package is fetched with apt-get download and unpacked once into
# $ZELK_CACHE (default /var/cache/zelk, else ~/.cache/zelk), not installed. zelk-upload and
# zelk-emu come from build/package (the package stage's Release build) when
# it is there, else from a Release build of their own in build/drivers.
# docs/drivers.md says what the stage proves and what it cannot.
# ZELK_DRIVERS_SIZES="1 300" leaves out the 65,535-byte uploads at the lower
# rates (a quicker run while working on the stage; CI runs them all).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${ZELK_SKIP_SETUP:-}" = 1 ] || scripts/setup.sh

stage_start=$EPOCHREALTIME
cache=${ZELK_CACHE:-/var/cache/zelk}
# A user who may not write there (CI runs as root) keeps it in their own cache.
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then cache=${XDG_CACHE_HOME:-$HOME/.cache}/zelk; fi
work=$PWD/build/drivers-guest
rm -rf "$work"
mkdir -p "$work"

now_us() { echo "${EPOCHREALTIME/./}"; }
ms_since() { echo $((($(now_us) - ${1/./}) / 1000)); }
seconds_since() { local ms; ms=$(ms_since "$1"); printf '%d.%03d' $((ms / 1000)) $((ms % 1000)); }

passed=0
failed=0
failures=()
pass() { passed=$((passed + 1)); echo "PASS  $1${2:+  -- $2}"; }
fail() { failed=$((failed + 1)); failures+=("$1"); echo "FAIL  $1${2:+  -- $2}"; }
check() {  # name detail condition...: PASS when the command succeeds
  local name=$1 detail=$2; shift 2
  if "$@"; then pass "$name" "$detail"; else fail "$name" "$detail"; fi
}
finish() {
  echo "drivers: $passed passed, $failed failed (stage $(seconds_since "$stage_start") s)"
  [ "$failed" -eq 0 ] || printf '  failed: %s\n' "${failures[@]}"
  [ "$failed" -eq 0 ]
}
# Something the stage cannot go on without: it counts, and the stage ends.
fatal() { fail "$1" "$2"; echo "drivers: giving up; console and logs in $work"; finish || true; exit 1; }

# --- processes: QEMU and the emulators are killed on every way out --------
qemu_pid=
emu_pid=
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0  # a subshell leaves them to the script
  [ -z "$emu_pid" ] || kill "$emu_pid" 2>/dev/null || true
  [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
  [ -z "$emu_pid" ] || wait "$emu_pid" 2>/dev/null || true
  [ -z "$qemu_pid" ] || wait "$qemu_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Waits for a child process, for at most limit seconds, then kills it; its
# exit status. (tail --pid watches it without a subshell of this script.)
wait_bounded() {  # pid limit
  local pid=$1 limit=$2 rc=0
  timeout "$limit" tail -s 0.05 --pid="$pid" -f /dev/null || kill "$pid" 2>/dev/null || true
  wait "$pid" || rc=$?
  return "$rc"
}

# --- the kernel: fetched and unpacked once per version --------------------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-6\.1\.[^ ]*-amd64$/ {print $2; exit}'
}
t0=$EPOCHREALTIME
package=$(kernel_package)
if [ -z "$package" ]; then
  apt-get update -q >/dev/null
  package=$(kernel_package)
fi
[ -n "$package" ] || fatal "kernel package" "linux-image-amd64 names no linux-image-6.1.*-amd64"
version=$(apt-cache policy "$package" | awk '/Candidate:/ {print $2; exit}')
kdir=$cache/kernel-${package#linux-image-}_$version
# Only the kernel, the USB drivers and configfs (for the gadgets) are kept; 8250
# is built in. "ready" names the parts, so a cache with fewer is unpacked again.
parts="./boot/vmlinuz-* ./lib/modules/*/kernel/drivers/usb/* ./lib/modules/*/kernel/fs/configfs/*"
if [ "$(cat "$kdir/ready" 2>/dev/null)" != "$parts" ]; then
  echo "drivers: fetching $package $version into $kdir"
  rm -rf "$kdir" "$kdir.part"
  mkdir -p "$kdir.part/deb"
  chmod 777 "$kdir.part/deb"  # apt-get download writes as its own user where it can
  (cd "$kdir.part/deb" && apt-get download -q "$package" >/dev/null) || fatal "kernel package" "apt-get download $package failed"
  # shellcheck disable=SC2086 # the patterns are tar's
  dpkg-deb --fsys-tarfile "$kdir.part"/deb/*.deb | tar -x -C "$kdir.part" --wildcards $parts
  rm -rf "$kdir.part/deb"
  echo "$parts" > "$kdir.part/ready"
  mv "$kdir.part" "$kdir"
fi
vmlinuz=$(echo "$kdir"/boot/vmlinuz-*)
modules=$(echo "$kdir"/lib/modules/*/kernel)
[ -f "$vmlinuz" ] && [ -d "$modules" ] || fatal "kernel package" "no kernel in $kdir"
echo "drivers: kernel $package $version ($(seconds_since "$t0") s)"

# --- the programs: Release builds --------------------------------------------
t0=$EPOCHREALTIME
if [ -f build/package/CMakeCache.txt ]; then
  build=build/package
else
  build=build/drivers
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_UI=OFF -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target zelk-upload zelk-emu >/dev/null
zelk_upload=$PWD/$build/app/zelk-upload
zelk_emu=$PWD/$build/tools/zelk-emu
probe_bin=$work/zelk-tty-probe
gcc -static -O2 -Wall -Wextra -Werror -o "$probe_bin" tests/drivers/zelk-tty-probe.c
gadget_bin=$work/zelk-ch341-gadget
gcc -static -O2 -Wall -Wextra -Werror -pthread -o "$gadget_bin" tests/drivers/zelk-ch341-gadget.c
echo "drivers: programs from $build ($(seconds_since "$t0") s)"

# --- the initramfs -----------------------------------------------------------
t0=$EPOCHREALTIME
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,data,lib/modules}
cp /bin/busybox "$root/bin/busybox"
cp "$zelk_upload" "$zelk_emu" "$probe_bin" "$gadget_bin" "$root/bin/"
# zelk-upload's and zelk-emu's libraries and the loader, where ldd finds them.
ldd "$zelk_upload" "$zelk_emu" | awk '/=> \// {print $3} /^\t\/[^ ]+ \(/ {print $1}' | while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# The USB modules in dependency order, from each module's "depends=".
declare -A module_path=() module_done=()
while read -r ko; do module_path[$(basename "$ko" .ko)]=$ko; done < <(find "$modules" -name '*.ko')
module_order=()
add_module() {
  local name=$1 dep deps
  [ -z "${module_done[$name]:-}" ] || return 0
  [ -n "${module_path[$name]:-}" ] || fatal "kernel modules" "no module $name"
  module_done[$name]=1
  deps=$(tr '\0' '\n' < "${module_path[$name]}" | sed -n 's/^depends=//p' | head -1)
  for dep in ${deps//,/ }; do add_module "$dep"; done
  module_order+=("$name")
  cp "${module_path[$name]}" "$root/lib/modules/$name.ko"
}
# dummy_hcd is a USB host and two device controllers in one: g_serial takes
# the first (a CDC-ACM function, seen as /dev/ttyACM0 through cdc-acm), the
# CH340 gadget in user space the second (FunctionFS, seen through ch341).
# g_serial and configfs ask for their function modules by name, which needs
# kmod (absent here): usb_f_acm and usb_f_fs are loaded beforehand.
for m in xhci-pci ftdi_sio dummy_hcd usb_f_acm g_serial cdc-acm usb_f_fs ch341; do add_module "$m"; done
for m in "${module_order[@]}"; do
  case $m in dummy_hcd) echo "$m num=2" ;; *) echo "$m" ;; esac
done > "$root/lib/modules/order"
# The files to upload.
for size in 1 300 65535; do head -c "$size" /dev/urandom > "$root/data/f$size"; done
# A user who may use the ports (group dialout, 20) but is not root.
printf 'root:x:0:0:root:/:/bin/sh\nzelk:x:1000:1000:zelk:/tmp:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:zelk\nzelk:x:1000:\n' > "$root/etc/group"
cat > "$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir /dev/pts
mount -t devpts devpts /dev/pts
dmesg -n 1
while read -r m args; do insmod /lib/modules/$m.ko $args || echo "@@insmod-failed $m"; done </lib/modules/order
mount -t configfs configfs /sys/kernel/config
# The host talks to a shell on the console: it reads lines as a script, so
# nothing is echoed and no line editing gets in the way.
stty -F /dev/ttyS0 -echo
echo "@@ready"
exec sh /dev/ttyS0 >/dev/ttyS0 2>&1
EOF
chmod 755 "$root/init"
cat > "$root/etc/ch341-gadget.sh" <<'EOF'
# The CH340 adapter: a configfs gadget (its vendor and product id) whose one
# function is FunctionFS, served by zelk-ch341-gadget, bound to the second
# device controller of dummy_hcd. Prints "@@ch341 PTY", the pseudo-terminal
# the device model serves.
set -e
g=/sys/kernel/config/usb_gadget/ch341
mkdir $g $g/strings/0x409 $g/configs/c.1 $g/functions/ffs.ch341
echo 0x1a86 > $g/idVendor
echo 0x7523 > $g/idProduct
echo 0x0254 > $g/bcdDevice
echo 0xff > $g/bDeviceClass
echo "USB Serial" > $g/strings/0x409/product
echo 98 > $g/configs/c.1/MaxPower
ln -s $g/functions/ffs.ch341 $g/configs/c.1/
mkdir -p /dev/ffs-ch341
mount -t functionfs ch341 /dev/ffs-ch341
mkfifo /tmp/ch341.ready
zelk-ch341-gadget /dev/ffs-ch341 >/tmp/ch341.ready 2>/tmp/ch341.log &
read -t 10 pty </tmp/ch341.ready
test -n "$pty"
echo dummy_udc.1 > $g/UDC
echo "@@ch341 $pty"
EOF
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"
echo "drivers: initramfs $(($(stat -c %s "$work/initramfs.gz") / 1024)) KiB, modules ${module_order[*]} ($(seconds_since "$t0") s)"

# --- the guest ---------------------------------------------------------------
mkfifo "$work/con.in" "$work/con.out" "$work/mon.in" "$work/mon.out"
exec {con_in}<>"$work/con.in" {con_out}<>"$work/con.out" {mon_in}<>"$work/mon.in" {mon_out}<>"$work/mon.out"
boot_start=$EPOCHREALTIME
# In a session of its own: no signal meant for this script's process group
# (a terminal's Ctrl-C included, which the trap handles) reaches it directly.
# Under timeout: even a script killed with -9, which no trap sees, leaves no
# guest running for long.
setsid timeout 900 qemu-system-x86_64 -pidfile "$work/qemu.pid" -nodefaults -no-reboot -display none -nic none -accel tcg -m 512 -smp 1 \
  -kernel "$vmlinuz" -initrd "$work/initramfs.gz" -append "console=ttyS0 quiet loglevel=1 panic=-1" \
  -chardev pipe,id=con,path="$work/con" -serial chardev:con \
  -chardev pty,id=uart -serial chardev:uart \
  -chardev pipe,id=mon,path="$work/mon" -mon chardev=mon,mode=readline \
  -device qemu-xhci,id=xhci -chardev pty,id=usbc -device usb-serial,bus=xhci.0,chardev=usbc,id=ftdi \
  </dev/null >"$work/qemu.log" 2>&1 &
qemu_pid=$!

console_log=$work/console.log
: > "$console_log"
lines=()
matched=
# Reads console lines until one matches the regex, for at most limit
# seconds; the line is left in $matched (and its groups in BASH_REMATCH).
# Lines already read since line number from that matched are looked at first.
expect_line() {  # regex limit [from]
  local re=$1 limit=$2 from=${3:-${#lines[@]}} i line left deadline
  for ((i = from; i < ${#lines[@]}; i++)); do
    if [[ ${lines[i]} =~ $re ]]; then matched=${lines[i]}; return 0; fi
  done
  deadline=$(($(now_us) + limit * 1000000))
  while left=$((deadline - $(now_us))); ((left > 0)); do
    if IFS= read -r -t "$((left / 1000000)).$(printf %06d $((left % 1000000)))" -u "$con_out" line; then
      line=${line%$'\r'}
      lines+=("$line")
      printf '%s\n' "$line" >> "$console_log"
      if [[ $line =~ $re ]]; then matched=$line; return 0; fi
    fi
  done
  return 1
}
# Runs a command line in the guest and waits at most limit seconds for it.
# Its output lines end up in $out, its exit status in $status (999: no end).
seq_id=0
out=
status=
g() {  # limit command...
  local limit=$1 from i
  shift
  kill -0 "$qemu_pid" 2>/dev/null || fatal "guest" "QEMU has exited (see $work/qemu.log)"
  seq_id=$((seq_id + 1))
  from=${#lines[@]}
  printf '%s\necho "@@end %d $?"\n' "$*" "$seq_id" >&"$con_in"
  if expect_line "^@@end $seq_id ([0-9]+)$" "$limit" "$from"; then
    status=${BASH_REMATCH[1]}
  else
    status=999
  fi
  out=
  for ((i = from; i < ${#lines[@]}; i++)); do
    [[ ${lines[i]} == "@@end $seq_id "* ]] && break
    out+=${lines[i]}$'\n'
  done
}
monitor() { printf '%s\n' "$*" >&"$mon_in"; }

# The host sides of the two ports, from the monitor; holding them open keeps
# QEMU's side connected while emulators come and go (QEMU unplugs the USB
# adapter when nobody has its pseudo-terminal open).
monitor "info chardev"
uart_pty=
usb_pty=
deadline=$(($(now_us) + 20000000))
while [ -z "$uart_pty" ] || [ -z "$usb_pty" ]; do
  left=$((deadline - $(now_us)))
  ((left > 0)) || fatal "guest start" "QEMU named no pseudo-terminals (see $work/qemu.log)"
  IFS= read -r -t "$((left / 1000000)).$(printf %06d $((left % 1000000)))" -u "$mon_out" line || continue
  [[ $line =~ ^uart:\ filename=pty:(/dev/pts/[0-9]+) ]] && uart_pty=${BASH_REMATCH[1]}
  [[ $line =~ ^usbc:\ filename=pty:(/dev/pts/[0-9]+) ]] && usb_pty=${BASH_REMATCH[1]}
done
exec {uart_hold}<>"$uart_pty" {usb_hold}<>"$usb_pty"

if expect_line '^@@ready' 90; then
  pass "guest boots" "$(seconds_since "$boot_start") s to a shell"
else
  fatal "guest boots" "no shell within 90 s (console: $console_log)"
fi
for ((i = 0; i < ${#lines[@]}; i++)); do
  [[ ${lines[i]} == @@insmod-failed* ]] && fatal "kernel modules" "${lines[i]}"
done
g 30 "zelk-tty-probe waitdev /dev/ttyUSB0 20000"
check "ftdi_sio binds the adapter" "/dev/ttyUSB0 $( [ "$status" = 0 ] && echo present || echo missing)" [ "$status" = 0 ]
g 10 "chgrp 20 /dev/ttyS1 /dev/ttyUSB0 && chmod 660 /dev/ttyS1 /dev/ttyUSB0"

# --- emulator ------------------------------------------------------------------
emu_n=0
emu_guest=
emu_output=
# Starts zelk-emu on a port's host side, or with guest:DEV on the device
# side of a gadget in the guest; returns once it has the device open.
emu_start() {  # pty|guest:DEV output [options...]
  local pty=$1 output=$2 ready path
  shift 2
  emu_n=$((emu_n + 1))
  ready=$work/emu$emu_n.ready
  rm -f "$output" "$output.sha256"
  emu_output=$output
  if [[ $pty == guest:* ]]; then
    path=${pty#guest:}
    g 20 "rm -f /tmp/emu.ready && mkfifo /tmp/emu.ready && { timeout 300 zelk-emu --device $path --output /tmp/emu.bin $* >/tmp/emu.ready 2>/tmp/emu.log & EP=\$!; read -t 10 P </tmp/emu.ready; echo \"@@emu \$P\"; }"
    if [[ $out == *"@@emu $path"* ]]; then emu_guest=1; return 0; fi
    g 10 "cat /tmp/emu.log"
    echo "drivers: zelk-emu in the guest did not start: $out"
    return 1
  fi
  mkfifo "$ready"
  timeout 300 "$zelk_emu" --device "$pty" --output "$output" "$@" >"$ready" 2>"$work/emu$emu_n.log" &
  emu_pid=$!
  read -r -t 10 path <"$ready" || true
  [ "$path" = "$pty" ] && return 0
  echo "drivers: zelk-emu did not start: $(cat "$work/emu$emu_n.log"); QEMU $(kill -0 "$qemu_pid" 2>/dev/null && echo runs || echo is gone)"
  return 1
}
# Waits for the emulator's end (bounded), or stops it; its exit status.
# In the guest its summary tells the SHA-256 of the rebuilt bytes, kept in
# OUTPUT.sha256 for same_bytes.
emu_end() {  # limit|kill
  local rc=0
  if [ -n "$emu_guest" ]; then
    emu_guest=''
    if [ "$1" = kill ]; then
      g 10 "kill \$EP 2>/dev/null; wait \$EP; echo \"@@emu-rc \$?\""
    else
      g $(($1 + 10)) "(sleep $1; kill \$EP) 2>/dev/null & W=\$!; wait \$EP; R=\$?; kill \$W 2>/dev/null; echo \"@@emu-rc \$R\"; cat /tmp/emu.log"
    fi
    # The summary of the upload that completed (a restarted one comes first).
    printf '%s' "$out" | awk '/^upload: / { o = $2 } /^sha256: / && o == "completed" { s = $2 } END { if (s) print s }' \
      > "$emu_output.sha256"
    [[ $out =~ @@emu-rc\ ([0-9]+) ]] || return 1
    return "${BASH_REMATCH[1]}"
  fi
  [ -n "$emu_pid" ] || return 1
  if [ "$1" = kill ]; then
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || rc=$?
  else
    wait_bounded "$emu_pid" "$1" || rc=$?
  fi
  emu_pid=
  return "$rc"
}
# The file followed by zeros up to whole pages: what the controller rebuilds.
padded() {  # size
  local size=$1
  cat "$root/data/f$size"
  head -c $(((256 - size % 256) % 256)) /dev/zero
}
same_bytes() {  # size output
  if [ -f "$2.sha256" ]; then
    [ "$(padded "$1" | sha256sum | cut -d' ' -f1)" = "$(cat "$2.sha256")" ]
  else
    cmp -s <(padded "$1") "$2"
  fi
}

# "exit=N elapsed=S at=T" of the probe's run, from $out.
run_exit=
run_elapsed=
run_at=
parse_run() {
  run_exit=none run_elapsed=? run_at=?
  if [[ $out =~ exit=([a-z0-9]+)\ elapsed=([0-9.]+)\ at=([0-9.]+) ]]; then
    run_exit=${BASH_REMATCH[1]} run_elapsed=${BASH_REMATCH[2]} run_at=${BASH_REMATCH[3]}
  fi
}

# One upload from the guest, compared byte for byte with what zelk-emu rebuilt.
declare -A upload_times=()
upload_check() {  # driver dev pty size baud [extra probe options...]
  local driver=$1 dev=$2 pty=$3 size=$4 baud=$5 output emu_rc=0
  shift 5
  output=$work/up-$driver-$size-$baud.bin
  emu_start "$pty" "$output" || { fail "$driver: $size bytes at $baud" "zelk-emu did not start"; return 1; }
  # Through a gadget the guest plays both ends: four to five times as long.
  local limit=120
  [[ $pty == guest:* ]] && limit=240
  g $((limit + 30)) "zelk-tty-probe run --limit $limit $* -- zelk-upload -d $dev -b $baud /data/f$size"
  parse_run
  if [ "$run_exit" = 0 ]; then emu_end 15 || emu_rc=$?; else emu_end kill || true; emu_rc=x; fi
  upload_times[$driver-$size-$baud]=$run_elapsed
  if [ "$run_exit" = 0 ] && [ "$emu_rc" = 0 ] && same_bytes "$size" "$output"; then
    pass "$driver: $size bytes at $baud" "byte-exact, $run_elapsed s"
  else
    fail "$driver: $size bytes at $baud" "exit $run_exit, zelk-emu $emu_rc, $(same_bytes "$size" "$output" && echo same || echo different) bytes"
    printf '%s' "$out" | tail -5
    return 1
  fi
}

# --- the checks, on each driver ----------------------------------------------
field() { if [[ " $1 " =~ \ $2=([^ ]+)\  ]]; then echo "${BASH_REMATCH[1]}"; fi; }

# One port's line in --list-ports (run just before): name, device, USB id, driver.
port_listed() {  # driver regex what
  local line
  line=$(printf '%s' "$out" | grep -E "$2" || true)
  check "$1: --list-ports names $3" "$line" test "$status" = 0 -a -n "$line"
  [ -n "$line" ] || printf '%s' "$out"
}
ports_check() {
  g 20 "zelk-upload --list-ports"
  port_listed 8250 '^COM2 +/dev/ttyS1 +- +serial ' "COM2 /dev/ttyS1 and its driver"
  port_listed ftdi_sio '^COM5 +/dev/ttyUSB0 +0403:6001 +ftdi_sio ' "COM5 /dev/ttyUSB0, its USB id and driver"
  port_listed cdc_acm '^COM13 +/dev/ttyACM0 +0525:a4a7 +cdc_acm ' "COM13 /dev/ttyACM0, its USB id and driver"
}

# The line as found is put back on close, the low-latency flag is set while
# open and put back, and on the FTDI adapter its latency timer follows.
settings_check() {  # driver dev pty
  local driver=$1 dev=$2 pty=$3 sysfile="" before after during lat_before lat_after lat_during
  [ "$driver" = ftdi_sio ] && sysfile=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
  if [ -n "$sysfile" ]; then
    g 10 "echo 16 > $sysfile && cat $sysfile"
    lat_before=$(printf '%s' "$out" | head -1)
  fi
  g 10 "zelk-tty-probe setline $dev && zelk-tty-probe line $dev"
  before=$(printf '%s' "$out" | head -1)
  upload_check "$driver" "$dev" "$pty" 65535 115200 --during "$dev${sysfile:+,$sysfile}" || true
  during=$(printf '%s' "$out" | sed -n 's/^during: //p' | head -1)
  g 10 "zelk-tty-probe line $dev"
  after=$(printf '%s' "$out" | head -1)
  check "$driver: raw 115200 8N1 while open" "$during" \
    test "$(field "$during" speed)" = 115200/115200 -a "$(field "$during" lflag)" = 0 -a "$(field "$during" iflag)" = 0
  check "$driver: the line as found is back after close" "before: $before; after: $after" \
    test -n "$before" -a "$before" = "$after" -a "$(field "$before" speed)" = 9600/9600
  check "$driver: low-latency flag set while open, put back on close" \
    "before $(field "$before" lowlat), during $(field "$during" lowlat), after $(field "$after" lowlat)" \
    test "$(field "$before" lowlat)" = 0 -a "$(field "$during" lowlat)" = 1 -a "$(field "$after" lowlat)" = 0
  if [ -n "$sysfile" ]; then
    g 10 "cat $sysfile"
    lat_after=$(printf '%s' "$out" | head -1)
    lat_during=$(field "$during" latency_timer)
    check "$driver: latency_timer 16 before, 1 while open, 16 after" \
      "$lat_before / $lat_during / $lat_after" test "$lat_before/$lat_during/$lat_after" = 16/1/16
  fi
  g 10 "zelk-tty-probe rawline $dev"
}

# A second zelk-upload while the first holds the port is refused, naming the
# holder; once the holder is killed with -9 the port opens at once. All as
# an unprivileged user (group dialout).
holder_check() {  # driver dev pty
  local driver=$1 dev=$2 pty=$3 from holder output=$work/holder-$driver.bin
  local as="zelk-tty-probe as 1000 20"
  # Replies held 5 ms: the first upload lasts long enough to be caught.
  emu_start "$pty" "$output" --reply-delay 5 || { fail "$driver: port in use" "zelk-emu did not start"; return; }
  from=${#lines[@]}
  printf '%s\n' "$as zelk-tty-probe run --during $dev -- zelk-upload -d $dev /data/f65535 &" >&"$con_in"
  if ! expect_line '^during: ' 30 "$from"; then
    fail "$driver: port in use" "the first upload did not start"
    emu_end kill || true
    return
  fi
  g 20 "$as zelk-upload -d $dev /data/f1"
  holder=
  [[ $out =~ in\ use\ by\ another\ program:\ zelk-upload,\ pid\ ([0-9]+) ]] && holder=${BASH_REMATCH[1]}
  check "$driver: a second zelk-upload exits 3 naming the holder" \
    "$(printf '%s' "$out" | grep -m1 'in use' || echo "exit $status")" test "$status" = 3 -a -n "$holder"
  [ -n "$holder" ] || { emu_end kill || true; return; }
  g 10 "kill -9 $holder"
  if ! expect_line '^exit=signal9 ' 20 "$from"; then
    fail "$driver: kill -9 frees the port" "the holder did not end"
    emu_end kill || true
    return
  fi
  g 60 "$as zelk-tty-probe run -- zelk-upload -d $dev /data/f300"
  parse_run
  local emu_rc=0
  if [ "$run_exit" = 0 ]; then emu_end 15 || emu_rc=$?; else emu_end kill || true; emu_rc=x; fi
  check "$driver: after kill -9 of the holder the next upload opens at once, byte-exact, unprivileged" \
    "exit $run_exit, $run_elapsed s" test "$run_exit" = 0 -a "$emu_rc" = 0 -a -n "$(same_bytes 300 "$output" && echo y)"
}

# Another program's exclusive mode (TIOCEXCL) is respected, also by root,
# and its flag is left alone.
exclusive_check() {  # driver dev
  local driver=$1 dev=$2 holder
  g 10 "zelk-tty-probe excl $dev"
  holder=$(printf '%s' "$out" | head -1)
  [[ $holder =~ ^[0-9]+$ ]] || { fail "$driver: exclusive mode" "could not set it: $out"; return; }
  g 20 "zelk-upload -d $dev /data/f1"
  check "$driver: root is refused while another program holds exclusive mode" \
    "$(printf '%s' "$out" | grep -m1 'in use' || echo "exit $status")" \
    test "$status" = 3 -a -n "$(printf '%s' "$out" | grep "in use by another program: zelk-tty-probe, pid $holder")"
  g 20 "zelk-tty-probe as 1000 20 zelk-upload -d $dev /data/f1"
  check "$driver: a user is refused while another program holds exclusive mode" \
    "$(printf '%s' "$out" | grep -m1 'in use' || echo "exit $status")" \
    test "$status" = 3 -a -n "$(printf '%s' "$out" | grep 'in use by another program')"
  g 10 "zelk-tty-probe line $dev"
  check "$driver: the other program's exclusive flag is left set" "$(field "$out" excl)" test "$(field "$out" excl)" = 1
  g 10 "kill $holder"
}

# Unplugging the adapter mid-upload: exit 3 with the hang-up message within
# 0.5 s; plugged in again, the next upload is byte-exact.
unplug_check() {
  local dev=/dev/ttyUSB0 from t_del exit_ms disconnect guest_ms
  emu_start "$usb_pty" "$work/unplug.bin" || { fail "ftdi_sio: unplug" "zelk-emu did not start"; return; }
  from=${#lines[@]}
  printf '%s\n' "zelk-tty-probe run --during $dev -- zelk-upload -d $dev /data/f65535" >&"$con_in"
  printf '%s\n' 'echo "@@unplugged-run $?"' >&"$con_in"
  # Pulled out a tenth of the way in.
  if ! expect_line '^[0-9]+/65536 bytes +[1-9][0-9]?%' 60 "$from"; then
    fail "ftdi_sio: unplug" "the upload did not get going"
    emu_end kill || true
    return
  fi
  t_del=$EPOCHREALTIME
  monitor "device_del ftdi"
  if expect_line '^exit=' 10 "$from"; then
    exit_ms=$(ms_since "$t_del")
    out=$(printf '%s\n' "${lines[@]:from}")
    parse_run
  else
    exit_ms=timeout
    run_exit=none
  fi
  expect_line '^@@unplugged-run ' 10 "$from" || true
  emu_end kill || true
  local message
  message=$(printf '%s\n' "${lines[@]:from}" | grep -m1 'hung up' || true)
  unplug_ms=$exit_ms
  check "ftdi_sio: unplugged mid-upload, exit 3 with the hang-up message within 0.5 s" \
    "exit $run_exit after $exit_ms ms (host clock, device_del to the exit line); ${message:-no hang-up message}" \
    test "$run_exit" = 3 -a -n "$message" -a "$exit_ms" != timeout -a "${exit_ms:-9999}" -lt 500 2>/dev/null
  # The guest's own view: the kernel's disconnect stamp to the exit.
  g 10 "dmesg | grep -m1 'USB disconnect'"
  if [[ $out =~ \[\ *([0-9]+\.[0-9]+)\] ]] && [[ $run_at != ? ]]; then
    guest_ms=$(awk -v a="${BASH_REMATCH[1]}" -v b="$run_at" 'BEGIN { printf "%d", (b - a) * 1000 }')
    unplug_guest_ms=$guest_ms
    echo "      guest clock: disconnect to exit $guest_ms ms"
  fi
  g 10 "test -e $dev && echo still-there || echo gone"
  check "ftdi_sio: /dev/ttyUSB0 is gone after device_del" "$(printf '%s' "$out" | head -1)" test "$out" = $'gone\n'

  emu_start "$usb_pty" "$work/replug-drain.bin" || true  # a fresh emulator flushes what the old one left
  emu_end kill || true
  local t_add=$EPOCHREALTIME
  monitor "device_add usb-serial,bus=xhci.0,chardev=usbc,id=ftdi"
  g 30 "zelk-tty-probe waitdev $dev 20000"
  replug_s=$(seconds_since "$t_add")
  check "ftdi_sio: device_add brings /dev/ttyUSB0 back" "after $replug_s s" test "$status" = 0
  g 10 "chgrp 20 $dev && chmod 660 $dev && zelk-tty-probe drain $dev 300"
  local first=${upload_times[ftdi_sio-65535-115200]}
  upload_check ftdi_sio "$dev" "$usb_pty" 65535 115200 || true
  upload_times[replug]=${upload_times[ftdi_sio-65535-115200]}
  upload_times[ftdi_sio-65535-115200]=$first
}

# A gadget pulled out mid-upload: exit 3 within 1 s of the kernel's "USB
# disconnect" (the guest's clock: the host's adds the console's delays, which
# on a loaded machine reach a second), no upload reported as done; plugged in
# again, the port is back and the next upload is byte-exact.
# (The device controller's soft disconnect, soft_connect, is no use here:
# dummy_hcd's device controller answers nothing after "connect", error -71.)
gadget_unplug_check() {  # driver dev gadget-dev unplug-command replug-command
  local driver=$1 dev=$2 gdev=$3 unplug=$4 replug=$5 from t_del exit_ms guest_ms message claimed
  emu_start "guest:$gdev" "$work/unplug-$driver.bin" || { fail "$driver: unplug" "zelk-emu did not start"; return; }
  from=${#lines[@]}
  printf '%s\n' "zelk-tty-probe run -- zelk-upload -d $dev /data/f65535 &" >&"$con_in"
  if ! expect_line '^[0-9]+/65536 bytes +[1-9][0-9]?%' 60 "$from"; then
    fail "$driver: unplug" "the upload did not get going"
    emu_end kill || true
    return
  fi
  t_del=$EPOCHREALTIME
  printf '%s\n' "$unplug" >&"$con_in"
  if expect_line '^exit=' 10 "$from"; then
    exit_ms=$(ms_since "$t_del")
    out=$(printf '%s\n' "${lines[@]:from}")
    parse_run
  else
    exit_ms=timeout run_exit=none
  fi
  emu_end kill || true
  message=$(printf '%s\n' "${lines[@]:from}" | grep -m1 'hung up' || true)
  claimed=$(printf '%s\n' "${lines[@]:from}" | grep -m1 -E 'Upload complete|65536/65536' || true)
  gadget_unplug_ms[$driver]=$exit_ms
  g 10 "dmesg | grep 'USB disconnect' | tail -1"
  guest_ms=none
  if [[ $out =~ \[\ *([0-9]+\.[0-9]+)\] ]] && [[ $run_at != ? ]]; then
    guest_ms=$(awk -v a="${BASH_REMATCH[1]}" -v b="$run_at" 'BEGIN { printf "%d", (b - a) * 1000 }')
  fi
  check "$driver: unplugged mid-upload, exit 3 within 1 s, nothing reported as sent" \
    "exit $run_exit $guest_ms ms after the disconnect ($exit_ms ms on the host clock, from the unplug command); ${message:-no hang-up message}${claimed:+; but: $claimed}" \
    test "$run_exit" = 3 -a -z "$claimed" -a "$guest_ms" != none -a "${guest_ms:-9999}" -ge 0 -a "${guest_ms:-9999}" -lt 1000 2>/dev/null
  g 10 "test -e $dev && echo still-there || echo gone"
  check "$driver: $dev is gone after the unplug" "$(printf '%s' "$out" | head -1)" test "$out" = $'gone\n'
  local t_add=$EPOCHREALTIME
  g 30 "$replug && zelk-tty-probe waitdev $dev 20000"
  gadget_replug_s[$driver]=$(seconds_since "$t_add")
  check "$driver: plugged in again, $dev is back" "after ${gadget_replug_s[$driver]} s" test "$status" = 0
  g 10 "chgrp 20 $dev && chmod 660 $dev && zelk-tty-probe drain $dev 300"
  local first=${upload_times[$driver-65535-115200]:-}
  upload_check "$driver" "$dev" "guest:$gdev" 65535 115200 || true
  upload_times[replug-$driver]=${upload_times[$driver-65535-115200]}
  upload_times[$driver-65535-115200]=$first
}

# The uploads at three rates, then the holder killed; the two drivers of
# this machine's emulators also their line settings and exclusive mode.
# A gadget paces nothing by the rate: the rate only reaches the driver's line
# setting, which the small uploads go through at every rate, so the
# 65,535-byte upload (20-60 s through a gadget under TCG) is made at 115,200.
driver_checks() {  # driver dev pty|guest:DEV
  local driver=$1 dev=$2 pty=$3 baud size
  [[ $pty == guest:* ]] || settings_check "$driver" "$dev" "$pty"
  for baud in 115200 57600 14400; do
    for size in ${ZELK_DRIVERS_SIZES:-1 300 65535}; do
      if [[ $pty == guest:* ]]; then
        [[ $size != 65535 || $baud == 115200 ]] || continue
      else
        [[ $baud/$size != 115200/65535 ]] || continue  # uploaded by the settings check
      fi
      upload_check "$driver" "$dev" "$pty" "$size" "$baud" || true
    done
  done
  holder_check "$driver" "$dev" "$pty"
  [[ $pty == guest:* ]] || exclusive_check "$driver" "$dev"
}

unplug_ms=
unplug_guest_ms=
replug_s=
declare -A gadget_unplug_ms=() gadget_replug_s=()
g 30 "zelk-tty-probe waitdev /dev/ttyACM0 20000 && chgrp 20 /dev/ttyACM0 && chmod 660 /dev/ttyACM0"
check "cdc_acm binds g_serial's port" "/dev/ttyACM0 $( [ "$status" = 0 ] && echo present || echo missing)" [ "$status" = 0 ]
ports_check
driver_checks 8250 /dev/ttyS1 "$uart_pty"
driver_checks ftdi_sio /dev/ttyUSB0 "$usb_pty"
unplug_check
driver_checks cdc_acm /dev/ttyACM0 guest:/dev/ttyGS0
# g_serial is unplugged with its device controller: unbound from dummy_udc
# and bound again, when g_serial takes it again.
udc_driver=/sys/bus/platform/drivers/dummy_udc
gadget_unplug_check cdc_acm /dev/ttyACM0 /dev/ttyGS0 "echo dummy_udc.0 > $udc_driver/unbind" \
  "echo dummy_udc.0 > $udc_driver/bind"

# The CH340 gadget takes /dev/ttyUSB0 once the FTDI adapter is gone.
monitor "device_del ftdi"
g 30 "zelk-tty-probe waitgone /dev/ttyUSB0 20000 && sh /etc/ch341-gadget.sh && zelk-tty-probe waitdev /dev/ttyUSB0 20000"
ch341_pty=
[[ $out =~ @@ch341\ (/dev/pts/[0-9]+) ]] && ch341_pty=${BASH_REMATCH[1]}
g 10 "readlink /sys/class/tty/ttyUSB0/device/driver"
bound=
[[ $out =~ /usb-serial/drivers/(ch341-uart)$'\n' ]] && bound=${BASH_REMATCH[1]}
check "ch341 binds the CH340 gadget" "/dev/ttyUSB0 driver ${bound:-none}" test -n "$ch341_pty" -a -n "$bound"
g 10 "cat /tmp/ch341.log; dmesg | grep -i ch34 | tail -3"
printf '%s' "$out" | sed 's/^/      /'
if [ -n "$ch341_pty" ] && [ -n "$bound" ]; then
  g 10 "chgrp 20 /dev/ttyUSB0 && chmod 660 /dev/ttyUSB0"
  g 20 "zelk-upload --list-ports"
  port_listed ch341 '^COM5 +/dev/ttyUSB0 +1a86:7523 +ch341-uart ' "COM5 /dev/ttyUSB0, its USB id and driver"
  driver_checks ch341 /dev/ttyUSB0 "guest:$ch341_pty"
  # The configfs gadget is taken off its device controller and put back.
  gadget_unplug_check ch341 /dev/ttyUSB0 "$ch341_pty" "echo > /sys/kernel/config/usb_gadget/ch341/UDC" \
    "echo dummy_udc.1 > /sys/kernel/config/usb_gadget/ch341/UDC"
fi

# --- power off -----------------------------------------------------------------
# QEMU's CPU time against the guest's wall time tells how much of the run was
# waiting for a busy machine: on an idle one the two are close.
qemu_cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.1f", ($14 + $15) / hz }' "/proc/$(cat "$work/qemu.pid")/stat" 2>/dev/null || echo "?")
echo "drivers: QEMU used $qemu_cpu s of CPU time in $(seconds_since "$boot_start") s since it started"
printf 'poweroff -f\n' >&"$con_in"
if wait_bounded "$qemu_pid" 20; then :; fi
qemu_pid=

echo "drivers: 65,535-byte uploads (s) at 115200 / 57600 / 14400:" \
  "8250 ${upload_times[8250-65535-115200]:-?} / ${upload_times[8250-65535-57600]:-?} / ${upload_times[8250-65535-14400]:-?};" \
  "ftdi_sio ${upload_times[ftdi_sio-65535-115200]:-?} / ${upload_times[ftdi_sio-65535-57600]:-?} / ${upload_times[ftdi_sio-65535-14400]:-?};" \
  "after replug ${upload_times[replug]:-?};" \
  "at 115200: cdc_acm ${upload_times[cdc_acm-65535-115200]:-?}, after replug ${upload_times[replug-cdc_acm]:-?};" \
  "ch341 ${upload_times[ch341-65535-115200]:-?}, after replug ${upload_times[replug-ch341]:-?}"
echo "drivers: unplug to exit ${unplug_ms:-?} ms (host clock), ${unplug_guest_ms:-?} ms (guest clock); replug ${replug_s:-?} s;" \
  "gadgets unplug to exit (host clock) and replug: cdc_acm ${gadget_unplug_ms[cdc_acm]:-?} ms, ${gadget_replug_s[cdc_acm]:-?} s;" \
  "ch341 ${gadget_unplug_ms[ch341]:-?} ms, ${gadget_replug_s[ch341]:-?} s"
finish
