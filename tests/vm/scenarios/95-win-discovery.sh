# vm-timeout: 200
# The unmodified Windows programs under Wine, with drive d: on the bridge's
# optical node: discovery keeps only drives whose storage descriptor names
# the USB bus, and Wine does not answer that question with the USB bus for
# any drive. For d: (the Unix device itself) the query fails with
# ERROR_NOT_SUPPORTED (50); Wine's mount manager answers for c: and z: with
# a descriptor it makes up, and the bus is not USB. So vtx_fwupdate.exe and
# vtx_bridge.exe find no bridge and send it no command of their own. Should
# a Wine version answer with USB, this scenario fails and says so: then the
# full update can run here.
wine_ready
bridge_start bridge.state "$SAMPLES/optical.desc"
wait_node /dev/sr0

wine_run property.out vtx_vmprobe.exe property '\\.\c:' '\\.\d:' '\\.\z:' '\\.\PhysicalDrive0'
note "$(cat property.out)"
expect_line property.out '\\.\d: query failed 50'
if grep -q ' bus 7 ' property.out; then
    fail "Wine reports a USB drive now, the unmodified tool may get further: $(cat property.out)"
fi

wine_run out.txt vtx_fwupdate.exe fw_v2.0.0.030125.bin rescue.bin bridge.cfg led.bin </dev/null
[ "$status" -ne 0 ] || fail "vtx_fwupdate.exe ended with 0 without a bridge"
expect_line out.txt "[INFO] Running as administrator"
expect_line out.txt "[INFO] Scanning for devices..."
expect_line out.txt.err "[ERROR] No device found by dev_scan"
note "vtx_fwupdate.exe: 'No device found by dev_scan', exit code $status, ${elapsed}s"

wine_run list.out vtx_bridge.exe list
[ "$status" -eq 2 ] || fail "vtx_bridge.exe list ended with $status, not 2 (no bridge found)"
grep -q "no bridge found" list.out list.out.err || fail "vtx_bridge.exe list: $(cat list.out list.out.err)"
note "vtx_bridge.exe list: 'no bridge found', exit code 2"

vendor=$(commands bridge '^e[23]')
[ "$vendor" -eq 0 ] || fail "the bridge got $vendor vendor commands"
