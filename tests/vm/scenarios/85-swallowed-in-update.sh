# Commands of the update that the bridge never answers. The first version
# query: the device check warns with the time-out's error code (ETIMEDOUT,
# 110) and goes on; a time-out taken for a success would show as "Current FW
# version: 0.0.0" instead. The fourth flash data write: write-and-verify
# tries again once usb-storage has reset the device, and the update ends
# well.
needs_update_run
bridge_start bridge.state "$SAMPLES/bridge.desc" --swallow e2:a5 --swallow e3:11:3
wait_node /dev/sda
run_update fw_v2.0.0.030125.bin
[ "$status" -eq 0 ] || fail "vtx_fwupdate ended with $status"
expect_line out.txt "[WARNING] Failed to read current FW version (ret=110), proceed with update..."
expect_no_match out.txt 'Current FW version'
expect_line out.txt "[INFO] Firmware update completed successfully."
expect_line out.txt "[INFO] New FW version: 2.0.0, build date: 20250301"
swallowed=$(grep -c ' swallowed ' bridge.trace)
[ "$swallowed" -eq 2 ] || fail "$swallowed commands were swallowed, not 2"
# The write after the swallowed one goes to the same address again.
grep -A2 '^[0-9]* e3000000110[0-9a-f]* out [0-9]* swallowed' bridge.trace |
    grep -q ' e3000000110[0-9a-f]* out [0-9]* good' || fail "the swallowed write was not tried again"
note "two time-outs, then updated in ${elapsed}s"
