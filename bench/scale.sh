#!/usr/bin/env bash
# The statistics tables at scale: our agent over orla-ipd and orla-hostd,
# for each of three tables once with 100 rows and once with many, side by
# side in namespaces of their own: ipNetToPhysicalTable with 100,000
# neighbours (permanent entries on a veth), tcpConnectionTable with 10,000
# connections (5,000 on loopback, both ends) and hrSWRunTable with 10,000
# processes (sleeping, in a PID namespace). Per round, one GetBulk(25) walk
# run of the table's column against each; it reports the agent's CPU time
# per object (and the service's), the median of the rounds' large/small
# ratios, and each agent's RSS and RssAnon after its walks (the tables are
# windowed: the agent holds a window of rows, never the whole table).
#
#   bash bench/scale.sh [--quick]
#
# As root, like compare.sh: everything runs inside private namespaces; each
# agent has its own network (and for processes PID) namespace, run
# directory and stores.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_bench orla-ipd orla-hostd transport host-resources -- "$@"
REPEATS=5 SECONDS_PER_RUN=2 WARMUP_SECONDS=0.5
if [ "$QUICK" ]; then REPEATS=2 SECONDS_PER_RUN=0.5 WARMUP_SECONDS=0.3; fi
SMALL=100

setup_namespace
cp "$BUILD"/lib/snmp/{system,ip,transport,host-resources}.so /orla/lib/snmp/


# The shell commands that fill an instance's namespace with COUNT rows of
# each table ($1: COUNT), run before its service and agent start.
neighbours_setup='ip link add v0 type veth peer name v1 && ip link set v0 up && ip link set v1 up
    for ((i = 0; i < $1; i++)); do
        printf "neigh add 10.%d.%d.%d lladdr 02:00:00:%02x:%02x:%02x dev v0\n" \
            $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255)) $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255))
    done | ip -batch -'
connections_setup='ulimit -n $(($1 + 1024))
    /usr/bin/python3 -c "
import socket, sys, time
listener = socket.socket(); listener.bind((\"127.0.0.1\", 7777)); listener.listen(4096)
held = []
for _ in range(int(sys.argv[1]) // 2):
    held.append(socket.create_connection((\"127.0.0.1\", 7777))); held.append(listener.accept()[0])
time.sleep(100000)" $1 &
    until [ "$(ss -Htn state established | wc -l)" -ge "$1" ]; do sleep 0.2; done'
processes_setup='for ((i = 3; i < $1; i++)); do sleep 100000 & done'

# start_instance KIND COUNT: an agent and the KIND's service in namespaces of
# their own holding COUNT rows; sets AGENT_PID and SERVICE_PID.
start_instance() {
    local kind=$1 count=$2 setup service=orla-ipd namespaces=(--net --mount)
    case $kind in
        neighbours) setup=$neighbours_setup ;;
        connections) setup=$connections_setup ;;
        processes) setup=$processes_setup service=orla-hostd namespaces+=(--pid --fork --mount-proc) ;;
    esac
    unshare "${namespaces[@]}" bash -c '
        mount -t tmpfs -o mode=0700 tmpfs /orla/run
        mount -t tmpfs -o mode=0700 tmpfs /orla/store
        ip link set lo up
        '"$setup"'
        "$2/$3" &
        exec "$2/orla-snmpd"' instance "$count" "$BIN" "$service" >>"/orla/log/$kind-$count.log" 2>&1 &
    # Without --fork unshare becomes the shell, then the agent; with it the
    # shell is its child. The setup may take a minute.
    AGENT_PID=$!
    if [ $kind = processes ]; then
        wait_for pgrep -P "$AGENT_PID" || die "$kind $count: no shell"
        AGENT_PID=$(pgrep -P "$AGENT_PID")
    fi
    for _ in $(seq 1200); do
        [ "$(readlink "/proc/$AGENT_PID/exe")" = "$BIN/orla-snmpd" ] && break
        sleep 0.1
    done
    local cli=(nsenter -t "$AGENT_PID" --net --mount "$BIN/orla-cli")
    wait_for "${cli[@]}" send 161 get || die "$kind $count: the agent did not start"
    "${cli[@]}" snmp set enabled=yes >/dev/null
    wait_for listens_161 "$AGENT_PID" || die "$kind $count: no UDP 161"
    SERVICE_PID=$(pgrep -x "$service" -P "$AGENT_PID") || die "$kind $count: no $service"
}

RESULTS=$WORK/results
: >"$RESULTS"
# run_one KIND COUNT COLUMN AGENT_PID SERVICE_PID: one measured walk run;
# appends "KIND COUNT objects agent_ns service_ns status".
run_one() {
    echo "$1 $2 $(bulk_walk_cost "$4" "$5" "$3")" >>"$RESULTS"
}

MEMORY=$WORK/memory
: >"$MEMORY"
# bench KIND LARGE COLUMN: the rounds of one table, then both instances stop.
bench() {
    local kind=$1 large=$2 column=$3 small_agent small_service
    echo "$kind: starting the agents of $SMALL and $large rows"
    start_instance "$kind" $SMALL
    small_agent=$AGENT_PID small_service=$SERVICE_PID
    start_instance "$kind" "$large"
    for ((rep = 1; rep <= REPEATS; rep++)); do
        echo "[$kind round $rep/$REPEATS]"
        run_one "$kind" $SMALL "$column" "$small_agent" "$small_service"
        run_one "$kind" "$large" "$column" "$AGENT_PID" "$SERVICE_PID"
    done
    echo "$kind $SMALL $(memory_of "$small_agent")" >>"$MEMORY"
    echo "$kind $large $(memory_of "$AGENT_PID")" >>"$MEMORY"
    kill -TERM "$small_agent" "$AGENT_PID" "$small_service" "$SERVICE_PID" 2>/dev/null || true
    sleep 1
}

bench neighbours 100000 1.3.6.1.2.1.4.35.1.7
bench connections 10000 1.3.6.1.2.1.6.19.1.7
bench processes 10000 1.3.6.1.2.1.25.4.2.1.2

echo
echo "GetBulk(25) walk of a column, CPU per object (ns), median [min-max] of $REPEATS runs"
awk -v small=$SMALL "$AWK_STATS"'
    {
        if (!($1 in order)) { order[$1] = ++kinds; kind[kinds] = $1 }
        if ($2 != small) large[$1] = $2
        n = ++runs[$1, $2]
        if ($6 != "ok" || $3 == 0) failed = 1
        agent[$1, $2, n] = $3 ? $4 / $3 : 0
        service[$1, $2, n] = $3 ? $5 / $3 : 0
    }
    END {
        printf "%-12s %8s %10s %-14s %10s %-14s\n", "table", "rows", "agent", "", "service", ""
        for (k = 1; k <= kinds; k++) {
            t = kind[k]
            for (s = 0; s < 2; s++) {
                c = s ? large[t] : small
                for (i = 1; i <= runs[t, c]; i++) { a[i] = agent[t, c, i]; v[i] = service[t, c, i] }
                printf "%-12s %8d %10.0f %-14s %10.0f %-14s\n", t, c, median(a, runs[t, c]),
                    range(a, runs[t, c]), median(v, runs[t, c]), range(v, runs[t, c])
            }
            for (i = 1; i <= runs[t, small]; i++)
                ratio[i] = agent[t, small, i] ? agent[t, large[t], i] / agent[t, small, i] : 0
            printf "%-12s agent CPU per object, %d vs %d rows: %.2fx (median of the rounds'"'"' ratios)\n",
                t, large[t], small, median(ratio, runs[t, small])
        }
        if (failed) print "a run FAILED: timeouts, errors or no answers"
    }' "$RESULTS"
echo "agent memory after the walks (RSS kB, RssAnon kB):"
awk '{ printf "  %-12s %8d rows: %8d %8d\n", $1, $2, $3, $4 }' "$MEMORY"
