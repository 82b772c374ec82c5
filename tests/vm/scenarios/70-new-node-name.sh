# Something holds the bridge's old nodes open, so after its restart the
# kernel names it anew (sdb, sg1): the update finds it by its identity word,
# not by its path.
needs_update_run
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sda
wait_node /dev/sg0
exec 3</dev/sda 4</dev/sg0
run_update fw_v2.0.0.030125.bin
exec 3<&- 4<&-
[ "$status" -eq 0 ] || fail "vtx_fwupdate ended with $status"
expect_line out.txt "[INFO] Found device: /dev/sda"
expect_line out.txt "[INFO] Firmware update completed successfully."
expect_line out.txt "[INFO] Device reconnected: /dev/sdb"
expect_line out.txt "[INFO] New FW version: 2.0.0, build date: 20250301"
