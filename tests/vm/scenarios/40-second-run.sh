# The run after a successful update finds the new version and skips: the
# gadget starts afresh from the state file the update left, so the flash the
# host wrote is what the bridge boots.
needs_update_run
if [ -f /tmp/updated-bridge.state ]; then
    cp /tmp/updated-bridge.state bridge.state
else
    bridge_start bridge.state "$SAMPLES/bridge.desc"
    wait_node /dev/sda
    run_update fw_v2.0.0.030125.bin
    [ "$status" -eq 0 ] || fail "the first run ended with $status"
    gadget_stop bridge
    wait_gone /dev/sda
fi
bridge_start bridge.state
wait_node /dev/sda
run_update fw_v2.0.0.030125.bin
[ "$status" -eq 0 ] || fail "vtx_fwupdate ended with $status"
expect_line out.txt "[INFO] Current FW version: 2.0.0, build date: 030125 (yyyymmdd: 20250301)"
expect_line out.txt "[INFO] FW version and build date are the same, skip update."
writes=$(commands bridge '^e3')
[ "$writes" -eq 0 ] || fail "the second run sent $writes write commands"
