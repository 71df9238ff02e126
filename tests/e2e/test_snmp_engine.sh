#!/usr/bin/env bash
# The snmp-engine plug-in: snmpEngineID, snmpEngineBoots and snmpEngineTime
# read over SNMPv2c agree with what SNMPv3 discovery learns from the message
# headers; refused SNMPv3 requests count in usmStats; a restart counts a boot.
source "$SRC/lib.sh"

ENGINE=.1.3.6.1.6.3.10.2.1
USM_STATS=.1.3.6.1.6.3.15.1.1

get() { nsnmp snmpget -v2c -c morvel -Oqvx 127.0.0.1 "$1"; }
# Hex octets without spaces, upper case.
hex() { tr -d ' \n"' | tr a-f A-F; }
# What net-snmp's discovery learnt, as "ENGINEID|BOOTS|TIME": the last engine
# time entry it set (its debug output). The unknown user's request is refused.
discover() {
    local out
    out=$(nsnmp snmpget -v3 -u nobody -l noAuthNoPriv -Dlcd_set_enginetime 127.0.0.1 \
        $ENGINE.1.0 2>&1) || true
    tr '\n' ' ' <<<"$out" | grep -oE 'engineID [0-9A-F ]+ : boots=[0-9]+, time=[0-9]+' |
        tail -n 1 | sed -E 's/engineID (.*) : boots=(.*), time=(.*)/\1|\2|\3/; s/ //g'
}
# Counts the growth of a usmStats counter over a command: counted ARC CMD...
counted() {
    local arc=$1 before
    shift
    before=$(get $USM_STATS.$arc.0)
    "$@" </dev/null >/dev/null 2>&1 || true
    echo $(($(get $USM_STATS.$arc.0) - before))
}

start_serving "$BUILD/lib/snmp/snmp-engine.so"
add_community str:5=ops bool:6=yes u32:15=1 u32:20=0 str:11=ops-auth-pw >/dev/null
add_community str:5=vault bool:6=yes u32:15=2 u32:20=1 u32:21=1 str:11=vault-auth-pw \
    str:12=vault-priv-pw >/dev/null

step "the engine ID is read live"
expect_out "$ENGINE.4.0 = INTEGER: 65507" snmpget -v2c -c morvel 127.0.0.1 $ENGINE.4.0
expect_eq 80007ED904 "$(get $ENGINE.1.0 | hex)" "default snmpEngineID"
cli send 161 set str:10=edge-7 >/dev/null || fail "set the engine ID"
engine_id=80007ED904$(printf edge-7 | od -An -tx1 | hex)
expect_eq "$engine_id" "$(get $ENGINE.1.0 | hex)" "snmpEngineID after the change"

step "discovery learns the same engine ID, boots and time"
time_past() { [ "$(get $ENGINE.3.0)" -ge "$1" ]; }
wait_for time_past 2 || fail "snmpEngineTime does not advance: $(get $ENGINE.3.0)"
check_discovery() {
    local time_before time_after id boots time
    time_before=$(get $ENGINE.3.0)
    IFS='|' read -r id boots time <<<"$(discover)"
    time_after=$(get $ENGINE.3.0)
    expect_eq "$engine_id" "$id" "discovered engine ID"
    expect_eq "$(get $ENGINE.2.0)" "$boots" "discovered boots"
    [ "$time_before" -le "$time" ] && [ "$time" -le "$time_after" ] ||
        fail "discovered time $time outside snmpEngineTime $time_before..$time_after"
}
check_discovery

step "refused requests count once each"
# Each tool discovers first (one unknown engine ID), then is refused. The
# encrypted PDU hides the request id: counted, but no report is sent. Boots
# from the future, no discovery: the report resynchronises the tool.
V3="nsnmp snmpget -v3 -r 0"
while read -r arc name command; do
    # shellcheck disable=SC2086
    expect_eq 1 "$(counted "$arc" $command)" "$name"
done <<TABLE
3 usmStatsUnknownUserNames $V3 -u nobody -l noAuthNoPriv 127.0.0.1 $ENGINE.1.0
5 usmStatsWrongDigests $V3 -u ops -l authNoPriv -a MD5 -A wrong-pw 127.0.0.1 $ENGINE.1.0
4 usmStatsUnknownEngineIDs $V3 -u nobody -l noAuthNoPriv 127.0.0.1 $ENGINE.1.0
1 usmStatsUnsupportedSecLevels $V3 -u ops -l noAuthNoPriv 127.0.0.1 $ENGINE.1.0
6 usmStatsDecryptionErrors expect_no_answer snmpget -v3 -u vault -l authPriv -a SHA \
-A vault-auth-pw -x AES -X wrong-pw 127.0.0.1 $ENGINE.1.0
2 usmStatsNotInTimeWindows $V3 -u ops -l authNoPriv -a MD5 -A ops-auth-pw -e 0x$engine_id \
-Z 999,0 127.0.0.1 $ENGINE.1.0
TABLE

step "a restart counts one more boot"
boots=$(get $ENGINE.2.0)
restart_agent
expect_eq $((boots + 1)) "$(get $ENGINE.2.0)" "snmpEngineBoots after the restart"
check_discovery

pass
