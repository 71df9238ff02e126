#!/usr/bin/env bash
# IF-MIB at scale: our agent with the interfaces plug-in over orla-ifaced,
# once in a network namespace of 10 interfaces and once in one of 4,000
# (loopback and ifb links, all up), side by side. Per round, one GetBulk(25)
# walk run of the ifTable against each; it reports the agent's CPU time per
# object (and the interface service's), the median of the rounds' 4,000/10
# ratios, the time the service takes for one full refresh (one netlink dump
# of every link), and the agent's memory per interface: the difference of
# the two agents' RSS and RssAnon after their walks, over the 3,990 more
# interfaces, and, with valgrind installed, the difference of their live
# heaps between two refreshes of the rows (RSS keeps what malloc holds from
# the peak of a refresh, when the service's pages are read).
#
#   bash bench/ifmib.sh [--quick]
#
# As root, like compare.sh: everything runs inside private namespaces; each
# agent has its own network namespace, run directory and stores.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_bench orla-ifaced -- "$@"
REPEATS=5 SECONDS_PER_RUN=2 WARMUP_SECONDS=0.5
if [ "$QUICK" ]; then REPEATS=2 SECONDS_PER_RUN=0.5 WARMUP_SECONDS=0.3; fi
SMALL=10 LARGE=4000
IF_TABLE=1.3.6.1.2.1.2.2

setup_namespace
cp "$BUILD/lib/snmp/interfaces.so" "$BUILD/lib/snmp/system.so" /orla/lib/snmp/


# start_instance COUNT: an agent and an interface service in a network
# namespace of COUNT interfaces, with a run directory and stores of their
# own; sets AGENT_PID and IFACED_PID.
start_instance() {
    local count=$1 log=/orla/log/instance-$1.log
    unshare --net --mount bash -c '
        mount -t tmpfs -o mode=0700 tmpfs /orla/run
        mount -t tmpfs -o mode=0700 tmpfs /orla/store
        ip link set lo up
        for ((i = 1; i < $1; i++)); do echo "link add ifb$i type ifb"; echo "link set ifb$i up"; done |
            ip -batch -
        "$2/orla-ifaced" &
        exec "$2/orla-snmpd"' instance "$count" "$BIN" >>"$log" 2>&1 &
    AGENT_PID=$!
    local cli=(nsenter -t "$AGENT_PID" --net --mount "$BIN/orla-cli")
    wait_for "${cli[@]}" send 40.1 getcount || die "instance of $count: no interface service"
    for _ in $(seq 100); do
        "${cli[@]}" send 40.1 getcount | grep -q "OBJ_COUNT=$count " && break
        sleep 0.2
    done
    "${cli[@]}" send 40.1 getcount | grep -q "OBJ_COUNT=$count " ||
        die "instance of $count: the service counts $("${cli[@]}" send 40.1 getcount)"
    wait_for "${cli[@]}" send 161 get || die "instance of $count: the agent did not start"
    "${cli[@]}" snmp set enabled=yes >/dev/null
    wait_for listens_161 "$AGENT_PID" || die "instance of $count: no UDP 161"
    IFACED_PID=$(pgrep -P "$AGENT_PID" orla-ifaced) || die "instance of $count: no orla-ifaced"
}

echo "starting the agents of $SMALL and $LARGE interfaces"
start_instance $SMALL
SMALL_AGENT=$AGENT_PID SMALL_IFACED=$IFACED_PID
start_instance $LARGE
LARGE_AGENT=$AGENT_PID LARGE_IFACED=$IFACED_PID

# One refresh of the large service: a get-all from the first page reads
# every link in one dump.
before=$(cpu_ns "$LARGE_IFACED")
for _ in $(seq 10); do
    nsenter -t "$LARGE_AGENT" --net --mount "$BIN/orla-cli" send 40.1 getall OBJ_PAGE_SIZE=1 >/dev/null
done
REFRESH_MS=$(awk -v ns=$(($(cpu_ns "$LARGE_IFACED") - before)) 'BEGIN {printf "%.1f", ns / 10 / 1e6}')

RESULTS=$WORK/results
: >"$RESULTS"
# run_one COUNT AGENT_PID IFACED_PID: one measured walk run; appends
# "COUNT objects agent_ns ifaced_ns status".
run_one() {
    echo "$1 $(bulk_walk_cost "$2" "$3" $IF_TABLE)" >>"$RESULTS"
}

for ((rep = 1; rep <= REPEATS; rep++)); do
    echo "[round $rep/$REPEATS]"
    run_one $SMALL "$SMALL_AGENT" "$SMALL_IFACED"
    run_one $LARGE "$LARGE_AGENT" "$LARGE_IFACED"
done
read -r small_rss small_anon <<<"$(memory_of "$SMALL_AGENT")"
read -r large_rss large_anon <<<"$(memory_of "$LARGE_AGENT")"

# heap_of INSTANCE_IFACED_PID: the median heap in kB (useful and malloc's
# own bytes) over the snapshots of a second agent, started under valgrind's
# massif in the instance's namespaces once the first is stopped, and walked
# three times: its rows stay between refreshes, most of the time, while the
# pages of a refresh come and go. "-" without valgrind.
heap_of() {
    command -v valgrind >/dev/null || { echo -; return; }
    local ifaced=$1 out=$WORK/massif.$1 agent in=(nsenter -t "$1" --net --mount)
    "${in[@]}" valgrind --tool=massif --max-snapshots=200 --massif-out-file="$out" \
        "$BIN/orla-snmpd" >>/orla/log/massif.log 2>&1 &
    agent=$!
    wait_for "${in[@]}" "$BIN/orla-cli" send 161 get || { echo -; return; }
    wait_for listens_161 "$ifaced" || { echo -; return; }
    for _ in 1 2 3; do
        "${in[@]}" timeout 120 snmpbulkwalk -v2c -c "$RO_COMMUNITY" -Cr25 -t 30 127.0.0.1 $IF_TABLE \
            >/dev/null 2>&1 || true
        sleep 3
    done
    kill -TERM $agent
    wait $agent || true
    awk -F= '/^mem_heap_B=/ {heap = $2} /^mem_heap_extra_B=/ {print int((heap + $2) / 1024)}' "$out" |
        sort -n | awk '{sizes[NR] = $1} END {print NR ? sizes[int((NR + 1) / 2)] : "-"}'
}
echo "live heaps under valgrind"
kill -TERM "$SMALL_AGENT" "$LARGE_AGENT"
wait "$SMALL_AGENT" "$LARGE_AGENT" 2>/dev/null || true
small_heap=$(heap_of "$SMALL_IFACED")
large_heap=$(heap_of "$LARGE_IFACED")

echo
echo "GetBulk(25) walk of the ifTable, CPU per object (ns), median [min-max] of $REPEATS runs"
awk -v repeats="$REPEATS" -v small=$SMALL -v large=$LARGE "$AWK_STATS"'
    {
        n = ++runs[$1]
        if ($5 != "ok" || $2 == 0) failed = 1
        agent[$1, n] = $2 ? $3 / $2 : 0
        service[$1, n] = $2 ? $4 / $2 : 0
        objects[$1, n] = $2
    }
    END {
        printf "%-14s %10s %14s %16s %16s\n", "interfaces", "objects/s", "agent", "", "orla-ifaced"
        for (k = 0; k < 2; k++) {
            c = k ? large : small
            for (i = 1; i <= runs[c]; i++) { a[i] = agent[c, i]; s[i] = service[c, i]; o[i] = objects[c, i] }
            printf "%-14s %10.0f %8.0f %-14s %8.1f %-14s\n", c, median(o, runs[c]) / '"$SECONDS_PER_RUN"',
                median(a, runs[c]), range(a, runs[c]), median(s, runs[c]), range(s, runs[c])
        }
        for (i = 1; i <= repeats; i++) {
            ratio[i] = agent[small, i] ? agent[large, i] / agent[small, i] : 0
            base = agent[small, i] + service[small, i]
            both[i] = base ? (agent[large, i] + service[large, i]) / base : 0
        }
        printf "agent CPU per object, %d vs %d interfaces: %.2fx (median of the rounds'"'"' ratios)\n",
            large, small, median(ratio, repeats)
        printf "agent and orla-ifaced together: %.2fx\n", median(both, repeats)
        if (failed) print "a run FAILED: timeouts, errors or no answers"
    }' "$RESULTS"
echo "one full refresh of $LARGE interfaces (one RTM_GETLINK dump): $REFRESH_MS ms of orla-ifaced's CPU"
awk -v sr="$small_rss" -v sa="$small_anon" -v lr="$large_rss" -v la="$large_anon" \
    -v d=$((LARGE - SMALL)) 'BEGIN {
    printf "agent memory: %d interfaces RSS %d kB, RssAnon %d kB; %d interfaces RSS %d kB, RssAnon %d kB\n",
        '$SMALL', sr, sa, '$LARGE', lr, la
    printf "per interface: RSS %.0f bytes, RssAnon %.0f bytes\n", (lr - sr) * 1024 / d, (la - sa) * 1024 / d
}'
[ "$small_heap" = - ] || [ "$large_heap" = - ] ||
    echo "live heap between refreshes: $small_heap kB and $large_heap kB, per interface" \
        "$(((large_heap - small_heap) * 1024 / (LARGE - SMALL))) bytes"
