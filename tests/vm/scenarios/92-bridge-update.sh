# vtx_bridge update on a real kernel, two bridges on the bus: without --path
# it refuses, lists both and writes to neither; --path updates that bridge
# alone; --all then updates the other and finds the first current; a last
# --all finds both current and writes nothing. Each answer is read from the
# JSON document a fleet tool gets.
needs_update_run
[ -x /bin/vtx_bridge ] || pending "vtx_bridge is not built"
grep -q "several bridges found" /bin/vtx_bridge || pending "vtx_bridge has no update yet"

# The second bridge answers with an identity word of its own: the update
# refuses two bridges that share one.
cat >second.desc <<'DESC'
[bridge second]
path = \\.\PhysicalDrive2
identity = 0x0B0B0B0B
firmware = main
firmware_version = 1.0.0
firmware_date = 20240101
DESC
bridge_start bridge.state "$SAMPLES/bridge.desc"
gadget_start second dummy_udc.1 --state second.state --description second.desc
wait_node /dev/sda
wait_node /dev/sdb
files="$SAMPLES/fw_v2.0.0.030125.bin $SAMPLES/rescue.bin $SAMPLES/bridge.cfg $SAMPLES/led.bin"
writes() { echo $(($(commands bridge '^e3') + $(commands second '^e3'))); }
outcomes() { grep -o '"outcome": "[a-z]*"' "$1" | cut -d'"' -f4 | sort | tr '\n' ' '; }

vtx_bridge --json update $files >refused.json 2>refused.err
status=$?
[ "$status" -eq 64 ] || fail "two bridges without --path ended with $status: $(cat refused.json)"
[ "$(grep -c '"path": "/dev/sd' refused.json)" -eq 2 ] || fail "not both listed: $(cat refused.json)"
[ "$(writes)" -eq 0 ] || fail "the refused run sent $(writes) write commands"

vtx_bridge --json update --path /dev/sda $files >one.json 2>one.err
status=$?
[ "$status" -eq 0 ] || fail "--path /dev/sda ended with $status: $(cat one.json one.err)"
[ "$(outcomes one.json)" = "updated " ] || fail "--path: $(cat one.json)"
grep -q '"version": "2.0.0"' one.json || fail "no 2.0.0 after --path: $(cat one.json)"
first=$(commands bridge '^e3') other=$(commands second '^e3')
[ "$first" -eq 0 ] || [ "$other" -eq 0 ] || fail "--path wrote to both bridges ($first, $other)"
[ "$first" -gt 0 ] || [ "$other" -gt 0 ] || fail "--path wrote to neither bridge"

# The update read the new version where the bridge came back: no wait here.
vtx_bridge --json update --all $files >all.json 2>all.err
status=$?
[ "$status" -eq 0 ] || fail "--all ended with $status: $(cat all.json all.err)"
[ "$(outcomes all.json)" = "current updated " ] || fail "--all: $(cat all.json)"
[ "$(commands bridge '^e3')" -gt 0 ] && [ "$(commands second '^e3')" -gt 0 ] ||
    fail "--all left a bridge unwritten"

before=$(writes)
vtx_bridge update --all $files >again.txt 2>again.err
status=$?
[ "$status" -eq 0 ] || fail "the last --all ended with $status: $(cat again.txt again.err)"
expect_line again.txt "0 updated, 2 current, 0 failed, 0 unconfirmed"
[ "$(writes)" -eq "$before" ] || fail "the last --all sent $(($(writes) - before)) write commands"
note "refused with two bridges, --path updated one, --all the other, then both current"
