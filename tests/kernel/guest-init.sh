#!/bin/busybox sh
# PID 1 of the test guest: loads the CAN, HID and 9p modules, mounts the host's root
# read-only with a writable results folder, and runs the host's script there in a chroot.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules/order); do
  insmod "/modules/$m" || echo "guest: insmod $m failed"
done

results=$(sed -n 's/.*efis_results=\([^ ]*\).*/\1/p' /proc/cmdline)
keep=$(sed -n 's/.*efis_keep=\([^ ]*\).*/\1/p' /proc/cmdline)
opts=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o "$opts,ro,cache=loose" hostroot /host || echo "guest: host root not mounted"
# Folders of the project under /tmp or /run would be hidden by the fresh ones mounted there
# below: hold them aside first, then bind them back.
kept=""
n=0
for dir in $(echo "$keep" | tr ':' ' '); do
  case "$dir" in
    /tmp/*|/run/*)
      n=$((n + 1))
      mkdir -p "/keep/$n"
      mount -o bind "/host$dir" "/keep/$n" && kept="$kept $n:$dir"
      ;;
  esac
done
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
for entry in $kept; do
  dir=${entry#*:}
  mkdir -p "/host$dir"
  mount -o bind "/keep/${entry%%:*}" "/host$dir" || echo "guest: $dir not bound back"
done
mkdir -p "/host$results" 2>/dev/null
mount -t 9p -o "$opts" results "/host$results" || echo "guest: results folder not mounted"

chroot /host /bin/bash "$results/guest-run.sh"
echo "guest: script ended with $?"
sync
poweroff -f
