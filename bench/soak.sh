#!/usr/bin/env bash
# A long mixed load against orla-snmpd: SNMPv1, v2c and v3 Gets, GetNext
# and GetBulk walks of large tables and Sets, 16 requests in flight in all,
# with about 1% garbage datagrams beside them and a trap request every
# second. Every 30 s (WINDOW_SECONDS) it prints the window's requests, errors, timeouts and
# the agent's RSS. It fails on any error or timeout, or when the RSS after
# the warm-up (the first two windows) grows by more than SLACK_KB.
#
#   bash bench/soak.sh [SECONDS]     (default 600)
#
# As root, inside private namespaces like compare.sh. Not a CI test.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

if [ "${1:-}" != --inside ]; then
    [[ "${1:-600}" =~ ^[0-9]+$ ]] || die "usage: soak.sh [SECONDS]"
    install_packages
    build_programs
    enter_namespaces "$SRC_DIR/bench/soak.sh" "$@"
fi
shift
TOTAL_SECONDS=${1:-600}
WINDOW=${WINDOW_SECONDS:-30}
WARMUP_WINDOWS=2
SLACK_KB=${SLACK_KB:-1024}
GARBAGE_PER_S=${GARBAGE_PER_S:-100}
windows=$(((TOTAL_SECONDS + WINDOW - 1) / WINDOW))
[ "$windows" -gt "$WARMUP_WINDOWS" ] || die "run at least $(((WARMUP_WINDOWS + 1) * WINDOW)) s"

SYS=1.3.6.1.2.1.1
# in flight | loadgen options | mode | OIDs; the in-flight counts add up to 16.
MIX=(
    "3|-v 2c -c $RO_COMMUNITY|get|$SYS.3.0 $SYS.5.0 $SYS.1.0"
    "1|-v 1 -c $RO_COMMUNITY|get|$SYS.3.0"
    "2|-v 3 -u $AUTH_USER -l authNoPriv -A $AUTH_PASS|get|$SYS.3.0"
    "2|-v 3 -u $PRIV_USER -l authPriv -A $PRIV_PASS -X $PRIV_KEY|get|$SYS.3.0 $SYS.5.0"
    "3|-v 2c -c $RO_COMMUNITY|walk|1.3.6.1.3.9998.2.1"
    "3|-v 2c -c $RO_COMMUNITY|bulk|1.3.6.1.3.9998.1.1"
    "2|-v 2c -c $RW_COMMUNITY|set|$SYS.4.0"
)

# Sends random datagrams and damaged copies of a valid v2c Get to 127.0.0.1:161
# of the agent's namespace, RATE a second for SECONDS.
send_garbage() {
    in_netns "$OURS_PID" python3 - "$GARBAGE_PER_S" "$WINDOW" <<'PY'
import os, random, socket, sys, time
rate, seconds = int(sys.argv[1]), float(sys.argv[2])
# GetRequest, community "morvel", sysUpTime.0
valid = bytes.fromhex("302902010104066d6f7276656ca01c0204112233440201000201003"
                      "00e300c06082b060102010103000500")
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end = time.monotonic() + seconds
while time.monotonic() < end:
    if random.random() < 0.5:
        data = os.urandom(random.randint(0, 300))
    else:
        data = bytearray(valid[:random.randint(1, len(valid))])
        for _ in range(random.randint(1, 4)):
            data[random.randrange(len(data))] = random.randrange(256)
    sock.sendto(bytes(data), ("127.0.0.1", 161))
    time.sleep(1 / rate)
PY
}

# A trap request every second; each failure leaves a line in FILE.
request_traps() {
    local failures=$1
    for _ in $(seq "$WINDOW"); do
        "$BIN/orla-cli" snmp trap >/dev/null 2>&1 || echo "trap request failed" >>"$failures"
        sleep 1
    done
}

setup_namespace
start_ours
"$BIN/orla-cli" snmp set trap-target=127.0.0.1 trap-community=0 trap-version=2c >/dev/null

echo "soak: $windows windows of ${WINDOW}s, ${GARBAGE_PER_S} garbage datagrams/s," \
    "a trap request a second"
printf '%-8s%10s%10s%9s%9s%11s%13s\n' window requests objects errors timeouts "RSS kB" "RssAnon kB"
failed=no
baseline_kb=0
for ((w = 1; w <= windows; w++)); do
    rm -f "$WORK"/soak.* && : >"$WORK/soak.faults"
    i=0 jobs=()
    for spec in "${MIX[@]}"; do
        IFS='|' read -r n options mode oids <<<"$spec"
        # shellcheck disable=SC2086  # options and OIDs are word lists
        loadgen_at "$OURS_PID" $options -m "$mode" -n "$n" -d "$WINDOW" $oids \
            >"$WORK/soak.out.$i" 2>&1 &
        jobs+=($!)
        i=$((i + 1))
    done
    send_garbage &
    jobs+=($!)
    request_traps "$WORK/soak.faults" &
    jobs+=($!)
    wait "${jobs[@]}" || true
    kill -0 "$OURS_PID" 2>/dev/null || die "the agent died in window $w"

    # Sums of the window's RESULT lines; a load generator without one failed.
    read -r requests objects errors timeouts < <(
        cat "$WORK"/soak.out.* | awk -v expected="${#MIX[@]}" '
            /^RESULT/ {
                results++
                for (f = 2; f <= NF; f++) { split($f, kv, "="); v[kv[1]] += kv[2] }
            }
            END {
                faults = v["errors"] + v["exceptions"] + v["reports"] + v["send_failures"]
                if (results < expected) faults++
                print v["answered"] + 0, v["objects"] + 0, faults, v["timeouts"] + 0
            }')
    errors=$((errors + $(wc -l <"$WORK/soak.faults")))
    read -r rss anon < <(memory_of "$OURS_PID")
    printf '%-8s%10s%10s%9s%9s%11s%13s\n' "$w" "$requests" "$objects" "$errors" "$timeouts" \
        "$rss" "$anon"
    if [ "$errors" -gt 0 ] || [ "$timeouts" -gt 0 ]; then
        failed=yes
        grep -h -v '^RESULT status=ok' "$WORK"/soak.out.* "$WORK/soak.faults" | head -n 5 || true
    fi
    if [ "$w" -eq "$WARMUP_WINDOWS" ]; then
        baseline_kb=$rss
    elif [ "$w" -gt "$WARMUP_WINDOWS" ] && [ "$rss" -gt $((baseline_kb + SLACK_KB)) ]; then
        echo "RSS grew after the warm-up: $baseline_kb kB -> $rss kB"
        failed=yes
    fi
done
[ $failed = no ] || die "soak FAILED"
echo "soak passed"
