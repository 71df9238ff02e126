#!/usr/bin/env bash
# The snmp-engine plug-in and refused SNMPv3 requests: snmpEngineID,
# snmpEngineBoots and snmpEngineTime read over SNMPv2c agree with what SNMPv3
# discovery learns from the message headers; each refused request (wrong
# password or protocol, unknown user, a level below the user's, a source
# address outside the user's filter, unknown protocols) counts
# once in usmStats and is told to the manager, also when its request id is
# encrypted; no password reaches the diagnostics; a restart counts a boot.
# pysnmp, and requests made by udp.py with octets after the scoped PDU, are
# answered at authPriv; a Report is never answered.
source "$SRC/lib.sh"
need_python3 pysnmp Cryptodome

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

ip addr add 10.161.0.1/32 dev lo
start_serving "$BUILD/lib/snmp/snmp-engine.so"
add_community str:5=ops bool:6=yes u32:15=1 u32:20=0 str:11=ops-auth-pw >/dev/null
add_community str:5=vault bool:6=yes u32:15=2 u32:20=1 u32:21=1 str:11=vault-auth-pw \
    str:12=vault-priv-pw >/dev/null
add_community str:5=local bool:6=yes u32:15=0 be32:8=10.161.0.1 be32:9=255.255.255.255 >/dev/null
add_community str:5=remote bool:6=yes u32:15=1 u32:20=0 str:11=remote-auth-pw be32:8=10.161.0.1 \
    be32:9=255.255.255.255 >/dev/null
# Users with protocols no one knows (9): no keys can be made with an
# unknown hash, and an unknown cipher fails closed.
out=$(cli send 161.1 addobj str:5=badauth bool:6=yes u32:15=1 u32:20=9 str:11=auth-pw-1 2>&1) &&
    fail "a user of an unknown auth protocol was added"
expect_contains "$out" "unknown auth protocol" "add of a user of an unknown auth protocol"
add_community str:5=badpriv bool:6=yes u32:15=2 u32:21=9 str:11=auth-pw-1 str:12=priv-pw-1 >/dev/null

step "the engine ID is read live"
expect_out "$ENGINE.4.0 = INTEGER: 65507" snmpget -v2c -c morvel 127.0.0.1 $ENGINE.4.0
cli send 161 set str:10=edge-7 >/dev/null || fail "set the engine ID"
out=$(cli send 161 set str:10=$(printf '%028d' 0) 2>&1) && fail "a 33-octet engine ID taken: $out"
expect_contains "$out" "at most 27 characters" "a 33-octet engine ID"
engine_id=80007ED904$(printf edge-7 | od -An -tx1 | hex)
expect_eq "$engine_id" "$(get $ENGINE.1.0 | hex)" "snmpEngineID after the change"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
for binding in "$ENGINE.2.0 i 99" "$USM_STATS.5.0 u 777"; do
    # shellcheck disable=SC2086
    expect_refused "Reason: notWritable" snmpset -v2c -c private 127.0.0.1 $binding
done

step "the snmp group counts messages, bad communities and their misuse"
SNMP=.1.3.6.1.2.1.11
packets=$(get $SNMP.1.0)
[ "$packets" -gt 3 ] || fail "snmpInPkts: $packets"
expect_no_answer snmpget -v2c -c wrong 127.0.0.1 $ENGINE.1.0
expect_no_answer snmpget -v1 -c local 127.0.0.1 $ENGINE.1.0  # outside its filter
expect_refused "Reason: noAccess" snmpset -v2c -c morvel 127.0.0.1 $SNMP.30.0 i 1
# Read after the three above: snmpInPkts counts them, and each read before.
expect_eq "$((packets + 4)) 2 1 0 0" "$(nsnmp snmpget -v2c -c morvel -Oqv 127.0.0.1 $SNMP.1.0 \
    $SNMP.4.0 $SNMP.5.0 $SNMP.31.0 $SNMP.32.0 | paste -sd' ')" "snmpInPkts, BadCommunityNames, ...Uses, drops"

step "snmpSetSerialNo takes only the value it holds, and then the next"
SERIAL=.1.3.6.1.6.3.1.1.6.1.0
serial=$(get $SERIAL)
expect_refused "Reason: inconsistentValue" snmpset -v2c -c private 127.0.0.1 $SERIAL i $((serial + 1))
expect_out "$SERIAL = INTEGER: $serial" snmpset -v2c -c private 127.0.0.1 $SERIAL i "$serial"
expect_eq $((serial + 1)) "$(get $SERIAL)" "snmpSetSerialNo after the set"

step "snmpEnableAuthenTraps is the agent's setting"
expect_eq 2 "$(get $SNMP.30.0)" "snmpEnableAuthenTraps at first"
expect_refused "Reason: wrongValue" snmpset -v2c -c private 127.0.0.1 $SNMP.30.0 i 3
nsnmp snmpset -v2c -c private 127.0.0.1 $SNMP.30.0 i 1 >/dev/null || fail "enable auth traps"
expect_contains "$(cli snmp print)" "auth-traps: yes" "setting after the set"

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

step "refused requests count once each and say why"
refused() {  # ARC TEXT OPTIONS: snmpget OPTIONS prints TEXT and counts once in usmStats ARC
    local before out
    before=$(get $USM_STATS.$1.0)
    # shellcheck disable=SC2086
    out=$(nsnmp snmpget -v3 -r 0 $3 127.0.0.1 $ENGINE.1.0 2>&1) || true
    expect_contains "$out" "$2" "$3"
    expect_eq $((before + 1)) "$(get $USM_STATS.$1.0)" "usmStats.$1 after $3"
}
# Each tool discovers first: one unknown engine ID. The user and its source
# filter are checked before any key, so right and wrong keys get the same
# report outside the filter. The last tool claims boots from the future, skipping
# discovery: the report resynchronises it and it gets its answer.
while IFS='|' read -r arc text options; do refused "$arc" "$text" "$options"; done <<TABLE
3|Unknown user name|-u nobody -l noAuthNoPriv
4|Unknown user name|-u nobody -l noAuthNoPriv
3|Unknown user name|-u local -l noAuthNoPriv
5|Authentication failure|-u ops -l authNoPriv -a MD5 -A wrong-pw
5|Authentication failure|-u ops -l authNoPriv -a SHA -A ops-auth-pw
3|Unknown user name|-u nobody -l authNoPriv -a MD5 -A whatever-pw
3|Unknown user name|-u remote -l authNoPriv -a MD5 -A remote-auth-pw
3|Unknown user name|-u remote -l authNoPriv -a MD5 -A wrong-auth-pw
5|Authentication failure (incorrect password, community or key)|-u vault -l authPriv -a SHA -A wrong-pw -x AES -X vault-priv-pw
6|Decryption error|-u vault -l authPriv -a SHA -A vault-auth-pw -x AES -X wrong-pw
6|Decryption error|-u badpriv -l authPriv -a MD5 -A auth-pw-1 -x AES -X priv-pw-1
1|Unsupported security level|-u ops -l authPriv -a MD5 -A ops-auth-pw -x DES -X ops-auth-pw
2|$ENGINE.1.0 = Hex-STRING|-u ops -l authNoPriv -a MD5 -A ops-auth-pw -e 0x$engine_id -Z 999,0
TABLE
# Below its own level a user is authentic, but its access asks for its own
# level: authorizationError, and no usmStats report.
before=$(get $USM_STATS.1.0)
expect_refused "Reason: authorizationError" snmpget -v3 -u ops -l noAuthNoPriv 127.0.0.1 $ENGINE.1.0
expect_refused "Reason: authorizationError" snmpget -v3 -u vault -l authNoPriv -a SHA \
    -A vault-auth-pw 127.0.0.1 $ENGINE.1.0
expect_eq "$before" "$(get $USM_STATS.1.0)" "usmStatsUnsupportedSecLevels after lower levels"
expect_eq "$engine_id" "$(nsnmp snmpget -Oqvx -v3 -u local -l noAuthNoPriv --clientaddr=10.161.0.1 \
    127.0.0.1 $ENGINE.1.0 | hex)" "get from inside the user's filter"
for secret in ops-auth-pw vault-auth-pw vault-priv-pw; do
    grep -qF "$secret" "$AGENT_ERR" "$AGENT_OUT" && fail "$secret in the agent's output"
done
expect_eq 600 "$(stat -c %a /orla/store/snmp-communities)" "mode of the community store"

step "SNMPv3 users over SNMP with snmpusm: created, listed, keys changed, refused without access"
cli snmp community add name=admin read=yes write=yes security=priv auth-protocol=sha256 \
    auth-password=admin-auth-pw priv-protocol=aes256 priv-password=admin-priv-pw >/dev/null
cli snmp community add name=scribe read=yes write=yes security=auth auth-protocol=sha1 \
    auth-password=scribe-auth-pw >/dev/null
admin=(-v3 -u admin -l authPriv -a SHA-256 -A admin-auth-pw -x AES-256 -X admin-priv-pw)
usm() { nsnmp snmpusm "${admin[@]}" 127.0.0.1 "$@" >/dev/null || fail "snmpusm $*"; }
# newuser gets no rights with its keys: a Get it is refused shows that it authenticated.
as_newuser() {
    nsnmp snmpget -v3 -u newuser -l authPriv -a SHA-256 -A "$1" -x AES-256 -X "$2" 127.0.0.1 \
        $ENGINE.2.0 2>&1 || true
}
usm create newuser admin
usm -Ca passwd admin-auth-pw new-auth-pw newuser
usm -Cx passwd admin-priv-pw new-priv-pw newuser
expect_contains "$(as_newuser new-auth-pw new-priv-pw)" "No Such Object" "a Get with the new keys"
# snmpusm exits 0 when its Set fails: its message tells.
expect_contains "$(nsnmp snmpusm -v3 -u newuser -l authPriv -a SHA-256 -A wrong-old-pw -x AES-256 \
    -X new-priv-pw 127.0.0.1 passwd wrong-old-pw other-auth-pw 2>&1)" "Authentication failure" \
    "a passwd with a wrong old password"
expect_contains "$(as_newuser new-auth-pw new-priv-pw)" "No Such Object" "keys after a refused passwd"
USERS=.1.3.6.1.6.3.15.1.2.2.1
expect_eq '"admin" "badpriv" "newuser" "ops" "remote" "scribe" "vault"' \
    "$(nsnmp snmpwalk "${admin[@]}" -Oqv 127.0.0.1 $USERS.3 | sort | paste -sd' ')" "usmUserSecurityName"
expect_eq "" "$(nsnmp snmpwalk "${admin[@]}" -Oqv 127.0.0.1 $USERS.6 | sort -u | tr -d '"')" \
    "usmUserAuthKeyChange reads empty"
# Below authPriv, a read-write user without a view cannot touch the users.
expect_contains "$(nsnmp snmpusm -v3 -u scribe -l authNoPriv -a SHA -A scribe-auth-pw 127.0.0.1 \
    create intruder admin 2>&1)" "Reason: noAccess" "snmpusm create by a user below authPriv"
grep -aq -e admin-auth-pw -e new-auth-pw /orla/store/snmp-communities && fail "a password in the store"

step "a restart counts one more boot; users made over SNMP stay"
boots=$(get $ENGINE.2.0)
restart_agent
expect_contains "$(as_newuser new-auth-pw new-priv-pw)" "No Such Object" "newuser after the restart"
usm delete newuser
expect_contains "$(as_newuser new-auth-pw new-priv-pw)" "Unknown user name" "newuser after its delete"
expect_eq $((boots + 1)) "$(get $ENGINE.2.0)" "snmpEngineBoots after the restart"
expect_eq 1 "$(get .1.3.6.1.2.1.11.30.0)" "snmpEnableAuthenTraps after the restart"
check_discovery

step "pysnmp gets and walks at authPriv: SHA/AES, MD5/DES, both AES-256 key extensions"
# Hashes shorter than the AES-256 key, where the two extensions differ.
add_community str:5=classic bool:6=yes u32:15=2 u32:20=0 u32:21=0 str:11=classic-auth-pw \
    str:12=classic-priv-pw >/dev/null
add_community str:5=blumen bool:6=yes u32:15=2 u32:20=2 u32:21=3 str:11=blumen-auth-pw \
    str:12=blumen-priv-pw >/dev/null
add_community str:5=reeder bool:6=yes u32:15=2 u32:20=1 u32:21=5 str:11=reeder-auth-pw \
    str:12=reeder-priv-pw >/dev/null
aes="vault SHA/AES vault-auth-pw vault-priv-pw"
des="classic MD5/DES classic-auth-pw classic-priv-pw"
blumen="blumen SHA224/AES256 blumen-auth-pw blumen-priv-pw"
reeder="reeder SHA/AES256C reeder-auth-pw reeder-priv-pw"
instances=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1.3 | grep -v 'No more variables left' |
    cut -d' ' -f1 | grep '^\.')
for user in "$aes" "$des" "$blumen" "$reeder"; do
    # shellcheck disable=SC2086
    out=$(udp pysnmp $user $ENGINE.1.0) || fail "pysnmp $user: $out"
    expect_eq "$ENGINE.1.0 ${engine_id,,}
$instances" "$out" "pysnmp $user"
done

step "requests with octets after the scoped PDU inside the cipher text are answered"
# DES: a zero fill to the block and a whole block more; AES: 12 octets. Each
# pair comes after the same request without extra octets, which tells a fault
# of udp.py from one of the agent.
for request in "$aes 0" "$aes 12" "$des 0" "$des 8"; do
    # shellcheck disable=SC2086
    out=$(udp v3 $request $ENGINE.1.0) || fail "$request: $out"
done

step "a Report from the agent's own address and port is not answered"
# Were it answered, the agent would answer its own Reports, each counting one
# more unknown user.
unknown=$(get $USM_STATS.3.0)
udp loop >/dev/null || fail "sending the Report"
sleep 0.2
after=$(get $USM_STATS.3.0)
[ "$after" -le $((unknown + 1)) ] || fail "usmStatsUnknownUserNames went from $unknown to $after"
sleep 1
expect_eq "$after" "$(get $USM_STATS.3.0)" "usmStatsUnknownUserNames a second later"
udp request --version 2 $ENGINE.1.0 >/dev/null && fail "a version 2 request answered"
expect_eq 1 "$(get .1.3.6.1.2.1.11.3.0)" "snmpInBadVersions"

pass
