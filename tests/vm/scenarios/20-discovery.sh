# Discovery through the Linux layer: the bridge is a USB disk, found in the
# first pass, identified, and its drive's identity read through ATA
# PASS-THROUGH (12) on a real usb-storage path.
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sda
wait_node /dev/sg0
vtx_vmprobe enumerate >enumerate.out || fail "enumerate failed"
expect_line enumerate.out "0 /dev/sda"
vtx_vmprobe scan >scan.out || fail "the scan found no bridge: $(cat scan.out)"
# The drive's ATA strings come as the drive pads them, with blanks.
expect_line scan.out "$(printf '/dev/sda|Vantrex USB Bridge      |%-20s|%-40s' SIM0000000000001 'Simulated SSD')"
note "$(cat scan.out)"
