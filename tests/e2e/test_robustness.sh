#!/usr/bin/env bash
# Truncated, random and malformed datagrams get no reply and leave the agent
# serving; requests that arrive together each get their own reply.
source "$SRC/lib.sh"
need_python3

install_plugins "$TESTMIB_SO"
start_agent
enable_agent

step "capture a real request from snmpget"
dump=$(nsnmp snmpget -d -v2c -c morvel 127.0.0.1 $TESTMIB.4.1.2.1.1 2>&1)
expect_contains "$dump" "STRING: \"row 1.1\"" "captured request answered"
request=$(udp capture <<<"$dump")
[ ${#request} -gt 40 ] || fail "captured request: [$request]"

for version in 0 1; do
    step "hostile datagrams around a version $version request"
    # The same request in version 1 (v1 is 0 on the wire): byte 4 is the version.
    hex=${request:0:8}0${version}${request:10}
    out=$(udp hostile --mutations 400 "$hex") || fail "$out"
    echo "$out"
    agent_alive
done

step "requests arriving together are answered each to its sender"
out=$(udp burst --senders 50 $TESTMIB.2.0) || fail "$out"
echo "$out"

step "the agent still serves net-snmp's tools"
expect_eq "$TESTMIB.2.0 = STRING: \"orla test plug-in\"" \
    "$(nsnmp snmpget -v1 -c morvel 127.0.0.1 $TESTMIB.2.0)" "get after the hostile datagrams"
expect_eq 202 "$(nsnmp snmpbulkwalk -v2c -c morvel 127.0.0.1 .1 | grep -c '^\.')" \
    "bulk walk after the hostile datagrams"
agent_alive
echo PASS
