#!/usr/bin/env bash
# The IP-MIB, IP-FORWARD-MIB, TCP-MIB and UDP-MIB plug-ins over orla-ipd:
# the IP, ICMP, TCP and UDP counters move with traffic on loopback; a
# listener, a connection and a UDP endpoint appear with their ports and
# process; addresses added to
# and removed from a veth appear in and leave both address tables; routes
# added with `ip route` appear with their next hop and interface; static
# neighbours added with `ip neigh` appear with their state; walks in
# windows of two rows; the agent answers without the service.
source "$SRC/lib.sh"
need_python3

IP=.1.3.6.1.2.1.4
ADDR_ENTRY=$IP.20.1
ADDRESS_ENTRY=$IP.34.1
ROUTE_ENTRY=$IP.24.7.1
SYS_STATS=$IP.31.1.1
ICMP=.1.3.6.1.2.1.5
TCP=.1.3.6.1.2.1.6
UDP=.1.3.6.1.2.1.7
IPD_PID= HOLDER=
trap 'stop_agent; for p in $IPD_PID $HOLDER; do kill "$p"; wait "$p" || true; done' EXIT

# net-snmp ends a walk past the last object with a line of its own.
instances() { grep -v -e '^End of MIB$' -e ' No more variables left in this MIB View' || true; }
walk() { nsnmp snmpwalk -v2c -c morvel -Oqt 127.0.0.1 "$1" | instances; }
bulkwalk() { nsnmp snmpbulkwalk -v2c -c morvel -Oqt -Cr5 127.0.0.1 "$1" | instances; }
get() { nsnmp snmpget -v2c -c morvel -Oqvt 127.0.0.1 "$1"; }

ip link add v0 type veth peer name v1
ip link set v0 up
ip link set v1 up
# The namespace's own index: /sys is the host's, whose interfaces differ.
v0=$(ip -o link show v0 | cut -d: -f1)
sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
# Windows and pages of two routes or addresses.
"$BIN/orla-ipd" --page-size 2 >>/orla/.test/ipd.out 2>&1 &
IPD_PID=$!
start_serving "$BUILD/lib/snmp/ip.so" "$BUILD/lib/snmp/ip-forward.so" "$BUILD/lib/snmp/system.so" \
    "$BUILD/lib/snmp/transport.so"
add_community str:5=private bool:6=yes bool:7=yes >/dev/null
wait_for test -S /orla/run/43.sock || fail "orla-ipd did not start"

step "ipForwarding, ipDefaultTTL, ipReasmTimeout and the IPv6 scalars follow /proc/sys"
expect_eq 1 "$(get $IP.1.0)" "ipForwarding"
expect_eq "$(cat /proc/sys/net/ipv4/ip_default_ttl)" "$(get $IP.2.0)" "ipDefaultTTL"
expect_eq "$(cat /proc/sys/net/ipv4/ipfrag_time)" "$(get $IP.13.0)" "ipReasmTimeout"
expect_eq "1 $(cat /proc/sys/net/ipv6/conf/default/hop_limit)" "$(get $IP.25.0) $(get $IP.26.0)" \
    "ipv6IpForwarding and ipv6IpDefaultHopLimit"

step "IP and ICMP counters move with traffic, each counter32 the low half of its HC twin"
# A datagram to a closed port draws a port unreachable: ICMP type 3, ICMPv6 type 1.
unreachables() { for _ in 1 2 3; do echo x >/dev/udp/127.0.0.1/9; echo x >/dev/udp/::1/9; done 2>/dev/null || true; }
unreachables
hc_before=$(get $SYS_STATS.4.1)
[ "$hc_before" -gt 0 ] || fail "ipSystemStatsHCInReceives.ipv4 is $hc_before"
# One request: both from the same reading of the counters.
pair=$(nsnmp snmpget -v2c -c morvel -Oqvt 127.0.0.1 $SYS_STATS.3.1 $SYS_STATS.4.1 | xargs)
expect_eq "$((${pair#* } % 4294967296))" "${pair% *}" "InReceives and HCInReceives"
hc_moved() { unreachables; [ "$(get $SYS_STATS.4.1)" -gt "$hc_before" ]; }
wait_for hc_moved || fail "ipSystemStatsHCInReceives.ipv4 stays at $hc_before"
[ "$(get $SYS_STATS.4.2)" -gt 0 ] || fail "no IPv6 datagrams received"
[ "$(get $IP.31.3.1.4.2.1)" -gt 0 ] || fail "ipIfStatsHCInReceives of IPv6 on lo is 0"
[ "$(get $IP.3.0)" -gt 0 ] || fail "ipInReceives is 0"
for counter in $ICMP.30.1.3.1.3 $ICMP.30.1.4.1.3 $ICMP.30.1.4.2.1 $ICMP.29.1.4.1 $ICMP.29.1.4.2; do
    [ "$(get $counter)" -gt 0 ] || fail "$counter is not counting"
done
# IPv6 has no broadcast: the column has the IPv4 row alone.
expect_eq "$SYS_STATS.43.1" "$(walk $SYS_STATS.43 | cut -d' ' -f1)" "ipSystemStatsHCInBcastPkts rows"
expect_eq "$(walk $IP.31 | cut -d' ' -f1)" "$(bulkwalk $IP.31 | cut -d' ' -f1)" "walk of ipTrafficStats"
expect_eq "$(walk $ICMP | cut -d' ' -f1)" "$(bulkwalk $ICMP | cut -d' ' -f1)" "walk of icmp"

step "a TCP listener, both ends of a connection and a UDP endpoint appear with their ports and process"
"$PYTHON" -c '
import socket, time
listener = socket.socket(); listener.bind(("127.0.0.1", 7777)); listener.listen()
client = socket.create_connection(("127.0.0.1", 7777)); server, _ = listener.accept()
udp = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM); udp.bind(("::1", 7778))
time.sleep(100)' &
HOLDER=$!
expect_listed walk $TCP.20.1.4 "$TCP.20.1.4.1.4.127.0.0.1.7777 $HOLDER"
CLIENT=$(walk $TCP.19.1.7 | sed -n "s/.*\.1\.4\.127\.0\.0\.1\.\([0-9]*\)\.1\.4\.127\.0\.0\.1\.7777 5\$/\1/p")
[ -n "$CLIENT" ] || fail "no established connection to 7777: $(walk $TCP.19.1.7)"
for conn in 1.4.127.0.0.1.$CLIENT.1.4.127.0.0.1.7777 1.4.127.0.0.1.7777.1.4.127.0.0.1.$CLIENT; do
    expect_eq "5 $HOLDER" "$(get $TCP.19.1.7.$conn) $(get $TCP.19.1.8.$conn)" "state and process of $conn"
done
expect_listed walk $UDP.7.1.8 "$UDP.7.1.8.2.16.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.7778.0.0.0.1 $HOLDER"
[ "$(get $TCP.9.0)" -ge 2 ] && [ "$(get $TCP.5.0)" -ge 1 ] && [ "$(get $TCP.17.0)" -gt 0 ] ||
    fail "tcpCurrEstab, tcpActiveOpens or tcpHCInSegs not counting"
expect_eq -1 "$(get $TCP.4.0)" "tcpMaxConn"
[ "$(get $UDP.9.0)" -gt 0 ] || fail "udpHCOutDatagrams is 0"
for table in $TCP.19 $TCP.20 $UDP.7; do
    expect_eq "$(walk $table | cut -d' ' -f1)" "$(bulkwalk $table | cut -d' ' -f1)" "walk of $table"
done
expect_contains "$(walk .1.3.6.1.2.1.1.9.1.2)" ".1.3.6.1.2.1.49
.1.3.6.1.2.1.1.9.1.2.6 .1.3.6.1.2.1.50" "sysORTable"

step "addresses added to v0 appear in ipAddressTable and ipAddrTable"
ip addr add 10.7.0.1/24 dev v0
ip addr add 2001:db8:7::1/64 dev v0 nodad
V4=1.4.10.7.0.1
V6=2.16.32.1.13.184.0.7.0.0.0.0.0.0.0.0.0.1
expect_listed walk $ADDRESS_ENTRY.3 "$ADDRESS_ENTRY.3.$V4 $v0"
expect_listed walk $ADDRESS_ENTRY.3 "$ADDRESS_ENTRY.3.$V6 $v0"
expect_eq "$ADDRESS_ENTRY.5.$V6 $IP.32.1.5.$v0.2.16.32.1.13.184.0.7.0.0.0.0.0.0.0.0.0.0.64" \
    "$(walk $ADDRESS_ENTRY.5.$V6)" "ipAddressPrefix"
expect_eq "$(ip -o addr show | wc -l)" "$(walk $ADDRESS_ENTRY.3 | wc -l)" "ipAddressTable rows"
expect_eq "$ADDR_ENTRY.2.10.7.0.1 $v0
$ADDR_ENTRY.3.10.7.0.1 255.255.255.0" "$(walk $ADDR_ENTRY | grep '\.10\.7\.0\.1 ' | grep -E '\.[23]\.10')" \
    "ipAddrTable ifIndex and netmask"
expect_eq "$(ip -o -4 addr show | wc -l)" "$(walk $ADDR_ENTRY.1 | wc -l)" "ipAddrTable rows"

step "and leave them when removed"
ip addr del 10.7.0.1/24 dev v0
ip addr del 2001:db8:7::1/64 dev v0
expect_listed walk $ADDRESS_ENTRY.3 "$ADDRESS_ENTRY.3.$V4 $v0" no
expect_listed walk $ADDRESS_ENTRY.3 "$ADDRESS_ENTRY.3.$V6 $v0" no
expect_listed walk $ADDR_ENTRY.2 "$ADDR_ENTRY.2.10.7.0.1 $v0" no

step "routes added with ip route appear with next hop, interface, type and protocol"
ip addr add 10.7.0.1/24 dev v0
ip addr add 2001:db8:7::1/64 dev v0 nodad
ip route add 10.8.0.0/16 via 10.7.0.2 dev v0 metric 7
ip -6 route add 2001:db8:99::/48 via 2001:db8:7::2 dev v0
R4=1.4.10.8.0.0.16.2.0.0.1.4.10.7.0.2
R6=2.16.32.1.13.184.0.153.0.0.0.0.0.0.0.0.0.0.48.2.0.0.2.16.32.1.13.184.0.7.0.0.0.0.0.0.0.0.0.2
expect_listed walk $ROUTE_ENTRY.7 "$ROUTE_ENTRY.7.$R4 $v0"
expect_listed walk $ROUTE_ENTRY.7 "$ROUTE_ENTRY.7.$R6 $v0"
# remote(4), netmgmt(3) (what `ip route` installs), the metric
expect_eq "4 3 7" "$(get $ROUTE_ENTRY.8.$R4) $(get $ROUTE_ENTRY.9.$R4) $(get $ROUTE_ENTRY.12.$R4)" \
    "type, protocol and metric of 10.8.0.0/16"
# The connected route has no next hop: type unknown(0), length 0.
expect_listed walk $ROUTE_ENTRY.8 "$ROUTE_ENTRY.8.1.4.10.7.0.0.24.2.0.0.0.0 3"
expect_refused "Reason: notWritable" snmpset -v2c -c private 127.0.0.1 $ROUTE_ENTRY.12.$R4 i 1
# RFC 2096: destination, mask, TOS 0, next hop; then ifIndex, type, protocol, metric.
C4=10.8.0.0.255.255.0.0.0.10.7.0.2
expect_eq "10.8.0.0 255.255.0.0 10.7.0.2 $v0 4 3 7" "$(get $IP.24.4.1.1.$C4) $(get $IP.24.4.1.2.$C4) \
$(get $IP.24.4.1.4.$C4) $(get $IP.24.4.1.5.$C4) $(get $IP.24.4.1.6.$C4) $(get $IP.24.4.1.7.$C4) \
$(get $IP.24.4.1.11.$C4)" "ipCidrRouteTable row of 10.8.0.0/16"

step "neighbours added with ip neigh appear with their link-layer address, type and state"
ip neigh add 10.7.0.9 lladdr 02:00:00:00:00:09 dev v0
ip neigh add 10.7.0.10 lladdr 02:00:00:00:00:0a dev v0 nud stale
ip -6 neigh add 2001:db8:7::9 lladdr 02:00:00:00:00:0b dev v0 nud reachable
PHYS=$IP.35.1
N6=$v0.2.16.32.1.13.184.0.7.0.0.0.0.0.0.0.0.0.9
# static(4) with no NUD state: unknown(6); dynamic(3) stale(2); dynamic reachable(1)
expect_listed walk $PHYS.7 "$PHYS.7.$v0.1.4.10.7.0.9 6"
expect_eq "4 3 2 3 1" "$(get $PHYS.6.$v0.1.4.10.7.0.9) $(get $PHYS.6.$v0.1.4.10.7.0.10) \
$(get $PHYS.7.$v0.1.4.10.7.0.10) $(get $PHYS.6.$N6) $(get $PHYS.7.$N6)" "types and states"
expect_contains "$(get $PHYS.4.$N6)" "02 00 00 00 00 0B" "ipNetToPhysicalPhysAddress"
expect_eq "$IP.22.1.2.$v0.10.7.0.9 \"02 00 00 00 00 09 \"
$IP.22.1.4.$v0.10.7.0.9 4" "$(walk $IP.22.1 | grep "\.$v0\.10\.7\.0\.9 " | grep -v -e '\.1\.[0-9]*\.10' -e '\.3\.[0-9]*\.10')" \
    "ipNetToMediaTable"
expect_eq "$(walk $IP.35 | cut -d' ' -f1)" "$(bulkwalk $IP.35 | cut -d' ' -f1)" "walk of ipNetToPhysicalTable"
expect_eq "$(walk $IP.22 | cut -d' ' -f1)" "$(bulkwalk $IP.22 | cut -d' ' -f1)" "walk of ipNetToMediaTable"

step "inetCidrRouteNumber agrees with ip route, and with the walk"
routes=$(($(ip -4 route show table main | wc -l) + $(ip -6 route show table main | wc -l)))
expect_eq "$routes" "$(get $IP.24.6.0)" "inetCidrRouteNumber"
expect_eq "$routes" "$(walk $ROUTE_ENTRY.7 | wc -l)" "inetCidrRouteTable rows"
expect_eq "$(ip -4 route show table main | wc -l)" "$(get $IP.24.3.0)" "ipCidrRouteNumber"
expect_eq "$(get $IP.24.3.0)" "$(walk $IP.24.4.1.5 | wc -l)" "ipCidrRouteTable rows"

step "GetNext walks what GetBulk walks, in windows of two routes"
expect_eq "$(walk $IP.24)" "$(bulkwalk $IP.24)" "walk of the route table"

step "without the service the tables are empty and the agent answers at once"
kill "$IPD_PID"; wait "$IPD_PID" || true
IPD_PID=
table_empty() { [ -z "$(walk $IP.34)$(walk $IP.24.7)$(walk $IP.35)$(walk $IP.31)$(walk $TCP.19)" ]; }
wait_for table_empty || fail "rows left without the service"
expect_eq 0 "$(get $IP.24.6.0)" "inetCidrRouteNumber without the service"
timeout 10 snmpget -v2c -c morvel -t 3 -r 0 127.0.0.1 .1.3.6.1.2.1.1.1.0 >/dev/null ||
    fail "sysDescr without the service"
expect_eq 7 "$(walk .1.3.6.1.2.1.1 | grep -c '^\.1\.3\.6\.1\.2\.1\.1\.[1-7]\.0 ')" \
    "the system group's scalars without the service"
pass
