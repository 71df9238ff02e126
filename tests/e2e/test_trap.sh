#!/usr/bin/env bash
# Traps received by net-snmp's snmptrapd on 127.0.0.1:162: the start trap
# after a restart, vendor traps asked for with "orla-cli snmp trap" in SNMPv1,
# SNMPv2c and SNMPv3 (authNoPriv and authPriv), and the lines written when no
# trap can be sent. Then notification targets: a v2c trap, a v2c inform over
# IPv6 and a v3 authPriv inform at once, each sent every notification once;
# a generator filter; an inform whose receiver starts late, and one whose
# receiver never answers.
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
createUser informer SHA-256 inform-auth-1 AES-256 inform-priv-1
authUser log informer priv
CONF
# One line per trap: version, community or user, agent address (SNMPv1),
# enterprise, generic and specific number, uptime, context engine ID, the
# transport (where from and to), then the bindings separated by '|' (%V
# sets the separator). Each receiver of the targets is an address of its own.
TRAPD_FORMAT='TRAP s=%s u=%u a=%a N=%N w=%w q=%q T=%T E=%E D=%b B=%V|%v\n'
: >"$TRAPD_LOG"
snmptrapd -f -n -On -Lf "$TRAPD_LOG" -C -c "$TRAPD_CONF" -F "$TRAPD_FORMAT" \
    udp:127.0.0.1:162 udp:127.0.0.2:162 udp:127.0.0.5:162 udp6:[::1]:1162 >/dev/null 2>&1 &
TRAPD_PID=$!
LATE_PID=
trap 'stop_agent; kill $TRAPD_PID $LATE_PID && wait || true' EXIT
wait_for grep -q 'NET-SNMP version' "$TRAPD_LOG" || fail "snmptrapd did not start"
install_plugins "$BUILD/lib/snmp/interfaces.so"

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

step "the start trap after a restart, SNMPv1; the settings' sink is target 0"
start_agent
enable_agent
cli snmp set engine-id=$ENGINE_TEXT trap-target=127.0.0.1 trap-community=0 trap-version=1 \
    trap-generators=start-trap >/dev/null || fail "trap settings"
restart_agent
# Today's settings alone, without a target store, send to their sink.
[ ! -e /orla/store/snmp-targets ] || fail "a target store without targets"
expect_contains "$(cli snmp target get 0)" "address: 127.0.0.1" "target 0"
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

step "three targets: a v2c trap, a v2c inform over IPv6, a v3 authPriv inform; each once"
# The lines of snmptrapd for receiver TO holding TEXT. TO: "->[ADDRESS]:PORT";
# snmptrapd shows only the source of IPv6 datagrams, and the [::1] receiver
# is the one IPv6 target.
V6="UDP/IPv6: [::1]:161"
received() { grep -F -- "$1" "$TRAPD_LOG" | grep -cF -- "$2" || true; }  # TO TEXT
received_one() { [ "$(received "$1" "$2")" -ge 1 ]; }                     # for wait_for
expect_once() {  # TO TEXT
    wait_for received_one "$1" "$2" || fail "nothing at $1 with [$2]; log: $(tail "$TRAPD_LOG")"
    expect_eq 1 "$(received "$1" "$2")" "notifications at $1 with [$2]"
}
cli snmp set trap-target=none trap-generators=start-trap >/dev/null || fail "no sink"
informer=$(cli snmp community add name=informer security=priv auth-protocol=sha256 \
    auth-password=inform-auth-1 priv-protocol=aes256 priv-password=inform-priv-1)
v2trap=$(cli snmp target add address=127.0.0.2 version=2c community=0 type=trap \
    generators=start-trap,link-events) || fail "v2c trap target"
cli snmp target add address=[::1] port=1162 version=2c community=0 type=inform >/dev/null ||
    fail "v2c inform target"
cli snmp target add address=127.0.0.5 version=3 community="$informer" type=inform \
    >/dev/null || fail "v3 inform target"
# A refused value: one line, exit status 2, nothing sent.
for bad in address=[127.0.0.9] address=::9 port=0 version=2 type=notify timeout=5 retries=21 \
    generators=none generators=no-such; do
    status=0
    err=$(cli snmp target add address=127.0.0.9 version=2c community=0 type=inform "$bad" \
        2>&1 >/dev/null) || status=$?
    expect_eq "2 1" "$status $(wc -l <<<"$err")" "exit status and lines of target add $bad"
done
restart_agent
# The request the interfaces plug-in sends for a linkDown of ifIndex 7.
link_down() {
    cli send 161 0xfe000b str:1004=link-events u32:2001=3 OBJ_ID=7 u32:6=1 u32:7=1 >/dev/null ||
        fail "link trap request"
}
link_down
LINK_DOWN_7=".1.3.6.1.6.3.1.1.5.3|.1.3.6.1.2.1.2.2.1.1.7 = INTEGER: 7"
for to in "->[127.0.0.2]:162" "$V6" "->[127.0.0.5]:162"; do
    expect_once "$to" "= OID: .1.3.6.1.6.3.1.1.5.2"
    expect_once "$to" "$LINK_DOWN_7"
done
expect_eq 2 "$(received "->[127.0.0.5]:162" "TRAP s=3 u=informer")" "v3 informs"
# snmptrapd answered each inform: acknowledged, nothing sent again.
sleep 1.5
expect_eq 2 "$(received "$V6" "")" "informs over IPv6"
targets=$(cli snmp target print)
# Sent, acknowledged, dropped.
grep -qE '^2 +\[::1\] +1162 +2c +0 +inform .* 2 +2 +0$' <<<"$targets" || fail "target print: $targets"

step "a filter: the v2c trap target no longer receives link-events"
cli snmp target set "$v2trap" generators=start-trap >/dev/null || fail "filter"
link_down
two_link_traps() { [ "$(received "$V6" "$LINK_DOWN_7")" -eq 2 ]; }
wait_for two_link_traps || fail "no second link trap at [::1]:1162"
sleep 0.3
expect_eq 1 "$(received "->[127.0.0.2]:162" "$LINK_DOWN_7")" "link traps at the filtered target"
cli snmp target remove "$v2trap" >/dev/null || fail "remove target"
# The removal's undo brings the target back under its id, filter and all.
cli undo >/dev/null || fail "undo of the remove"
expect_contains "$(cli snmp target get "$v2trap")" "generators: 0xabc0001 (start-trap)" "target back"
cli snmp target remove "$v2trap" >/dev/null || fail "remove target again"

step "a notify view: the v3 user's target no longer receives linkDown"
cli snmp view add name=nolink subtree=1.3 >/dev/null || fail "view"
cli snmp view add name=nolink subtree=1.3.6.1.6.3.1.1.5.3 type=excluded >/dev/null || fail "view"
cli snmp community set "$informer" notify-view=nolink >/dev/null || fail "notify-view"
link_down
three_link_traps() { [ "$(received "$V6" "$LINK_DOWN_7")" -eq 3 ]; }
wait_for three_link_traps || fail "no third link trap at [::1]:1162"
sleep 0.3
expect_eq 2 "$(received "->[127.0.0.5]:162" "$LINK_DOWN_7")" "link traps outside the notify view"
cli snmp community set "$informer" notify-view= >/dev/null || fail "notify-view cleared"

step "an inform to a receiver that starts late arrives once"
late=$(cli snmp target add address=127.0.0.3 port=1163 version=2c community=0 type=inform \
    timeout=400 retries=8) || fail "late target"
send_trap $SYS_NAME string late-one
sleep 1
snmptrapd -f -n -On -Lf "$TRAPD_LOG" -C -c "$TRAPD_CONF" -F "$TRAPD_FORMAT" \
    udp:127.0.0.3:1163 >/dev/null 2>&1 &
LATE_PID=$!
expect_once "->[127.0.0.3]:1163" '"late-one"'
sleep 1
expect_eq 1 "$(received "->[127.0.0.3]:1163" '"late-one"')" "late informs after a while"
cli snmp target remove "$late" >/dev/null || fail "remove late target"

step "an inform no one answers: sent 1 + retries times, dropped and counted; Gets answered"
# Counts the datagrams that reach 127.0.0.4:1164 for 3 s once bound, answering none.
python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.4", 1164)); s.settimeout(0.1)
open("/orla/.test/silent.bound", "w").close()
n, end = 0, time.time() + 3
while time.time() < end:
    try: s.recv(65536); n += 1
    except socket.timeout: pass
print(n)' >/orla/.test/silent.count &
COUNTER_PID=$!
wait_for test -e /orla/.test/silent.bound || fail "no datagram counter"
silent=$(cli snmp target add address=127.0.0.4 port=1164 version=2c community=0 type=inform \
    timeout=300 retries=3) || fail "silent target"
send_trap $SYS_NAME string silent
for _ in 1 2 3 4 5; do
    nsnmp snmpget -v2c -c morvel 127.0.0.1 .1.3.6.1.6.3.10.2.1.3.0 >/dev/null ||
        fail "no answer while the inform waits"
    sleep 0.3
done
wait $COUNTER_PID
expect_eq 4 "$(cat /orla/.test/silent.count)" "transmissions of an unanswered inform"
expect_contains "$(cli snmp target get "$silent")" "dropped: 1" "dropped inform"
pass
