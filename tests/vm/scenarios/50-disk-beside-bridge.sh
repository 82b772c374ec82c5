# A USB disk that is no bridge, next to the bridge: discovery asks it for its
# INQUIRY data once, sends it no vendor command and lists only the bridge.
bridge_start bridge.state "$SAMPLES/bridge.desc"
gadget_start disk dummy_udc.1 --disk
wait_node /dev/sdb
wait_node /dev/sg1
vtx_vmprobe scan >scan.out || fail "the scan found no bridge"
[ "$(wc -l <scan.out)" -eq 1 ] || fail "the scan listed more than the bridge: $(cat scan.out)"
grep -q '|Vantrex USB Bridge      |' scan.out || fail "the bridge is not listed: $(cat scan.out)"
inquiries=$(commands disk '^12000000fe0000000000000000000000 in 254 ')
[ "$inquiries" -eq 1 ] || fail "the disk got $inquiries INQUIRY commands of 254 bytes, not 1"
vendor=$(commands disk '^e[23]')
[ "$vendor" -eq 0 ] || fail "the disk got $vendor vendor commands"
note "disk: one INQUIRY, no vendor command; listed: $(cut -d'|' -f1 scan.out)"
