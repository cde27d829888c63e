#!/usr/bin/env bash
# In the test guest: efis-cli against efis-emu on the kernel's own links, first over CAN FD on
# a vcan named "efis1" (current generation; no can0 exists), then over USB HID through
# /dev/uhid (legacy generation). Each link: info, a settings round trip, a traced firmware
# upload checked byte for byte, and a unit that does not answer.
# Usage: efis_cli_end_to_end.sh EFIS_EMU EFIS_CLI
set -uo pipefail
emu=${1:?efis-emu}
cli=${2:?efis-cli}
work=$(mktemp -d)
status=0
# A failed run leaves its traces and outputs here, in the results folder (the current one).
kept=$PWD/efis-cli-files
rm -rf "$kept"
emu_pid=""

fail() {
  echo "FAIL: $*"
  status=1
}

ip link add dev efis1 type vcan && ip link set efis1 mtu 72 && ip link set up efis1 ||
  { echo "FAIL: cannot create vcan efis1"; exit 1; }

# start_emu NAME OPTION...: efis-emu logging every frame it receives, once it says it is ready.
start_emu() {
  local name=$1
  shift
  "$emu" "$@" --log > "$work/$name.emu.log" 2>&1 &
  emu_pid=$!
  for _ in $(seq 100); do
    grep -q "efis-emu: ready" "$work/$name.emu.log" && return 0
    sleep 0.1
  done
  cat "$work/$name.emu.log"
  fail "$name: efis-emu not ready"
  stop_emu
  return 1
}

stop_emu() {
  [ -n "$emu_pid" ] || return 0
  kill "$emu_pid" 2>/dev/null
  for _ in $(seq 50); do
    kill -0 "$emu_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$emu_pid" 2>/dev/null; then
    kill -KILL "$emu_pid" 2>/dev/null
    fail "efis-emu did not stop on SIGTERM"
  fi
  wait "$emu_pid" 2>/dev/null
  emu_pid=""
}

# cli RUN EXPECTED-STATUS ARG...: efis-cli with the case's link options, standard output and
# standard error (not a terminal) kept in RUN.out and RUN.err. False on another exit status.
cli() {
  local run=$1 expected=$2
  shift 2
  local start=$SECONDS rc=0
  timeout -k 5 60 "$cli" "${link[@]}" "$@" < /dev/null > "$work/$run.out" 2> "$work/$run.err" ||
    rc=$?
  echo "efis-cli $*: exit $rc after $((SECONDS - start)) s"
  if [ "$rc" -ne "$expected" ]; then
    fail "$run: exit status $rc, expected $expected"
    echo "---- stdout"
    cat "$work/$run.out"
    echo "---- stderr"
    cat "$work/$run.err"
    return 1
  fi
}

# expect_line RUN STREAM ERE: a line of RUN's stdout or stderr matches ERE.
expect_line() {
  if grep -qE "$3" "$work/$1.$2"; then
    echo "ok: $1 $2 has /$3/"
  else
    fail "$1: no line of $2 matches /$3/"
    cat "$work/$1.$2"
  fi
}

# A 32-bit word as its four bytes, least significant first.
le32() {
  # shellcheck disable=SC2059
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# An image of 64 full data packets and a last one of 10 bytes, which goes out with the
# 12-byte length code and two zero bytes behind the data.
data_size=$((64 * 64 + 10))
image=$work/firmware.bin
{
  le32 0x45464953
  le32 0x00020C00
  le32 $((64 + data_size))
  le32 "$data_size"
  le32 "$data_size"
  le32 0x11223344
  le32 0x55667788
  le32 0xA0A1A2A3
  le32 0
  le32 0
  le32 0xB0B1B2B3
  le32 64
  le32 0 && le32 0 && le32 0 && le32 0
} > "$image"
head -c "$data_size" /dev/urandom >> "$image"
[ "$(stat -c %s "$image")" -eq $((64 + data_size)) ] || fail "the test image has the wrong size"
write_packets=$((1 + (data_size + 63) / 64))
expected_bytes=$(od -An -v -tx1 "$image" | tr -d ' \n' | tr a-f A-F)0000

# run_case NAME IFACE WRITE-ID SERIAL GENERATION: the checks on one link against the running
# efis-emu; `link` holds efis-cli's link options.
run_case() {
  local name=$1 iface=$2 write_id=$3 serial=$4 generation=$5
  local rx_prefix=${iface/efis1/can}
  rx_prefix=${rx_prefix/usbhid/usb}

  if cli "$name-info" 0 info; then
    expect_line "$name-info" out "^Serial: +$serial\$"
    expect_line "$name-info" out "^Generation: +$generation\$"
  fi

  if cli "$name-set" 0 settings set vne=171 --save; then
    expect_line "$name-set" out "^vne: .* -> 171\$"
  fi
  # Qt writes the object's keys in sorted order, so the setting's whole entry is one string.
  if cli "$name-show" 0 settings show --json; then
    expect_line "$name-show" out '"event":"result"'
    expect_line "$name-show" out '"crc_matches":true'
    expect_line "$name-show" out \
      '\{"name":"vne","raw":\["0x000000ab"\],"read":true,"value":"171"\}'
  fi
  if cli "$name-export" 0 settings export "$work/$name.settings.json" &&
    cli "$name-import" 0 settings import "$work/$name.settings.json" --dry-run; then
    expect_line "$name-import" out "no differences"
  fi

  local trace=$work/$name.trace
  if cli "$name-firmware" 0 --trace "$trace" firmware "$image"; then
    expect_line "$name-firmware" out "^Firmware update completed\$"
    expect_line "$name-firmware" err "^Erasing: block 1 of 1 \(100%\)"
    expect_line "$name-firmware" err "^Writing: "
    if grep -q $'\r' "$work/$name-firmware.err"; then
      fail "$name: carriage return in the progress on a stderr that is not a terminal"
    fi
    if ! grep "^Writing: " "$work/$name-firmware.err" | tail -n 1 | grep -q "(100%)"; then
      fail "$name: the last Writing line does not say 100%"
    fi

    local bad
    bad=$(grep -cvE "^\([0-9]+\.[0-9]{6}\) $iface [0-9A-F]{3}##[0-9A-F]([0-9A-F]{2})*\$" "$trace")
    [ "$bad" -eq 0 ] || fail "$name: $bad trace line(s) not in the candump -L form for $iface"
    local first flags=0
    [ "$iface" = efis1 ] && flags=1
    first=$(head -n 1 "$trace")
    [[ "$first" =~ ^\([0-9]+\.[0-9]{6}\)\ $iface\ 010##${flags}EF15$ ]] ||
      fail "$name: the trace does not begin with the handshake request: $first"
    local writes
    writes=$(grep -c " $write_id##" "$trace")
    [ "$writes" -eq "$write_packets" ] ||
      fail "$name: $writes write packets traced, expected $write_packets"
    [ "$(grep " $write_id##" "$trace" | sed 's/.*##.//' | tr -d '\n')" = "$expected_bytes" ] ||
      fail "$name: the traced write packets do not carry the image"
    [ "$(grep "^$rx_prefix rx id=0x$write_id " "$work/$name.emu.log" |
      sed 's/^[^:]*://' | tr -d ' \n')" = "$expected_bytes" ] ||
      fail "$name: the unit did not receive the image"
    echo "ok: $name trace of $(wc -l < "$trace") lines, $writes write packets carrying the image"
  fi
}

echo "==== canfd: efis-cli --link can --can-interface efis1, current unit"
link=(--link can --can-interface efis1)
if start_emu canfd --can efis1 --serial 0x00E715C0; then
  run_case canfd efis1 420 0x00E715C0 current
  expect_line canfd-info out "^CAN FD efis1: +answered\$"
  expect_line canfd-info out "^USB HID: +not tried\$"
  stop_emu
fi
if cli canfd-nobody 3 info; then
  expect_line canfd-nobody err "no unit answered on CAN FD \(efis1\)"
fi
# The causes found on the system, each with its fix.
link=(--link can --can-interface nosuch0)
cli canfd-nosuch 3 info &&
  expect_line canfd-nosuch err "^efis-cli: no such interface: nosuch0 \(CAN interfaces: (.*, )?efis1(,.*)?\)\$"
link=(--link can --can-interface lo)
cli canfd-lo 3 info && expect_line canfd-lo err "^efis-cli: lo is not a CAN FD interface\$"
ip link set down efis1
link=(--link can --can-interface efis1)
cli canfd-down 3 info &&
  expect_line canfd-down err "^efis-cli: efis1 is down: sudo ip link set efis1 mtu 72 up\$"
ip link set up efis1

echo "==== usb: efis-cli --link usb, legacy unit"
link=(--link usb)
if start_emu usb --uhid --legacy --serial 0x00AB0001; then
  run_case usb usbhid 415 0x00AB0001 legacy
  expect_line usb-info out "^USB HID: +answered\$"
  stop_emu
fi
if start_emu usb-silent --uhid --legacy --silent; then
  cli usb-silent 3 info && expect_line usb-silent err "no unit answered on USB HID"
  stop_emu
fi
cli usb-nodevice 3 info

[ "$status" -eq 0 ] || { cp -r "$work" "$kept" && echo "the files are kept in $kept"; }
rm -rf "$work"
exit $status
