# Helpers of the agent comparison (compare.sh) and the soak (soak.sh), sourced
# by both. The host side installs and builds; everything else runs inside
# private network, mount and PID namespaces (enter_namespaces), where each
# agent gets a network namespace of its own with only loopback, so each one
# answers on 127.0.0.1:161 while the others keep running.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$SRC_DIR/build}
BIN=$BUILD/bin
WORK=/orla/.bench

# Credentials of the benchmark, the same for every agent.
RO_COMMUNITY=morvel
RW_COMMUNITY=private
AUTH_USER=benchauth
AUTH_PASS=benchauth-pass
PRIV_USER=benchpriv
PRIV_PASS=benchpriv-pass
PRIV_KEY=benchpriv-priv
# The authPriv user with SHA-256 and AES-256: net-snmp's names of its
# protocols, then ours.
PRIV256_USER=benchpriv256
PRIV256_PASS=benchpriv256-pass
PRIV256_KEY=benchpriv256-priv
PRIV256_AUTH=SHA-256 PRIV256_PRIV=AES-256
PRIV256_AUTH_OURS=sha256 PRIV256_PRIV_OURS=aes256

# Routes given to snmpd's namespace: its ipCidrRouteTable is its largest table.
SNMPD_ROUTES=10000
# The route tables of benchmib (.4 and .5) that fake_routes serves.
FAKE_ROUTES="1000000 100"

die() {
    echo "bench: $*" >&2
    exit 1
}

# --- host side ---------------------------------------------------------------

# Installs what is missing: the build's packages (scripts/deps.sh), net-snmp's
# library for the load generator and its agent to compare with. Debian's
# postinst would start snmpd on the host: a policy-rc.d that refuses every
# start is put in place for the install (unless one is there already).
install_packages() {
    bash "$SRC_DIR/scripts/deps.sh"
    local missing=()
    for p in libsnmp-dev snmpd; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "installing: ${missing[*]}"
    local policy=/usr/sbin/policy-rc.d own_policy=no
    if [ ! -e $policy ]; then
        printf '#!/bin/sh\nexit 101\n' >$policy
        chmod 0755 $policy
        own_policy=yes
    fi
    export DEBIAN_FRONTEND=noninteractive
    local status=0
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
        status=$?
    [ $own_policy = no ] || rm -f $policy
    [ $status -eq 0 ] || die "apt-get install failed"
    # Should a service manager have started it regardless, stop it.
    if command -v systemctl >/dev/null && systemctl is-active --quiet snmpd 2>/dev/null; then
        systemctl stop snmpd
    fi
}

build_programs() {
    cmake -S "$SRC_DIR" -B "$BUILD" >/dev/null
    cmake --build "$BUILD" -j2 --target orla-snmpd orla-cli loadgen null_responder fake_rows \
        fake_routes benchmib system interfaces ip ip-forward snmp-engine >/dev/null
    [ -x "$BIN/loadgen" ] || die "loadgen was not built (is libsnmp-dev installed?)"
}

# Re-runs the calling script inside the namespaces with --inside first.
enter_namespaces() {
    [ "$(id -u)" -eq 0 ] || die "needs root for its namespaces"
    [ -d /orla ] || mkdir /orla
    exec unshare --net --mount --pid --fork --mount-proc \
        env BUILD="$BUILD" bash "$1" --inside "${@:2}"
}

# The start of a bench run as `bash bench/NAME.sh [--quick]`, called as
# `start_bench TARGET... -- "$@"`: outside the namespaces it checks the
# arguments, installs what is missing, builds the programs and the TARGETs,
# and runs the script again inside them (no return); inside, it sets QUICK
# (1 with --quick, else empty).
start_bench() {
    local targets=() script
    script=$(basename "$0")
    while [ "$1" != -- ]; do
        targets+=("$1")
        shift
    done
    shift
    if [ "${1:-}" != --inside ]; then
        [ $# -le 1 ] && [ "${1:---quick}" = --quick ] || die "usage: $script [--quick]"
        install_packages
        build_programs
        [ ${#targets[@]} -eq 0 ] || cmake --build "$BUILD" -j2 --target "${targets[@]}" >/dev/null
        enter_namespaces "$SRC_DIR/bench/$script" "$@"
    fi
    QUICK=
    if [ "${2:-}" = --quick ]; then QUICK=1; fi
}

# --- inside the namespaces ---------------------------------------------------

# A fresh tmpfs at /orla (the agent's whole world) and at /var/lib/snmp.
setup_namespace() {
    mount --make-rprivate /
    mount -t tmpfs tmpfs /orla
    mkdir -p /var/lib/snmp && mount -t tmpfs tmpfs /var/lib/snmp
    mkdir -p /orla/lib/snmp /orla/store /orla/run /orla/log $WORK
    ip link set lo up
    export TMPDIR=$WORK HOME=$WORK MIBS=
    cd $WORK
    trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
}

wait_for() {
    for _ in $(seq 100); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}

# in_netns PID CMD...: runs CMD in the network namespace of process PID.
in_netns() {
    local pid=$1
    shift
    nsenter --net=/proc/$pid/ns/net "$@"
}

listens_161() { in_netns "$1" ss -lun | grep -q '127.0.0.1:161 \|\*:161 \|0.0.0.0:161 '; }

# The process started last by start_in_netns.
NETNS_PID=

# start_in_netns LOG SETUP CMD...: starts CMD in a new network namespace with
# loopback up, after the shell commands SETUP; its pid is left in NETNS_PID.
start_in_netns() {
    local log=$1 setup=$2
    shift 2
    unshare --net bash -c "ip link set lo up; $setup; exec \"\$@\"" netns "$@" >>"$log" 2>&1 &
    NETNS_PID=$!
}

OURS_PID=
SNMPD_PID=
NULL_PID=
FAKE_ROWS_PID=
FAKE_ROUTES_PID=

# Our agent, with its shipped plug-ins (but the example, whose service is
# absent) and the benchmark plug-in fed by fake_rows, enabled, with a
# read-write community and two SNMPv3 users.
start_ours() {
    local plugin
    for plugin in "$BUILD"/lib/snmp/*.so; do
        [ "$(basename "$plugin")" = example.so ] || cp "$plugin" /orla/lib/snmp/
    done
    cp "$BUILD/lib/bench/benchmib.so" /orla/lib/snmp/
    # Largest first: the request that walks past the end of a table reads
    # the next table, and must not make every walk pay for a larger one.
    "$BIN/fake_rows" 100000 10000 100 >>/orla/log/fake_rows.log 2>&1 &
    FAKE_ROWS_PID=$!
    "$BIN/fake_routes" $FAKE_ROUTES >>/orla/log/fake_routes.log 2>&1 &
    FAKE_ROUTES_PID=$!
    start_in_netns /orla/log/orla-snmpd.log : "$BIN/orla-snmpd"
    OURS_PID=$NETNS_PID
    wait_for test -S /orla/run/161.sock || die "our agent did not start"
    wait_for test -S /orla/run/212.sock || die "fake_rows did not start"
    wait_for test -S /orla/run/213.sock || die "fake_routes did not start"
    local cli="$BIN/orla-cli"
    $cli snmp community add name=$RW_COMMUNITY read=yes write=yes >/dev/null
    $cli snmp community add name=$AUTH_USER read=yes security=auth auth-protocol=sha1 \
        auth-password=$AUTH_PASS >/dev/null
    $cli snmp community add name=$PRIV_USER read=yes security=priv auth-protocol=sha1 \
        auth-password=$PRIV_PASS priv-protocol=aes priv-password=$PRIV_KEY >/dev/null
    $cli snmp community add name=$PRIV256_USER read=yes security=priv \
        auth-protocol=$PRIV256_AUTH_OURS auth-password=$PRIV256_PASS \
        priv-protocol=$PRIV256_PRIV_OURS priv-password=$PRIV256_KEY >/dev/null ||
        echo "our agent refused the $PRIV256_AUTH/$PRIV256_PRIV user: its scenarios fail" >&2
    $cli snmp set enabled=yes >/dev/null
    wait_for listens_161 $OURS_PID ||
        die "our agent does not listen on UDP 161: $(tail -n 5 /orla/log/orla-snmpd.log)"
}

# net-snmp's agent with a configuration of its own only (-C -c), its state
# under /orla, sysContact left unconfigured so that it is writable,
# sysServices configured (it has none by default; ours serves 78) and
# SNMPD_ROUTES routes in its namespace.
start_snmpd() {
    local dir=/orla/snmpd
    mkdir -p $dir/state
    cat >$dir/snmpd.conf <<CONF
agentaddress udp:127.0.0.1:161
rocommunity $RO_COMMUNITY 127.0.0.1
rwcommunity $RW_COMMUNITY 127.0.0.1
createUser $AUTH_USER SHA "$AUTH_PASS"
createUser $PRIV_USER SHA "$PRIV_PASS" AES "$PRIV_KEY"
createUser $PRIV256_USER $PRIV256_AUTH "$PRIV256_PASS" $PRIV256_PRIV "$PRIV256_KEY"
rouser $AUTH_USER auth
rouser $PRIV_USER priv
rouser $PRIV256_USER priv
sysServices 78
dontLogTCPWrappersConnects yes
CONF
    local i j
    for ((i = 0; i < SNMPD_ROUTES; i++)); do
        echo "route add 10.$((i / 250)).$((i % 250)).0/24 dev lo"
    done >$dir/routes
    start_in_netns $dir/snmpd.out "ip -batch $dir/routes" \
        env SNMP_PERSISTENT_DIR=$dir/state /usr/sbin/snmpd -f -C -c $dir/snmpd.conf \
        -Lf $dir/snmpd.log
    SNMPD_PID=$NETNS_PID
    wait_for listens_161 $SNMPD_PID ||
        die "snmpd does not listen on UDP 161: $(tail -n 5 $dir/snmpd.out $dir/snmpd.log)"
}

start_null() {
    start_in_netns /orla/log/null_responder.log : "$BIN/null_responder"
    NULL_PID=$NETNS_PID
    wait_for listens_161 $NULL_PID || die "null_responder does not listen on UDP 161"
}

# "RSS_KB RSS_ANON_KB" of a process.
memory_of() {
    awk '/^VmRSS:/ {rss = $2} /^RssAnon:/ {anon = $2} END {print rss, anon}' "/proc/$1/status"
}

# The CPU time of a process, all its threads, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{total += $1} END {printf "%.0f\n", total}'; }

# One GetBulk walk run of OID (one request in flight) at agent AGENT, whose
# service SERVICE answers for it: "OBJECTS AGENT_NS SERVICE_NS STATUS", the
# agent's CPU as loadgen measured it (-1 when it could not) and the
# service's from its schedstat.
bulk_walk_cost() {  # AGENT SERVICE OID
    local before line field objects= agent_ns= status=
    before=$(cpu_ns "$2")
    line=$(loadgen_at "$1" -v 2c -c "$RO_COMMUNITY" -m bulk -n 1 -w "$WARMUP_SECONDS" \
        -d "$SECONDS_PER_RUN" "$3" 2>&1 | grep '^RESULT' || echo "RESULT status=FAILED")
    for field in $line; do
        case $field in
            objects=*) objects=${field#*=} ;;
            agent_cpu_ns=*) agent_ns=${field#*=} ;;
            status=*) status=${field#*=} ;;
        esac
    done
    echo "${objects:-0} ${agent_ns:--1} $(($(cpu_ns "$2") - before)) $status"
}
# awk functions of the benches' summaries, to put before an awk program:
# median(list, n) and range(list, n) ("[min-max]") of list[1..n].
AWK_STATS='
    function median(list, n,   sorted, i, j, t) {
        for (i = 1; i <= n; i++) sorted[i] = list[i]
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
            if (sorted[j] < sorted[i]) { t = sorted[i]; sorted[i] = sorted[j]; sorted[j] = t }
        return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
    }
    function range(list, n,   lo, hi, i) {
        lo = hi = list[1]
        for (i = 2; i <= n; i++) { if (list[i] < lo) lo = list[i]; if (list[i] > hi) hi = list[i] }
        return sprintf("[%.0f-%.0f]", lo, hi)
    }
'

# peak_memory_of PID: samples memory_of every 0.1 s until killed, and prints
# the sample with the largest RssAnon when it is (SIGTERM).
peak_memory_of() {
    local peak="0 0" sample
    trap 'echo "$peak"; exit 0' TERM
    while sample=$(memory_of "$1" 2>/dev/null); do
        [ "${sample#* }" -le "${peak#* }" ] || peak=$sample
        sleep 0.1
    done
    echo "$peak"
}

# loadgen_at PID ARGS...: the load generator against 127.0.0.1 in that
# agent's namespace, measuring that agent's CPU time. ARGS are options, then
# the OIDs (GNU getopt takes options after the peer too).
loadgen_at() {
    local pid=$1
    shift
    in_netns "$pid" timeout 120 "$BIN/loadgen" -p "$pid" 127.0.0.1 "$@"
}
