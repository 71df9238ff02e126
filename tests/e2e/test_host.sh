#!/usr/bin/env bash
# The HOST-RESOURCES-MIB plug-in over orla-hostd: memory and the RAM row
# agree with /proc/meminfo, the root filesystem row with df, one processor
# load per CPU, each interface a network device, a started process appears in hrSWRunTable and leaves it when
# it ends; without the service the agent still answers at once.
source "$SRC/lib.sh"

HR=.1.3.6.1.2.1.25
STORAGE_ENTRY=$HR.2.3.1
HOSTD_PID= SLEEPER= IFACED_PID=
trap 'stop_agent; for p in $HOSTD_PID $SLEEPER $IFACED_PID; do kill "$p"; wait "$p" || true; done' EXIT

get() { nsnmp snmpget -v2c -c morvel -Oqvt 127.0.0.1 "$1"; }
# "INDEX VALUE" of one column, without the line net-snmp adds for the
# endOfMibView after the last object.
column() {
    nsnmp snmpbulkwalk -v2c -c morvel -Oqt 127.0.0.1 "$1" | grep -v ' No more variables left' |
        sed -n "s/^\\$1\\.//p" || true
}
meminfo() { awk -v key="$1:" '$1 == key { print $2 }' /proc/meminfo; }
# Fails unless |A - B| <= SLACK: near A B SLACK WHAT
near() {
    local difference=$(($1 - $2))
    [ "${difference#-}" -le "$3" ] || fail "$4: $1 and $2 differ by more than $3"
}

start_serving "$BUILD/lib/snmp/host-resources.so" "$BUILD/lib/snmp/system.so"
# Login records (glibc's struct utmp, 384 octets, ut_type first): two
# sessions (USER_PROCESS, 7) and a login prompt (LOGIN_PROCESS, 6).
for type in '\007' '\006' '\007'; do printf "$type\\000"; head -c 382 /dev/zero; done >/orla/.test/utmp
# One object per page: every walk of the service takes several get-alls.
"$BIN/orla-hostd" --page-size 1 --utmp /orla/.test/utmp >>/orla/.test/hostd.out 2>&1 &
HOSTD_PID=$!
wait_for test -S /orla/run/42.sock || fail "orla-hostd did not start"

step "hrSystemUptime, hrMemorySize and the RAM row follow /proc, hrSystemNumUsers the login records"
expect_eq 2 "$(get $HR.1.5.0)" "hrSystemNumUsers"
expect_eq "\"$(tr -d '\n' </proc/cmdline | head -c 128)\"" "$(get $HR.1.4.0)" "hrSystemInitialLoadParameters"
total=$(meminfo MemTotal)
expect_eq "$total" "$(get $HR.2.2.0)" "hrMemorySize"
read -r seconds _ </proc/uptime
near "${seconds/./}" "$(get $HR.1.1.0)" 300 "hrSystemUptime against /proc/uptime"
expect_eq "1 .1.3.6.1.2.1.25.2.1.2 1024 $total" \
    "$(get $STORAGE_ENTRY.1.1) $(get $STORAGE_ENTRY.2.1) $(get $STORAGE_ENTRY.4.1) $(get $STORAGE_ENTRY.5.1)" \
    "RAM row: index, type, unit, size"
near $((total - $(meminfo MemAvailable))) "$(get $STORAGE_ENTRY.6.1)" $((total / 20)) "RAM used"

step "the root filesystem row agrees with df"
root=$(column $STORAGE_ENTRY.3 | awk '$2 == "\"/\"" { print $1 }')
[ -n "$root" ] || fail "no row for /: $(column $STORAGE_ENTRY.3)"
expect_eq ".1.3.6.1.2.1.25.2.1.4" "$(get $STORAGE_ENTRY.2.$root)" "hrStorageType of /"
read -r kb_total kb_used < <(df -k --output=size,used / | tail -n 1)
unit=$(get $STORAGE_ENTRY.4.$root)
size_kb=$(($(get $STORAGE_ENTRY.5.$root) * unit / 1024))
# Counts are whole allocation units, rounded down.
[ "$size_kb" -le "$kb_total" ] && [ $((kb_total - size_kb)) -le $((unit / 1024)) ] ||
    fail "size of /: ${size_kb} kB against df's $kb_total kB (unit $unit)"
# Other processes write to the disk meanwhile.
near "$kb_used" $(($(get $STORAGE_ENTRY.6.$root) * unit / 1024)) $((kb_total / 100)) "used on /"
expect_eq "" "$(column $STORAGE_ENTRY.3 | grep -E '"/(proc|sys|orla)"' || true)" \
    "pseudo filesystems in hrStorageTable"
# hrFSTable: the same row, its access from the mount options (read-write 1, read-only 2).
FS_ENTRY=$HR.3.8.1
read -r fstype options < <(awk '$2 == "/" { print $3, $4; exit }' /proc/self/mounts)
case $fstype in ext[234]) type=.23 ;; xfs) type=.11 ;; vfat) type=.22 ;; *) type=.1 ;; esac
case $options in ro|ro,*) access=2 ;; *) access=1 ;; esac
expect_eq "\"/\" \"\" .1.3.6.1.2.1.25.3.9$type $access $root" \
    "$(get $FS_ENTRY.2.$root) $(get $FS_ENTRY.3.$root) $(get $FS_ENTRY.4.$root) $(get $FS_ENTRY.5.$root) $(get $FS_ENTRY.7.$root)" \
    "hrFSTable row of /"
expect_eq "$(column $STORAGE_ENTRY.1 | awk '$1 >= 31 { print $1 }')" "$(column $FS_ENTRY.1 | cut -d' ' -f1)" \
    "hrFSTable rows: the filesystems of hrStorageTable"

step "one processor row per CPU, its load 0 to 100"
cpus=$(grep -c '^cpu[0-9]' /proc/stat)
loads=$(column $HR.3.3.1.2)
expect_eq "$cpus" "$(wc -l <<<"$loads")" "hrProcessorLoad rows"
expect_eq "$(cut -d' ' -f1 <<<"$loads")" "$(column $HR.3.2.1.1 | cut -d' ' -f1)" \
    "hrDeviceTable indexes"
while read -r index load; do
    [ "$load" -ge 0 ] && [ "$load" -le 100 ] || fail "hrProcessorLoad.$index = $load"
done <<<"$loads"

step "with the interface service, each interface is a network device of hrNetworkTable"
"$BIN/orla-ifaced" >>/orla/.test/ifaced.out 2>&1 &
IFACED_PID=$!
wait_for test -S /orla/run/40.sock || fail "orla-ifaced did not start"
# loopback, ifIndex 1: device 65537 (processors are 1 to 65536)
network_row() { [ "$(column $HR.3.4.1.1)" = "65537 1" ]; }
for _ in $(seq 20); do network_row && break; sleep 0.5; done
expect_eq "65537 1" "$(column $HR.3.4.1.1)" "hrNetworkIfIndex"
expect_eq ".1.3.6.1.2.1.25.3.1.4 \"network interface lo\" 2" \
    "$(get $HR.3.2.1.2.65537) $(get $HR.3.2.1.3.65537) $(get $HR.3.2.1.5.65537)" \
    "type, description and status of lo"
expect_eq "$cpus" "$(column $HR.3.3.1.2 | wc -l)" "hrProcessorTable rows beside the network devices"
kill "$IFACED_PID"; wait "$IFACED_PID" || true
IFACED_PID=

step "a started process appears in hrSWRunTable and hrSWRunPerfTable, and leaves them when it ends"
sleep 97 &
SLEEPER=$!
RUN=$HR.4.2.1
expect_listed column $RUN.2 "$SLEEPER \"sleep\""
# application(4), notRunnable(3): asleep, waiting for its time
expect_eq "$SLEEPER \"$(readlink /proc/$SLEEPER/exe)\" \"97\" 4 3" \
    "$(get $RUN.1.$SLEEPER) $(get $RUN.4.$SLEEPER) $(get $RUN.5.$SLEEPER) $(get $RUN.6.$SLEEPER) $(get $RUN.7.$SLEEPER)" \
    "index, path, parameters, type and status of sleep"
rss=$(awk '$1 == "VmRSS:" { print $2 }' /proc/$SLEEPER/status)
# stat's resident count is the kernel's approximate one: near, in KiB (not pages)
near "$rss" "$(get $HR.5.1.1.2.$SLEEPER)" $((rss / 2)) "hrSWRunPerfMem of sleep"
# The rows of the processes that started before sleep (later ones, the
# walks' own tools among them, come and go).
settled() {
    nsnmp "$1" -v2c -c morvel -Oqt 127.0.0.1 $HR.4 |
        awk -v last="$SLEEPER" '{ n = split($1, arcs, "."); if (arcs[n] + 0 <= last) print $1 }'
}
expect_eq "$(settled snmpwalk)" "$(settled snmpbulkwalk)" "walk of hrSWRun"
kill "$SLEEPER"; wait "$SLEEPER" || true
expect_listed column $RUN.2 "$SLEEPER \"sleep\"" no
SLEEPER=

step "without the service hr objects answer at once, empty, beside the system group"
kill "$HOSTD_PID"; wait "$HOSTD_PID" || true
HOSTD_PID=
sleep 3  # past the caches' lifetime
out=$(nsnmp snmpget -v2c -c morvel 127.0.0.1 $HR.1.1.0 $HR.2.2.0 $STORAGE_ENTRY.5.1 .1.3.6.1.2.1.1.5.0 2>&1) ||
    fail "a Get of hr objects without the service: $out"
expect_eq 3 "$(grep -c 'No Such Instance' <<<"$out")" "hr objects without the service: $out"
expect_eq "" "$(column $HR)" "HOST-RESOURCES-MIB walk without the service"
pass
