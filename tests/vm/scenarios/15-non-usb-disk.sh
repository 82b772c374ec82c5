# A SCSI disk that is not on USB (the kernel's scsi_debug) holds /dev/sda:
# enumeration leaves it out by its sysfs path, and the bridge is found as
# /dev/sdb.
load_later
wait_node /dev/sda
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sdb
wait_node /dev/sg1
vtx_vmprobe enumerate >enumerate.out
[ "$(cat enumerate.out)" = "0 /dev/sdb" ] || fail "unexpected candidates: $(cat enumerate.out)"
vtx_vmprobe scan >scan.out || fail "the scan found no bridge"
grep -q '^/dev/sdb|Vantrex USB Bridge      |' scan.out || fail "unexpected scan: $(cat scan.out)"
note "candidates: $(cat enumerate.out); /dev/sda is $(cat /sys/block/sda/device/model)"
