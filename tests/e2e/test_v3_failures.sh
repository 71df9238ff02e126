#!/usr/bin/env bash
# SNMPv3 requests that are refused: wrong passwords, an unknown user, a level
# below the user's, a filtered source address, and v1/v2c with a v3 user.
source "$SRC/lib.sh"

install_plugins "$TESTMIB_SO"
ip addr add 10.161.0.1/32 dev lo
start_agent
enable_agent

cli send 161.1 addobj str:5=ops bool:6=yes bool:7=yes u32:15=1 u32:20=0 \
    str:11=ops-auth-pw >/dev/null || fail "add ops"
cli send 161.1 addobj str:5=vault bool:6=yes u32:15=2 u32:20=1 u32:21=1 \
    str:11=vault-auth-pw str:12=vault-priv-pw >/dev/null || fail "add vault"
cli send 161.1 addobj str:5=local bool:6=yes u32:15=0 be32:8=10.161.0.1 \
    be32:9=255.255.255.255 >/dev/null || fail "add local"

refused() {  # EXPECTED_TEXT WHAT TOOL ARGS...: the tool fails and says EXPECTED_TEXT
    local expected=$1 what=$2 out
    shift 2
    out=$(nsnmp "$@" 2>&1) && fail "$what answered: $out"
    expect_contains "$out" "$expected" "$what"
}

step "the right passwords are served"
expect_eq "$TESTMIB.1.0 = INTEGER: 42" \
    "$(nsnmp snmpget -v3 -u ops -l authNoPriv -a MD5 -A ops-auth-pw 127.0.0.1 $TESTMIB.1.0)" \
    "ops get"
expect_eq "$TESTMIB.1.0 = INTEGER: 42" \
    "$(nsnmp snmpget -v3 -u vault -l authPriv -a SHA -A vault-auth-pw -x AES -X vault-priv-pw \
        127.0.0.1 $TESTMIB.1.0)" "vault get"

step "a wrong authentication password is an authentication failure"
refused "Authentication failure" "ops with a wrong password" \
    snmpget -v3 -u ops -l authNoPriv -a MD5 -A not-the-pw 127.0.0.1 $TESTMIB.1.0
refused "Authentication failure" "ops with the wrong protocol" \
    snmpget -v3 -u ops -l authNoPriv -a SHA -A ops-auth-pw 127.0.0.1 $TESTMIB.1.0

step "encrypted requests that fail authentication or decryption get no answer"
# Their request id is inside the ciphertext, so no report can carry it.
expect_no_answer snmpget -v3 -u vault -l authPriv -a SHA -A not-the-pw -x AES \
    -X vault-priv-pw 127.0.0.1 $TESTMIB.1.0
expect_no_answer snmpget -v3 -u vault -l authPriv -a SHA -A vault-auth-pw -x AES \
    -X not-the-pw 127.0.0.1 $TESTMIB.1.0

step "an unknown user"
refused "Unknown user name" "unknown user" \
    snmpget -v3 -u nobody -l noAuthNoPriv 127.0.0.1 $TESTMIB.1.0
# With authentication, the digest check comes first: no key verifies it.
refused "Authentication failure" "unknown user with authentication" \
    snmpget -v3 -u nobody -l authNoPriv -a MD5 -A whatever-pw 127.0.0.1 $TESTMIB.1.0

step "a level below the user's is an unsupported security level"
refused "Unsupported security level" "ops without authentication" \
    snmpget -v3 -u ops -l noAuthNoPriv 127.0.0.1 $TESTMIB.1.0
refused "Unsupported security level" "vault without privacy" \
    snmpget -v3 -u vault -l authNoPriv -a SHA -A vault-auth-pw 127.0.0.1 $TESTMIB.1.0

step "a source address outside the user's filter is an unknown user"
expect_eq "$TESTMIB.1.0 = INTEGER: 42" \
    "$(nsnmp snmpget -v3 -u local -l noAuthNoPriv --clientaddr=10.161.0.1 127.0.0.1 \
        $TESTMIB.1.0)" "local from its address"
refused "Unknown user name" "local from 127.0.0.1" \
    snmpget -v3 -u local -l noAuthNoPriv 127.0.0.1 $TESTMIB.1.0

step "SNMPv3 users with a security level are no v1/v2c communities"
for version in 1 2c; do
    expect_no_answer snmpget -v$version -c ops 127.0.0.1 $TESTMIB.1.0
done

step "no password reaches the diagnostics, the community store stays private"
for secret in ops-auth-pw vault-auth-pw vault-priv-pw; do
    grep -qF "$secret" "$AGENT_ERR" "$AGENT_OUT" && fail "$secret in the agent's output"
done
expect_eq 600 "$(stat -c %a /orla/store/snmp-communities)" "mode of the community store"

agent_alive
echo PASS
