#!/usr/bin/env bash
# AgentX: net-snmp's snmpd as a subagent of the agent. A walk shows its
# subtrees beside the test plug-in's objects, in order and each once, the
# same as a bulk walk; a subagent killed mid-walk takes its subtrees with it
# and the walk completes; a Set across its objects and ours is all or
# nothing; a stopped one costs its requests a genErr after its
# time-out while the agent's own objects are answered meanwhile, and is
# dropped after repeated time-outs. A subagent's Notify reaches the trap sink,
# and lldpd's neighbour on a veth pair shows in LLDP-MIB.
source "$SRC/lib.sh"

command -v snmpd >/dev/null || { echo "SKIP: snmpd needed"; exit 77; }

SOCKET=/orla/run/agentx
SYS_DESCR=.1.3.6.1.2.1.1.1.0
SUB_PID=

# snmpd as a subagent only: no SNMP port, its state under /orla/.test.
start_subagent() {
    printf 'agentXSocket %s\n' "$SOCKET" >subagent.conf
    snmpd -f -Lo -X -C -c subagent.conf >>subagent.log 2>&1 &
    SUB_PID=$!
    wait_for subagent_serves || fail "subagent not reached"
    # It registers module after module: done when two walks agree.
    local last=0 now
    for _ in $(seq 20); do
        now=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 | wc -l)
        [ "$now" = "$last" ] && return 0
        last=$now
        sleep 0.2
    done
    fail "the subagent's registrations do not settle"
}
subagent_serves() { nsnmp snmpget -v2c -c morvel 127.0.0.1 $SYS_DESCR | grep -q STRING; }

trap 'kill -KILL $SUB_PID 2>/dev/null || true; stop_agent' EXIT

names() { grep '^\.' | grep -v 'No more variables' | cut -d' ' -f1 || true; }

# lldpd's subagent runs as its own group, which the agent then admits.
mode=600
if command -v lldpd >/dev/null && getent group _lldpd >/dev/null; then
    AGENT_ARGS="--agentx-group _lldpd" mode=660
fi
start_serving "$TESTMIB_SO"
wait_for test -S $SOCKET || fail "no AgentX socket"
expect_eq $mode "$(stat -c %a $SOCKET)" "socket mode"
start_subagent

step "a walk shows the subagent's objects beside ours, in order, each once"
walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1) || fail "walk: $walk"
walked=$(names <<<"$walk")
expect_eq "$walked" "$(sort -u -V <<<"$walked")" "walk in OID order, no repeats"
expect_eq 203 "$(grep -c "^\\$TESTMIB\\." <<<"$walked")" "the plug-in's instances"
expect_contains "$walk" "$SYS_DESCR = STRING: \"Linux" "the subagent's sysDescr"
expect_contains "$walked" ".1.3.6.1.2.1.2.2.1.2.1" "the subagent's ifDescr.1"
# What lists the walking tool itself: its process (hrSWRunTable,
# hrSWRunPerfTable), its socket (udpTable, udpEndpointTable).
stable() { grep -Ev '^\.1\.3\.6\.1\.2\.1\.(25\.[45]|7\.[57])\.' || true; }
bulked=$(nsnmp snmpbulkwalk -v2c -c morvel -Cr20 127.0.0.1 .1 | names | stable)
[ "$(stable <<<"$walked")" = "$bulked" ] ||
    fail "bulk walk's names: $(diff <(stable <<<"$walked") - <<<"$bulked")"

step "a Set across our object and the subagent's is all or nothing"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
LIMIT=.1.3.6.1.2.1.92.1.1.1.0  # nlmConfigGlobalEntryLimit.0 (NOTIFICATION-LOG-MIB), the subagent's
values() { nsnmp snmpget -v2c -c morvel -Oqv 127.0.0.1 $TESTMIB.1.0 $LIMIT | tr '\n' ' '; }
expect_out "$TESTMIB.1.0 = INTEGER: 5
$LIMIT = Gauge32: 7" snmpset -v2c -c private 127.0.0.1 $TESTMIB.1.0 i 5 $LIMIT u 7
expect_eq "5 7 " "$(values)" "both set"
# The subagent refuses its binding's type in its TestSet; ours refuses a string.
expect_refused "Failed object: $LIMIT" snmpset -v2c -c private 127.0.0.1 $TESTMIB.1.0 i 6 $LIMIT s x
expect_refused "Failed object: $TESTMIB.1.0" snmpset -v2c -c private 127.0.0.1 $TESTMIB.1.0 s x $LIMIT u 8
expect_eq "5 7 " "$(values)" "neither changed"
nsnmp snmpset -v2c -c private 127.0.0.1 $TESTMIB.1.0 i 42 >/dev/null || fail "set back"

step "a subagent killed mid-walk takes its subtrees; the walk completes"
nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 >cut.txt 2>&1 &
walker=$!
for _ in $(seq 200); do [ "$(stat -c %s cut.txt)" -gt 16384 ] && break; sleep 0.01; done
kill -KILL $SUB_PID
wait $walker || fail "the walk failed: $(grep -v "^\." cut.txt | head -n 3) after $(tail -n 1 cut.txt)"
expect_eq 203 "$(names <cut.txt | grep -c "^\\$TESTMIB\\.")" "the plug-in's instances after the kill"
cut=$(names <cut.txt)
expect_eq "$cut" "$(sort -u -V <<<"$cut")" "cut walk in OID order, no repeats"
[ "$(wc -l <<<"$cut")" -lt "$(wc -l <<<"$walked")" ] || fail "the kill came after the walk"
expect_eq "$SYS_DESCR = No Such Object available on this agent at this OID" \
    "$(nsnmp snmpget -v2c -c morvel 127.0.0.1 $SYS_DESCR)" "sysDescr once the subagent died"

step "a stopped subagent costs genErr after its time-out; our objects are answered meanwhile"
start_subagent
kill -STOP $SUB_PID
start=$(date +%s%N)
nsnmp snmpget -v2c -c morvel -t 5 -r 0 127.0.0.1 $SYS_DESCR >stopped.txt 2>&1 &
getter=$!
sleep 0.2
expect_eq "$TESTMIB.1.0 = INTEGER: 42" \
    "$(nsnmp snmpget -v2c -c morvel -t 0.5 -r 0 127.0.0.1 $TESTMIB.1.0)" "local get while waiting"
wait $getter || true
elapsed=$((($(date +%s%N) - start) / 1000000))
expect_contains "$(cat stopped.txt)" "(genError)" "get from the stopped subagent"
[ "$elapsed" -ge 900 ] && [ "$elapsed" -lt 4000 ] || fail "genErr after $elapsed ms"
# Two more time-outs in a row close its session and its subtrees leave.
for _ in 1 2; do nsnmp snmpget -v2c -c morvel -t 5 -r 0 127.0.0.1 $SYS_DESCR >/dev/null 2>&1 || true; done
expect_eq "$SYS_DESCR = No Such Object available on this agent at this OID" \
    "$(nsnmp snmpget -v2c -c morvel 127.0.0.1 $SYS_DESCR)" "sysDescr once the session was closed"
kill -KILL $SUB_PID

step "a subagent's Notify goes to the trap sink"
need_python3
printf 'disableAuthorization yes\n' >trapd.conf
snmptrapd -f -n -On -Lf trapd.log -C -c trapd.conf -F 'TRAP %v\n' udp:127.0.0.1:162 >/dev/null 2>&1 &
SUB_PID="$SUB_PID $!"  # killed at the end with the subagent
wait_for grep -q 'NET-SNMP version' trapd.log || fail "snmptrapd did not start"
cli snmp set trap-target=127.0.0.1 trap-community=0 trap-version=2c >/dev/null || fail "trap sink"
# Open, then Notify snmpTrapOID.0 = 1.3.6.1.4.1.99.0.7 with one INTEGER binding.
timeout 10 "$PYTHON" - "$SOCKET" <<'PY' || fail "the Notify was not acknowledged"
import socket, struct, sys
def oid(arcs):
    return struct.pack(">BBBB", len(arcs), 0, 0, 0) + b"".join(struct.pack(">I", a) for a in arcs)
def pdu(kind, session, payload):
    return struct.pack(">BBBBIIII", 1, kind, 0x10, 0, session, 1, 1, len(payload)) + payload
def response(s):
    header = s.recv(20)
    body = s.recv(struct.unpack(">I", header[16:20])[0]) if header[16:20] != b"\0" * 4 else b""
    assert header[1] == 18 and struct.unpack(">H", body[4:6])[0] == 0, (header, body)
    return struct.unpack(">I", header[4:8])[0]
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(pdu(1, 0, b"\0\0\0\0" + oid([]) + struct.pack(">I", 0)))
session = response(s)
bindings = struct.pack(">HH", 6, 0) + oid([1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0]) + oid([1, 3, 6, 1, 4, 1, 99, 0, 7])
bindings += struct.pack(">HH", 2, 0) + oid([1, 3, 6, 1, 4, 1, 99, 1, 0]) + struct.pack(">I", 5)
s.sendall(pdu(12, session, bindings))
response(s)
PY
wait_for grep -q '1.3.6.1.4.1.99.0.7' trapd.log || fail "no trap: $(cat trapd.log)"
expect_contains "$(cat trapd.log)" ".1.3.6.1.4.1.99.1.0 = INTEGER: 5" "the Notify's binding"

if [ $mode = 660 ]; then
    step "lldpd as a subagent: its neighbour on a veth pair shows in LLDP-MIB"
    mount -t tmpfs tmpfs /run  # lldpd's chroot, in the namespace
    ip link add lldp0 type veth peer name lldp1
    unshare --net sleep 100 &
    peer=$!
    SUB_PID="$SUB_PID $peer"
    # Its namespace exists once unshare became sleep.
    wait_for grep -qx sleep /proc/$peer/comm || fail "no namespace for the neighbour"
    ip link set lldp1 netns $peer
    ip link set lldp0 up
    nsenter -t $peer -n ip link set lldp1 up
    lldpd -d -x -X $SOCKET -u /orla/.test/lldpd.sock -I lldp0 -L "" >lldpd.log 2>&1 &
    SUB_PID="$SUB_PID $!"
    # The neighbour speaks once lldpd listens on lldp0, and then every second.
    wait_for lldpcli -u /orla/.test/lldpd.sock show interfaces ports lldp0 || fail "lldpd: $(cat lldpd.log)"
    nsenter -t $peer -n lldpd -d -u /orla/.test/peer.sock -I lldp1 -L "" -S "the neighbour" \
        >peer.log 2>&1 &
    SUB_PID="$SUB_PID $!"
    wait_for lldpcli -u /orla/.test/peer.sock configure lldp tx-interval 1 || fail "neighbour lldpd"
    # lldpRemSysDesc (LLDP-MIB, IEEE 802.1AB).
    neighbour() { nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1.0.8802.1.1.2.1.4.1.1.10 | grep -q 'the neighbour'; }
    wait_for neighbour || fail "no neighbour: $(lldpcli -u /orla/.test/lldpd.sock show neighbors)"
fi
pass
