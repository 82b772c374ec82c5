# The restart command takes the bridge off the bus for its boot time: the
# kernel removes its nodes, enumerates it afresh when it is back, and
# discovery finds it again.
bridge_start bridge.state "$SAMPLES/bridge.desc"
wait_node /dev/sda
vtx_vmprobe send /dev/sda e3000000300000000000000004000000 out 00000000 >restart.out
expect_line restart.out "result 0"
begin=$(uptime_s)
wait_gone /dev/sda 5
wait_gone /dev/sg0 5
note "nodes gone after $(elapsed_since "$begin")s"
wait_node /dev/sda 15
took=$(elapsed_since "$begin")
awk -v t="$took" 'BEGIN { exit !(t >= 3) }' || fail "back after ${took}s, within the boot time of 3 s"
note "back after ${took}s"
wait_node /dev/sg0 5
vtx_vmprobe scan >scan.out || fail "the scan did not find the bridge after its restart"
grep -q '^/dev/sda|Vantrex USB Bridge' scan.out || fail "unexpected scan: $(cat scan.out)"
restarts=$(grep -c "restarting" bridge.log)
[ "$restarts" -eq 1 ] || fail "the gadget restarted $restarts times, not once"
