#!/usr/bin/env bash
# Get, GetNext, walks and bulk walks over the test plug-in's objects agree:
# the same instances with the same values in the same order, each once.
source "$SRC/lib.sh"

start_serving "$TESTMIB_SO"

# Instances only: snmpwalk ends a version 2c walk that meets noSuchName with
# the line "End of MIB".
instances() { grep '^\.' || true; }

step "snmpwalk v2c from the root"
walk=$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 .1 | instances)
count=$(wc -l <<<"$walk")
# 3 scalars, 3 columns x 12 rows, 2 nested objects, 1 scalar, 2 x 80 big rows
expect_eq 202 "$count" "instances in the walk"
expect_eq "$walk" "$(sort -u -t' ' -k1,1V <<<"$walk")" "walk in OID order, no repeats"
# A writable integer, a read-only string, a counter above 2^31, table cells.
for line in "1.0 = INTEGER: 42" "2.0 = STRING: \"orla test plug-in\"" \
    "3.0 = Counter32: 3000000000" "4.1.2.3.2 = STRING: \"row 3.2\"" "4.1.3.4.3 = INTEGER: -43"; do
    expect_contains "$walk" "$TESTMIB.$line" "walk"
done
expect_eq "$TESTMIB.5.1.0 = INTEGER: 51
$TESTMIB.5.2.0 = INTEGER: 52
$TESTMIB.6.0 = STRING: \"before the big table\"" \
    "$(grep -E "^\\$TESTMIB\\.(5|6)\\." <<<"$walk")" "nested registrations in order"
expect_eq "$TESTMIB.9.1.2.80 = INTEGER: 80" "$(tail -n 1 <<<"$walk")" "last instance"

step "snmpwalk v1 gives the same"
expect_eq "$walk" "$(nsnmp snmpwalk -v1 -c morvel 127.0.0.1 .1 | instances)" "v1 walk"

step "snmpwalk of a subtree gives its part of the whole walk"
expect_eq "$(grep -F "$TESTMIB.4.1.2." <<<"$walk")" \
    "$(nsnmp snmpwalk -v2c -c morvel 127.0.0.1 $TESTMIB.4.1.2 | instances)" "column walk"

step "snmpbulkwalk gives the same"
for r in 1 10 1000; do
    expect_eq "$walk" "$(nsnmp snmpbulkwalk -v2c -c morvel -Cr$r 127.0.0.1 .1 | instances)" "-Cr$r"
done

step "getnext past the last instance is noSuchName"
expect_refused "(noSuchName)" snmpgetnext -v2c -c morvel 127.0.0.1 $TESTMIB.9.1.2.80

step "getnext of a name between objects answers the next object"
next_name() { nsnmp snmpgetnext -v2c -c morvel 127.0.0.1 "$1" | cut -d' ' -f1; }
expect_eq "$TESTMIB.9.1.1.1" "$(next_name $TESTMIB.7.5)" "getnext between objects"
expect_eq "$TESTMIB.5.2.0" "$(next_name $TESTMIB.5.1.0)" "getnext into the nested leaf"

step "one get of several instances gives the walk's lines"
names="$TESTMIB.1.0 $TESTMIB.3.0 $TESTMIB.4.1.2.4.1 $TESTMIB.5.1.0 $TESTMIB.5.2.0 $TESTMIB.9.1.2.7"
expected=
for name in $names; do expected+=$(grep -F "$name = " <<<"$walk")$'\n'; done
for version in 1 2c; do
    # shellcheck disable=SC2086
    expect_eq "${expected%$'\n'}" "$(nsnmp snmpget -v$version -c morvel 127.0.0.1 $names)" \
        "get v$version"
done

step "get of a name that is no instance is noSuchName, with its position"
out=$(nsnmp snmpget -v1 -c morvel 127.0.0.1 $TESTMIB.1.0 $TESTMIB.4.1.1 $TESTMIB.2.0 2>&1) &&
    fail "answered: $out"
expect_contains "$out" "(noSuchName)" "get of a column OID"
expect_contains "$out" "Failed object: $TESTMIB.4.1.1" "failed binding"
for name in $TESTMIB.1 $TESTMIB.1.0.0 $TESTMIB.7.0 $TESTMIB.4.1.1.5.1 .0.0 .2.99; do
    expect_refused "(noSuchName)" snmpget -v2c -c morvel 127.0.0.1 $name
done

pass
