#!/usr/bin/env bash
# The VM rig: boots Debian's own kernel in QEMU with an initramfs holding the
# USB gadget (the simulated bridge on a dummy USB controller), the Linux
# build of vtx_fwupdate and the scenario scripts, runs the scenarios inside
# the guest and reports each one's verdict.
#
#   tests/vm/run.sh [--build-dir DIR] [--windows-build DIR] [--scenario NAME]...
#                   [--accel auto|kvm|tcg] [--timeout SECONDS] [--keep DIR] [--shell]
#
# --windows-build adds the Windows executables of that build; the guest runs
# them under the host's Wine, whose root file system it mounts read-only
# through 9p. Without it (or without Wine) the Windows scenarios are pending.
# --shell boots the same guest to a shell instead (quit with Ctrl-A X).
#
# Exit 0: every scenario passed (pending ones allowed); 1: a scenario failed
# or the guest did not report; 2: the rig cannot run here (the reason on
# standard error). Needs no privileges: all USB and SCSI work is the guest's.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build/linux-release
win_build=""
scenarios=()
accel=auto
limit=420
keep=""
shell=0
while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) build=$(cd "$2" && pwd); shift 2 ;;
        --windows-build) win_build=$(cd "$2" && pwd); shift 2 ;;
        --scenario) scenarios+=("$2"); shift 2 ;;
        --accel) accel=$2; shift 2 ;;
        --timeout) limit=$2; shift 2 ;;
        --keep) keep=$2; shift 2 ;;
        --shell) shell=1; shift ;;
        *) echo "usage: $0 [--build-dir DIR] [--windows-build DIR] [--scenario NAME]..." \
                "[--accel auto|kvm|tcg] [--timeout SECONDS] [--keep DIR] [--shell]" >&2; exit 2 ;;
    esac
done

cannot() { echo "$*" >&2; exit 2; }
for tool in qemu-system-x86_64 sg_inq sg_raw sg_reset modprobe depmod cpio; do
    command -v "$tool" >/dev/null || cannot "$tool is not installed"
done
# The guest has no C library of its own for busybox: it must be the static one.
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 ||
    cannot "the static busybox (busybox-static) is not installed"

for program in tools/usbgadget/vtx_usbgadget tools/usbgadget/vtx_vmprobe tools/vtx_imagemaker; do
    [ -x "$build/$program" ] || { echo "vm: $build/$program is not built" >&2; exit 1; }
done

for name in "${scenarios[@]}"; do
    ls "$here"/scenarios/[0-9][0-9]-"$name".sh >/dev/null 2>&1 ||
        { echo "vm: no scenario '$name' in $here/scenarios" >&2; exit 1; }
done

kernel_dir=$("$here/kernel.sh") || exit 2
vmlinuz=$(ls "$kernel_dir"/boot/vmlinux-* "$kernel_dir"/boot/vmlinuz-* 2>/dev/null | head -n1)
cache=$(dirname "$kernel_dir")

work=${keep:-$(mktemp -d)}
mkdir -p "$work"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT

# The Windows scenarios: the host's root file system, read-only, through 9p
# (the guest chroots into it to run Wine), and the prefix they start from.
share=()
wine_append=""
if [ -n "$win_build" ]; then
    devices=$(qemu-system-x86_64 -device help 2>/dev/null || true)
    if ! grep -q '"virtio-9p-pci"' <<<"$devices"; then
        echo "vm: no Windows scenarios: this QEMU has no 9p file system sharing"
        win_build=""
    elif prefix=$("$here/wineprefix.sh" "$cache" 2>"$work/wine.err"); then
        share=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap")
        wine_append="vtx.wineprefix=$prefix"
    else
        echo "vm: no Windows scenarios: $(cat "$work/wine.err")"
        win_build=""
    fi
fi

t0=$(date +%s)
"$here/samples.sh" "$build" "$work/samples"
"$here/initramfs.sh" "$kernel_dir" "$build" "$work/samples" "$work/initramfs.cpio" "$win_build"
t1=$(date +%s)

# QEMU with the rig's devices: serial console on standard output, the exit
# port for the verdict, nothing else.
# The emulated CPU goes without SMAP: with it, QEMU's emulator faults on
# Wine's return to user mode (iretq from its system call dispatcher) and the
# guest kernel oopses in every Wine process ("supervisor read access in user
# mode"). Nothing else in the rig needs SMAP.
qemu() {  # qemu ACCEL SECONDS APPEND
    local accel_args=(-accel tcg -cpu max,smap=off)
    [ "$1" = kvm ] && accel_args=(-accel kvm -cpu host)
    timeout -k 5 "$2" qemu-system-x86_64 -nodefaults -display none -no-reboot \
        "${accel_args[@]}" -smp 2 -m 1024 -serial stdio \
        -device isa-debug-exit,iobase=0xf4,iosize=0x04 "${share[@]}" \
        -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 loglevel=3 panic=-1 $wine_append $3" </dev/null
}

# /dev/kvm may be there and still unable to boot this kernel (it hangs or
# aborts), so a short test boot decides (a working KVM reaches /init in a
# second or two), and its verdict is kept per host kernel and QEMU version.
choose_accel() {
    if [ "$accel" != auto ]; then echo "$accel"; return; fi
    if [ ! -w /dev/kvm ] || [ ! -r /dev/kvm ]; then echo tcg; return; fi
    local key verdict_file
    key="$(uname -r)-$(qemu-system-x86_64 --version | head -n1 | tr -c 'A-Za-z0-9.\n' _)"
    verdict_file="$cache/kvm-verdict-$key"
    if [ ! -f "$verdict_file" ]; then
        if qemu kvm 12 "vtx.probe=1" 2>/dev/null | grep -q 'VTXVM-DONE probe'; then
            echo kvm >"$verdict_file"
        else
            echo tcg >"$verdict_file"
        fi
    fi
    cat "$verdict_file"
}
chosen=$(choose_accel)

if [ $shell -eq 1 ]; then
    qemu-system-x86_64 -nodefaults -display none -no-reboot -accel tcg -cpu max,smap=off -smp 2 \
        -m 1024 -serial mon:stdio -device isa-debug-exit,iobase=0xf4,iosize=0x04 "${share[@]}" \
        -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 loglevel=3 panic=-1 $wine_append vtx.shell=1"
    exit 0
fi

append=""
if [ ${#scenarios[@]} -gt 0 ]; then
    append="vtx.scenarios=$(IFS=,; echo "${scenarios[*]}")"
fi
echo "vm: kernel $(basename "$vmlinuz"), accelerator $chosen, initramfs $(( $(stat -c %s "$work/initramfs.cpio") / 1048576 )) MiB"
set +e
qemu "$chosen" "$limit" "$append" 2>&1 | tee "$work/console.log"
status=${PIPESTATUS[0]}
set -e
t2=$(date +%s)

echo "vm: results (initramfs $((t1 - t0)) s, VM $((t2 - t1)) s)"
passed=$(grep -c '^VTXVM-RESULT [^ ]* pass' "$work/console.log" || true)
failed=$(grep -c '^VTXVM-RESULT [^ ]* fail' "$work/console.log" || true)
pending=$(grep -c '^VTXVM-RESULT [^ ]* pending' "$work/console.log" || true)
sed -n 's/^VTXVM-RESULT \([^ ]*\) \([^ ]*\) \([^ ]*\)\r*$/vm:   \2  \1 (\3 s)/p' "$work/console.log"
if ! grep -q '^VTXVM-DONE' "$work/console.log"; then
    echo "vm: the guest did not report (QEMU status $status): counted as a failure"
    failed=$((failed + 1))
elif [ "$status" -ne 33 ] && [ "$failed" -eq 0 ]; then
    echo "vm: the guest reported, but QEMU's status is $status, not 33: counted as a failure"
    failed=$((failed + 1))
fi
# Pending scenarios count as skipped, so the line reads like any test
# runner's closing line.
echo "vm: $passed passed, $failed failed, $pending skipped"
[ "$failed" -eq 0 ]
