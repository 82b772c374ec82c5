#!/usr/bin/env bash
# Fetches Debian's own kernel (the image that linux-image-amd64 depends on
# today) into the cache and prints the directory it is unpacked in:
#   DIR/boot/vmlinuz-VERSION, DIR/lib/modules/VERSION (with modules.dep)
# Exit 0 with the directory on standard output; exit 2 with the reason on
# standard error when no kernel can be had.
set -euo pipefail

cache=${VTX_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vtx-vm}
mkdir -p "$cache"

cached_kernel() {  # the newest unpacked kernel in the cache, if any
    local dir
    for dir in $(ls -1dt "$cache"/linux-image-*/ 2>/dev/null); do
        if ls "$dir"/boot/vmlinuz-* >/dev/null 2>&1 && [ -f "$dir/.complete" ]; then
            echo "${dir%/}"
            return 0
        fi
    done
    return 1
}

# Old ABI packages leave the archive, so the name is resolved afresh each time.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
          sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1 || true)
if [ -z "$package" ]; then
    cached_kernel && exit 0
    echo "apt knows no linux-image-amd64 (run apt-get update) and no kernel is cached" >&2
    exit 2
fi

# The boot image is xz-compressed, and unpacking it under software emulation
# costs several seconds per boot. Kernels built with PVH boot straight from
# the uncompressed ELF, so that is unpacked once here (vmlinux-VERSION).
unpack_vmlinux() {
    local dir=$1 image offset
    image=$(ls "$dir"/boot/vmlinuz-* | head -n1)
    grep -q '^CONFIG_PVH=y' "$dir"/boot/config-* 2>/dev/null || return 0
    offset=$(grep -abo -m1 $'\xfd7zXZ\x00' "$image" | cut -d: -f1 | head -n1 || true)
    [ -n "$offset" ] || return 0
    # xz stops at the end of its stream; the bytes after it are not its business.
    if xz -dc --single-stream <(tail -c +$((offset + 1)) "$image") >"$dir/boot/vmlinux.tmp" 2>/dev/null &&
       [ "$(head -c 4 "$dir/boot/vmlinux.tmp" | tail -c 3)" = ELF ]; then
        mv "$dir/boot/vmlinux.tmp" "${image/vmlinuz/vmlinux}"
    else
        rm -f "$dir/boot/vmlinux.tmp"
    fi
}

dir="$cache/$package"
if [ -f "$dir/.complete" ]; then
    ls "$dir"/boot/vmlinux-* >/dev/null 2>&1 || unpack_vmlinux "$dir"
    echo "$dir"
    exit 0
fi

work=$(mktemp -d "$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get download "$package" >/dev/null 2>"$work/apt.log"); then
    cached_kernel && exit 0
    echo "apt-get download $package failed: $(tail -n1 "$work/apt.log")" >&2
    exit 2
fi
rm -rf "$dir"
mkdir -p "$dir"
dpkg -x "$work"/*.deb "$dir"
version=${package#linux-image-}
# The package ships no modules.dep: depmod makes it, for modprobe --show-depends.
depmod -b "$dir" "$version"
unpack_vmlinux "$dir"
touch "$dir/.complete"
# Older kernels of the cache are not needed any more.
for old in "$cache"/linux-image-*; do
    [ "$old" = "$dir" ] || rm -rf "$old"
done
echo "$dir"
