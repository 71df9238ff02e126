#!/usr/bin/env bash
# The AgentX master's cost: the same Get and the same 10,000-row table walk
# served by a local plug-in (benchmib over fake_rows) and by a subagent
# (fake_subagent, in benchmib's shape, answering at once). It reports the
# agent's own CPU time per request and per object, medians over the rounds,
# and the ratios: what a forwarded Get costs the agent more than a local
# one, and a subagent table's walk against a local table's. Last, what a
# bare round trip on a Unix stream socket costs the side that waits (a
# write, a wait in epoll, a read): with one request in flight, a forwarded
# Get cannot cost the agent less more than a local one.
#
#   bash bench/agentx.sh [--quick]
#
# As root, like compare.sh: everything runs inside private namespaces.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_bench fake_subagent socket_round_trip -- "$@"
REPEATS=5 SECONDS_PER_RUN=2 WARMUP_SECONDS=0.3
if [ "$QUICK" ]; then REPEATS=2 SECONDS_PER_RUN=0.5 WARMUP_SECONDS=0.1; fi

V2="-v 2c -c $RO_COMMUNITY"
LOCAL_GET=1.3.6.1.2.1.1.7.0           # sysServices.0, a constant scalar of the system plug-in
SUB_GET=1.3.6.1.3.9997.1.0            # fake_subagent's constant scalar
LOCAL_TABLE=1.3.6.1.3.9998.2.1.1      # benchmib's 10,000-row table, its first column
SUB_TABLE=1.3.6.1.3.9997.2.1.1        # fake_subagent's, the same shape

setup_namespace
start_ours
"$BIN/fake_subagent" /orla/run/agentx 10000 >>/orla/log/fake_subagent.log 2>&1 &
subagent_answers() { in_netns "$OURS_PID" snmpget -On $V2 127.0.0.1 $SUB_GET | grep -q INTEGER; }
wait_for subagent_answers || die "fake_subagent is not reached"

RESULTS=$WORK/results
: >"$RESULTS"
# One measured run; its label and the agent's CPU in ns per request and
# per object go to the results.
run() {
    local label=$1 mode=$2 n=$3 oid=$4 line
    # shellcheck disable=SC2086
    line=$(loadgen_at "$OURS_PID" $V2 -m "$mode" -n "$n" -w $WARMUP_SECONDS \
        -d $SECONDS_PER_RUN $oid 2>&1 | grep '^RESULT' || echo "RESULT status=FAILED")
    grep -q 'status=ok' <<<"$line" || die "$label: $line"
    awk -v label="$label" '{
        for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        printf "%s|%.0f|%.0f\n", label, v["agent_cpu_ns"] / v["answered"], v["agent_cpu_ns"] / v["objects"]
    }' <<<"$line" >>"$RESULTS"
}

for ((rep = 1; rep <= REPEATS; rep++)); do
    echo "round $rep/$REPEATS"
    for n in 1 16; do
        run "Get local, $n in flight" get $n $LOCAL_GET
        run "Get subagent, $n in flight" get $n $SUB_GET
        run "GetNext walk 10k local, $n in flight" walk $n $LOCAL_TABLE
        run "GetNext walk 10k subagent, $n in flight" walk $n $SUB_TABLE
        run "GetBulk(25) walk 10k local, $n in flight" bulk $n $LOCAL_TABLE
        run "GetBulk(25) walk 10k subagent, $n in flight" bulk $n $SUB_TABLE
    done
done

python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    label, per_request, per_object = line.strip().split("|")
    rows.setdefault(label, []).append((float(per_request), float(per_object)))
median = {label: (statistics.median(r for r, _ in runs), statistics.median(o for _, o in runs))
          for label, runs in rows.items()}
print(f"{'scenario':44} {'ns/request':>11} {'ns/object':>10}")
for label, (request, obj) in median.items():
    print(f"{label:44} {request:11.0f} {obj:10.0f}")
print()
for n in (1, 16):
    local, sub = median[f"Get local, {n} in flight"][0], median[f"Get subagent, {n} in flight"][0]
    print(f"Get, {n} in flight: the subagent costs the agent {(sub - local) / 1000:.2f} us more")
    for mode in ("GetNext walk 10k", "GetBulk(25) walk 10k"):
        local = median[f"{mode} local, {n} in flight"][1]
        sub = median[f"{mode} subagent, {n} in flight"][1]
        print(f"{mode}, {n} in flight: subagent / local per object = {sub / local:.2f}")
PY
"$BIN/socket_round_trip" 100000 | awk '/^RESULT/ {
    for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    printf "A bare round trip on a Unix stream socket costs the waiting side %.2f us (%.2f us wall)\n",
        v["cpu_ns_per_round_trip"] / 1000, v["wall_ns_per_round_trip"] / 1000
}'
