# vm-timeout: 300
# The Windows device layer, unmodified, through Wine and a real kernel: the
# rig's probe built for Windows opens drive d: (Wine's drive for /dev/sr0)
# with CreateFileA and sends each command with DeviceIoControl and
# IOCTL_SCSI_PASS_THROUGH_DIRECT, which Wine hands to SG_IO. INQUIRY, the
# version, the header block, a flash write and its read-back, and the
# restart reach the gadget, and the bytes agree with the emulator's own
# replies and with what the Linux layer reads; a command the bridge refuses
# comes back with status 2 and the emulator's sense data at the request's
# sense offset. A second version query the bridge never answers shows what
# Wine makes of the kernel's time-out. The
# first scenario to use Wine also starts its session, the slowest step.
wine_ready
bridge_start bridge.state "$SAMPLES/optical.desc" --swallow e2:a5:1
wait_node /dev/sr0
wait_node /dev/sg0

hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }
direct() {  # direct CDB-HEX LENGTH: the emulator's own reply in hex, no USB
    vtx_usbgadget --state bridge.state --query "$1" --in "$2" >direct.bin || fail "the emulator refused $1"
    hex_of direct.bin
}
inquiry=12000000fe0000000000000000000000
version=e2000000a50000000000000014000000
header=e200000092000000004000ac00100000   # 4096 bytes of the header block, read window
set_address=e30000001000000000000f8c04000000   # flash address 0x8C0F0000
write=e3000000110000000000000000100000
read_back=e20000009200000000000fac00100000
restart=e3000000300000000000000004000000
refused=e2000000920000000000000000100100   # 68 KiB, beyond the bridge's largest transfer
pattern=$(awk 'BEGIN { for (i = 0; i < 4096; i++) printf "%02x", (i * 7 + 3) % 256 }')
want_inquiry=$(direct 12000000fe00 254)
want_version=$(direct $version 20)
want_header=$(direct $header 4096)
vtx_usbgadget --state bridge.state --query $refused --in 69632 >/dev/null 2>refused.err &&
    fail "the emulator took a read beyond its largest transfer"
want_sense=$(sed -n 's/^sense \(.*\)/\1/p' refused.err)
[ -n "$want_sense" ] || fail "the emulator gave no sense data: $(cat refused.err)"

# One process and one handle for the whole sequence, as the update tool has.
printf '%s\n' "$inquiry in 254" "$version in 20" "$header in 4096" "$set_address out 00000f8c" \
    "$write out $pattern" "$read_back in 4096" "$refused in 69632" "$version in 20" \
    "$restart out 00000000" >commands.txt
wine_run probe.out vtx_vmprobe.exe run '\\.\d:' <commands.txt
[ "$status" -eq 0 ] || fail "the Windows probe ended with $status: $(cat probe.out probe.out.err)"
note "nine commands through Wine in ${elapsed}s"
grep '^result ' probe.out >results.txt
[ "$(wc -l <results.txt)" -eq 9 ] || fail "not every command was sent: $(cut -c1-80 probe.out)"
[ "$(sed '7,8d' results.txt | grep -c '^result 0$')" -eq 7 ] ||
    fail "not every command succeeded: $(cut -c1-80 probe.out)"
grep '^data ' probe.out >data.txt
[ "$(sed -n 7p results.txt)" = "result 2" ] || fail "the refused read gave $(sed -n 7p results.txt), not 2"
[ "$(grep '^sense ' probe.out | sed -n 7p)" = "sense $want_sense" ] ||
    fail "the refused read's sense is $(grep '^sense ' probe.out | sed -n 7p), not $want_sense"
note "a refused read: status 2 and the emulator's sense data, $want_sense"
[ "$(sed -n 1p data.txt)" = "data $want_inquiry" ] || fail "INQUIRY differs from the emulator's"
[ "$(sed -n 2p data.txt)" = "data $want_version" ] || fail "version reply differs: $(sed -n 2p data.txt)"
[ "$(sed -n 3p data.txt)" = "data $want_header" ] || fail "the header block differs from the emulator's"
[ "$(sed -n 4p data.txt)" = "data $pattern" ] || fail "the flash read back differs from what was written"
note "INQUIRY, version, header block and read-back agree with the emulator: version $(sed -n 2p data.txt | cut -c6-)"

# The unanswered query: usb-storage gives up after the 10-second time-out
# and resets the device. Wine 8.0 hands the caller a success with status 0
# and the reply buffer as it was (zeros): under Wine a time-out reads like
# an empty reply. Any answer is taken here; the log says which it was.
[ "$(grep -c " $version in 20 swallowed " bridge.trace)" -eq 1 ] ||
    fail "the gadget did not swallow the second version query"
if [ "$(sed -n 8p results.txt)" = "result 0" ]; then
    note "the unanswered version query: Wine reports success, reply $(sed -n 6p data.txt | cut -c6-)"
else
    note "the unanswered version query: Wine reports $(sed -n 8p results.txt)"
fi

# Each command went over USB as the Windows request framed it: direction
# and length.
for line in "$inquiry in 254 good 254" "$version in 20 good 20" "$header in 4096 good 4096" \
            "$set_address out 4 good 0" "$write out 4096 good 0" "$read_back in 4096 good 4096" \
            "$restart out 4 good 0"; do
    grep -q "^[0-9]* $line\$" bridge.trace || fail "the gadget did not log '$line'"
done

wait_gone /dev/sr0 5
wait_node /dev/sr0 15
wait_node /dev/sg0 5
[ "$(grep -c restarting bridge.log)" -eq 1 ] || fail "the bridge did not restart once"
vtx_vmprobe send /dev/sr0 $read_back in 4096 >linux.out
expect_line linux.out "data $pattern"
note "after the restart the Linux layer reads the same flash bytes"

# Wine's drive d: follows the node the kernel made anew.
wine_run again.out vtx_vmprobe.exe send '\\.\d:' $version in 20
expect_line again.out "result 0"
expect_line again.out "data $want_version"
note "after the restart the bridge answers on d: again (${elapsed}s)"
