#!/usr/bin/env bash
# Truncated, random and malformed datagrams get no reply and leave the agent
# serving; requests that arrive together each get their own reply; a manager
# that keeps the agent busy does not keep platform messages waiting.
source "$SRC/lib.sh"
need_python3

start_serving "$TESTMIB_SO"

for version in 0 1; do
    step "hostile datagrams around a Get of version $version on the wire"
    out=$(udp hostile 400 $version $TESTMIB.4.1.2.1.1) || fail "$out"
    echo "$out"
    agent_alive
done

step "requests arriving together are answered each to its sender"
out=$(udp burst 50 $TESTMIB.2.0) || fail "$out"
echo "$out"

step "platform messages are served while a manager keeps the agent busy"
busy_out=$(mktemp)
udp busy 10 $TESTMIB.2.0 >"$busy_out" 2>&1 &
busy=$!
sleep 1
for i in 1 2 3 4 5; do
    expect_contains "$(cli snmp print)" "enabled" "settings read $i during the load"
done
# Served during the load, not after it.
kill -0 $busy 2>/dev/null || fail "the settings reads waited for the manager to stop"
wait $busy || fail "busy manager: $(cat "$busy_out")"
cat "$busy_out"

step "net-snmp's tools still walk the whole tree"
expect_eq 203 "$(nsnmp snmpbulkwalk -v2c -c morvel 127.0.0.1 .1 | grep '^\.' | grep -vc 'No more variables')" \
    "bulk walk after the hostile datagrams"
pass
