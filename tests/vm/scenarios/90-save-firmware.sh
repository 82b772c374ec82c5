# The way back on a real kernel: vtx_bridge saves the firmware the bridge runs
# (read commands only), vtx_fwupdate updates it to 2.0.0, and the saved file
# takes it back to 1.0.0; saved again, the image is the same byte for byte.
needs_update_run
[ -x /bin/vtx_bridge ] || pending "vtx_bridge is not built"
grep -qx save-firmware /vm/features || pending "vtx_bridge has no save-firmware yet"
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sda
vtx_bridge save-firmware /dev/sda >save.txt 2>&1 || fail "save-firmware: $(cat save.txt)"
saved=fw_v1.0.0.010124.bin
[ -f "$saved" ] || fail "no $saved: $(cat save.txt)"
writes=$(commands bridge '^e3')
[ "$writes" -eq 0 ] || fail "save-firmware sent $writes write commands"
vtx_bridge check --type firmware --strict "$saved" >check.txt 2>&1 || fail "check: $(cat check.txt)"

run_update fw_v2.0.0.030125.bin
[ "$status" -eq 0 ] || fail "the update to 2.0.0 ended with $status"
expect_line out.txt "[INFO] New FW version: 2.0.0, build date: 20250301"

vtx_fwupdate "$PWD/$saved" "$SAMPLES/rescue.bin" "$SAMPLES/bridge.cfg" "$SAMPLES/led.bin" \
    </dev/null >back.txt 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the update back ended with $status: $(cat back.txt)"
expect_line back.txt "[INFO] New FW version: 1.0.0, build date: 20240101"

vtx_bridge save-firmware /dev/sda again.bin >save2.txt 2>&1 || fail "saving again: $(cat save2.txt)"
cmp -s "$saved" again.bin || fail "the bridge holds another image after going back"
note "saved $(wc -c <"$saved") bytes, updated to 2.0.0 and back to the same image"
