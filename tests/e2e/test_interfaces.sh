#!/usr/bin/env bash
# The IF-MIB plug-in over orla-ifaced: the tables agree with /sys/class/net
# through traffic, interfaces coming and going and an ifAlias write; pages of
# two interfaces each; linkDown and linkUp to snmptrapd unless
# ifLinkUpDownTrapEnable says no; SNMPv1 without Counter64; an empty table
# once the service is gone, and link traps again once it is back.
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

# sysfs shows the network namespace of the process that mounts it.
mount -t sysfs sysfs /sys
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

# "ifindex name" of every interface, in ifindex order.
sys_rows() {
    local dir index
    for dir in /sys/class/net/*; do
        read -r index <"$dir/ifindex"
        echo "$index ${dir##*/}"
    done | sort -n
}

# Loopback's counters move with every SNMP exchange: drop them from a walk.
without_lo_counters() {
    grep -Ev "^\.1\.3\.6\.1\.2\.1\.(2\.2\.1\.(10|11|13|14|16|17|19|20)|31\.1\.1\.1\.(2|6|7|8|10|11))\.$(cat /sys/class/net/lo/ifindex) " || true
}

# The columns compared with sysfs, in OID order: the file of each under the
# interface's directory ("name": its name) and how snmpwalk -Oqt prints it.
COMPARED=("$IF_ENTRY.1 ifindex" "$IF_ENTRY.2 name quoted" "$IF_ENTRY.4 mtu"
    "$IF_ENTRY.10 statistics/rx_bytes 32" "$IF_ENTRY.16 statistics/tx_bytes 32"
    "$IFX_ENTRY.1 name quoted" "$IFX_ENTRY.2 statistics/multicast 32"
    "$IFX_ENTRY.6 statistics/rx_bytes" "$IFX_ENTRY.8 statistics/multicast"
    "$IFX_ENTRY.10 statistics/tx_bytes" "$IFX_ENTRY.14 type linktrap" "$IFX_ENTRY.15 speed mbps"
    "$IFX_ENTRY.16 flags promisc" "$IFX_ENTRY.17 device connector" "$IFX_ENTRY.18 ifalias quoted")

expected_columns() {
    local rows entry column file form index name value
    rows=$(sys_rows)
    for entry in "${COMPARED[@]}"; do
        read -r column file form <<<"$entry"
        while read -r index name; do
            value=$name
            [ "$file" = name ] || { value= && read -r value 2>/dev/null <"/sys/class/net/$name/$file"; } || true
            case $form in
                quoted) value="\"$value\"" ;;
                32) value=$((value & 0xffffffff)) ;;
                linktrap) value=$((value == 772 ? 2 : 1)) ;;  # loopback: disabled
                mbps) [[ $value =~ ^[0-9]+$ ]] || value=0 ;;   # unreadable or -1: 0
                promisc) value=$((value & 0x100 ? 1 : 2)) ;;
                connector) [ -e "/sys/class/net/$name/device" ] && value=1 || value=2 ;;
            esac
            echo "$column.$index $value"
        done <<<"$rows"
    done | without_lo_counters
}

agent_columns() {
    local entry pattern=
    for entry in "${COMPARED[@]}"; do pattern+="${pattern:+|}${entry%% *}"; done
    { bulkwalk $IF && bulkwalk $IFX; } | grep -E "^(${pattern//./\\.})\." | without_lo_counters
}

columns_agree() { [ "$(agent_columns)" = "$(expected_columns)" ]; }

# Polls (bounded) until the agent's columns agree with sysfs: a cached table
# takes up to its lifetime to follow a change.
expect_columns_agree() {  # WHAT
    for _ in $(seq 20); do
        columns_agree && return 0
        sleep 0.5
    done
    diff <(expected_columns) <(agent_columns) >&2 || true
    fail "$1: the IF-MIB does not agree with /sys/class/net"
}

# Three veth pairs (a kernel without dummy interfaces has them): a0-a1,
# b0-b1, v0-v1. v0 sends to 10.9.0.2 on v1, which has no address: it counts
# the frames and drops them.
for pair in a b v; do add_veth ${pair}0 ${pair}1; done
ip addr add 10.9.0.1/24 dev v0
ip link set v1 promisc on
ip neigh add 10.9.0.2 lladdr "$(cat /sys/class/net/v1/address)" dev v0
start_serving "$BUILD/lib/snmp/interfaces.so" "$BUILD/lib/snmp/system.so"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
# Seven interfaces, fetched in four get-all pages.
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

step "names, indexes, MTUs and counters agree with sysfs, each interface once in index order"
expect_columns_agree "at start"
for _ in $(seq 40); do echo payload >/dev/udp/10.9.0.2/9; done
expect_columns_agree "after traffic over v0"
v0=$(cat /sys/class/net/v0/ifindex)
v1=$(cat /sys/class/net/v1/ifindex)
[ "$(get $IFX_ENTRY.11.$v0)" -ge 40 ] || fail "ifHCOutUcastPkts of v0 below the datagrams sent"
[ "$(get $IF_ENTRY.11.$v1)" -ge 40 ] || fail "ifInUcastPkts of v1 below the datagrams sent"

step "ifNumber is the row count"
rows=$(sys_rows | wc -l)
expect_eq "$rows" "$(get $IF.1.0)" "ifNumber"
expect_eq "$rows" "$(walk $IF_ENTRY.1 | wc -l)" "ifIndex rows"

step "GetNext walks what GetBulk walks"
for tree in $IF $IFX; do
    expect_eq "$(bulkwalk $tree | without_lo_counters)" "$(walk $tree | without_lo_counters)" \
        "walk of $tree"
done

step "an interface set down, and its peer"
b0=$(cat /sys/class/net/b0/ifindex)
b1=$(cat /sys/class/net/b1/ifindex)
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
link_trap "$LINK_DOWN" "$(cat /sys/class/net/v0/ifindex)" 2 1
expect_eq 2 "$(link_traps_of "$b0")" "link traps of b0 while disabled"
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.14.$b0 i 1 >/dev/null || fail "enable b0's traps"

step "interfaces added and removed appear after the cache lifetime"
add_veth c0 c1
ip link del a0
expect_columns_agree "after adding c0-c1 and removing a0-a1"
expect_eq "$(sys_rows | wc -l)" "$(get $IF.1.0)" "ifNumber after the change"
# ifCounterDiscontinuityTime of c0 and ifTableLastChange: after the agent started.
c0=$(cat /sys/class/net/c0/ifindex)
for object in $IFX_ENTRY.19.$c0 $IFX.1.5.0; do
    ticks=$(get "$object")
    [ "$ticks" -gt 0 ] && [ "$ticks" -le "$(get .1.3.6.1.2.1.1.3.0)" ] || fail "$object: $ticks"
done

step "an ifAlias write reaches the kernel"
nsnmp snmpset -v2c -c private 127.0.0.1 $IFX_ENTRY.18.$c0 s "to the lab" >/dev/null ||
    fail "snmpset ifAlias"
expect_eq "to the lab" "$(cat /sys/class/net/c0/ifalias)" "ifalias of c0"
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
expect_eq "to the lab" "$(cat /sys/class/net/c0/ifalias)" "ifalias after the refused writes"
expect_eq '"c0"' "$(get $IF_ENTRY.2.$c0)" "ifDescr after the refused write"

step "SNMPv1 (RFC 3584 4.2.2.1): the v2c walk less the Counter64 columns, which Get refuses"
# ifHCInOctets, ifHCInUcastPkts, ifHCInMulticastPkts, ifHCOutOctets, ifHCOutUcastPkts
counter64="^\\$IFX_ENTRY\\.(6|7|8|10|11)\\."
v2c=$( (walk $IF && walk $IFX) | cut -d' ' -f1)
[ "$(grep -cE "$counter64" <<<"$v2c")" -eq $((5 * $(sys_rows | wc -l))) ] ||
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
kill "$IFACED_PID"; wait "$IFACED_PID" || true
IFACED_PID=
table_empty() { [ -z "$(walk $IF_ENTRY.1)" ]; }
wait_for table_empty || fail "rows left without the service: $(walk $IF_ENTRY.1)"
expect_eq "0" "$(get $IF.1.0)" "ifNumber without the service"
expect_eq "" "$(walk $IFX)" "ifXTable without the service"
timeout 10 snmpget -v2c -c morvel -t 3 -r 0 127.0.0.1 .1.3.6.1.2.1.1.1.0 >/dev/null ||
    fail "sysDescr without the service"

step "link-events subscribes again to a service that comes back"
"$BIN/orla-ifaced" >>/orla/.test/ifaced.out 2>&1 &
IFACED_PID=$!
sleep 3.5  # the generator renews its subscription every 3 s
ip link set v0 up
link_trap "= OID: .1.3.6.1.6.3.1.1.5.4|" "$(cat /sys/class/net/v0/ifindex)" 1 1
pass
