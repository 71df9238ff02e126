#!/usr/bin/env bash
# Checks the MIB modules of mibs/: smilint (Debian smitools) finds nothing to
# say about any of them at level 3 (it exits 0 whatever it finds, so any
# output fails), and net-snmp's snmptranslate gives the vendor's OIDs that
# the agent sends the names the modules define.
#
# The IETF base modules they import (SNMPv2-SMI, SNMPv2-TC, SNMPv2-CONF) are
# in no Debian package: they come from the npm package net-snmp, installed
# once into BASE_DIR (default build/mib-base).
#
# usage: lint-mibs.sh [BASE_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in smilint snmptranslate npm; do
    command -v "$tool" >/dev/null || { echo "$tool needed: bash scripts/deps.sh" >&2; exit 1; }
done

base=${1:-build/mib-base}
ietf=$base/node_modules/net-snmp/lib/mibs
if [ ! -f "$ietf/SNMPv2-CONF.mib" ]; then
    npm install --prefix "$base" --no-audit --no-fund --silent net-snmp@3 >/dev/null
fi

status=0
for module in mibs/*.txt; do
    out=$(SMIPATH="$ietf:mibs" smilint -l 3 "$module" 2>&1)
    [ -z "$out" ] || { echo "$out"; status=1; }
done

# OIDs the agent sends (trap/trap_maker.cpp, plugins/system/system.cpp,
# plugins/example/example.cpp) and their names. Only the modules named are
# loaded, nothing of the host's; net-snmp's state goes to a scratch
# directory, not the host's /var/lib/snmp (a first run there says so on
# stderr).
state=$(mktemp -d)
mkdir "$state/cert_indexes"
trap 'rm -rf "$state"' EXIT
while read -r oid name; do
    got=$(SNMP_PERSISTENT_DIR=$state snmptranslate -M "$ietf:mibs" \
        -m ORLA-AGENT-MIB:ORLA-EXAMPLE-MIB "$oid" 2>&1)
    [ "$got" = "$name" ] || { echo "$oid: expected $name, got: $got"; status=1; }
done <<'OIDS'
.1.3.6.1.4.1.32473.1.1.9.0.1 ORLA-AGENT-MIB::orlaVendorTrap
.1.3.6.1.4.1.32473.1.2.1 ORLA-AGENT-MIB::orlaSnmpd
.1.3.6.1.4.1.32473.99.1.0 ORLA-EXAMPLE-MIB::exampleRowCount.0
.1.3.6.1.4.1.32473.99.2.1.3 ORLA-EXAMPLE-MIB::exampleDescription
.1.3.6.1.4.1.32473.99.3.0 ORLA-EXAMPLE-MIB::exampleVersion.0
OIDS

[ "$status" -eq 0 ] && echo "mibs: smilint and snmptranslate agree"
exit "$status"
