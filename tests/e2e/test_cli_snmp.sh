#!/usr/bin/env bash
# orla-cli snmp: settings and communities through named fields, against the
# running agent; error replies and bad arguments exit non-zero.
source "$SRC/lib.sh"

field() {  # "name: value" output, name -> value
    sed -n "s/^$2: //p" <<<"$1"
}

step "defaults of a fresh agent"
start_agent
out=$(cli snmp print)
expect_eq "no" "$(field "$out" enabled)" "enabled"
expect_eq "none" "$(field "$out" trap-target)" "trap-target"
expect_eq "none" "$(field "$out" trap-community)" "trap-community"
expect_eq "1" "$(field "$out" trap-version)" "trap-version"
expect_eq "morvel" "$(field "$out" community-name)" "community-name"
expect_contains "$(cli snmp generators)" "0xabc0001 start-trap" "generator list"

step "snmp set: every field in one request"
cli snmp set enabled=yes engine-id=lab-7 trap-target=192.0.2.9 trap-community=0 \
    trap-version=2c trap-generators=start-trap,5 engine-param=9 community-name=pub \
    contact=noc@example.net location="rack 4" || fail "snmp set"
wait_for udp161_bound || fail "enabled=yes did not open UDP 161"
out=$(cli snmp print)
expect_eq "yes" "$(field "$out" enabled)" "enabled"
expect_eq "lab-7" "$(field "$out" engine-id)" "engine-id"
expect_eq "192.0.2.9" "$(field "$out" trap-target)" "trap-target (network byte order)"
expect_eq "0" "$(field "$out" trap-community)" "trap-community"
expect_eq "2c" "$(field "$out" trap-version)" "trap-version"
expect_eq "0xabc0001 (start-trap), 5" "$(field "$out" trap-generators)" "trap-generators"
expect_eq "9" "$(field "$out" engine-param)" "engine-param"
expect_eq "pub" "$(field "$out" community-name)" "community-name"
expect_eq "noc@example.net" "$(field "$out" text2)" "contact"
expect_eq "rack 4" "$(field "$out" text3)" "location"
expect_eq "1" "$(cli send 161 get | grep -o 'u32:18=[0-9]*' | cut -d= -f2)" "trap-version code of 2c"

cli snmp set trap-version=3 trap-target=none trap-community=none trap-generators=none \
    text2=x || fail "second snmp set"
out=$(cli snmp print)
expect_eq "3" "$(field "$out" trap-version)" "trap-version 3"
expect_eq "none" "$(field "$out" trap-target)" "trap-target none"
expect_eq "none" "$(field "$out" trap-community)" "trap-community none"
expect_eq "none" "$(field "$out" trap-generators)" "trap-generators none"
expect_eq "x" "$(field "$out" text2)" "text2"
cli snmp set trap-version=1 || fail "trap-version=1"
expect_eq "0" "$(cli send 161 get | grep -o 'u32:18=[0-9]*' | cut -d= -f2)" "trap-version code of 1"

step "undo reverts the latest settings change"
cli undo >/dev/null || fail "undo"
expect_eq "3" "$(field "$(cli snmp print)" trap-version)" "trap-version after undo"

step "engine boots are counted per start"
stop_agent
start_agent
expect_eq "2" "$(field "$(cli snmp print)" engine-boots)" "engine-boots after a restart"

step "communities: add, set, get, print, remove"
out=$(cli snmp community print)
expect_contains "$out" "0   morvel  yes   no     any     none" "default community row"
id=$(cli snmp community add name=ops read=yes write=yes address=192.0.2.0/24 \
    auth-password=secret-1) || fail "community add"
expect_eq "1" "$id" "new community id"
expect_eq "7" "$(cli snmp community add name=lab id=7 address=10.1.2.3 netmask=255.0.255.0)" \
    "community add with id"
out=$(cli snmp community get "$id")
expect_eq "ops" "$(field "$out" name)" "name"
expect_eq "yes" "$(field "$out" write)" "write"
expect_eq "192.0.2.0" "$(field "$out" address)" "address of the prefix"
expect_eq "255.255.255.0" "$(field "$out" netmask)" "netmask of the prefix"
expect_eq "(set)" "$(field "$out" auth-password)" "auth password hidden"
expect_eq "(empty)" "$(field "$out" priv-password)" "priv password empty"
if grep -q secret-1 <<<"$out"; then fail "password printed in clear"; fi

cli snmp community set "$id" write=no security=priv priv-password=secret-2 auth-protocol=sha1 \
    priv-protocol=aes ||
    fail "community set"
out=$(cli snmp community get "$id")
expect_eq "no" "$(field "$out" write)" "write after set"
expect_eq "priv" "$(field "$out" security)" "security after set"
expect_eq "sha1" "$(field "$out" auth-protocol)" "auth-protocol after set"
expect_eq "aes" "$(field "$out" priv-protocol)" "priv-protocol after set"
expect_eq "(set)" "$(field "$out" priv-password)" "priv password after set"
expect_eq "192.0.2.0" "$(field "$out" address)" "address kept by set"

out=$(cli snmp community print)
expect_contains "$out" "ops" "print lists the new community"
expect_contains "$out" "192.0.2.0/24" "print shows the prefix"
expect_contains "$out" "10.1.2.3/255.0.255.0" "print shows a mask with holes"
if grep -q 'secret' <<<"$out"; then fail "password printed in clear"; fi

cli snmp community remove 7 || fail "community remove"
if cli snmp community print | grep -q ' lab '; then fail "removed community still listed"; fi
cli undo >/dev/null || fail "undo of the remove"
expect_eq "lab" "$(field "$(cli snmp community get 7)" name)" "undo restores the community"

step "listing pages past 20 communities"
for i in $(seq 25); do cli snmp community add name="c$i" >/dev/null || fail "add c$i"; done
out=$(cli snmp community print)
expect_eq "28" "$(($(wc -l <<<"$out") - 1))" "rows of the listing (3 + 25)"
expect_contains "$out" "c25" "last community listed"

step "error replies and usage errors exit non-zero"
set +e
err=$(cli snmp community get 99 2>&1); rc=$?
expect_eq "1" "$rc" "exit status of an error reply"
expect_contains "$err" "0xfe0004" "error code on stderr"
err=$(cli snmp community add name=morvel 2>&1); rc=$?
expect_eq "1" "$rc" "exit status of a duplicate name"
expect_contains "$err" "community with such name already exists" "error text"
err=$(cli snmp set trap-version=4 2>&1); rc=$?
expect_eq "2" "$rc" "exit status of a bad value"
expect_contains "$err" "trap-version" "bad value names the field"
err=$(cli snmp set colour=blue 2>&1); rc=$?
expect_eq "2" "$rc" "exit status of an unknown setting"
err=$(cli snmp community add name=y address=10.0.0.1/33 2>&1); rc=$?
expect_eq "2" "$rc" "exit status of a bad prefix"
err=$(cli snmp set trap-generators=no-such-generator 2>&1); rc=$?
expect_eq "2" "$rc" "exit status of an unknown generator"
set -e

agent_alive
echo PASS
