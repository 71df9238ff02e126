# Helpers for the IF-MIB test (test_interfaces.sh): interfaces made in the
# test's network namespace, the interface service, and what /sys/class/net
# says the IF-MIB should show.
source "$SRC/lib.sh"

IF=.1.3.6.1.2.1.2
IFX=.1.3.6.1.2.1.31
IF_ENTRY=$IF.2.1
IFX_ENTRY=$IFX.1.1.1
IFACED_PID=
trap 'stop_agent; stop_ifaced' EXIT

# sysfs shows the network namespace of the process that mounts it.
mount -t sysfs sysfs /sys
# No IPv6 neighbour discovery: the only traffic is what a test sends.
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1

add_veth() {  # NAME PEER: a veth pair, both ends up
    ip link add "$1" type veth peer name "$2"
    ip link set "$1" up
    ip link set "$2" up
}

# Three veth pairs (a kernel without dummy interfaces has them): a0-a1,
# b0-b1, v0-v1. v0 sends to 10.9.0.2 on v1, which has no address: it counts
# the frames and drops them.
make_interfaces() {
    add_veth a0 a1
    add_veth b0 b1
    add_veth v0 v1
    ip addr add 10.9.0.1/24 dev v0
    ip neigh add 10.9.0.2 lladdr "$(cat /sys/class/net/v1/address)" dev v0
}

send_udp() {  # COUNT: datagrams from v0 to v1
    for _ in $(seq "$1"); do echo payload >/dev/udp/10.9.0.2/9; done
}

start_ifaced() {  # ARGS of orla-ifaced
    "$BIN/orla-ifaced" "$@" >>/orla/.test/ifaced.out 2>&1 &
    IFACED_PID=$!
    wait_for test -S /orla/run/40.sock || fail "orla-ifaced did not start"
}

stop_ifaced() {
    [ -n "$IFACED_PID" ] || return 0
    kill -TERM "$IFACED_PID"
    wait "$IFACED_PID" || true
    IFACED_PID=
}

# net-snmp adds a line "End of MIB" after the last object. V: the version (2c).
walk() { nsnmp snmpwalk -v"${V:-2c}" -c morvel -Oqt 127.0.0.1 "$1" | grep -v '^End of MIB$' || true; }
bulkwalk() {
    nsnmp snmpbulkwalk -v2c -c morvel -Oqt -Cr7 127.0.0.1 "$1" | grep -v '^End of MIB$' || true
}
get() { nsnmp snmpget -v2c -c morvel -Oqvt 127.0.0.1 "$1"; }

# "ifindex name" of every interface, in ifindex order.
sys_rows() {
    local dir index
    for dir in /sys/class/net/*; do
        read -r index <"$dir/ifindex"
        echo "$index ${dir##*/}"
    done | sort -n
}

lo_index() { cat /sys/class/net/lo/ifindex; }

# Loopback's counters move with every SNMP exchange: drop them from a walk.
without_lo_counters() {
    grep -Ev "^\.1\.3\.6\.1\.2\.1\.(2\.2\.1\.(10|11|13|14|16|17|19|20)|31\.1\.1\.1\.(2|6|7|8|10|11))\.$(lo_index) " || true
}

# The sysfs value of an interface as snmpwalk -Oqt prints the column.
sys_value() {  # NAME KIND
    local dir=/sys/class/net/$1 value=
    case $2 in
    index) read -r value <"$dir/ifindex" ;;
    name) value="\"$1\"" ;;
    mtu) read -r value <"$dir/mtu" ;;
    alias)
        read -r value <"$dir/ifalias" || true
        value="\"$value\""
        ;;
    rx | rx32) read -r value <"$dir/statistics/rx_bytes" ;;
    tx | tx32) read -r value <"$dir/statistics/tx_bytes" ;;
    esac
    case $2 in rx32 | tx32) value=$((value & 0xffffffff)) ;; esac
    echo "$value"
}

# The columns compared with sysfs, in OID order, and the sysfs value of each.
COMPARED=("$IF_ENTRY.1 index" "$IF_ENTRY.2 name" "$IF_ENTRY.4 mtu" "$IF_ENTRY.10 rx32"
    "$IF_ENTRY.16 tx32" "$IFX_ENTRY.1 name" "$IFX_ENTRY.6 rx" "$IFX_ENTRY.10 tx"
    "$IFX_ENTRY.18 alias")

expected_columns() {
    local rows entry column kind index name
    rows=$(sys_rows)
    for entry in "${COMPARED[@]}"; do
        read -r column kind <<<"$entry"
        while read -r index name; do
            echo "$column.$index $(sys_value "$name" "$kind")"
        done <<<"$rows"
    done | without_lo_counters
}

agent_columns() {
    local entry pattern=
    for entry in "${COMPARED[@]}"; do pattern+="${pattern:+|}${entry% *}"; done
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
