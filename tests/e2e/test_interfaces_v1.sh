#!/usr/bin/env bash
# The IF-MIB in SNMPv1 (RFC 3584 4.2.2.1): a walk lists every object of the
# SNMPv2c walk but the Counter64 columns, a Get of one of those answers
# noSuchName, and pysnmp, a strict SNMPv1 manager, walks it without error.
source "$SRC/interfaces_lib.sh"

make_interfaces
start_serving "$BUILD/lib/snmp/interfaces.so"
start_ifaced
send_udp 10

names() { cut -d' ' -f1; }
walk_v1() { nsnmp snmpwalk -v1 -c morvel -Oqt 127.0.0.1 "$1" | grep -v '^End of MIB$' || true; }
# ifHCInOctets, ifHCInUcastPkts, ifHCInMulticastPkts, ifHCOutOctets, ifHCOutUcastPkts
COUNTER64_COLUMNS="^\\$IFX_ENTRY\\.(6|7|8|10|11)\\."

step "a v1 walk lists the v2c walk's objects less the Counter64 columns"
v2c=$( (walk $IF && walk $IFX) | names)
[ "$(grep -cE "$COUNTER64_COLUMNS" <<<"$v2c")" -eq $((5 * $(sys_rows | wc -l))) ] ||
    fail "Counter64 columns missing from the v2c walk"
v1=$( (walk_v1 $IF && walk_v1 $IFX) | names)
expect_eq "$(grep -vE "$COUNTER64_COLUMNS" <<<"$v2c")" "$v1" "v1 walk"

step "a v1 Get of a Counter64 object is noSuchName"
v0=$(cat /sys/class/net/v0/ifindex)
out=$(nsnmp snmpget -v1 -c morvel 127.0.0.1 $IFX_ENTRY.6.$v0 2>&1 || true)
expect_contains "$out" "noSuchName" "v1 Get of ifHCInOctets"

step "pysnmp walks the IF-MIB in SNMPv1"
[ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import pysnmp' 2>/dev/null ||
    { echo "SKIP: python3-pysnmp4 needed"; exit 77; }
strict=$(timeout 60 /usr/bin/python3 "$SRC/v1walk.py" morvel 1.3.6.1.2.1.2 1.3.6.1.2.1.31) ||
    fail "pysnmp walk: $strict"
diff <(sed "s/^\.//" <<<"$v1") <(names <<<"$strict") >&2 || fail "pysnmp walk"
pass
