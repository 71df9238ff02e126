#!/usr/bin/env bash
# A restart keeps the settings (the agent's own engine ID among them) and the
# communities, counts the engine boot up to its latch, and serves again
# without being enabled anew. A fresh agent makes an engine ID of its own.
# A damaged community store leaves every community shut; an emptied one stays
# empty.
source "$SRC/lib.sh"

ENGINE=.1.3.6.1.6.3.10.2.1
install_plugins "$TESTMIB_SO" "$BUILD/lib/snmp/snmp-engine.so"

settings() { cli send 161 get | sed 's/ u32:13=[0-9]*//'; }  # without the boot count
# The count of the latest "engineBoots = N" line on the agent's stdout.
announced_boots() { sed -n 's/^engineBoots = //p' "$AGENT_OUT" | tail -n 1; }
get() { nsnmp snmpget -v2c -c morvel -Oqv"${2:-}" 127.0.0.1 "$1"; }  # OID [x for hex]
# snmpEngineID in upper-case hex; an SNMPv3 get as the user "auditor".
engine_id() { get $ENGINE.1.0 x | tr -d ' \n"' | tr a-f A-F; }
v3_get() {
    nsnmp snmpget -v3 -u auditor -l authNoPriv -a SHA -A auditor-pw "$@" 127.0.0.1 $ENGINE.2.0
}
# RFC 3411 format 5: 0x80000000 + 32473, octet 5, 12 random octets.
own_format() { [[ $1 =~ ^80007ED905[0-9A-F]{24}$ ]] || fail "not an engine ID of our own: [$1]"; }

# A community store as an agent that kept passwords wrote it.
old_store() { "$BIN/write_store" /orla/store/snmp-communities "$@" || fail "write_store $*"; }
old_store 0 str:5=morvel bool:6=yes
old_store 1 str:5=legacy bool:6=yes u32:15=2 u32:20=3 u32:21=1 str:11=legacy-auth-pw \
    str:12=legacy-priv-pw
legacy_get() {
    nsnmp snmpget -v3 -u legacy -l authPriv -a SHA-256 -A legacy-auth-pw -x AES \
        -X legacy-priv-pw -Oqv 127.0.0.1 $ENGINE.2.0 >/dev/null || fail "SNMPv3 get as legacy"
}
no_passwords() { ! grep -aq -e legacy-auth-pw -e legacy-priv-pw /orla/store/snmp-communities; }

step "a fresh start counts boot 1 and stores it with an engine ID of its own; stored passwords become keys"
start_agent
expect_eq 1 "$(announced_boots)" "announced boot count"
expect_eq 1 "$(stored_boots)" "stored boot count"
enable_agent
own_id=$(engine_id)
own_format "$own_id"
legacy_get
no_passwords || fail "passwords left in the community store"
expect_fields "$(cli snmp community get 1)" "auth-key=(key set)" "priv-key=(key set)"
expect_fields "$(cli snmp print)" engine-id= "generated-engine-id=0x${own_id,,}"
cli send 161 set str:2=first-text be32:16=10.1.2.3 u32:18=1 >/dev/null || fail "settings"
keeper=$(add_community str:5=keeper bool:6=yes bool:7=yes be32:8=127.0.0.0 be32:9=255.0.0.0)
expect_out "$TESTMIB.1.0 = INTEGER: 5" snmpset -v2c -c keeper 127.0.0.1 $TESTMIB.1.0 i 5
auditor=$(add_community str:5=auditor bool:6=yes u32:15=1 u32:20=1 str:11=auditor-pw)
v3_get >/dev/null || fail "SNMPv3 get under the agent's own engine ID"
before_settings=$(settings)
before_communities=$(cli send 161.1 getall)
boots=$(stored_boots)

step "after a restart: settings, communities, boot count, service"
restart_agent
expect_eq "$before_settings" "$(settings)" "settings after the restart"
expect_eq "$before_communities" "$(cli send 161.1 getall)" "communities after the restart"
expect_eq "$((boots + 1))" "$(announced_boots)" "announced boot count"
expect_eq "$((boots + 1))" "$(stored_boots)" "stored boot count"
expect_eq "$own_id" "$(engine_id)" "engine ID after the restart"
v3_get >/dev/null || fail "SNMPv3 get after the restart"
legacy_get
no_passwords || fail "passwords in the community store after the restart"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c keeper 127.0.0.1 $TESTMIB.1.0
expect_out "$TESTMIB.1.0 = INTEGER: 6" snmpset -v1 -c keeper 127.0.0.1 $TESTMIB.1.0 i 6
# The default community stays read-only.
expect_refused "noAccess" snmpset -v2c -c morvel 127.0.0.1 $TESTMIB.1.0 i 1

step "a community added after the restart keeps its own id; every restart counts a boot"
second=$(add_community str:5=second bool:6=yes)
[ -n "$second" ] && [ "$second" != "$keeper" ] && [ "$second" != 0 ] ||
    fail "id of the community added after the restart: [$second]"
restart_agent
expect_eq "$((boots + 2))" "$(announced_boots)" "boot count of the second restart"
expect_contains "$(cli send 161.1 getobj OBJ_ID="$second")" 'str:5="second"' "second community"

step "a configured engine-id wins, also at start; an empty one brings back the agent's own"
cli snmp set engine-id=lab-7 || fail "engine-id=lab-7"
restart_agent
expect_eq "80007ED904$(printf lab-7 | od -An -tx1 | tr -d ' \n' | tr a-f A-F)" "$(engine_id)" \
    "configured engine ID"
cli snmp set engine-id= || fail "engine-id="
expect_eq "$own_id" "$(engine_id)" "engine ID for the empty text"
v3_get >/dev/null || fail "SNMPv3 get back under the agent's own engine ID"

step "snmpEngineBoots is never lowered, and latches at 2147483647 (RFC 3414 2.2.2)"
out=$(cli snmp set engine-boots=1 contact=lowered 2>&1) && fail "lowering accepted: $out"
expect_contains "$out" "engine boots cannot go below" "refusal"
expect_fields "$(cli snmp print)" text2=first-text
cli snmp set engine-boots=2147483646 || fail "engine-boots=2147483646"
restart_agent
restart_agent
expect_eq 2147483647 "$(announced_boots)" "announced boot count at the latch"
expect_eq 2147483647 "$(get $ENGINE.2.0)" "snmpEngineBoots at the latch"
# Every authentic request is outside the time window; net-snmp gives up on
# an engine whose boots are latched.
expect_no_answer snmpget -v3 -u auditor -l authNoPriv -a SHA -A auditor-pw 127.0.0.1 $ENGINE.2.0
[ "$(get .1.3.6.1.6.3.15.1.1.2.0)" -gt 0 ] || fail "no usmStatsNotInTimeWindows counted"

step "a fresh settings store: boot 1, another engine ID of its own, stored users follow it"
stop_agent
rm /orla/store/snmpd
start_agent
enable_agent
expect_eq 1 "$(announced_boots)" "boot count of the fresh settings"
new_id=$(engine_id)
own_format "$new_id"
[ "$new_id" != "$own_id" ] || fail "two fresh agents share the engine ID $own_id"
expect_eq "$ENGINE.2.0 = INTEGER: 1" "$(v3_get -On)" "SNMPv3 get under the new engine ID"

step "a damaged community store shuts every community and user until reset-default"
for id in 0 "$keeper" "$second"; do
    cli send 161.1 removeobj OBJ_ID="$id" >/dev/null || fail "removeobj $id"
done
stop_agent
store=/orla/store/snmp-communities
byte=$(od -An -tu1 -j20 -N1 $store)
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of=$store bs=1 seek=20 conv=notrunc status=none
start_agent
aside=$(ls $store.bad-*) || fail "damaged store not set aside"
expect_eq 1 "$(grep -c "communities closed, .* kept as $aside" "$AGENT_ERR")" "closed line"
restart_agent
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
v3_get >/dev/null 2>&1 && fail "SNMPv3 user served from a damaged store"
expect_fields "$(cli snmp print)" "communities=closed, damaged store set aside as $aside"
expect_eq 0 "$(cli snmp community reset-default)" "id of the restored default"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
expect_fields "$(cli snmp print)" communities=

step "a community store missing after earlier starts closes the table, as a damaged one does"
stop_agent
rm $store $store.bad-*
start_agent
expect_eq 1 "$(grep -c "communities closed, .* store missing after earlier starts: $store;" \
    "$AGENT_ERR")" "closed line"
restart_agent
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
expect_fields "$(cli snmp print)" "communities=closed, store $store missing after earlier starts"
expect_eq 0 "$(cli snmp community reset-default)" "id of the restored default"
expect_out "$TESTMIB.1.0 = INTEGER: 42" snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0

step "with every community removed, the table stays empty over a restart"
cli send 161.1 removeobj OBJ_ID=0 >/dev/null || fail "removeobj 0"
restart_agent
expect_eq "{OBJ_LIST=[]}" "$(cli send 161.1 getall)" "communities after the restart"
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 $TESTMIB.1.0
cli snmp community reset-default >/dev/null || fail "reset-default"

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
