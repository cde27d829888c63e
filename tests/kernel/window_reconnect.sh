#!/usr/bin/env bash
# In the test guest: the window against efis-emu pulled out and plugged in again, over USB HID
# through /dev/uhid and over CAN FD on a vcan named "efis1" (no can0 exists). The program
# saves label-usb.png and label-can.png here, in the results folder.
# Usage: window_reconnect.sh EFIS_EMU PROGRAM
set -uo pipefail
emu=${1:?efis-emu}
program=${2:?test program}

ip link add dev efis1 type vcan && ip link set efis1 mtu 72 && ip link set up efis1 ||
  { echo "FAIL: cannot create vcan efis1"; exit 1; }

export QT_QPA_PLATFORM=offscreen EFIS_EMU=$emu
timeout -k 10 600 "$program"
