#!/usr/bin/env bash
# The system group and example plug-ins. sysContact written through a
# read-write community is kept across a restart, and undo reverts the latest
# write. Every refused Set has its status and leaves everything as it was. The example table is empty without its platform service; with a
# stand-in service running as its own process the rows appear, in index
# order, and a column write reaches the service.
source "$SRC/lib.sh"

SYS=1.3.6.1.2.1.1
EX=1.3.6.1.4.1.32473.99
get() { snmpget -v2c -c morvel -Oqv -t 2 -r 1 127.0.0.1 "$1"; }
walk() { snmpwalk -v2c -c morvel -Oqn -CI -t 2 -r 1 127.0.0.1 "$1"; }
set_private() { nsnmp snmpset -v2c -c private 127.0.0.1 "$@" >/dev/null || fail "snmpset $*"; }
SERVICE_PID=
trap 'stop_agent; [ -z "$SERVICE_PID" ] || kill "$SERVICE_PID" && wait "$SERVICE_PID" || true' EXIT

# Only plug-ins that nobody but root could have written load, each once
# however many links lead to it.
install -m 0666 "$BUILD/lib/snmp/snmp-engine.so" /orla/lib/snmp/open.so
ln -s /orla/lib/snmp /orla/lib/snmp/loop
ln -s /orla/lib/snmp/system.so /orla/lib/snmp/alias.so
start_serving "$BUILD/lib/snmp/system.so" "$BUILD/lib/snmp/example.so" "$TESTMIB_SO"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
add_community str:5=setter bool:6=yes bool:7=yes u32:15=2 u32:20=3 u32:21=3 \
    str:11=setter-auth-pw str:12=setter-priv-pw >/dev/null

step "system group: read-only objects"
expect_contains "$(get $SYS.1.0)" "$(uname -s) $(uname -r)" "sysDescr"
expect_eq "$(hostname)" "$(get $SYS.5.0 | tr -d '"')" "sysName"
expect_eq "iso.3.6.1.4.1.32473.1.2.1" "$(get $SYS.2.0)" "sysObjectID"
expect_eq "78" "$(get $SYS.7.0)" "sysServices"
ticks() { snmpget -v2c -c morvel -Oqvt 127.0.0.1 $SYS.3.0; }
up1=$(ticks)
[[ "$up1" =~ ^[0-9]+$ ]] || fail "sysUpTime is not TimeTicks: [$up1]"
uptime_past() { [ "$(ticks)" -gt "$up1" ]; }
wait_for uptime_past || fail "sysUpTime does not advance"

step "system group: sysORTable lists the modules the agent and the plug-ins registered, each once"
expect_eq 1 "$(grep -c "^plugin refused, not owned by root or writable by group or others: \
/orla/lib/snmp/open.so$" "$AGENT_ERR")" "line of the refused plug-in"
expect_eq ".1.3.6.1.4.1.32473.99 .1.3.6.1.6.3.1 .1.3.6.1.6.3.16 .1.3.6.1.6.3.18" "$(walk $SYS.9.1.2 | cut -d' ' -f2 | sort | paste -sd' ')" \
    "sysORID"
expect_contains "$(walk $SYS.9.1.3)" '"SNMPv2-MIB: the SNMP entity, system group (RFC 3418)"' "sysORDescr"
last=$(snmpwalk -v2c -c morvel -Oqnt 127.0.0.1 $SYS.9.1.4 | cut -d' ' -f2 | sort -n | tail -n 1)
expect_eq "$last" "$(snmpget -v2c -c morvel -Oqvt 127.0.0.1 $SYS.8.0)" "sysORLastChange"

step "system group: writes reach the settings; undo reverts the latest"
set_private $SYS.4.0 s "noc@example.net"
expect_contains "$(cli send 161 get)" '"noc@example.net"' "settings after the set"
# The manager's octets reach the agent's log escaped, never as lines of their own
# (after a pause: the line is written at most once a second).
sleep 1.1
set_private $SYS.6.0 s $'rack 4\\\nforged line'
expect_contains "$(cat "$AGENT_ERR")" 'unpacked s = rack 4\x5c\x0aforged line' "escaped Set value"
if grep -q '^forged' "$AGENT_ERR"; then fail "a Set value wrote a line of its own"; fi
cli undo >/dev/null || fail "undo failed"
location_is() { [ "$(get $SYS.6.0)" = '""' ]; }
wait_for location_is || fail "sysLocation after undo: [$(get $SYS.6.0)]"
expect_eq '"noc@example.net"' "$(get $SYS.4.0)" "sysContact after undoing the location"

step "system group: a refused set has its status and its binding, and changes nothing"
status_of() {  # VERSION BINDING...: "REASON FAILED-OBJECT" of a refused snmpset
    local out who=(-c private)
    [ "$1" = 3 ] && who=(-u setter -l authPriv -a SHA-256 -A setter-auth-pw -x AES-256
        -X setter-priv-pw)
    out=$(nsnmp snmpset -v"$1" "${who[@]}" 127.0.0.1 "${@:2}" 2>&1) && fail "answered: $out"
    sed -n 's/^Reason: (\{0,1\}\([a-zA-Z]*\).*/\1/p; s/^Failed object: //p' <<<"$out" | paste -sd' '
}
long=$(printf 'a%.0s' $(seq 256))
# The platform's refusal: the test plug-in's object whose owner refuses "refused".
refusal="$TESTMIB.7.0 s refused"
while IFS='|' read -r version expected bindings; do
    # shellcheck disable=SC2086
    expect_eq "$expected" "$(status_of "$version" $bindings)" "v$version set $bindings"
done <<CASES
2c|notWritable .$SYS.1.0|$SYS.1.0 s renamed
2c|notWritable .$SYS.3.0|$SYS.3.0 t 5
2c|notWritable .$SYS.5.0|$SYS.5.0 s other-host
2c|wrongType .$SYS.4.0|$SYS.4.0 i 5
2c|wrongLength .$SYS.4.0|$SYS.4.0 s $long
2c|noCreation .$SYS.4.7.7|$SYS.4.7.7 s elsewhere
2c|notWritable .1.3.6.1.9.9.0|$SYS.4.0 s half-applied .1.3.6.1.9.9.0 s x
2c|commitFailed $TESTMIB.7.0|$SYS.4.0 s half-applied $SYS.6.0 s half-applied $refusal
3|notWritable .$SYS.3.0|$SYS.3.0 t 5
3|wrongLength .$SYS.6.0|$SYS.6.0 s $long
3|noCreation .$SYS.6.1|$SYS.6.1 s elsewhere
3|commitFailed $TESTMIB.7.0|$SYS.6.0 s half-applied $refusal
1|noSuchName .$SYS.1.0|$SYS.1.0 s renamed
1|noSuchName .$SYS.4.7.7|$SYS.4.7.7 s elsewhere
1|badValue .$SYS.4.0|$SYS.4.0 i 5
1|genError $TESTMIB.7.0|$SYS.4.0 s half-applied $refusal
CASES
expect_eq '"noc@example.net"' "$(get $SYS.4.0)" "sysContact after the refused sets"
expect_eq '""' "$(get $SYS.6.0)" "sysLocation after the refused sets"
expect_eq "$(hostname)" "$(get $SYS.5.0 | tr -d '"')" "sysName after the refused set"
expect_contains "$(cli send 161 get)" '"noc@example.net"' "settings after the refused sets"

step "example: without its platform service a constant and an empty table"
expect_eq '"example plug-in 1.0"' "$(get $EX.3.0)" "exampleVersion"
expect_eq "0" "$(get $EX.1.0)" "row count without the service"
expect_eq "" "$(walk $EX.2)" "table without the service"

step "example: the service lists three ports; a description written reaches it"
"$BIN/fake_port_map" &
SERVICE_PID=$!
wait_for test -S /orla/run/210.sock || fail "port map service did not start"
expect_eq "3" "$(get $EX.1.0)" "row count from the service"
# Rows keep their cached emptiness until the cache is dropped.
rows_are_3() { [ "$(walk $EX.2.1.2 | wc -l)" = 3 ]; }
wait_for rows_are_3 || fail "port column: [$(walk $EX.2.1.2)]"
expect_eq ".$EX.2.1.3.10.4.101.116.104.48 \"uplink\"
.$EX.2.1.3.10.4.101.116.104.49 \"office\"
.$EX.2.1.3.20.4.101.116.104.49 \"guests\"" "$(walk $EX.2.1.3)" "description column in index order"
expect_eq "1000" "$(get $EX.2.1.4.10.4.101.116.104.48)" "packets of eth0 on VLAN 10"
set_private $EX.2.1.3.10.4.101.116.104.48 s "visitors"
expect_contains "$(cli send 210.1 getall)" 'str:3="visitors"' "service after the set"

step "sysContact survives a restart"
restart_agent
expect_eq '"noc@example.net"' "$(get $SYS.4.0)" "sysContact after restart"
pass
