#!/usr/bin/env bash
# SNMPv3 requests that are refused: wrong passwords, an unknown user, a level
# below the user's, a filtered source address, and v1/v2c with a v3 user.
# shellcheck disable=SC2086  # the option lists below split into words
source "$SRC/lib.sh"

ip addr add 10.161.0.1/32 dev lo
start_serving "$TESTMIB_SO"

add_community str:5=ops bool:6=yes bool:7=yes u32:15=1 u32:20=0 str:11=ops-auth-pw >/dev/null
add_community str:5=vault bool:6=yes u32:15=2 u32:20=1 u32:21=1 str:11=vault-auth-pw \
    str:12=vault-priv-pw >/dev/null
add_community str:5=local bool:6=yes u32:15=0 be32:8=10.161.0.1 be32:9=255.255.255.255 >/dev/null
OPS="-v3 -u ops -l authNoPriv"
VAULT="-v3 -u vault -l authPriv -a SHA"
GET="127.0.0.1 $TESTMIB.1.0"
ANSWER="$TESTMIB.1.0 = INTEGER: 42"

step "the right passwords are served"
expect_out "$ANSWER" snmpget $OPS -a MD5 -A ops-auth-pw $GET
expect_out "$ANSWER" snmpget $VAULT -A vault-auth-pw -x AES -X vault-priv-pw $GET

step "a wrong authentication password or protocol is an authentication failure"
expect_refused "Authentication failure" snmpget $OPS -a MD5 -A not-the-pw $GET
expect_refused "Authentication failure" snmpget $OPS -a SHA -A ops-auth-pw $GET

step "encrypted requests that fail authentication or decryption get no answer"
# Their request id is inside the ciphertext, so no report can carry it.
expect_no_answer snmpget $VAULT -A not-the-pw -x AES -X vault-priv-pw $GET
expect_no_answer snmpget $VAULT -A vault-auth-pw -x AES -X not-the-pw $GET

step "an unknown user"
expect_refused "Unknown user name" snmpget -v3 -u nobody -l noAuthNoPriv $GET
# With authentication, the digest check comes first: no key verifies it.
expect_refused "Authentication failure" snmpget -v3 -u nobody -l authNoPriv -a MD5 \
    -A whatever-pw $GET

step "a level below the user's is an unsupported security level"
expect_refused "Unsupported security level" snmpget -v3 -u ops -l noAuthNoPriv $GET
expect_refused "Unsupported security level" snmpget -v3 -u vault -l authNoPriv -a SHA \
    -A vault-auth-pw $GET

step "a source address outside the user's filter is an unknown user"
expect_out "$ANSWER" snmpget -v3 -u local -l noAuthNoPriv --clientaddr=10.161.0.1 $GET
expect_refused "Unknown user name" snmpget -v3 -u local -l noAuthNoPriv $GET

step "SNMPv3 users with a security level are no v1/v2c communities"
for version in 1 2c; do expect_no_answer snmpget -v$version -c ops $GET; done

step "no password reaches the diagnostics, the community store stays private"
for secret in ops-auth-pw vault-auth-pw vault-priv-pw; do
grep -qF "$secret" "$AGENT_ERR" "$AGENT_OUT" && fail "$secret in the agent's output"
done
expect_eq 600 "$(stat -c %a /orla/store/snmp-communities)" "mode of the community store"

pass
