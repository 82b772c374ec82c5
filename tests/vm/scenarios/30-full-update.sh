# The whole update, main firmware 1.0.0 through the rescue firmware to 2.0.0:
# the bridge leaves the bus and re-enumerates twice. usb-storage keeps its
# default settle time here, as on a real machine.
needs_update_run
set_delay_use 1
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sda
run_update fw_v2.0.0.030125.bin
[ "$status" -eq 0 ] || fail "vtx_fwupdate ended with $status"
expect_line out.txt "[INFO] Found device: /dev/sda"
expect_line out.txt "[INFO] Current FW version: 1.0.0, build date: 010124 (yyyymmdd: 20240101)"
expect_line out.txt "[INFO] FW version differs: expected 2.0.0, current 1.0.0"
expect_line out.txt "[INFO] Firmware update completed successfully."
expect_line out.txt "[INFO] Device reconnected: /dev/sda"
expect_line out.txt "[INFO] New FW version: 2.0.0, build date: 20250301"
restarts=$(grep -c "restarting" bridge.log)
[ "$restarts" -eq 2 ] || fail "the bridge restarted $restarts times, not 2"
note "updated in ${elapsed}s, two re-enumerations"
cp bridge.state /tmp/updated-bridge.state
