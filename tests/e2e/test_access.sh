#!/usr/bin/env bash
# Community rights and filters: read-only, read-write, write-only, unknown
# communities, source-address filters, security levels, undo of a removal;
# views, groups and access entries; contexts; the GetBulk bounds.
source "$SRC/lib.sh"

need_python3
start_serving "$TESTMIB_SO" "$BUILD/lib/snmp/snmp-engine.so"

get() {  # COMMUNITY VERSION NAME: the value part of one snmpget line
    nsnmp snmpget -v"$2" -c "$1" 127.0.0.1 "$3" | sed 's/^[^=]*= //'
}
set_as() {  # COMMUNITY VERSION VALUE: the reply to a set of $TESTMIB.1.0
    expect_out "$TESTMIB.1.0 = INTEGER: $3" snmpset -v"$2" -c "$1" 127.0.0.1 $TESTMIB.1.0 i "$3"
}

step "the default community reads; its sets are refused: noAccess, in v1 readOnly"
expect_eq "INTEGER: 42" "$(get morvel 2c $TESTMIB.1.0)" "read with morvel"
expect_refused "Reason: (readOnly)" snmpset -v1 -c morvel 127.0.0.1 $TESTMIB.1.0 i 7
expect_refused "Reason: noAccess" snmpset -v2c -c morvel 127.0.0.1 $TESTMIB.1.0 i 7
expect_eq "INTEGER: 42" "$(get morvel 2c $TESTMIB.1.0)" "value after the refused sets"

step "a read-write community sets, and gets show the new value"
rw=$(add_community str:5=private bool:6=yes bool:7=yes)
set_as private 2c 7
expect_eq "INTEGER: 7" "$(get morvel 2c $TESTMIB.1.0)" "value after the v2c set"
set_as private 1 -5
expect_eq "INTEGER: -5" "$(get private 1 $TESTMIB.1.0)" "value after the v1 set"
expect_out "$TESTMIB.4.1.1.2.3 = INTEGER: 2300" \
    snmpset -v2c -c private 127.0.0.1 $TESTMIB.4.1.1.2.3 i 2300
expect_eq "INTEGER: 2300" "$(get morvel 2c $TESTMIB.4.1.1.2.3)" "table cell after the set"
expect_out "$TESTMIB.1.0 = INTEGER: 1
$TESTMIB.4.1.1.1.1 = INTEGER: 2" \
    snmpset -v2c -c private 127.0.0.1 $TESTMIB.1.0 i 1 $TESTMIB.4.1.1.1.1 i 2

step "a Set of many bindings writes a few lines, not one per binding"
before=$(grep -c "snmpSet found" "$AGENT_ERR")
# shellcheck disable=SC2046
nsnmp snmpset -v2c -c private 127.0.0.1 $(for _ in $(seq 80); do echo $TESTMIB.1.0 i 1; done) \
    >/dev/null 2>&1 || fail "Set of 80 bindings"
[ $(($(grep -c "snmpSet found" "$AGENT_ERR") - before)) -le 2 ] || fail "a line per binding"

step "sets the plug-in's own leaves refuse are notWritable, in v1 noSuchName"
for binding in "$TESTMIB.2.0 s text" "$TESTMIB.1.0 s text" "$TESTMIB.8.0 i 1" \
    "$TESTMIB.4.1.1.9.9 i 1" "$TESTMIB.4.1.2.1.1 s text"; do
    # shellcheck disable=SC2086
    expect_refused "Reason: notWritable" snmpset -v2c -c private 127.0.0.1 $binding
    # shellcheck disable=SC2086
    expect_refused "Reason: (noSuchName)" snmpset -v1 -c private 127.0.0.1 $binding
done
expect_eq "INTEGER: 1" "$(get morvel 2c $TESTMIB.1.0)" "value after the refused sets"

step "a write-only community sets but sees nothing"
add_community str:5=writer bool:6=no bool:7=yes >/dev/null
set_as writer 2c 99
expect_out "$TESTMIB.1.0 = No Such Object available on this agent at this OID" \
    snmpget -v2c -c writer 127.0.0.1 $TESTMIB.1.0
expect_out "$TESTMIB.1.0 = No more variables left in this MIB View (It is past the end of the MIB tree)" \
    snmpgetnext -v2c -c writer 127.0.0.1 $TESTMIB.1.0
expect_refused "Reason: (noSuchName)" snmpget -v1 -c writer 127.0.0.1 $TESTMIB.1.0

step "unknown communities get no answer, and a flood of them a line a second at most"
lines() { grep -c "$1" "$AGENT_ERR" || true; }
for community in public Morvel "morvel " morve ""; do
    expect_no_answer snmpget -v2c -c "$community" 127.0.0.1 $TESTMIB.1.0
done
expect_no_answer snmpget -v1 -c public 127.0.0.1 $TESTMIB.1.0
expect_no_answer snmpset -v2c -c public 127.0.0.1 $TESTMIB.1.0 i 3
before=$(wc -l <"$AGENT_ERR")
# 20,000 Gets of sysDescr.0 with the community "public", sent in about two seconds.
exec 3>/dev/udp/127.0.0.1/161
for _ in $(seq 20000); do
    printf '\x30\x26\x02\x01\x01\x04\x06public\xa0\x19\x02\x01\x01\x02\x01\x00\x02\x01\x00\x30\x0e\x30\x0c\x06\x08\x2b\x06\x01\x02\x01\x01\x01\x00\x05\x00' >&3
done
exec 3>&-
sleep 1.1
expect_no_answer snmpget -v2c -c public 127.0.0.1 $TESTMIB.1.0
[ $(($(wc -l <"$AGENT_ERR") - before)) -le 20 ] || fail "$(($(wc -l <"$AGENT_ERR") - before)) lines"
[ "$(lines '^held back [0-9]* lines of " authentification failed"$')" -ge 1 ] ||
    fail "no count of the lines held back"

step "a source-address filter that excludes 127.0.0.1 gets no answer"
filtered=$(add_community str:5=filtered bool:6=yes be32:8=10.0.0.7 be32:9=255.255.255.0)
for version in 2c 1; do expect_no_answer snmpget -v$version -c filtered 127.0.0.1 $TESTMIB.1.0; done
cli send 161.1 setobj OBJ_ID="$filtered" be32:8=127.0.0.0 be32:9=255.0.0.0 >/dev/null ||
    fail "widening the filter"
expect_eq "INTEGER: 99" "$(get filtered 2c $TESTMIB.1.0)" "read through the widened filter"
cli send 161.1 setobj OBJ_ID="$filtered" be32:8=127.0.0.2 be32:9=255.255.255.255 >/dev/null ||
    fail "narrowing the filter"
expect_no_answer snmpget -v2c -c filtered 127.0.0.1 $TESTMIB.1.0

step "an IPv6 datagram from an IPv4-mapped source passes no IPv4 filter: dropped and counted"
# A host on another link: a second network namespace behind a veth pair.
unshare --net sleep 60 &
peer=$!
wait_for bash -c "[ \"\$(readlink /proc/$peer/ns/net)\" != \"\$(readlink /proc/self/ns/net)\" ]" ||
    fail "no second namespace"
ip link add snmpa type veth peer name snmpb netns $peer
ip addr add fd00:5::1/64 dev snmpa nodad
ip link set snmpa up
from_peer() { nsenter --net=/proc/$peer/ns/net "$@"; }
from_peer ip addr add fd00:5::2/64 dev snmpb nodad
from_peer ip link set snmpb up
set6() { from_peer timeout 10 "$PYTHON" "$SRC/udp.py" set6 "$@" || fail "set6 $*"; }
bad_names() { get morvel 2c .1.3.6.1.2.1.11.4.0 | sed 's/.*: //'; }
# The same packets with an IPv6 source set the value: the sender is sound.
set6 fd00:5::2 fd00:5::1 private $TESTMIB.1.0 11
wait_for bash -c "snmpget -v2c -c morvel -Oqv 127.0.0.1 $TESTMIB.1.0 | grep -qx 11" ||
    fail "a Set over IPv6 was not applied"
loopback_only=$(add_community str:5=loopback bool:6=yes bool:7=yes be32:8=127.0.0.1 \
    be32:9=255.255.255.255)
before=$(bad_names)
set6 ::ffff:127.0.0.1 fd00:5::1 loopback $TESTMIB.1.0 12
set6 ::ffff:127.0.0.1 fd00:5::1 private $TESTMIB.1.0 13
wait_for bash -c "[ \"\$(snmpget -v2c -c morvel -Oqv 127.0.0.1 .1.3.6.1.2.1.11.4.0)\" = $((before + 2)) ]" ||
    fail "snmpInBadCommunityNames $(bad_names), not $((before + 2))"
expect_eq "INTEGER: 11" "$(get morvel 2c $TESTMIB.1.0)" "value after the forged Sets"
cli send 161.1 removeobj OBJ_ID="$loopback_only" >/dev/null || fail "removeobj $loopback_only"
kill $peer

step "a community with a security level serves no v1 or v2c request"
add_community str:5=secure bool:6=yes u32:15=1 str:11=secure-pw >/dev/null
for version in 2c 1; do expect_no_answer snmpget -v$version -c secure 127.0.0.1 $TESTMIB.1.0; done

step "removing a community stops it; undo brings it back under its old id"
cli send 161.1 removeobj OBJ_ID="$rw" >/dev/null || fail "removeobj $rw"
expect_no_answer snmpget -v2c -c private 127.0.0.1 $TESTMIB.1.0
cli send 161.1 getobj OBJ_ID="$rw" >/dev/null 2>&1 && fail "getobj of the removed id succeeded"
cli undo >/dev/null || fail "undo"
restored=$(cli send 161.1 getobj OBJ_ID="$rw") || fail "getobj $rw after undo: $restored"
expect_contains "$restored" 'str:5="private"' "restored name"
set_as private 2c 8

step "undo of an addition removes the community again"
add_community str:5=shortlived bool:6=yes >/dev/null
expect_eq "INTEGER: 8" "$(get shortlived 2c $TESTMIB.1.0)" "read with the new community"
cli undo >/dev/null || fail "undo of the addition"
expect_no_answer snmpget -v2c -c shortlived 127.0.0.1 $TESTMIB.1.0

step "a community's read view: a walk sees exactly the view, GetBulk the same, Gets outside noSuchObject"
view() { cli snmp view add "$@" >/dev/null || fail "view add $*"; }
view name=mon subtree=$TESTMIB
view name=mon subtree=$TESTMIB.4 type=excluded
view name=mon subtree=$TESTMIB.4.1.1.2
# A wildcard arc (mask ffbf: the column arc free): row 1 of every column of the table.
view name=mon subtree=$TESTMIB.4.1.1.0.1 mask=ffbf
cli snmp community add name=mon read=yes read-view=mon >/dev/null
nsnmp snmpwalk -v2c -c morvel 127.0.0.1 $TESTMIB |
    grep -Ev "^$TESTMIB\.4\." >expected || fail "walk with morvel"
nsnmp snmpwalk -v2c -c morvel 127.0.0.1 $TESTMIB.4.1.1 |
    grep -E "^$TESTMIB\.4\.1\.1\.(2\.|[0-9]+\.1 )" >>expected
sort -o expected expected
# From the root, the walk ends on the view's end: net-snmp shows that endOfMibView.
nsnmp snmpwalk -v2c -c mon 127.0.0.1 .1 | grep -v "No more variables" | sort >walked ||
    fail "walk with mon"
expect_eq "$(cat expected)" "$(cat walked)" "walk within the view"
for repetitions in 1 7 50; do
    nsnmp snmpbulkwalk -v2c -Cr$repetitions -c mon 127.0.0.1 .1 | grep -v "No more variables" |
        sort >bulked
    expect_eq "$(cat walked)" "$(cat bulked)" "bulk walk -Cr$repetitions within the view"
done
expect_out "$TESTMIB.4.1.1.1.2 = No Such Object available on this agent at this OID" \
    snmpget -v2c -c mon 127.0.0.1 $TESTMIB.4.1.1.1.2
expect_refused "Reason: (noSuchName)" snmpget -v1 -c mon 127.0.0.1 $TESTMIB.4.1.1.1.2

step "a group's access: writes only within the write view, all or nothing; a level below the entry's is refused"
cli snmp community add name=auto read=yes write=yes security=priv auth-protocol=sha256 \
    auth-password=auto-auth-pw priv-protocol=aes priv-password=auto-priv-pw >/dev/null
view name=all subtree=1.3
view name=first subtree=$TESTMIB.1
cli snmp group add name=automation model=usm security-name=auto >/dev/null
cli snmp access add group=automation model=usm level=priv read-view=all write-view=first >/dev/null
v3=(-v3 -u auto -a SHA-256 -A auto-auth-pw)
expect_out "$TESTMIB.1.0 = INTEGER: 5" snmpset "${v3[@]}" -l authPriv -x AES -X auto-priv-pw \
    127.0.0.1 $TESTMIB.1.0 i 5
expect_refused "Reason: noAccess" snmpset "${v3[@]}" -l authPriv -x AES -X auto-priv-pw \
    127.0.0.1 $TESTMIB.1.0 i 6 $TESTMIB.4.1.1.2.3 i 6
expect_eq "INTEGER: 5" "$(get morvel 2c $TESTMIB.1.0)" "value after the refused Set"
expect_refused "Reason: authorizationError" snmpget "${v3[@]}" -l authNoPriv 127.0.0.1 $TESTMIB.1.0
cli send 161.1 setobj OBJ_ID="$rw" str:31=nosuchview >/dev/null
expect_refused "Reason: authorizationError" snmpget -v2c -c private 127.0.0.1 $TESTMIB.1.0
cli send 161.1 setobj OBJ_ID="$rw" str:31= >/dev/null

step "the access configuration shows only through a view that includes it"
community_name=.1.3.6.1.6.3.18.1.1.1.2.48  # snmpCommunityName of community 0
expect_out "$community_name = No Such Object available on this agent at this OID" \
    snmpget -v2c -c morvel 127.0.0.1 $community_name
expect_out "$community_name = STRING: \"morvel\"
.1.3.6.1.6.3.16.1.2.1.3.3.4.97.117.116.111 = STRING: \"automation\"" \
    snmpget "${v3[@]}" -l authPriv -x AES -X auto-priv-pw 127.0.0.1 $community_name \
    .1.3.6.1.6.3.16.1.2.1.3.3.4.97.117.116.111

step "an SNMPv3 request for an unknown context is reported and counted"
before=$(get morvel 2c .1.3.6.1.6.3.12.1.5.0 | sed 's/.*: //')
expect_refused "Bad context specified" snmpget "${v3[@]}" -l authPriv -x AES -X auto-priv-pw \
    -n ctx1 127.0.0.1 $TESTMIB.1.0
expect_eq "Counter32: $((before + 1))" "$(get morvel 2c .1.3.6.1.6.3.12.1.5.0)" "snmpUnknownContexts"

step "a GetBulk of two billion repetitions stays within the bounds"
size() { nsnmp snmpbulkget -d -v2c -Cn0 -Cr"$1" -c morvel 127.0.0.1 .1 2>&1 |
    sed -n 's/^Received \([0-9]*\) byte packet.*/\1/p'; }
[ "$(size 2000000000)" -le 1472 ] || fail "reply of $(size 2000000000) octets"
cli snmp set bulk-reply-octets=600 >/dev/null || fail "set bulk-reply-octets"
[ "$(size 2000000000)" -le 600 ] || fail "reply of $(size 2000000000) octets"
expect_eq 3 "$(nsnmp snmpbulkget -v2c -Cr3 -c morvel 127.0.0.1 $TESTMIB.4 | wc -l)" "-Cr3"
cli snmp set bulk-repetitions=2 >/dev/null || fail "set bulk-repetitions"
expect_eq 2 "$(nsnmp snmpbulkget -v2c -Cr3 -c morvel 127.0.0.1 $TESTMIB.4 | wc -l)" "capped -Cr3"
cli snmp set bulk-reply-octets=100 >/dev/null 2>&1 && fail "a bound below 484 octets accepted"

pass
