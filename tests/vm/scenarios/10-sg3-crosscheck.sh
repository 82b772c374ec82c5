# A third-party client against the gadget: sg3-utils' sg_inq and sg_raw see
# the INQUIRY data and a vendor reply byte for byte as the emulator gives
# them without USB, and the project's own device layer sees the same bytes.
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sg0

direct() {  # direct CDB-HEX LENGTH OUT: the emulator's own reply, no USB
    vtx_usbgadget --state bridge.state --query "$1" --in "$2" >"$3" ||
        fail "the emulator refused $1"
}
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }

sg_inq --len=254 --raw /dev/sg0 >inquiry.sg || fail "sg_inq failed"
direct 12000000fe00 254 inquiry.direct
cmp inquiry.sg inquiry.direct || fail "INQUIRY differs: sg_inq $(hex_of inquiry.sg), emulator $(hex_of inquiry.direct)"
note "INQUIRY, 254 bytes: sg_inq and the emulator agree"

version_cdb="e2 00 00 00 a5 00 00 00 00 00 00 00 14 00 00 00"
sg_raw -r 20 -o version.sg /dev/sg0 $version_cdb 2>sg_raw.err || fail "sg_raw failed: $(cat sg_raw.err)"
direct "$(echo $version_cdb | tr -d ' ')" 20 version.direct
cmp version.sg version.direct || fail "version reply differs: sg_raw $(hex_of version.sg), emulator $(hex_of version.direct)"
note "version reply (0xE2, 0xA5): sg_raw and the emulator agree: $(hex_of version.sg)"

vtx_vmprobe send /dev/sda "$(echo $version_cdb | tr -d ' ')" in 20 >probe.out
expect_line probe.out "result 0"
expect_line probe.out "data $(hex_of version.direct)"
note "dev_send through /dev/sda gives the same 20 bytes"

# A command the bridge refuses: CHECK CONDITION, and the sense data reaches
# the client through the kernel's automatic REQUEST SENSE.
# A read of 68 KiB, beyond the bridge's largest transfer of 64 KiB (and
# within what usb-storage passes in one command).
bad_cdb=e2000000920000000000000000100100
vtx_usbgadget --state bridge.state --query "$bad_cdb" --in 69632 >/dev/null 2>direct.err &&
    fail "the emulator took a read beyond its largest transfer"
vtx_vmprobe send /dev/sda "$bad_cdb" in 69632 >probe.out
expect_line probe.out "result 2"
expected_sense=$(sed -n 's/^sense \(.*\)/\1/p' direct.err)
[ -n "$expected_sense" ] || fail "the emulator gave no sense data: $(cat direct.err)"
expect_line probe.out "sense $expected_sense"
note "a refused command: status 2 and the emulator's sense data, $expected_sense"

grep -q "GET MAX LUN" bridge.log || fail "usb-storage did not ask for the number of LUNs"
sg_reset --device /dev/sg0 || fail "sg_reset --device failed"
grep -q "Bulk-Only Mass Storage Reset" bridge.log || fail "no Bulk-Only reset reached the gadget"
sg_raw -r 20 -o version.again /dev/sg0 $version_cdb 2>sg_raw.err || fail "sg_raw after the reset: $(cat sg_raw.err)"
cmp version.again version.direct || fail "the version reply differs after the reset"
note "GET MAX LUN answered; sg_reset's device reset came as a Bulk-Only reset"
