#!/usr/bin/env bash
# Prepares, once per cache folder, the Debian kernel and a busybox initramfs that mounts the
# host's root read-only over 9p and runs a script in it. Prints "KERNEL INITRD" paths.
# Exit 77: no qemu/kernel here (a developer may skip); in CI (CI=true) that is exit 1.
set -euo pipefail

cache=${1:?usage: guest-image.sh CACHE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$cache"

unavailable() {
  if [ "${CI:-}" = "true" ]; then
    echo "FATAL: kernel tests cannot run: $*" >&2
    echo "FATAL: CI must run them; tools/install-deps installs qemu-system-x86 and busybox-static." >&2
    exit 1
  fi
  echo "SKIPPED: kernel tests need $* (install with tools/install-deps)" >&2
  exit 77
}

command -v "${EFIS_QEMU:-qemu-system-x86_64}" >/dev/null ||
  unavailable "${EFIS_QEMU:-qemu-system-x86_64} (package qemu-system-x86)"
[ -x /bin/busybox ] || unavailable "/bin/busybox (package busybox-static)"
file_out=$(LC_ALL=C od -An -c -N4 /bin/busybox | tr -d ' ')
[ "$file_out" = "177ELF" ] || unavailable "an ELF /bin/busybox"
command -v apt-get >/dev/null || unavailable "apt-get to fetch the kernel package"

exec 9>"$cache/.lock"
flock 9

if [ ! -f "$cache/ready" ]; then
  rm -rf "$cache/deb" "$cache/root" "$cache/initrd" "$cache/initrd.cpio"
  mkdir -p "$cache/deb"
  kernel_pkg() {
    apt-cache depends linux-image-amd64 2>/dev/null |
      awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
  }
  pkg=$(kernel_pkg)
  if [ -z "$pkg" ]; then
    apt-get update -qq >&2 || true
    pkg=$(kernel_pkg)
  fi
  [ -n "$pkg" ] || unavailable "the package that linux-image-amd64 depends on (apt-cache found none)"
  (cd "$cache/deb" && apt-get download -q "$pkg" >&2) ||
    unavailable "the kernel package $pkg (apt-get download failed)"
  dpkg -x "$cache"/deb/*.deb "$cache/root" || unavailable "an unpackable $pkg"

  kver=$(ls "$cache/root/lib/modules" | head -n1)
  moddir="$cache/root/lib/modules/$kver"
  vmlinuz="$cache/root/boot/vmlinuz-$kver"
  [ -f "$vmlinuz" ] || unavailable "a kernel image in $pkg"

  # Modules in load order, each after the modules it depends on (read from .modinfo).
  declare -A module_path=() loaded=()
  while IFS= read -r f; do
    n=$(basename "$f" .ko)
    module_path[${n//-/_}]=$f
  done < <(find "$moddir/kernel" -name '*.ko')
  order=()
  add_module() {
    local key=${1//-/_}
    [ -n "${loaded[$key]:-}" ] && return 0
    loaded[$key]=1
    if [ -z "${module_path[$key]:-}" ]; then
      grep -q "/${1}.ko\$\|/${key}.ko\$" "$moddir/modules.builtin" && return 0
      unavailable "module $1 in $pkg"
    fi
    local deps
    deps=$(tr '\0' '\n' < "${module_path[$key]}" | sed -n 's/^depends=//p' | head -n1)
    local d
    for d in ${deps//,/ }; do add_module "$d"; done
    order+=("${module_path[$key]}")
  }
  for m in virtio_pci 9pnet_virtio 9p can-raw vcan hid-generic uhid; do add_module "$m"; done

  img="$cache/initrd"
  mkdir -p "$img/bin" "$img/modules" "$img/proc" "$img/sys" "$img/dev" "$img/host"
  cp /bin/busybox "$img/bin/busybox"
  : > "$img/modules/order"
  for f in "${order[@]}"; do
    cp "$f" "$img/modules/"
    basename "$f" >> "$img/modules/order"
  done
  cp "$here/guest-init.sh" "$img/init"
  chmod 755 "$img/init"
  (cd "$img" && find . | /bin/busybox cpio -o -H newc > "$cache/initrd.cpio" 2>/dev/null)
  cp "$vmlinuz" "$cache/vmlinuz"
  echo "$pkg" > "$cache/ready"
fi

# A changed guest init is packed into the cached image anew.
if [ "$here/guest-init.sh" -nt "$cache/initrd.cpio" ]; then
  cp "$here/guest-init.sh" "$cache/initrd/init"
  (cd "$cache/initrd" && find . | /bin/busybox cpio -o -H newc > "$cache/initrd.cpio" 2>/dev/null)
fi

echo "$cache/vmlinuz $cache/initrd.cpio"
