#!/usr/bin/env bash
# Boots the Debian kernel under qemu and runs one command inside it, on the host's own
# files (read-only) with RESULTS_DIR writable; exits with the command's status.
# Usage: run-in-guest.sh CACHE_DIR RESULTS_DIR COMMAND [ARG...]
# EFIS_QEMU names another qemu binary; EFIS_GUEST_TIMEOUT bounds a boot and its command in
# seconds, EFIS_GUEST_UP_TIMEOUT the time until the guest reports that it is up.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${1:?usage: run-in-guest.sh CACHE_DIR RESULTS_DIR COMMAND [ARG...]}
results=${2:?results folder}
shift 2
[ $# -gt 0 ] || { echo "run-in-guest.sh: no command" >&2; exit 2; }

images=$("$here/guest-image.sh" "$cache") || exit $?
read -r kernel initrd <<< "$images"

mkdir -p "$results"
results=$(cd "$results" && pwd)
rm -f "$results/rc" "$results/guest-run.sh"

# The guest runs as root in a fresh kernel, with what the test environment says.
{
  echo "set -u"
  echo "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  echo "export HOME=/tmp TMPDIR=/tmp CI=${CI:-} EFIS_GUEST=1"
  for v in QT_QPA_PLATFORM ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [ -n "${!v:-}" ] && printf 'export %s=%q\n' "$v" "${!v}"
  done
  printf 'cd %q\n' "$results"
  echo "echo \"guest: up after \$(cut -d' ' -f1 /proc/uptime) s\""
  printf '%q ' "$@"
  echo
  echo "echo \$? > rc.tmp && mv rc.tmp rc"
} > "$results/guest-run.sh"

# The guest gives itself a fresh /tmp and /run; the project's own folders that lie there on
# the host (a checkout under /tmp, say) are bound back in, read-only.
keep=$(cd "$here/../.." && pwd)
for arg in "$@"; do
  case "$arg" in
    /*) [ -e "$arg" ] && keep="$keep:$(dirname "$arg")" ;;
  esac
done

# A boot under software emulation now and then hangs before the kernel prints anything. The
# guest reports when it is up; one that is not up within EFIS_GUEST_UP_TIMEOUT seconds is
# killed and booted again, at most twice. A guest that came up is never booted again, whatever
# its command did.
up_limit=${EFIS_GUEST_UP_TIMEOUT:-90}
run_limit=${EFIS_GUEST_TIMEOUT:-600}
console="$results/console.log"
status=0
for attempt in 1 2 3; do
  : > "$console"
  start=$(date +%s)
  "${EFIS_QEMU:-qemu-system-x86_64}" \
    -accel tcg -cpu max -smp 2 -m 2048 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 panic=-1 quiet efis_results=$results efis_keep=$keep" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
    < /dev/null > "$console" 2>&1 &
  qemu=$!
  up=0
  ended=0
  while :; do
    elapsed=$(( $(date +%s) - start ))
    if [ "$up" -eq 0 ] && grep -q "guest: up after" "$console"; then
      up=1
    fi
    if ! kill -0 "$qemu" 2>/dev/null; then
      ended=1
      break
    fi
    if [ "$up" -eq 0 ] && [ "$elapsed" -ge "$up_limit" ]; then
      break
    fi
    if [ "$elapsed" -ge "$run_limit" ]; then
      break
    fi
    sleep 1
  done
  if [ "$ended" -eq 0 ]; then
    kill "$qemu" 2>/dev/null || true
  fi
  status=0
  wait "$qemu" || status=$?
  cat "$console"
  echo "run-in-guest: qemu ended with $status after $(( $(date +%s) - start )) s"
  if [ "$up" -eq 1 ] || grep -q "guest: up after" "$console" || [ "$ended" -eq 1 ]; then
    break
  fi
  if [ "$attempt" -lt 3 ]; then
    echo "run-in-guest: the guest was not up within $up_limit s; booting again (retry $attempt of 2)"
  else
    echo "run-in-guest: the guest was not up within $up_limit s after 3 boots"
  fi
done

if [ ! -f "$results/rc" ]; then
  echo "FAIL: the guest did not report a result (qemu status $status)" >&2
  exit 1
fi
rc=$(cat "$results/rc")
echo "run-in-guest: command exited with $rc"
exit "$rc"
