#!/usr/bin/env bash
# SNMPv3 with net-snmp's tools: every security level and protocol pair for
# get, walk, bulk walk and set; the engine ID changed while a manager polls.
# Refusals, reports and boots are test_snmp_engine's.
source "$SRC/lib.sh"

start_serving "$TESTMIB_SO"

# Each user: name, level, protocols, then its net-snmp options; all may write.
declare -A OPTS
while read -r user level auth priv opts; do
    add_community str:5="$user" bool:6=yes bool:7=yes u32:15="$level" u32:20="$auth" \
        u32:21="$priv" str:11=auth-"$user" str:12=priv-"$user" >/dev/null </dev/null
    OPTS[$user]=${opts//PW/$user}
done <<'USERS'
plain  0 0 0 -l noAuthNoPriv
md5    1 0 0 -l authNoPriv -a MD5 -A auth-PW
sha    1 1 0 -l authNoPriv -a SHA -A auth-PW
md5des 2 0 0 -l authPriv -a MD5 -A auth-PW -x DES -X priv-PW
shades 2 1 0 -l authPriv -a SHA -A auth-PW -x DES -X priv-PW
md5aes 2 0 1 -l authPriv -a MD5 -A auth-PW -x AES -X priv-PW
shaaes 2 1 1 -l authPriv -a SHA -A auth-PW -x AES -X priv-PW
USERS
v3() {  # TOOL USER ARGS...: the tool as that user against the agent
    local tool=$1 user=$2
    shift 2
    # shellcheck disable=SC2086
    nsnmp "$tool" -v3 -u "$user" ${OPTS[$user]} "$@"
}
PLUGIN="$TESTMIB.2.0 = STRING: \"orla test plug-in\""

users="plain md5 sha md5aes shaaes"
step "net-snmp's DES"
# net-snmp needs OpenSSL's legacy provider for DES; without it the tool
# cannot encrypt at all, which says nothing about the agent.
if des=$(v3 snmpget md5des 127.0.0.1 $TESTMIB.1.0 2>&1) ||
    ! grep -qiE 'encrypt|crypt|unsupported' <<<"$des"; then
    users+=" md5des shades"
else
    echo "note: net-snmp cannot use DES on this machine ($des); DES users skipped"
fi

walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 $TESTMIB)
[ "$(wc -l <<<"$walk")" -gt 100 ] || fail "short reference walk"
for user in $users; do
    step "user $user: get, walk, bulk walk, set"
    expect_eq "$PLUGIN" "$(v3 snmpget "$user" 127.0.0.1 $TESTMIB.2.0)" "$user get"
    expect_eq "$walk" "$(v3 snmpwalk "$user" 127.0.0.1 $TESTMIB)" "$user walk"
    expect_eq "$walk" "$(v3 snmpbulkwalk "$user" -Cr25 127.0.0.1 $TESTMIB)" "$user bulk walk"
    value=$((RANDOM % 1000))
    expect_eq "$TESTMIB.1.0 = INTEGER: $value" \
        "$(v3 snmpset "$user" 127.0.0.1 $TESTMIB.1.0 i $value)" "$user set"
    expect_out "$TESTMIB.1.0 = INTEGER: $value" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
    walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 $TESTMIB)
done

step "a user without write access gets readOnly"
add_community str:5=reader bool:6=yes u32:15=1 u32:20=1 str:11=auth-reader >/dev/null
expect_refused "(readOnly)" snmpset -v3 -u reader -l authNoPriv -a SHA -A auth-reader 127.0.0.1 \
    $TESTMIB.1.0 i 1

step "the engine ID changes while a manager polls"
poll_log=/orla/.test/poll.log
(
    for _ in $(seq 40); do
        v3 snmpget shaaes 127.0.0.1 $TESTMIB.2.0 >>"$poll_log" 2>&1 || echo "POLL FAILED" >>"$poll_log"
        sleep 0.1
    done
) &
poller=$!
sleep 1
cli send 161 set str:10=newid >/dev/null || fail "set the engine ID"
wait "$poller"
expect_eq 0 "$(grep -c 'POLL FAILED' "$poll_log" || true)" "polls across the engine ID change"
expect_eq 40 "$(grep -c 'orla test plug-in' "$poll_log")" "answered polls"
expect_eq "$PLUGIN" "$(v3 snmpget shaaes 127.0.0.1 $TESTMIB.2.0)" "fresh get after the change"
new_id=0x80007ed904$(printf newid | od -An -tx1 | tr -d ' \n')
expect_eq "$PLUGIN" "$(v3 snmpget md5 -e "$new_id" 127.0.0.1 $TESTMIB.2.0)" "get naming the new engine ID"

pass
