#!/usr/bin/env bash
# Side-by-side benchmark of orla-snmpd, net-snmp's snmpd and the null
# responder (the floor): the agent's own CPU time per request (per object for
# walks), requests per second, p50/p99 latency, and the agents' memory.
#
#   bash bench/compare.sh [--quick]
#
# ONLY=REGEX runs just the scenarios whose label matches (grep -E).
#
# As root. It installs what it misses (without ever starting snmpd on the
# host), builds, and runs everything inside private namespaces on loopback:
# the host's network and files are not touched. Each scenario runs REPEATS
# times, in rounds, alternating the agents; the table shows medians with
# min-max. It only reports: a run with any timeout, error status, exception
# or report is marked FAILED, never asserted on.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_bench -- "$@"
REPEATS=5 SECONDS_PER_RUN=2 WARMUP_SECONDS=0.3
if [ "$QUICK" ]; then REPEATS=2 SECONDS_PER_RUN=0.4 WARMUP_SECONDS=0.1; fi

V2="-v 2c -c $RO_COMMUNITY"
V2_RW="-v 2c -c $RW_COMMUNITY"
V3_AUTH="-v 3 -u $AUTH_USER -l authNoPriv -A $AUTH_PASS"
V3_PRIV="-v 3 -u $PRIV_USER -l authPriv -A $PRIV_PASS -X $PRIV_KEY"
V3_PRIV256="-v 3 -u $PRIV256_USER -l authPriv -a $PRIV256_AUTH -A $PRIV256_PASS"
V3_PRIV256+=" -x $PRIV256_PRIV -X $PRIV256_KEY"

SYS=1.3.6.1.2.1.1
UPTIME=$SYS.3.0
# Ten scalars both agents serve: the seven of the system group, three again.
TEN="$SYS.1.0 $SYS.2.0 $SYS.3.0 $SYS.4.0 $SYS.5.0 $SYS.6.0 $SYS.7.0 $SYS.3.0 $SYS.5.0 $SYS.1.0"
BENCH_TABLE=1.3.6.1.3.9998     # benchmib's tables: .1 100,000, .2 10,000, .3 100 rows;
                               # route tables .4 1,000,000, .5 100 routes (4 columns)
SNMPD_TABLE=1.3.6.1.2.1.4.24.4 # ipCidrRouteTable, SNMPD_ROUTES rows

# label | mode | loadgen options | OIDs for ours | for snmpd (- none) | null responder too
SCENARIOS=(
    "v2c Get sysUpTime.0|get|$V2|$UPTIME|$UPTIME|yes"
    "v2c Get 10 scalars|get|$V2|$TEN|$TEN|yes"
    "v3 authNoPriv SHA Get|get|$V3_AUTH|$UPTIME|$UPTIME|no"
    "v3 authPriv SHA+AES Get|get|$V3_PRIV|$UPTIME|$UPTIME|no"
    "v2c Set sysContact.0|set|$V2_RW|$SYS.4.0|$SYS.4.0|yes"
    "GetNext walk system group|walk|$V2|$SYS|$SYS|no"
    "GetNext walk 100 rows|walk|$V2|$BENCH_TABLE.3.1|-|no"
    "GetNext walk 10k rows|walk|$V2|$BENCH_TABLE.2.1|$SNMPD_TABLE.1|no"
    "GetNext walk 100k rows|walk|$V2|$BENCH_TABLE.1.1|-|no"
    "GetBulk(25) walk 100 rows|bulk|$V2|$BENCH_TABLE.3.1|-|no"
    "GetBulk(25) walk 10k rows|bulk|$V2|$BENCH_TABLE.2.1|$SNMPD_TABLE.1|no"
    "GetBulk(25) walk 100k rows|bulk|$V2|$BENCH_TABLE.1.1|-|no"
    "v3 $PRIV256_AUTH+$PRIV256_PRIV bulk walk 10k|bulk|$V3_PRIV256|$BENCH_TABLE.2.1|$SNMPD_TABLE.1|no"
    "GetBulk(25) walk 100 routes|bulk|$V2|$BENCH_TABLE.5.1|-|no"
    "GetBulk(25) walk 1M routes|bulk|$V2|$BENCH_TABLE.4.1|-|no"
)
# One whole GetBulk(25) walk of the million routes, in one slot: its four
# columns take 160,000 requests, and one more leaves the table.
FULL_WALK_LABEL="GetBulk(25) walk of all 1M routes, memory"
FULL_WALK_REQUESTS=160001
IN_FLIGHT=(1 16)

setup_namespace
echo "starting the agents (snmpd gets $SNMPD_ROUTES routes)"
start_ours
start_snmpd
start_null
MEMORY=$WORK/memory RESULTS=$WORK/results
: >"$RESULTS"
for agent in ours snmpd null; do
    pid_var=${agent^^}_PID
    echo "$agent before $(memory_of "${!pid_var}")" >>"$MEMORY"
done

# run_one LABEL IN_FLIGHT AGENT PID MODE OPTIONS OIDS: one measured run after
# a short unmeasured warm-up in the same session (it fills the agent's
# caches, which a pause between two processes could let expire); its RESULT
# line goes to the results file.
run_one() {
    local label=$1 n=$2 agent=$3 pid=$4 mode=$5 options=$6 oids=$7 line
    # shellcheck disable=SC2086  # options and OIDs are word lists
    line=$(loadgen_at "$pid" $options -m "$mode" -n "$n" -w "$WARMUP_SECONDS" \
        -d "$SECONDS_PER_RUN" $oids 2>&1 | grep '^RESULT' || echo "RESULT status=FAILED")
    echo "$label|$n|$agent|$line" >>"$RESULTS"
}

# Round after round, each scenario once per round and in-flight count: a
# scenario's runs spread over the whole comparison, so the load of a shared
# machine weighs on every scenario alike, and neighbours in the list (100
# and 1M routes) run one after the other in every round.
total=${#SCENARIOS[@]}
for ((rep = 1; rep <= REPEATS; rep++)); do
    for n in "${IN_FLIGHT[@]}"; do
        index=0
        for scenario in "${SCENARIOS[@]}"; do
            IFS='|' read -r label mode options ours_oids snmpd_oids with_null <<<"$scenario"
            index=$((index + 1))
            [ -z "${ONLY:-}" ] || grep -qE -- "$ONLY" <<<"$label" || continue
            echo "[round $rep/$REPEATS, $n in flight, $index/$total] $label"
            run_one "$label" "$n" ours "$OURS_PID" "$mode" "$options" "$ours_oids"
            [ "$snmpd_oids" = - ] ||
                run_one "$label" "$n" snmpd "$SNMPD_PID" "$mode" "$options" "$snmpd_oids"
            [ "$with_null" = no ] ||
                run_one "$label" "$n" null "$NULL_PID" "$mode" "$options" "$ours_oids"
        done
    done
done

if [ -z "${ONLY:-}" ] || grep -qE -- "$ONLY" <<<"$FULL_WALK_LABEL"; then
    echo "$FULL_WALK_LABEL"
    peak_memory_of "$OURS_PID" >"$WORK/peak" &
    sampler=$!
    walked=$(loadgen_at "$OURS_PID" $V2 -m bulk -n 1 -r $FULL_WALK_REQUESTS -d 600 \
        $BENCH_TABLE.4.1 2>&1 | grep '^RESULT' || echo "RESULT status=FAILED")
    kill -TERM $sampler
    wait $sampler || true
    echo "$walked"
    echo "ours during-walk $(cat "$WORK/peak")" >>"$MEMORY"
    sleep 3  # the window's cache lifetime
    echo "ours after-walk $(memory_of "$OURS_PID")" >>"$MEMORY"
fi

for agent in ours snmpd null; do
    pid_var=${agent^^}_PID
    kill -0 "${!pid_var}" 2>/dev/null || die "$agent died during the runs"
    echo "$agent after $(memory_of "${!pid_var}")" >>"$MEMORY"
done

echo
echo "$REPEATS runs of ${SECONDS_PER_RUN}s per scenario and agent; medians (min-max)."
echo "snmpd's walks: its system group, and ipCidrRouteTable with $SNMPD_ROUTES routes for 10k."
python3 "$SRC_DIR/bench/report.py" "$RESULTS" "$MEMORY"
