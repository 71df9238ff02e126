#!/usr/bin/env bash
# The system group plug-in: read its objects over SNMP, write sysContact
# with a read-write community, see the write kept across a restart and
# reverted by the platform's undo.
source "$(dirname "$0")/lib.sh"

SYS=1.3.6.1.2.1.1
get() { snmpget -v2c -c "${2:-morvel}" -Oqv -t 2 -r 1 127.0.0.1 "$1"; }
contact_is() { [ "$(get $SYS.4.0)" = "$1" ]; }

start_serving "$BUILD/lib/snmp/system.so"

step "read-only objects"
expect_contains "$(get $SYS.1.0)" "$(uname -s) $(uname -r)" "sysDescr"
expect_eq "$(hostname)" "$(get $SYS.5.0 | tr -d '"')" "sysName"
expect_eq "iso.3.6.1.4.1.32473.1.2.1" "$(get $SYS.2.0)" "sysObjectID"
expect_eq "78" "$(get $SYS.7.0)" "sysServices"
up1=$(snmpget -v2c -c morvel -Oqvt 127.0.0.1 $SYS.3.0)
[[ "$up1" =~ ^[0-9]+$ ]] || fail "sysUpTime is not TimeTicks: [$up1]"
uptime_past() { [ "$(snmpget -v2c -c morvel -Oqvt 127.0.0.1 $SYS.3.0)" -gt "$1" ]; }
wait_for uptime_past "$up1" ||
    fail "sysUpTime does not advance"

step "a read-only community cannot write"
if snmpset -v2c -c morvel -t 2 -r 0 127.0.0.1 $SYS.4.0 s "x" >/dev/null 2>&1; then
    fail "set with the read-only community succeeded"
fi

step "set sysContact through a read-write community"
cli send 161.1 addobj str:5=private bool:6=yes bool:7=yes >/dev/null || fail "addobj failed"
snmpset -v2c -c private -t 2 -r 1 127.0.0.1 $SYS.4.0 s "noc@example.net" >/dev/null ||
    fail "snmpset sysContact failed"
expect_contains "$(cli send 161 get)" '"noc@example.net"' "settings after the set"
snmpset -v2c -c private -t 2 -r 1 127.0.0.1 $SYS.6.0 s "rack 4" >/dev/null ||
    fail "snmpset sysLocation failed"
wait_for contact_is '"noc@example.net"' || fail "sysContact: got [$(get $SYS.4.0)]"

step "undo reverts the last change"
cli undo >/dev/null || fail "undo failed"
location_is() { [ "$(get $SYS.6.0)" = "$1" ]; }
wait_for location_is '""' || fail "sysLocation after undo: [$(get $SYS.6.0)]"
expect_eq '"noc@example.net"' "$(get $SYS.4.0)" "sysContact after undoing the location"

step "the value survives a restart"
restart_agent
expect_eq '"noc@example.net"' "$(get $SYS.4.0)" "sysContact after restart"
pass
