#!/usr/bin/env bash
# The example plug-in: without its platform service the table is empty;
# with a stand-in service running as its own process the rows appear, in
# index order, and a column write reaches the service.
source "$(dirname "$0")/lib.sh"

EX=1.3.6.1.4.1.32473.99
get() { snmpget -v2c -c "${2:-morvel}" -Oqv -t 2 -r 1 127.0.0.1 "$1"; }
walk() { snmpwalk -v2c -c morvel -Oqn -t 2 -r 1 127.0.0.1 "$1"; }
rows_are() { [ "$(walk $EX.2.1.2 | wc -l)" = "$1" ]; }
SERVICE_PID=
trap 'stop_agent; [ -z "$SERVICE_PID" ] || kill "$SERVICE_PID" && wait "$SERVICE_PID" || true' EXIT

start_serving "$BUILD/lib/snmp/example.so"

step "no platform service: constant only, empty table"
expect_eq '"example plug-in 1.0"' "$(get $EX.3.0)" "exampleVersion"
expect_eq "0" "$(get $EX.1.0)" "row count without the service"
expect_eq "" "$(walk $EX.2)" "table without the service"

step "the service lists three ports"
"$BIN/fake_port_map" &
SERVICE_PID=$!
wait_for test -S /orla/run/210.sock || fail "port map service did not start"
expect_eq "3" "$(get $EX.1.0)" "row count from the service"
# Rows keep their cached emptiness until the cache is dropped.
wait_for rows_are 3 || fail "port column: [$(walk $EX.2.1.2)]"
expected=".$EX.2.1.3.10.4.101.116.104.48 \"uplink\"
.$EX.2.1.3.10.4.101.116.104.49 \"office\"
.$EX.2.1.3.20.4.101.116.104.49 \"guests\""
expect_eq "$expected" "$(walk $EX.2.1.3)" "description column in index order"
expect_eq "1000" "$(get $EX.2.1.4.10.4.101.116.104.48)" "packets of eth0 on VLAN 10"

step "a description written over SNMP reaches the service"
cli send 161.1 addobj str:5=private bool:6=yes bool:7=yes >/dev/null || fail "addobj failed"
snmpset -v2c -c private -t 2 -r 1 127.0.0.1 $EX.2.1.3.10.4.101.116.104.48 s "visitors" \
    >/dev/null || fail "snmpset description failed"
expect_contains "$(cli send 210.1 getall)" 'str:3="visitors"' "service after the set"
pass
