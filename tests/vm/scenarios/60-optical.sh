# The bridge presenting the vendor's CD-ROM: no disk node, /dev/sr0 only;
# discovery finds it in its second pass and the tool reads its version
# through it.
bridge_start bridge.state "$SAMPLES/optical.desc"
wait_node /dev/sr0
wait_node /dev/sg0
[ -e /dev/sda ] && fail "the optical bridge has a disk node"
vtx_vmprobe enumerate >enumerate.out
expect_line enumerate.out "1 /dev/sr0"
vtx_vmprobe scan >scan.out || fail "the scan did not find the optical bridge"
grep -q '^/dev/sr0|Vantrex USB CD-ROM      |' scan.out || fail "unexpected scan: $(cat scan.out)"
note "$(cat scan.out)"
needs_device_check
run_update fw_v2.0.0.030125.bin
[ "$status" -eq 0 ] || fail "vtx_fwupdate ended with $status"
expect_line out.txt "[INFO] Found device: /dev/sr0"
expect_line out.txt "[INFO] FW version and build date are the same, skip update."
