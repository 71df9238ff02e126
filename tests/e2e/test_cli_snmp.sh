#!/usr/bin/env bash
# orla-cli against the running agent: settings and communities through named
# fields, the undo history, change notifications; error replies and bad
# arguments exit non-zero.
source "$SRC/lib.sh"

trap_version_code() { cli send 161 get | grep -o 'u32:18=[0-9]*' | cut -d= -f2; }

step "defaults of a fresh agent"
umask 000  # its socket and run directory stay root's alone all the same
start_agent
umask 022
expect_fields "$(cli snmp print)" enabled=no trap-target=none trap-community=none \
    trap-version=1 community-name=morvel
expect_contains "$(cli snmp generators)" "0xabc0001 start-trap" "generator list"

step "snmp set: every field in one request"
cli snmp set enabled=yes engine-id=lab-7 trap-target=192.0.2.9 trap-community=0 \
    trap-version=2c trap-generators=start-trap,5 engine-param=9 community-name=pub \
    contact=noc@example.net location="rack 4" || fail "snmp set"
wait_for udp161_bound || fail "enabled=yes did not open UDP 161"
# The trap target is stored in network byte order.
expect_fields "$(cli snmp print)" enabled=yes engine-id=lab-7 trap-target=192.0.2.9 \
    trap-community=0 trap-version=2c "trap-generators=0xabc0001 (start-trap), 5" engine-param=9 \
    community-name=pub text2=noc@example.net "text3=rack 4"
expect_eq "1" "$(trap_version_code)" "trap-version code of 2c"

cli snmp set trap-version=3 trap-target=none trap-community=none trap-generators=none \
    text2=x || fail "second snmp set"
expect_fields "$(cli snmp print)" trap-version=3 trap-target=none trap-community=none \
    trap-generators=none text2=x
cli snmp set trap-version=1 || fail "trap-version=1"
expect_eq "0" "$(trap_version_code)" "trap-version code of 1"

step "undo reverts the latest settings change"
expect_eq "0 changed snmp settings" "$(cli undo --list | head -n 1)" "latest undo step"
cli undo >/dev/null || fail "undo"
expect_fields "$(cli snmp print)" trap-version=3

step "communities: add, set, get, print, remove"
expect_contains "$(cli snmp community print)" "0   morvel  yes   no     any     none" \
    "default community row"
id=$(cli snmp community add name=ops read=yes write=yes address=192.0.2.0/24 \
    auth-password=secret-1) || fail "community add"
expect_eq "1" "$id" "new community id"
cli watch 161.1 --count 1 >watch.out 2>&1 &
watcher=$!
wait_for grep -q watching watch.out || fail "watch did not start: $(cat watch.out)"
expect_eq "7" "$(cli snmp community add name=lab id=7 address=10.1.2.3 netmask=255.0.255.0)" \
    "community add with id"
wait "$watcher" || fail "watch: $(cat watch.out)"
expect_contains "$(cat watch.out)" '{OBJ_ID=7 str:5="lab"' "notification of the addition"
out=$(cli snmp community get "$id")
# The prefix gives address and netmask; the agent keeps keys, never passwords.
expect_fields "$out" name=ops write=yes address=192.0.2.0 netmask=255.255.255.0 \
    "auth-key=(key set)" "priv-key=(none)"
if grep -q secret-1 <<<"$out"; then fail "password printed in clear"; fi

# A new auth protocol needs the passwords again: here from standard input
# (two "-", two lines), where no other local user reads them.
printf 'secret-1x\nsecret-2x\n' | cli snmp community set "$id" write=no security=priv \
    auth-password=- priv-password=- auth-protocol=sha384 priv-protocol=aes256c ||
    fail "community set"
expect_fields "$(cli snmp community get "$id")" write=no security=priv auth-protocol=sha384 \
    priv-protocol=aes256c "priv-key=(key set)" address=192.0.2.0
mkfifo password
cli snmp community set "$id" auth-password=- <password &
setter=$!
wait_for bash -c "grep -qa auth-password=- /proc/$setter/cmdline /proc/*/cmdline" ||
    fail "no orla-cli waiting"
if cat /proc/[0-9]*/cmdline 2>/dev/null | grep -qa 'secret-[3]x'; then fail "password on a command line"; fi
echo secret-3x >password
wait "$setter" || fail "community set from standard input"
if grep -aq secret /orla/store/snmp-communities; then fail "a password in the store"; fi

out=$(cli snmp community print)
for row in ops 192.0.2.0/24 10.1.2.3/255.0.255.0; do expect_contains "$out" "$row" "print"; done
grep -qE '^[0-9]+ +ops .* priv +sha384 +aes256c ' <<<"$out" || fail "protocols in print: $out"
if grep -q 'secret' <<<"$out"; then fail "password printed in clear"; fi

cli snmp community remove 7 || fail "community remove"
if cli snmp community print | grep -q ' lab '; then fail "removed community still listed"; fi
cli undo >/dev/null || fail "undo of the remove"
expect_fields "$(cli snmp community get 7)" name=lab

step "listing pages past 20 communities"
for i in $(seq 25); do cli snmp community add name="c$i" >/dev/null || fail "add c$i"; done
out=$(cli snmp community print)
expect_eq "28" "$(($(wc -l <<<"$out") - 1))" "rows of the listing (3 + 25)"
expect_contains "$out" "c25" "last community listed"

step "error replies and usage errors exit non-zero"
expect_exit() {  # STATUS TEXT ARGS...: orla-cli ARGS exits with STATUS and says TEXT
    local status=$1 text=$2 err rc=0
    shift 2
    err=$(cli "$@" 2>&1) || rc=$?
    expect_eq "$status" "$rc" "exit status of orla-cli $*"
    expect_contains "$err" "$text" "orla-cli $*"
}
expect_exit 1 0xfe0004 snmp community get 99
expect_exit 1 "community with such name already exists" snmp community add name=morvel
# RFC 3414 11.2: orla-cli refuses a short password; the agent the passwords
# the level uses, on add and on change ($id is at priv).
expect_exit 2 "auth-password: at least 8 characters" snmp community add name=y auth-password=7-chars
expect_exit 1 "auth password must have at least 8" snmp community add name=y security=auth
expect_exit 1 "a new auth protocol needs the passwords again" snmp community set "$id" \
    auth-protocol=md5
expect_exit 1 "priv password must have at least 8" send 161.1 setobj OBJ_ID="$id" str:12=7-chars
expect_exit 2 "name: must not be empty" snmp community set "$id" name=
expect_exit 2 "name: must not be empty" snmp community add name=
expect_exit 1 "empty script name" send 161.1 setobj OBJ_ID="$id" str:5=
expect_fields "$(cli snmp community get "$id")" name=ops
expect_exit 2 trap-version snmp set trap-version=4
expect_exit 2 "" snmp set colour=blue
expect_exit 2 "" snmp community add name=y address=10.0.0.1/33
expect_exit 2 "" snmp set trap-generators=no-such-generator
expect_exit 2 "unknown action" snmp frobnicate
expect_exit 2 "unknown subcommand" frobnicate
expect_exit 2 "usage: send" send 161
expect_exit 2 "unknown command" send 161 frobnicate
expect_exit 2 "not a number" send 161 get "msg[]:2=u32:5=1,str:6=a;u32:5=x"
expect_exit 2 "usage: watch" watch 161 --count
expect_exit 2 "usage: undo" undo --service

step "another user is refused: by the modes, then by the agent's peer check"
expect_eq "700 600" "$(echo $(stat -c %a /orla/run /orla/run/161.sock))" "run directory, socket"
cli() { timeout 15 setpriv --reuid 65534 --regid 65534 --clear-groups "$BIN/orla-cli" "$@"; }
expect_exit 1 "access to service 161 refused: no permission" snmp set location=intruder
expect_exit 1 "access to service 161 refused: no permission" send 161.1 addobj str:5=intruder
chmod 0755 /orla/run && chmod 0777 /orla/run/161.sock
expect_exit 1 "access to service 161 refused for uid 65534" snmp set location=intruder
expect_exit 1 "access to service 161 refused for uid 65534" send 161.1 addobj str:5=intruder
cli() { timeout 15 "$BIN/orla-cli" "$@"; }
grep -q "refused a connection from uid 65534" "$AGENT_ERR" || fail "no refusal line from the agent"
if grep -q intruder <<<"$(cli send 161 get; cli send 161.1 getall)"; then fail "a change got in"; fi

pass
