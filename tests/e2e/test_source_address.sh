#!/usr/bin/env bash
# The reply leaves from the address the request was sent to, also for a
# secondary address of the interface, and goes back to the sender's port.
source "$SRC/lib.sh"
need_python3

ip addr add 10.161.0.1/32 dev lo
ip addr add 192.0.2.161/24 dev lo
start_serving "$TESTMIB_SO"

for address in 127.0.0.1 127.0.0.9 127.255.255.254 10.161.0.1 192.0.2.161; do
    step "a request to $address is answered from $address"
    reply=$(udp request --to $address $TESTMIB.1.0) || fail "no reply from $address: $reply"
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
expect_eq 202 "$(nsnmp snmpbulkwalk -v2c -c morvel 10.161.0.1 .1 | grep -c '^\.')" \
    "bulk walk through 10.161.0.1"

step "the source-address filter sees the sender's address"
add_community str:5=local bool:6=yes be32:8=10.161.0.1 be32:9=255.255.255.255 >/dev/null
reply=$(udp request --community local --bind 10.161.0.1 --to 127.0.0.1 $TESTMIB.1.0) ||
    fail "no reply to the admitted sender: $reply"
expect_eq "from 127.0.0.1:161" "$(head -n 1 <<<"$reply")" "reply to the admitted sender"
out=$(udp request --community local --bind 127.0.0.1 --to 10.161.0.1 $TESTMIB.1.0) &&
    fail "a sender outside the filter was answered: $out"

pass
