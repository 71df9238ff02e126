#!/usr/bin/env bash
# A restart keeps the settings and the communities, counts the engine boot,
# and serves again without being enabled anew.
source "$SRC/lib.sh"

install_plugins "$TESTMIB_SO"

settings() { cli send 161 get | sed 's/ u32:13=[0-9]*//'; }  # without the boot count
# The count of the latest "engineBoots = N" line on the agent's stdout.
announced_boots() { sed -n 's/^engineBoots = //p' "$AGENT_OUT" | tail -n 1; }

step "a fresh start has no stored settings and announces no boot count"
start_agent
[ -z "$(announced_boots)" ] || fail "boot count announced without a stored record"
enable_agent
cli send 161 set str:2=first-text be32:16=10.1.2.3 u32:18=1 >/dev/null || fail "settings"
keeper=$(add_community str:5=keeper bool:6=yes bool:7=yes be32:8=127.0.0.0 be32:9=255.0.0.0)
expect_out "$TESTMIB.1.0 = INTEGER: 5" snmpset -v2c -c keeper 127.0.0.1 $TESTMIB.1.0 i 5
before_settings=$(settings)
before_communities=$(cli send 161.1 getall)
boots=$(stored_boots)

step "after a restart: settings, communities, boot count, service"
restart_agent
expect_eq "$before_settings" "$(settings)" "settings after the restart"
expect_eq "$before_communities" "$(cli send 161.1 getall)" "communities after the restart"
expect_eq "$((boots + 1))" "$(announced_boots)" "announced boot count"
expect_eq "$((boots + 1))" "$(stored_boots)" "stored boot count"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c keeper 127.0.0.1 $TESTMIB.1.0
expect_out "$TESTMIB.1.0 = INTEGER: 6" snmpset -v1 -c keeper 127.0.0.1 $TESTMIB.1.0 i 6
# The default community stays read-only.
expect_refused "(readOnly)" snmpset -v2c -c morvel 127.0.0.1 $TESTMIB.1.0 i 1

step "a community added after the restart keeps its own id; every restart counts a boot"
second=$(add_community str:5=second bool:6=yes)
[ -n "$second" ] && [ "$second" != "$keeper" ] && [ "$second" != 0 ] ||
    fail "id of the community added after the restart: [$second]"
restart_agent
expect_eq "$((boots + 2))" "$(announced_boots)" "boot count of the second restart"
expect_contains "$(cli send 161.1 getobj OBJ_ID="$second")" 'str:5="second"' "second community"

step "with every community removed, a restart brings back the default one"
for id in 0 "$keeper" "$second"; do
    cli send 161.1 removeobj OBJ_ID="$id" >/dev/null || fail "removeobj $id"
done
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
restart_agent
communities=$(cli send 161.1 getall)
expect_contains "$communities" 'OBJ_ID=0 str:5="morvel"' "default community"
expect_eq 1 "$(grep -o 'OBJ_ID=' <<<"$communities" | wc -l)" "one community"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0

step "a disabled agent stays disabled across a restart"
cli send 161 set bool:1=no >/dev/null || fail "disable"
wait_for bash -c '! ss -lun | grep -q ":161 "' || fail "UDP 161 still open after disabling"
stop_agent
start_agent
sleep 0.3
udp161_bound && fail "a disabled agent listens after the restart"
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
enable_agent
expect_out "$TESTMIB.2.0 = STRING: \"orla test plug-in\"" \
    snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.2.0

pass
