#!/usr/bin/env bash
# GetBulk and big replies: no reply ever exceeds the largest UDP payload
# (65507 octets); a GetBulk that would is cut short, a Get that would is
# answered with tooBig, and the agent keeps serving.
source "$SRC/lib.sh"
need_python3

start_serving "$TESTMIB_SO"

# The big table's column 1 holds 80 strings of 1000 octets (80 kB in all).
big=$TESTMIB.9.1.1
header() { udp request "$@" | sed -n 2p; }                              # pdu, status, index, size
names() { udp request "$@" | tail -n +3 | cut -d' ' -f1 | paste -sd' '; }  # of the bindings
count_big() { grep -c "^$big\\." <<<"$1" || true; }

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
expect_eq "$TESTMIB.9.1.2.79 $TESTMIB.9.1.2.80" "$(tail -n +3 <<<"$reply" | cut -d' ' -f1 |
    paste -sd' ')" "bindings up to the end"
expect_eq "pdu 0xa2 status 2 index 1" \
    "$(header --bulk 0,5 $TESTMIB.9.1.2.80 | cut -d' ' -f1-6)" "bulk after the end"
expect_eq "pdu 0xa2 status 0 index 0 size 27" "$(header --bulk 0,0 $TESTMIB.1)" \
    "no repetitions"
expect_eq "pdu 0xa2 status 0 index 0 size 27" "$(header)" "a GetRequest without bindings"

step "the agent still serves"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
pass
