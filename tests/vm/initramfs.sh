#!/usr/bin/env bash
# Builds the guest's initramfs (an uncompressed newc cpio archive):
#   initramfs.sh KERNEL_DIR BUILD_DIR SAMPLES_DIR OUT [WINDOWS_BUILD_DIR]
# with busybox, the kernel modules in load order, the gadget and probe
# programs, the update tool with its shared libraries, sg_inq and sg_raw
# with theirs, the sample files, /init and the scenario scripts; with a
# Windows build, its executables too (run under the host's Wine, which the
# guest reaches through a 9p share, with the modules for that).
set -euo pipefail

kernel_dir=$1 build=$2 samples=$3 out=$4 win_build=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
version=$(basename "$(ls "$kernel_dir"/boot/vmlinuz-* | head -n1)")
version=${version#vmlinuz-}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,vm/scenarios,vm/win,lib/modules}

cp /bin/busybox "$stage/bin/busybox"
cp "$here/init" "$stage/init"
cp "$here/lib.sh" "$stage/vm/lib.sh"
cp "$here"/scenarios/*.sh "$stage/vm/scenarios/"
chmod 755 "$stage/init"
cp -r "$samples" "$stage/vm/samples"

# Modules in load order, each once; sd_mod's CRC soft dependencies are named
# by modprobe too. dummy_hcd gets two controllers: the bridge and a disk.
# scsi_debug (a SCSI disk that is not on USB) is loaded by its scenario only.
declare -A seen
add_modules() {  # add_modules LIST MODULE...
    local list=$1 module verb path name params
    shift
    for module in "$@"; do
        while read -r verb path _; do
            [ "$verb" = insmod ] || continue
            name=$(basename "$path")
            [ -z "${seen[$name]:-}" ] || continue
            seen[$name]=1
            case $name in
                *.ko.xz) xz -dc "$path" >"$stage/lib/modules/${name%.xz}"; name=${name%.xz} ;;
                *.ko.zst) zstd -qdc "$path" >"$stage/lib/modules/${name%.zst}"; name=${name%.zst} ;;
                *) cp "$path" "$stage/lib/modules/$name" ;;
            esac
            params=""
            [ "$name" = dummy_hcd.ko ] && params="num=2"
            echo "$name $params" >>"$stage/vm/$list"
        done < <(modprobe -d "$kernel_dir" -S "$version" --show-depends "$module")
    done
}
: >"$stage/vm/modules.list"
: >"$stage/vm/modules.later"
: >"$stage/vm/modules.wine"
add_modules modules.list configfs dummy_hcd libcomposite usb_f_fs usb_storage crct10dif_generic \
    sd_mod sr_mod sg
add_modules modules.later scsi_debug
add_modules modules.wine virtio_pci 9pnet_virtio 9p overlay

# A dynamically linked program goes in with the libraries ldd names.
copy_program() {
    local program=$1 lib
    if [ ! -x "$program" ]; then
        echo "initramfs: $program is not built; the scenarios that need it are pending" >&2
        return 0
    fi
    cp "$program" "$stage/bin/"
    strip "$stage/bin/$(basename "$program")" 2>/dev/null || true
    for lib in $(ldd "$program" 2>/dev/null | grep -o '/[^ ]*'); do
        [ -e "$stage$lib" ] && continue
        mkdir -p "$stage$(dirname "$lib")"
        cp -L "$lib" "$stage$lib"
    done
}
for program in "$build/tools/usbgadget/vtx_usbgadget" "$build/tools/usbgadget/vtx_vmprobe" \
               "$build/app/vtx_fwupdate" "$build/companion/vtx_bridge" "$(command -v sg_inq)" "$(command -v sg_raw)" "$(command -v sg_reset)"; do
    copy_program "$program"
done

if [ -n "$win_build" ]; then
    for program in app/vtx_fwupdate.exe companion/vtx_bridge.exe tools/usbgadget/vtx_vmprobe.exe; do
        [ -f "$win_build/$program" ] && cp "$win_build/$program" "$stage/vm/win/"
    done
fi

# Which parts of vtx_fwupdate this build carries, told by their message
# texts; scenarios that need a missing part report themselves pending.
tool=$build/app/vtx_fwupdate
: >"$stage/vm/features"
if [ -x "$tool" ]; then
    grep -qaF "FW version and build date are the same" "$tool" && echo device-check >>"$stage/vm/features"
    grep -qaF "Firmware update completed successfully" "$tool" && echo update-run >>"$stage/vm/features"
fi

bridge_tool=$build/companion/vtx_bridge
if [ -x "$bridge_tool" ] && grep -qaF "save-firmware" "$bridge_tool"; then
    echo save-firmware >>"$stage/vm/features"
fi

(cd "$stage" && find . | cpio -o -H newc --quiet) >"$out"
