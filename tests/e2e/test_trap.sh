#!/usr/bin/env bash
# Traps received by net-snmp's snmptrapd on 127.0.0.1:162: the start trap
# after a restart, vendor traps asked for with "orla-cli snmp trap" in SNMPv1,
# SNMPv2c and SNMPv3 (authNoPriv and authPriv), and the lines written when no
# trap can be sent.
source "$SRC/lib.sh"

command -v snmptrapd >/dev/null || { echo "SKIP: snmptrapd needed"; exit 77; }

TRAPD_LOG=/orla/.test/trapd.log
TRAPD_CONF=/orla/.test/trapd.conf
ENGINE_TEXT=trap-lab
# The agent's engine ID: 0x80000000 + 32473, format octet 4, the text.
ENGINE_ID=0x80007ed904$(printf %s "$ENGINE_TEXT" | od -An -tx1 | tr -d ' \n')
VENDOR_TRAP=.1.3.6.1.4.1.32473.1.1.9
SYS_NAME=.1.3.6.1.2.1.1.5.0

cat >"$TRAPD_CONF" <<CONF
disableAuthorization yes
authCommunity log morvel
createUser -e $ENGINE_ID authuser SHA auth-pass-1
createUser -e $ENGINE_ID privuser SHA auth-pass-2 AES priv-pass-2
createUser -e $ENGINE_ID sha2user SHA-512 auth-pass-3 AES-256-C priv-pass-3
authUser log authuser
authUser log privuser priv
authUser log sha2user priv
CONF
# One line per trap: version, community or user, agent address (SNMPv1),
# enterprise, generic and specific number, uptime, context engine ID, then
# the bindings separated by '|' (%V sets the separator).
: >"$TRAPD_LOG"
snmptrapd -f -n -On -Lf "$TRAPD_LOG" -C -c "$TRAPD_CONF" \
    -F 'TRAP s=%s u=%u a=%a N=%N w=%w q=%q T=%T E=%E B=%V|%v\n' \
    udp:127.0.0.1:162 >/dev/null 2>&1 &
TRAPD_PID=$!
trap 'stop_agent; kill $TRAPD_PID && wait $TRAPD_PID || true' EXIT
wait_for grep -q 'NET-SNMP version' "$TRAPD_LOG" || fail "snmptrapd did not start"

traps() { grep '^TRAP ' "$TRAPD_LOG" || true; }
trap_count() { traps | wc -l; }
traps_above() { [ "$(trap_count)" -gt "$1" ]; }  # for wait_for: counted at each try
# Waits for the trap whose line holds TEXT and prints that line.
trap_with() {
    wait_for grep -qF -- "$1" "$TRAPD_LOG" || fail "no trap with [$1]; log: $(cat "$TRAPD_LOG")"
    grep -F -- "$1" "$TRAPD_LOG" | tail -n 1
}
# The trap LINE holds each TEXT, and its uptime field (hundredths of a second)
# says the agent started moments ago (30 s leaves room for a loaded machine;
# the host's uptime would be far more).
expect_trap() {  # LINE TEXT...
    local line=$1 text ticks
    shift
    for text; do expect_contains "$line" "$text" "trap"; done
    ticks=$(sed -n 's/.* T=\([0-9]*\) .*/\1/p' <<<"$line")
    [ -n "$ticks" ] && [ "$ticks" -lt 3000 ] || fail "uptime of [$line]"
}
# A trap request with the binding OID TYPE [VALUE].
send_trap() { cli snmp trap oid="$1" type="$2" ${3+"value=$3"} >/dev/null || fail "trap $*"; }
# With the settings NAME=VALUE... a trap request makes the agent write LINE
# and send nothing: once the settings are back (RESTORE), the next trap is
# the only one that arrives.
expect_no_trap() {  # LINE NAME=VALUE...
    local line=$1 before marker
    shift
    before=$(trap_count)
    cli snmp set "$@" >/dev/null || fail "set $*"
    : >"$AGENT_ERR"
    send_trap $SYS_NAME string lost
    wait_for grep -qxF -- "$line" "$AGENT_ERR" || fail "no line [$line] with $*"
    cli snmp set "${RESTORE[@]}" >/dev/null || fail "restore settings"
    marker=marker-$RANDOM
    send_trap $SYS_NAME string $marker
    trap_with "$marker" >/dev/null
    expect_eq "$((before + 1))" "$(trap_count)" "traps with $*"
}

step "the start trap after a restart, SNMPv1"
start_agent
enable_agent
cli snmp set engine-id=$ENGINE_TEXT trap-target=127.0.0.1 trap-community=0 trap-version=1 \
    trap-generators=start-trap >/dev/null || fail "trap settings"
restart_agent
# warmStart: RFC 3584 3.2 gives a generic trap the enterprise snmpTraps
expect_trap "$(trap_with "N=.1.3.6.1.6.3.1.1.5 ")" "TRAP s=0 u=morvel a=127.0.0.1 " " w=1 q=0 "

step "the start trap after a restart, SNMPv2c"
cli snmp set trap-version=2c >/dev/null || fail "trap-version=2c"
stop_agent
before=$(trap_count)
start_agent
wait_for traps_above "$before" || fail "no start trap in SNMPv2c; log: $(cat "$TRAPD_LOG")"
expect_trap "$(traps | tail -n 1)" "TRAP s=1 u=morvel " \
    ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.2"
cli snmp set trap-generators=none >/dev/null || fail "no generators"

step "vendor trap, SNMPv1, with a string binding"
cli snmp set trap-version=1 >/dev/null || fail "trap-version=1"
send_trap $SYS_NAME string edge-v1
line=$(trap_with '"edge-v1"')
expect_trap "$line" "TRAP s=0 u=morvel a=127.0.0.1 N=$VENDOR_TRAP w=6 q=" \
    "B=$SYS_NAME = STRING: \"edge-v1\""
# snmptrapd shows the specific number of an SNMPv1 trap as ".1".
grep -qE " q=\.?1 " <<<"$line" || fail "specific number of [$line]"

step "vendor trap, SNMPv2c, with an integer, an OID, a counter, and without a binding"
cli snmp set trap-version=2c >/dev/null || fail "trap-version=2c"
while read -r oid type value shown; do
    send_trap "$oid" "$type" ${value:+"$value"}
    expect_trap "$(trap_with "$oid = $shown")" "TRAP s=1 u=morvel " \
        ".1.3.6.1.6.3.1.1.4.1.0 = OID: $VENDOR_TRAP.0.1|"
done <<TRAPS
.1.3.6.1.4.1.32473.5.1 integer -5 INTEGER: -5
.1.3.6.1.4.1.32473.5.2 oid 1.3.6.1.4.1.32473.77 OID: .1.3.6.1.4.1.32473.77
.1.3.6.1.4.1.32473.5.3 counter 4294967295 Counter32: 4294967295
TRAPS
before=$(trap_count)
send_trap $SYS_NAME null
trap_with "$SYS_NAME = NULL" >/dev/null
cli snmp trap >/dev/null || fail "trap without binding"
wait_for traps_above $((before + 1)) || fail "no trap without binding"
line=$(traps | tail -n 1)
expect_contains "$line" "= OID: $VENDOR_TRAP.0.1" "trap without binding"
[ "$(grep -o '|' <<<"$line" | wc -l)" = 1 ] || fail "bindings of [$line]"

step "vendor trap, SNMPv3 authNoPriv and authPriv, SHA-512 with AES-256-C too"
authuser=$(cli snmp community add name=authuser security=auth auth-protocol=1 \
    auth-password=auth-pass-1) || fail "add authuser"
privuser=$(cli snmp community add name=privuser security=priv auth-protocol=1 \
    auth-password=auth-pass-2 priv-protocol=1 priv-password=priv-pass-2) || fail "add privuser"
cli snmp set trap-version=3 trap-community="$authuser" >/dev/null || fail "v3 authuser"
send_trap $SYS_NAME string edge-auth
# snmptrapd shows the context engine ID as spaced upper-case hex octets.
spaced=$(sed 's/../& /g; s/ $//' <<<"${ENGINE_ID#0x}" | tr a-f A-F)
expect_trap "$(trap_with '"edge-auth"')" "TRAP s=3 u=authuser " "E=$spaced " \
    "= OID: $VENDOR_TRAP.0.1|"
cli snmp set trap-community="$privuser" >/dev/null || fail "v3 privuser"
send_trap $SYS_NAME ipaddress 192.0.2.33
expect_contains "$(trap_with "IpAddress: 192.0.2.33")" "TRAP s=3 u=privuser " "v3 authPriv user"
# The longest MAC (48 octets) with the key extension of AES-256-C.
sha2user=$(cli snmp community add name=sha2user security=priv auth-protocol=sha512 \
    auth-password=auth-pass-3 priv-protocol=aes256c priv-password=priv-pass-3) || fail "add sha2user"
cli snmp set trap-community="$sha2user" >/dev/null || fail "v3 sha2user"
send_trap $SYS_NAME string edge-sha2
expect_contains "$(trap_with '"edge-sha2"')" "TRAP s=3 u=sha2user " "v3 SHA-512/AES-256-C user"
grep -qx "snmp v3 trap" "$AGENT_OUT" || fail "no \"snmp v3 trap\" line"

step "authenticationFailure: for a wrong community or digest, at most one a second"
cli snmp set auth-traps=yes trap-version=2c trap-community=0 >/dev/null || fail "auth-traps"
AUTH_FAILURE="= OID: .1.3.6.1.6.3.1.1.5.5"
auth_traps() { grep -cF -- "$AUTH_FAILURE" "$TRAPD_LOG" || true; }
auth_traps_above() { [ "$(auth_traps)" -gt "$1" ]; }  # for wait_for: counted at each try
expect_no_answer snmpget -v2c -c wrong 127.0.0.1 $SYS_NAME
expect_trap "$(trap_with "$AUTH_FAILURE")" "TRAP s=1 u=morvel "
sleep 1.1
before=$(auth_traps)
expect_refused "Authentication failure" snmpget -v3 -u authuser -l authNoPriv -a SHA -A wrong-pass-1 \
    127.0.0.1 $SYS_NAME
wait_for auth_traps_above "$before" || fail "no trap for a wrong digest"
# 2,000 bad datagrams: a trap a second at most while they come, not thousands.
sleep 1.1
before=$(auth_traps)
started=$(date +%s%N)
exec 3>/dev/udp/127.0.0.1/161
for _ in $(seq 2000); do
    printf '\x30\x26\x02\x01\x01\x04\x06public\xa0\x19\x02\x01\x01\x02\x01\x00\x02\x01\x00\x30\x0e\x30\x0c\x06\x08\x2b\x06\x01\x02\x01\x01\x01\x00\x05\x00' >&3
done
exec 3>&-
wait_for auth_traps_above "$before" || fail "no trap for the flood"
sleep 1
seconds=$((($(date +%s%N) - started) / 1000000000))
flood=$(($(auth_traps) - before))
[ "$flood" -le $((seconds + 1)) ] || fail "$flood authenticationFailure traps in $seconds s of flood"
cli snmp set auth-traps=no >/dev/null || fail "auth-traps=no"
before=$(auth_traps)
expect_no_answer snmpget -v2c -c wrong 127.0.0.1 $SYS_NAME
sleep 0.5
expect_eq "$before" "$(auth_traps)" "authenticationFailure traps while disabled"

step "no trap from a disabled agent, without a sink, or with a removed community"
RESTORE=(enabled=yes trap-target=127.0.0.1 trap-community=0 trap-version=2c)
cli snmp set "${RESTORE[@]}" >/dev/null || fail "settings"
expect_no_trap "send_trap: snmp disabled" enabled=no
expect_no_trap "send_trap: no trap sink specified" trap-target=none
expect_no_trap "send_trap: no trap sink specified" trap-community=none
spare=$(cli snmp community add name=spare read=yes)
cli snmp community remove "$spare" >/dev/null || fail "remove spare"
expect_no_trap "send_trap: createTrap failed" trap-community="$spare"
grep -qxF "createTrap: bad community" "$AGENT_ERR" || fail "no bad community line"
pass
