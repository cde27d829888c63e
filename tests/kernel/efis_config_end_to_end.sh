#!/usr/bin/env bash
# In the test guest: the real efis-config against efis-emu, loading the unit's settings with a
# passing CRC, first over CAN FD on a vcan "can0", then over USB HID through /dev/uhid (with a
# second HID interface of the same IDs on another usage page, and a unit silent on CAN FD).
# Usage: efis_config_end_to_end.sh EFIS_EMU EFIS_CONFIG
set -uo pipefail
emu=${1:?efis-emu}
app=${2:?efis-config}
work=$(mktemp -d)
status=0
export QT_QPA_PLATFORM=offscreen

fail() {
  echo "FAIL: $*"
  status=1
}

ip link add dev can0 type vcan && ip link set can0 mtu 72 && ip link set up can0 ||
  { echo "FAIL: cannot create vcan can0"; exit 1; }

# run_case NAME "EMU OPTIONS" EXPECTED-LINE...: efis-emu with the options, then efis-config
# until it has loaded the settings (or 90 s), then both are ended.
run_case() {
  local name=$1 options=$2
  shift 2
  echo "==== $name: efis-emu $options"
  # shellcheck disable=SC2086
  "$emu" $options --log > "$work/$name.emu.log" 2>&1 &
  local emu_pid=$!
  for _ in $(seq 100); do
    grep -q "efis-emu: ready" "$work/$name.emu.log" && break
    sleep 0.1
  done
  if ! grep -q "efis-emu: ready" "$work/$name.emu.log"; then
    cat "$work/$name.emu.log"
    fail "$name: efis-emu not ready"
    kill "$emu_pid" 2>/dev/null
    return
  fi

  # A terminal makes the application's standard output line-buffered, so that what it
  # printed is all there when it is ended, a few seconds after the settings load.
  script -qfec "timeout -s KILL 90 $(printf '%q' "$app")" /dev/null > "$work/$name.app.log" 2>&1 &
  local app_pid=$! start=$SECONDS
  while kill -0 "$app_pid" 2>/dev/null && [ $((SECONDS - start)) -lt 90 ]; do
    grep -q "CRC Check Passed." "$work/$name.app.log" && break
    sleep 0.2
  done
  sleep 2
  echo "efis-config ran $((SECONDS - start)) s"
  kill "$app_pid" 2>/dev/null
  wait "$app_pid"
  kill "$emu_pid"
  wait "$emu_pid" || fail "$name: efis-emu did not stop cleanly"

  echo "---- efis-config output"
  grep -v "^Debug: " "$work/$name.app.log"
  echo "---- efis-emu output (first 10 lines)"
  head -n 10 "$work/$name.emu.log"
  local line
  for line in "$@" "CRC Check Passed."; do
    if grep -qF "$line" "$work/$name.app.log"; then
      echo "ok: $line"
    else
      fail "$name: efis-config did not print: $line"
    fi
  done
}

run_case canfd "--can can0 --serial 0x00E715C0 --version 0.2.14" \
  "Successfully connected to CAN FD interface! Serial number: 0x00E715C0, firmware 0.2.14 (rc 0)" \
  "Connected via CAN FD"
grep -q "^can rx id=0x370 " "$work/canfd.emu.log" || fail "canfd: the unit saw no settings read"

run_case usb "--uhid --decoy --can can0 --silent-can --serial 0x00AB0001 --legacy" \
  "Successfully connected to USB HID device! Serial number: 0x00AB0001, firmware 0.0.0 (rc 0)" \
  "Failed to get serial number from CAN FD interface - disconnecting" \
  "Connected via USB HID"
grep -q "^usb rx id=0x376 " "$work/usb.emu.log" || fail "usb: the legacy unit saw no settings read"

rm -rf "$work"
exit $status
