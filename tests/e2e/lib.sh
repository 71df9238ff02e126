# Helpers for the end-to-end tests, sourced by each test_*.sh. They run inside
# the namespaces of netns.sh, which sets BUILD (the build folder) and SRC.
set -euo pipefail

BIN=$BUILD/bin
AGENT_OUT=/orla/.test/agent.out
AGENT_ERR=/orla/.test/agent.err
AGENT_PID=

fail() {
    echo "FAIL: $*" >&2
    [ ! -s "$AGENT_ERR" ] || { echo "--- agent stderr (last 20 lines)" && tail -n 20 "$AGENT_ERR"; } >&2
    exit 1
}

step() { echo "-- $*"; }

cli() { timeout 15 "$BIN/orla-cli" "$@"; }

# Waits up to 5 s for a command to succeed.
wait_for() {
    for _ in $(seq 50); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

# Polls (bounded) until what LISTER ARG prints has the line LINE, or with
# "no" lacks it: tables follow the system within their cache lifetime.
expect_listed() {  # LISTER ARG LINE [no]
    for _ in $(seq 20); do
        if "$1" "$2" | grep -qxF -- "$3"; then [ -z "${4:-}" ] && return 0
        else [ -n "${4:-}" ] && return 0; fi
        sleep 0.5
    done
    fail "$1 $2: [$3] ${4:+still }${4:-not} there"
}

udp161_bound() { ss -lun | grep -q ':161 '; }

install_plugins() { cp "$@" /orla/lib/snmp/; }

# AGENT_WRAPPER, when set, runs the agent (a leak checker, say); AGENT_ARGS
# are its options.
start_agent() {
    # shellcheck disable=SC2086
    ${AGENT_WRAPPER:-} "$BIN/orla-snmpd" ${AGENT_ARGS:-} >>"$AGENT_OUT" 2>>"$AGENT_ERR" &
    AGENT_PID=$!
    # The socket file appears before the agent listens on it.
    wait_for cli send 161 get || fail "agent did not start"
}

stop_agent() {
    [ -n "$AGENT_PID" ] || return 0
    kill -TERM "$AGENT_PID"
    wait "$AGENT_PID" || true
    AGENT_PID=
}

restart_agent() {
    stop_agent
    start_agent
    wait_for udp161_bound || fail "agent does not listen on UDP 161 after the restart"
}

enable_agent() {
    cli send 161 set bool:1=yes >/dev/null || fail "enable failed"
    wait_for udp161_bound || fail "agent does not listen on UDP 161"
}

# Installs the plug-ins SO..., starts the agent and enables it.
start_serving() {
    install_plugins "$@"
    start_agent
    enable_agent
}

# Adds a community with the fields FIELD=VALUE... and prints its id.
add_community() {
    local reply
    reply=$(cli send 161.1 addobj "$@") || fail "addobj $*: $reply"
    sed -n 's/.*OBJ_ID=\([0-9]*\).*/\1/p' <<<"$reply"
}

# The stored engine boot count (settings field 13).
stored_boots() { cli send 161 get | sed -n 's/.* u32:13=\([0-9]*\).*/\1/p'; }

agent_alive() { kill -0 "$AGENT_PID" 2>/dev/null || fail "agent died"; }
pass() {
    agent_alive
    echo PASS
}

expect_eq() {  # expected actual what
    [ "$1" = "$2" ] || fail "$3: expected [$1], got [$2]"
}

expect_contains() {  # haystack needle what
    grep -qF -- "$2" <<<"$1" || fail "$3: [$2] not in [$1]"
}

# Each NAME=VALUE is a line "NAME: VALUE" of OUTPUT: expect_fields OUTPUT NAME=VALUE...
expect_fields() {
    local out=$1 pair
    shift
    for pair; do
        expect_eq "${pair#*=}" "$(sed -n "s/^${pair%%=*}: //p" <<<"$out")" "${pair%%=*}"
    done
}

# The objects of the test plug-in (tests/e2e/plugin/testmib.cpp).
TESTMIB=.1.3.6.1.3.9999
TESTMIB_SO=$BUILD/lib/test/testmib.so

# A net-snmp tool with numeric names and a bounded wait: nsnmp TOOL ARGS...
nsnmp() {
    local tool=$1
    shift
    timeout 60 "$tool" -On -t 2 -r 1 "$@"
}

# The tool prints exactly EXPECTED: expect_out EXPECTED TOOL ARGS...
expect_out() {
    local expected=$1
    shift
    expect_eq "$expected" "$(nsnmp "$@")" "$*"
}

# The tool fails and says TEXT: expect_refused TEXT TOOL ARGS...
expect_refused() {
    local text=$1 out
    shift
    out=$(nsnmp "$@" 2>&1) && fail "$* answered: $out"
    expect_contains "$out" "$text" "$*"
}

# The tool must get no answer at all: expect_no_answer TOOL ARGS...
expect_no_answer() {
    local tool=$1 out
    shift
    if out=$(timeout 10 "$tool" -t 0.5 -r 0 "$@" 2>&1); then
        fail "$tool $*: answered: $out"
    fi
    expect_contains "$out" "Timeout: No Response" "$tool $*"
}

# Raw datagrams (tests/e2e/udp.py). A test that sends them calls
# need_python3 [MODULE...] first: without a python3 that imports them it is
# skipped (ctest SKIP_RETURN_CODE). Debian's modules (pysnmp) are in Debian's
# python3, which need not be the first in PATH.
need_python3() {
    local IFS=,
    for PYTHON in python3 /usr/bin/python3; do
        "$PYTHON" -c "import ${*:-sys}" 2>/dev/null && return 0
    done
    echo "SKIP: python3 ${*:-} needed"
    exit 77
}
udp() { timeout 60 "$PYTHON" "$SRC/udp.py" "$@" 2>&1; }

trap 'stop_agent' EXIT
