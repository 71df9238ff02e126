#!/usr/bin/env bash
# Get, GetNext, walks and bulk walks over the test plug-in's objects agree:
# the same instances with the same values in the same order, each once, over
# IPv6 too; in SNMPv3 too, for every security level and protocol pair of
# net-snmp's tools, with sets, and while the engine ID changes under a polling
# manager.
# Refusals, reports and boots are test_snmp_engine's.
source "$SRC/lib.sh"

start_serving "$TESTMIB_SO"

# Instances only: a walk to the end of the tree ends with an endOfMibView
# line, or with "End of MIB" after a version 1 noSuchName.
instances() { grep '^\.' | grep -v '= No more variables left in this MIB View' || true; }

step "snmpwalk v2c from the root"
walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 | instances)
count=$(wc -l <<<"$walk")
# 3 scalars, 3 columns x 12 rows, 2 nested objects, 2 scalars, 2 x 80 big rows
expect_eq 203 "$count" "instances in the walk"
expect_eq "$walk" "$(sort -u -t' ' -k1,1V <<<"$walk")" "walk in OID order, no repeats"
# A writable integer, a read-only string, a counter above 2^31, table cells.
for line in "1.0 = INTEGER: 42" "2.0 = STRING: \"orla test plug-in\"" \
    "3.0 = Counter32: 3000000000" "4.1.2.3.2 = STRING: \"row 3.2\"" "4.1.3.4.3 = INTEGER: -43"; do
    expect_contains "$walk" "$TESTMIB.$line" "walk"
done
expect_eq "$TESTMIB.5.1.0 = INTEGER: 51
$TESTMIB.5.2.0 = INTEGER: 52
$TESTMIB.6.0 = STRING: \"before the big table\"" \
    "$(grep -E "^\\$TESTMIB\\.(5|6)\\." <<<"$walk")" "nested registrations in order"
expect_eq "$TESTMIB.9.1.2.80 = INTEGER: 80" "$(tail -n 1 <<<"$walk")" "last instance"

step "snmpwalk v2c over IPv6 gives the same"
expect_eq "$walk" "$(nsnmp snmpwalk -v2c -c morvel udp6:[::1] .1 | instances)" "udp6 walk"

step "snmpwalk v1 gives the same"
expect_eq "$walk" "$(nsnmp snmpwalk -v1 -c morvel 127.0.0.1 .1 | instances)" "v1 walk"

step "snmpbulkwalk gives the same"
for r in 1 10 1000; do
    expect_eq "$walk" "$(nsnmp snmpbulkwalk -v2c -c morvel -Cr$r 127.0.0.1 .1 | instances)" "-Cr$r"
done

step "past the last instance: endOfMibView in v2c, noSuchName in v1"
end_line="$TESTMIB.9.1.2.80 = No more variables left in this MIB View (It is past the end of the MIB tree)"
expect_eq "$end_line" "$(nsnmp snmpgetnext -v2c -c morvel 127.0.0.1 $TESTMIB.9.1.2.80)" "getnext"
expect_eq "$end_line" "$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 | tail -n 1)" "walk's end"
expect_eq "$end_line" "$(nsnmp snmpbulkwalk -v2c -c morvel -Cr7 127.0.0.1 .1 | tail -n 1)" \
    "bulk walk's end"
expect_refused "(noSuchName)" snmpgetnext -v1 -c morvel 127.0.0.1 $TESTMIB.9.1.2.80

step "getnext of a name between objects answers the next object"
next_name() { nsnmp snmpgetnext -v2c -c morvel 127.0.0.1 "$1" | cut -d' ' -f1; }
expect_eq "$TESTMIB.9.1.1.1" "$(next_name $TESTMIB.7.5)" "getnext between objects"
expect_eq "$TESTMIB.5.2.0" "$(next_name $TESTMIB.5.1.0)" "getnext into the nested leaf"

step "one get of several instances gives the walk's lines"
names="$TESTMIB.1.0 $TESTMIB.3.0 $TESTMIB.4.1.2.4.1 $TESTMIB.5.1.0 $TESTMIB.5.2.0 $TESTMIB.9.1.2.7"
expected=
for name in $names; do expected+=$(grep -F "$name = " <<<"$walk")$'\n'; done
for version in 1 2c; do
    # shellcheck disable=SC2086
    expect_eq "${expected%$'\n'}" "$(nsnmp snmpget -v$version -c morvel 127.0.0.1 $names)" \
        "get v$version"
done

step "get of names that are no instance: noSuchName with its position in v1, exceptions in v2c"
out=$(nsnmp snmpget -v1 -c morvel 127.0.0.1 $TESTMIB.1.0 $TESTMIB.4.1.1 $TESTMIB.2.0 2>&1) &&
    fail "answered: $out"
expect_contains "$out" "(noSuchName)" "get of a column OID"
expect_contains "$out" "Failed object: $TESTMIB.4.1.1" "failed binding"
object="No Such Object available on this agent at this OID"
instance="No Such Instance currently exists at this OID"
expect_eq "$TESTMIB.1.0 = INTEGER: 42
$TESTMIB.1 = $instance
$TESTMIB.1.0.0 = $instance
$TESTMIB.8.0 = $object
$TESTMIB.4.1.1.5.1 = $instance
$TESTMIB.2.0 = STRING: \"orla test plug-in\"
.0.0 = $object
.2.99 = $object" "$(nsnmp snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0 $TESTMIB.1 $TESTMIB.1.0.0 \
    $TESTMIB.8.0 $TESTMIB.4.1.1.5.1 $TESTMIB.2.0 .0.0 .2.99)" "get mixing values and exceptions"

step "SNMPv3 users of every level and protocol pair"
# Each user: name, level, protocols, then its net-snmp options; all may write.
# Before the named ones, the matrix: aNnp authNoPriv with auth code N, aNpM
# authPriv with auth code N and priv code M, for every code (usm.h) by
# net-snmp's name of it.
AUTHS=(MD5 SHA SHA-224 SHA-256 SHA-384 SHA-512)
PRIVS=(DES AES AES-192 AES-256 AES-192-C AES-256-C)
matrix=()
for a in "${!AUTHS[@]}"; do
    matrix+=("a${a}np 1 $a 0 -l authNoPriv -a ${AUTHS[a]} -A auth-PW")
    for p in "${!PRIVS[@]}"; do
        matrix+=("a${a}p$p 2 $a $p -l authPriv -a ${AUTHS[a]} -A auth-PW -x ${PRIVS[p]} -X priv-PW")
    done
done
declare -A OPTS
while read -r user level auth priv opts; do
    add_community str:5="$user" bool:6=yes bool:7=yes u32:15="$level" u32:20="$auth" \
        u32:21="$priv" str:11=auth-"$user" str:12=priv-"$user" >/dev/null </dev/null
    OPTS[$user]=${opts//PW/$user}
done < <(printf '%s\n' "${matrix[@]}"; cat <<'USERS'
plain  0 0 0 -l noAuthNoPriv
md5    1 0 0 -l authNoPriv -a MD5 -A auth-PW
sha    1 1 0 -l authNoPriv -a SHA -A auth-PW
md5des 2 0 0 -l authPriv -a MD5 -A auth-PW -x DES -X priv-PW
shades 2 1 0 -l authPriv -a SHA -A auth-PW -x DES -X priv-PW
md5aes 2 0 1 -l authPriv -a MD5 -A auth-PW -x AES -X priv-PW
shaaes 2 1 1 -l authPriv -a SHA -A auth-PW -x AES -X priv-PW
USERS
)
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
    skip_suffix=
else
    echo "note: net-snmp cannot use DES on this machine ($des); DES users skipped"
    skip_suffix=p0
fi

step "the protocol matrix: a get each, bulk walks as two SHA-2 users"
for entry in "${matrix[@]}"; do
    user=${entry%% *}
    [[ -n $skip_suffix && $user == *"$skip_suffix" ]] && continue
    expect_eq "$PLUGIN" "$(v3 snmpget "$user" 127.0.0.1 $TESTMIB.2.0)" "$user get"
done
for user in a5p5 a2p3; do
    expect_eq "$walk" "$(v3 snmpbulkwalk "$user" -Cr25 127.0.0.1 .1 | instances)" "$user bulk walk"
done
# RFC 3414 3.2 step 6: a wrong password is a wrong digest, whatever the MAC length.
expect_refused "Authentication failure" snmpget -v3 -u a4np -l authNoPriv -a SHA-384 -A wrong-pw-a4 \
    127.0.0.1 $TESTMIB.2.0
expect_refused "Authentication failure" snmpget -v3 -u a3p4 -l authPriv -a SHA-256 -A wrong-pw-a3p4 \
    -x AES-192-C -X priv-a3p4 127.0.0.1 $TESTMIB.2.0

for user in $users; do
    step "user $user: get, walk, bulk walk, set"
    expect_eq "$PLUGIN" "$(v3 snmpget "$user" 127.0.0.1 $TESTMIB.2.0)" "$user get"
    expect_eq "$walk" "$(v3 snmpwalk "$user" 127.0.0.1 .1 | instances)" "$user walk"
    expect_eq "$walk" "$(v3 snmpbulkwalk "$user" -Cr25 127.0.0.1 .1 | instances)" "$user bulk walk"
    value=$((RANDOM % 1000))
    expect_eq "$TESTMIB.1.0 = INTEGER: $value" \
        "$(v3 snmpset "$user" 127.0.0.1 $TESTMIB.1.0 i $value)" "$user set"
    expect_eq "$TESTMIB.8.0 = $object" "$(v3 snmpget "$user" 127.0.0.1 $TESTMIB.8.0)" "$user get"
    out=$(v3 snmpset "$user" 127.0.0.1 $TESTMIB.7.0 s refused 2>&1) &&
        fail "$user: refused set answered: $out"
    expect_contains "$out" "Reason: commitFailed" "$user refused set"
    expect_out "$TESTMIB.1.0 = INTEGER: $value" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
    walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 | instances)
done

step "user shaaes: get over IPv6"
expect_eq "$PLUGIN" "$(v3 snmpget shaaes udp6:[::1] $TESTMIB.2.0)" "udp6 get"

step "a user without write access gets noAccess"
add_community str:5=reader bool:6=yes u32:15=1 u32:20=1 str:11=auth-reader >/dev/null
expect_refused "Reason: noAccess" snmpset -v3 -u reader -l authNoPriv -a SHA -A auth-reader 127.0.0.1 \
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
