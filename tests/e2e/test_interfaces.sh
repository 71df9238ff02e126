#!/usr/bin/env bash
# The IF-MIB plug-in over orla-ifaced: the tables agree with the namespace's
# kernel (ip -j link; /sys stays the host's, whose interfaces differ) through
# traffic, interfaces coming and going and an ifAlias write; loopback and an
# ifb link, which the kernel reports in state unknown, read up; pages of two
# interfaces each; linkDown and linkUp to snmptrapd unless
# ifLinkUpDownTrapEnable says no; SNMPv1 without Counter64; an empty table
# once the service is gone; ifAlias and ifLinkUpDownTrapEnable of an
# interface re-created meanwhile, and link traps, once it is back.
source "$SRC/lib.sh"
command -v snmptrapd >/dev/null || { echo "SKIP: snmptrapd needed"; exit 77; }

IF=.1.3.6.1.2.1.2
IFX=.1.3.6.1.2.1.31
IF_ENTRY=$IF.2.1
IFX_ENTRY=$IFX.1.1.1
IFACED_PID=
TRAPD_LOG=/orla/.test/trapd.log
echo "authCommunity log morvel" >/orla/.test/trapd.conf
: >"$TRAPD_LOG"
# One line per trap: the generic number (SNMPv1), then the bindings.
snmptrapd -f -n -On -Oe -Lf "$TRAPD_LOG" -C -c /orla/.test/trapd.conf \
    -F 'TRAP w=%w B=%V|%v\n' udp:127.0.0.1:162 >/dev/null 2>&1 &
TRAPD_PID=$!
trap 'stop_agent; kill $TRAPD_PID; [ -z "$IFACED_PID" ] || kill "$IFACED_PID"; wait || true' EXIT

# No IPv6 neighbour discovery: the only traffic is what the test sends.
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1

add_veth() {  # NAME PEER: a veth pair, both ends up
    ip link add "$1" type veth peer name "$2"
    ip link set "$1" up
    ip link set "$2" up
}

# Instances only: a walk that reaches the end of the tree ends with an
# endOfMibView line (v2c) or "End of MIB" (v1). V: the version (2c).
instances() { grep -v -e '^End of MIB$' -e ' No more variables left in this MIB View' || true; }
walk() { nsnmp snmpwalk -v"${V:-2c}" -c morvel -Oqt 127.0.0.1 "$1" | instances; }
bulkwalk() { nsnmp snmpbulkwalk -v2c -c morvel -Oqt -Cr7 127.0.0.1 "$1" | instances; }
get() { nsnmp snmpget -v2c -c morvel -Oqvt 127.0.0.1 "$1"; }

links() { ip -s -s -d -j link; }
ifindex() { ip -j link show "$1" | jq '.[0].ifindex'; }
kernel_alias() { ip -j link show "$1" | jq -r '.[0].ifalias // ""'; }
link_count() { links | jq length; }

# Loopback's counters move with every SNMP exchange: drop them from a walk.
without_lo_counters() {
    grep -Ev "^\.1\.3\.6\.1\.2\.1\.(2\.2\.1\.(10|11|13|14|15|16|17|19|20)|31\.1\.1\.1\.(2|6|7|8|10|11))\.$(ifindex lo) " || true
}

# The columns compared with the kernel, as snmpwalk -Oqt prints them, in OID
# order: ifType from the link type, ifOperStatus by RFC 2863 (a link in
# state unknown is up while up and running, LOWER_UP), Counter32 columns as
# the low 32 bits; ifLinkUpDownTrapEnable disabled for loopback and the
# interfaces named in TRAPS_OFF.
export TRAPS_OFF=
KERNEL_COLUMNS='
def c32: . % 4294967296;
def q: "\"" + . + "\"";
def flag($f): any(.flags[]; . == $f);
def iftype: {"ether": 6, "loopback": 24, "none": 53, "ppp": 23}[.link_type] // 1;
def oper: {"UP": 1, "DOWN": 2, "TESTING": 3, "DORMANT": 5, "NOTPRESENT": 6,
           "LOWERLAYERDOWN": 7}[.operstate]
          // (if .operstate == "UNKNOWN" then (if flag("UP") and flag("LOWER_UP") then 1 else 2 end)
              else 4 end);
def row: {
    "2.2.1.1": .ifindex, "2.2.1.2": (.ifname | q), "2.2.1.3": iftype, "2.2.1.4": .mtu,
    "2.2.1.7": (if flag("UP") then 1 else 2 end), "2.2.1.8": oper,
    "2.2.1.10": (.stats64.rx.bytes | c32), "2.2.1.15": ((.stats64.rx.nohandler // 0) | c32),
    "2.2.1.16": (.stats64.tx.bytes | c32),
    "31.1.1.1.1": (.ifname | q), "31.1.1.1.2": (.stats64.rx.multicast | c32),
    "31.1.1.1.6": .stats64.rx.bytes, "31.1.1.1.8": .stats64.rx.multicast,
    "31.1.1.1.10": .stats64.tx.bytes,
    "31.1.1.1.14": (if .link_type == "loopback" or IN(.ifname; $ENV.TRAPS_OFF | splits(" "))
                    then 2 else 1 end),
    "31.1.1.1.16": (if flag("PROMISC") then 1 else 2 end),
    "31.1.1.1.17": (if .parentdev then 1 else 2 end),
    "31.1.1.1.18": ((.ifalias // "") | q)};
[.[] | .ifindex as $i | row | to_entries[] | {column: .key, $i, value}]
| sort_by((.column | split(".") | map(tonumber)), .i)[]
| ".1.3.6.1.2.1.\(.column).\(.i) \(.value)"'
COMPARED='^\.1\.3\.6\.1\.2\.1\.(2\.2\.1\.(1|2|3|4|7|8|10|15|16)|31\.1\.1\.1\.(1|2|6|8|10|14|16|17|18))\.'

expected_columns() { links | jq -r "$KERNEL_COLUMNS" | without_lo_counters; }

agent_columns() { { bulkwalk $IF && bulkwalk $IFX; } | grep -E "$COMPARED" | without_lo_counters; }

columns_agree() { [ "$(agent_columns)" = "$(expected_columns)" ]; }

# Polls (bounded) until the agent's columns agree with the kernel: a cached table
# takes up to its lifetime to follow a change.
expect_columns_agree() {  # WHAT
    for _ in $(seq 20); do
        columns_agree && return 0
        sleep 0.5
    done
    diff <(expected_columns) <(agent_columns) >&2 || true
    fail "$1: the IF-MIB does not agree with the kernel"
}

# Three veth pairs (a kernel without dummy interfaces has them): a0-a1,
# b0-b1, v0-v1. v0 sends to 10.9.0.2 on v1, which has no address: it counts
# the frames and drops them.
for pair in a b v; do add_veth ${pair}0 ${pair}1; done
ip addr add 10.9.0.1/24 dev v0
ip link set v1 promisc on
ip neigh add 10.9.0.2 lladdr "$(ip -j link show v1 | jq -r '.[0].address')" dev v0
# An ifb link: no carrier detection, operstate unknown, yet up and running.
ip link add ifb0 type ifb
ip link set ifb0 up
start_serving "$BUILD/lib/snmp/interfaces.so" "$BUILD/lib/snmp/system.so"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
# Eight interfaces, fetched in four get-all pages.
"$BIN/orla-ifaced" --page-size 2 >>/orla/.test/ifaced.out 2>&1 &
IFACED_PID=$!
wait_for test -S /orla/run/40.sock || fail "orla-ifaced did not start"
cli snmp set trap-target=127.0.0.1 trap-community=0 trap-version=2c \
    trap-generators=link-events >/dev/null || fail "trap settings"

# Waits for the link trap of ifIndex I carrying ifAdminStatus A and
# ifOperStatus O whose line holds TEXT (its snmpTrapOID, or SNMPv1's generic
# number).
link_trap() {  # TEXT I A O
    local bindings="$IF_ENTRY.1.$2 = INTEGER: $2|$IF_ENTRY.7.$2 = INTEGER: $3|$IF_ENTRY.8.$2 = INTEGER: $4\$"
    found() { grep -- "$bindings" "$TRAPD_LOG" | grep -qF -- "$1"; }
    wait_for found "$1" || fail "no trap [$1] for $2: $(cat "$TRAPD_LOG")"
}
LINK_DOWN="= OID: .1.3.6.1.6.3.1.1.5.3|"
link_traps_of() { grep -c -- "$IF_ENTRY.1.$1 = " "$TRAPD_LOG" || true; }  # I

step "names, indexes, MTUs, statuses and counters agree with the kernel, each interface once in index order"
expect_columns_agree "at start"
step "loopback and ifb0, in the kernel's state unknown, read up"
expect_eq "UNKNOWN UNKNOWN" "$(ip -j link show lo | jq -r '.[0].operstate') $(ip -j link show ifb0 | jq -r '.[0].operstate')" \
    "the kernel's operstate of lo and ifb0"
expect_eq "1 1" "$(get $IF_ENTRY.8.$(ifindex lo)) $(get $IF_ENTRY.8.$(ifindex ifb0))" "ifOperStatus of lo and ifb0"
for _ in $(seq 40); do echo payload >/dev/udp/10.9.0.2/9; done
expect_columns_agree "after traffic over v0"
v0=$(ifindex v0)
v1=$(ifindex v1)
[ "$(get $IFX_ENTRY.11.$v0)" -ge 40 ] || fail "ifHCOutUcastPkts of v0 below the datagrams sent"
[ "$(get $IF_ENTRY.11.$v1)" -ge 40 ] || fail "ifInUcastPkts of v1 below the datagrams sent"

step "ifNumber is the row count"
rows=$(link_count)
expect_eq "$rows" "$(get $IF.1.0)" "ifNumber"
expect_eq "$rows" "$(walk $IF_ENTRY.1 | wc -l)" "ifIndex rows"

step "GetNext walks what GetBulk walks"
for tree in $IF $IFX; do
    expect_eq "$(bulkwalk $tree | without_lo_counters)" "$(walk $tree | without_lo_counters)" \
        "walk of $tree"
done

step "an interface set down, and its peer"
b0=$(ifindex b0)
b1=$(ifindex b1)
statuses() { echo "$(get $IF_ENTRY.7.$b0) $(get $IF_ENTRY.8.$b0) $(get $IF_ENTRY.7.$b1) $(get $IF_ENTRY.8.$b1)"; }
ip link set b0 down
# b0 administratively and operationally down; b1 up with its peer gone.
statuses_after_down() { [ "$(statuses)" = "2 2 1 7" ]; }
wait_for statuses_after_down || fail "b0, b1 admin/oper status: $(statuses)"
# ifLastChange: the agent's uptime when the service saw the change.
changed=$(get $IF_ENTRY.9.$b0)
[ "$changed" -gt 0 ] && [ "$changed" -le "$(get .1.3.6.1.2.1.1.3.0)" ] ||
    fail "ifLastChange of b0: $changed"

step "linkDown for b0 (RFC 2863: ifOperStatus the state it left), none for b1 (lowerLayerDown)"
link_trap "$LINK_DOWN" "$b0" 2 1
step "linkUp for b0 in SNMPv1: generic trap 3, ifOperStatus up"
cli snmp set trap-version=1 >/dev/null || fail "trap-version=1"
ip link set b0 up
link_trap "TRAP w=3 " "$b0" 1 1
cli snmp set trap-version=2c >/dev/null || fail "trap-version=2c"
expect_eq 0 "$(link_traps_of "$b1")" "link traps of b1"

step "ifLinkUpDownTrapEnable: 3 is wrongValue; disabled(2), b0 sends no trap while v0 does"
expect_refused "Reason: wrongValue" snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.14.$b0 i 3
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.14.$b0 i 2 >/dev/null || fail "disable b0's traps"
expect_eq 2 "$(get $IFX_ENTRY.14.$b0)" "ifLinkUpDownTrapEnable of b0"
ip link set b0 down
sleep 2  # the service's check after the kernel settled b0's state
ip link set v0 down
link_trap "$LINK_DOWN" "$(ifindex v0)" 2 1
expect_eq 2 "$(link_traps_of "$b0")" "link traps of b0 while disabled"
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.14.$b0 i 1 >/dev/null || fail "enable b0's traps"

step "interfaces added and removed appear after the cache lifetime"
add_veth c0 c1
ip link del a0
expect_columns_agree "after adding c0-c1 and removing a0-a1"
expect_eq "$(link_count)" "$(get $IF.1.0)" "ifNumber after the change"
# ifCounterDiscontinuityTime of c0 and ifTableLastChange: after the agent started.
c0=$(ifindex c0)
for object in $IFX_ENTRY.19.$c0 $IFX.1.5.0; do
    ticks=$(get "$object")
    [ "$ticks" -gt 0 ] && [ "$ticks" -le "$(get .1.3.6.1.2.1.1.3.0)" ] || fail "$object: $ticks"
done

step "an ifAlias write reaches the kernel"
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.18.$c0 s "to the lab" >/dev/null ||
    fail "snmpset ifAlias"
expect_eq "to the lab" "$(kernel_alias c0)" "ifalias of c0"
expect_columns_agree "after the alias write"
# Too long for ifAlias; a newline, which the service refuses; an ifIndex
# with no interface; a read-only column.
expect_refused "Reason: wrongLength" snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.18.$c0 s \
    "$(printf 'x%.0s' $(seq 65))"
expect_refused "Reason: commitFailed" snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.18.$c0 s \
    $'two\nlines'
expect_refused "Reason: noCreation" snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.18.99999 s x
expect_refused "Reason: notWritable" snmpset -v2c -c private 127.0.0.1 $IF_ENTRY.2.$c0 s renamed
expect_eq '"to the lab"' "$(get $IFX_ENTRY.18.$c0)" "ifAlias after the refused writes"
expect_eq "to the lab" "$(kernel_alias c0)" "ifalias after the refused writes"
expect_eq '"c0"' "$(get $IF_ENTRY.2.$c0)" "ifDescr after the refused write"

step "SNMPv1 (RFC 3584 4.2.2.1): the v2c walk less the Counter64 columns, which Get refuses"
# ifHCInOctets, ifHCInUcastPkts, ifHCInMulticastPkts, ifHCOutOctets, ifHCOutUcastPkts
counter64="^\\$IFX_ENTRY\\.(6|7|8|10|11)\\."
v2c=$( (walk $IF && walk $IFX) | cut -d' ' -f1)
[ "$(grep -cE "$counter64" <<<"$v2c")" -eq $((5 * $(link_count))) ] ||
    fail "Counter64 columns missing from the v2c walk"
expect_eq "$(grep -vE "$counter64" <<<"$v2c")" "$( (V=1 walk $IF && V=1 walk $IFX) | cut -d' ' -f1)" \
    "v1 walk"
expect_refused "(noSuchName)" snmpget -v1 -c morvel 127.0.0.1 $IFX_ENTRY.6.$c0

step "a stopped service holds up only the requests that need it, which end in genErr"
kill -STOP "$IFACED_PID"
sleep 2.3  # the interface rows cached so far expire
snmpget -v2c -c morvel -On -t 10 -r 0 127.0.0.1 $IF_ENTRY.2.$c0 >/orla/.test/stalled.out 2>&1 &
stalled=$!
sleep 0.2
for _ in $(seq 10); do
    timeout 5 snmpget -v2c -c morvel -Oqv -t 0.5 -r 0 127.0.0.1 .1.3.6.1.2.1.1.5.0 >/dev/null ||
        fail "sysName held up by the stopped service"
done
wait "$stalled" && fail "ifDescr answered by a stopped service: $(cat /orla/.test/stalled.out)"
expect_contains "$(cat /orla/.test/stalled.out)" "(genError)" "ifDescr of a stopped service"
kill -CONT "$IFACED_PID"
descr_back() { [ "$(get $IF_ENTRY.2.$c0)" = '"c0"' ]; }
wait_for descr_back || fail "ifDescr once the service goes on: $(get $IF_ENTRY.2.$c0)"

step "without the service the tables are empty and the agent answers at once"
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.14.$c0 i 2 >/dev/null || fail "disable c0's traps"
TRAPS_OFF=c0
kill "$IFACED_PID"; wait "$IFACED_PID" || true
IFACED_PID=
table_empty() { [ -z "$(walk $IF_ENTRY.1)" ]; }
wait_for table_empty || fail "rows left without the service: $(walk $IF_ENTRY.1)"
expect_eq "0" "$(get $IF.1.0)" "ifNumber without the service"
expect_eq "" "$(walk $IFX)" "ifXTable without the service"
timeout 10 snmpget -v2c -c morvel -t 3 -r 0 127.0.0.1 .1.3.6.1.2.1.1.1.0 >/dev/null ||
    fail "sysDescr without the service"

step "the service back: c0, re-created meanwhile, has its stored ifAlias and ifLinkUpDownTrapEnable"
ip link del c0
add_veth c0 c1
expect_eq "" "$(kernel_alias c0)" "the kernel's alias of a new c0"
"$BIN/orla-ifaced" >>/orla/.test/ifaced.out 2>&1 &
IFACED_PID=$!
c0=$(ifindex c0)
c0_settings() { [ "$(get $IFX_ENTRY.18.$c0) $(get $IFX_ENTRY.14.$c0)" = '"to the lab" 2' ]; }
wait_for c0_settings || fail "c0 after the restart: $(get $IFX_ENTRY.18.$c0) $(get $IFX_ENTRY.14.$c0)"
expect_eq "to the lab" "$(kernel_alias c0)" "the kernel's alias of c0 after the restart"
expect_columns_agree "after the restart"

step "link-events subscribes again to a service that comes back"
sleep 3.5  # the generator renews its subscription every 3 s
ip link set v0 up
link_trap "= OID: .1.3.6.1.6.3.1.1.5.4|" "$(ifindex v0)" 1 1
pass
