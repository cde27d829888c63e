#!/usr/bin/env bash
# shellcheck disable=SC2317  # the checks are called through within()
# In the test guest: efis-emu on uhid and a vcan named "efis2" is unplugged by SIGUSR1 and
# plugged in by SIGUSR2, and restarts after efis-cli's reboot: its hidraw node goes away and
# comes back, the vcan goes down and up, and a completely uploaded image makes it come back
# with a newer firmware version. Every wait is bounded.
# Usage: efis_emu_plug.sh EFIS_EMU EFIS_CLI
set -uo pipefail
emu=${1:?efis-emu}
cli=${2:?efis-cli}
work=$(mktemp -d)
log=$work/emu.log
status=0
emu_pid=""

fail() {
  echo "FAIL: $*"
  status=1
}

ip link add dev efis2 type vcan && ip link set efis2 mtu 72 && ip link set up efis2 ||
  { echo "FAIL: cannot create vcan efis2"; exit 1; }

# The hidraw nodes of the unit's USB IDs, one per line.
unit_hidraw() {
  grep -l "HID_ID=0003:000016D0:000014C7" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null
}

hidraw_present() { [ -n "$(unit_hidraw)" ]; }
hidraw_absent() { [ -z "$(unit_hidraw)" ]; }
vcan_up() { (($(cat /sys/class/net/efis2/flags) & 1)); }
vcan_down() { ! vcan_up; }

# within SECONDS CHECK...: true once CHECK holds, polled every 50 ms.
within() {
  local limit=$1
  shift
  local tries=$((limit * 20))
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

# expect SECONDS WHAT CHECK...: CHECK holds within SECONDS, else a failure naming WHAT.
expect() {
  local limit=$1 what=$2
  shift 2
  if within "$limit" "$@"; then
    echo "ok: $what"
  else
    fail "$what (not within $limit s)"
  fi
}

# The count of lines of efis-emu's output matching a fixed string.
lines() { grep -cF -- "$1" "$log"; }
has_lines() { [ "$(lines "$1")" -ge "$2" ]; }

# A firmware image of 3 packets whose header names version 0.3.1.
image=$work/firmware.bin
{
  printf 'SIFE\x00\x01\x03\x00'
  printf '\xC0\x00\x00\x00\x80\x00\x00\x00\x80\x00\x00\x00'
  head -c 44 /dev/zero
  head -c 128 /dev/urandom
} > "$image"
[ "$(stat -c %s "$image")" -eq 192 ] || fail "the test image has the wrong size"

"$emu" --uhid --can efis2 --reboot-ms 3000 > "$log" 2>&1 &
emu_pid=$!
expect 10 "efis-emu ready" has_lines "efis-emu: ready" 1
expect 10 "hidraw node created" hidraw_present

echo "==== SIGUSR1: unplugged"
kill -USR1 "$emu_pid"
expect 5 "unplugged line" has_lines "efis-emu: unplugged" 1
expect 5 "hidraw node gone" hidraw_absent
expect 5 "efis2 down" vcan_down
timeout -k 5 30 "$cli" --link can --can-interface efis2 info < /dev/null > "$work/gone.out" 2>&1
[ $? -eq 3 ] || { fail "efis-cli found an unplugged unit"; cat "$work/gone.out"; }

echo "==== SIGUSR2: plugged in"
kill -USR2 "$emu_pid"
expect 5 "plugged-in line" has_lines "efis-emu: plugged in" 1
expect 5 "hidraw node back" hidraw_present
expect 5 "efis2 up" vcan_up
if ! timeout -k 5 30 "$cli" --link can --can-interface efis2 info < /dev/null > "$work/back.out" 2>&1; then
  fail "efis-cli does not find the unit plugged in again"
  cat "$work/back.out"
fi

echo "==== reboot without an upload"
timeout -k 5 30 "$cli" --link can --can-interface efis2 reboot --no-wait < /dev/null \
  > "$work/reboot1.out" 2>&1 ||
  { fail "efis-cli reboot failed"; cat "$work/reboot1.out"; }
expect 5 "rebooting line" has_lines "efis-emu: rebooting for 3000 ms" 1
expect 1 "hidraw node gone during the restart" hidraw_absent
expect 1 "efis2 down during the restart" vcan_down
expect 5 "back with the same version" has_lines "efis-emu: back, firmware 0.2.12" 1
expect 5 "hidraw node back after the restart" hidraw_present
expect 5 "efis2 up after the restart" vcan_up

echo "==== reboot after a complete upload"
if ! timeout -k 5 60 "$cli" --link can --can-interface efis2 firmware "$image" < /dev/null \
  > "$work/firmware.out" 2>&1; then
  fail "the upload failed"
  cat "$work/firmware.out"
fi
# This time efis-cli waits for the unit and says what it runs now.
timeout -k 5 45 "$cli" --link can --can-interface efis2 reboot < /dev/null > "$work/reboot2.out" 2>&1 ||
  { fail "efis-cli reboot failed"; cat "$work/reboot2.out"; }
expect 5 "second rebooting line" has_lines "efis-emu: rebooting for 3000 ms" 2
expect 5 "back with the image's version" has_lines "efis-emu: back, firmware 0.3.1" 1
if ! grep -q "The unit restarted and now runs firmware 0.3.1 (before: firmware 0.2.12)" \
  "$work/reboot2.out"; then
  fail "efis-cli does not report the firmware the unit came back with"
  cat "$work/reboot2.out"
fi

echo "==== SIGTERM while unplugged leaves the interface up"
kill -USR1 "$emu_pid"
expect 5 "second unplugged line" has_lines "efis-emu: unplugged" 2
kill "$emu_pid"
for _ in $(seq 50); do
  kill -0 "$emu_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$emu_pid" 2>/dev/null; then
  kill -KILL "$emu_pid"
  fail "efis-emu did not stop on SIGTERM"
fi
wait "$emu_pid"
rc=$?
[ "$rc" -eq 0 ] || fail "efis-emu exit status $rc"
if vcan_up; then
  echo "ok: efis2 up after the exit"
else
  fail "efis-emu left efis2 down"
fi

echo "---- efis-emu output"
cat "$log"
rm -rf "$work"
exit $status
