#!/usr/bin/env bash
# Replies as raw datagrams show them. None exceeds the largest UDP payload
# (65507 octets): a GetBulk that would is cut short, a Get that would is
# answered with tooBig. GetBulk at its edges. A reply leaves from the address
# the request was sent to, also a secondary one, IPv4 or IPv6, back to the
# sender's port. Without IPv6 the agent still serves IPv4.
source "$SRC/lib.sh"
need_python3

ip addr add 10.161.0.1/32 dev lo
ip addr add 192.0.2.161/24 dev lo
ip addr add fd00::161/128 dev lo nodad
start_serving "$TESTMIB_SO"

# The big table's column 1 holds 80 strings of 1000 octets (80 kB in all).
big=$TESTMIB.9.1.1
header() { udp request "$@" | sed -n 2p; }                              # pdu, status, index, size
names() { udp request "$@" | tail -n +3 | cut -d' ' -f1 | paste -sd' '; }  # of the bindings
count_big() { grep -c "^$big\\." <<<"$1" || true; }

step "a GetBulk reply stops at the bulk bound, but for its first binding"
reply=$(udp request --version 1 --bulk 0,200 $TESTMIB.9)
read -r _ pdu _ status _ index _ size <<<"$(sed -n 2p <<<"$reply")"
expect_eq "0xa2 0 0 1" "$pdu $status $index $(count_big "$reply")" "bulk reply header and bindings"
[ "$size" -le 1472 ] || fail "bulk reply of $size octets"
cli snmp set bulk-reply-octets=65507 >/dev/null || fail "set bulk-reply-octets"

step "snmpbulkget of 200 repetitions over the big table is cut short"
out=$(nsnmp snmpbulkget -v2c -c morvel -Cr200 127.0.0.1 $TESTMIB.9)
count=$(count_big "$out")
[ "$count" -gt 0 ] && [ "$count" -lt 80 ] || fail "bulk over the big table: $count bindings"
expect_eq "$(seq -f "$big.%g" 1 "$count")" "$(cut -d' ' -f1 <<<"$out")" "bindings in order"

step "the same GetBulk as raw datagram: a Response within 65507 octets"
reply=$(udp request --version 1 --bulk 0,200 $TESTMIB.9)
read -r _ pdu _ status _ index _ size <<<"$(sed -n 2p <<<"$reply")"
expect_eq "0xa2 0 0" "$pdu $status $index" "bulk reply header"
[ "$size" -le 65507 ] && [ "$size" -gt 60000 ] || fail "bulk reply of $size octets"
expect_eq "$count" "$(count_big "$reply")" "bindings in the raw reply"

step "two repeaters share the room of one reply"
reply=$(udp request --version 1 --bulk 0,200 $TESTMIB.9 $TESTMIB.1)
[ "$(count_big "$reply")" -lt "$count" ] || fail "no room was shared: $reply"

step "a Get whose answer exceeds 65507 octets is tooBig"
# shellcheck disable=SC2046
expect_refused "Reason: (tooBig)" snmpget -v2c -c morvel 127.0.0.1 $(seq -f "$big.%g" 1 70)
# shellcheck disable=SC2046
expect_eq "pdu 0xa2 status 1 index 0 size 27" "$(header --version 0 $(seq -f "$big.%g" 1 70))" \
    "v1 tooBig reply: no bindings"
# shellcheck disable=SC2046
out=$(nsnmp snmpget -v2c -c morvel 127.0.0.1 $(seq -f "$big.%g" 1 60))
expect_eq 60 "$(count_big "$out")" "get of 60 big strings, just within the limit"
# shellcheck disable=SC2046
expect_eq "pdu 0xa2 status 2 index 130" "$(header --version 0 $(printf "$TESTMIB.2.0 %.0s" \
    $(seq 129)) $TESTMIB.4.1.1 | cut -d' ' -f1-6)" "v1 noSuchName at binding 130: a two-octet index"

step "GetBulk with non-repeaters, at the end of the tree, and with no repetitions"
expect_eq "$TESTMIB.1.0 $TESTMIB.4.1.1.1.1 $TESTMIB.5.1.0 $TESTMIB.4.1.1.1.2 $TESTMIB.5.2.0 \
$TESTMIB.4.1.1.1.3 $TESTMIB.6.0" "$(names --bulk 1,3 $TESTMIB.1 $TESTMIB.4 $TESTMIB.5)" \
    "1 non-repeater, 2 repeaters, 3 repetitions"
reply=$(udp request --bulk 0,5 $TESTMIB.9.1.2.78)
expect_eq "pdu 0xa2 status 0 index 0" "$(sed -n 2p <<<"$reply" | cut -d' ' -f1-6)" \
    "bulk that runs off the end"
expect_eq "$TESTMIB.9.1.2.79 $TESTMIB.9.1.2.80 $TESTMIB.9.1.2.80" "$(tail -n +3 <<<"$reply" |
    cut -d' ' -f1 | paste -sd' ')" "bindings up to the end, then endOfMibView"
expect_eq "pdu 0xa2 status 0 index 0" \
    "$(header --bulk 0,5 $TESTMIB.9.1.2.80 | cut -d' ' -f1-6)" "bulk after the end: endOfMibView"
expect_eq "pdu 0xa2 status 0 index 0 size 27" "$(header --bulk 0,0 $TESTMIB.1)" \
    "no repetitions"
expect_eq "pdu 0xa2 status 0 index 0 size 27" "$(header)" "a GetRequest without bindings"

for address in 127.0.0.1 127.0.0.9 127.255.255.254 10.161.0.1 192.0.2.161 ::1 fd00::161; do
    step "a request to $address is answered from $address"
    reply=$(udp request --to $address $TESTMIB.1.0) || fail "no reply from $address: $reply"
    [[ $address != *:* ]] || address="[$address]"
    expect_eq "from $address:161" "$(head -n 1 <<<"$reply")" "source of the reply"
    expect_eq "$TESTMIB.1.0 0x2 1" "$(tail -n 1 <<<"$reply")" "binding of the reply"
done

step "the sender's own source address does not matter"
reply=$(udp request --bind 10.161.0.1 --to 127.0.0.9 $TESTMIB.1.0)
expect_eq "from 127.0.0.9:161" "$(head -n 1 <<<"$reply")" "reply to a sender at 10.161.0.1"
reply=$(udp request --bind 192.0.2.161 --to 10.161.0.1 $TESTMIB.1.0)
expect_eq "from 10.161.0.1:161" "$(head -n 1 <<<"$reply")" "reply to a sender at 192.0.2.161"

step "net-snmp's tools accept the replies of other local addresses"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.9 $TESTMIB.1.0

step "the source-address filter sees the sender's address"
add_community str:5=local bool:6=yes be32:8=10.161.0.1 be32:9=255.255.255.255 >/dev/null
reply=$(udp request --community local --bind 10.161.0.1 --to 127.0.0.1 $TESTMIB.1.0) ||
    fail "no reply to the admitted sender: $reply"
expect_eq "from 127.0.0.1:161" "$(head -n 1 <<<"$reply")" "reply to the admitted sender"
out=$(udp request --community local --bind 127.0.0.1 --to 10.161.0.1 $TESTMIB.1.0) &&
    fail "a sender outside the filter was answered: $out"
out=$(udp request --community local --to ::1 $TESTMIB.1.0) &&
    fail "an IPv6 sender passed an IPv4 filter: $out"

step "with IPv6 switched off the agent serves IPv4 and says so once"
stop_agent
sysctl -qw net.ipv6.conf.all.disable_ipv6=1
start_agent
wait_for udp161_bound || fail "agent does not listen on UDP 161"
cli send 161 set bool:1=no >/dev/null && enable_agent
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.9 $TESTMIB.1.0
expect_eq 1 "$(grep -c "IPv6 unavailable" "$AGENT_ERR")" "lines saying IPv6 is unavailable"

pass
