# A command the bridge never answers: SG_IO returns after the 10-second
# time-out with status 0 but a transport error; that must reach the caller
# as a failure, never as a success with an empty reply. usb-storage then
# resets the device, and the next command goes through again.
bridge_start bridge.state "$SAMPLES/bridge.desc" --swallow e2:a5
wait_node /dev/sda
begin=$(uptime_s)
vtx_vmprobe send /dev/sda e2000000a50000000000000014000000 in 20 >probe.out
took=$(elapsed_since "$begin")
grep -q '^result 0$' probe.out && fail "the swallowed command passed for a success: $(cat probe.out)"
note "swallowed version query: $(head -n1 probe.out) after ${took}s"
awk -v t="$took" 'BEGIN { exit !(t >= 9) }' || fail "the failure came after ${took}s, before the time-out"
vtx_vmprobe send /dev/sda e2000000a50000000000000014000000 in 20 >again.out
expect_line again.out "result 0"
note "after the reset the bridge answers again"
