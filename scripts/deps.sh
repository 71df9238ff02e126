#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, when missing.
set -euo pipefail

packages=(
    build-essential cmake g++ clang pkg-config
    libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
    snmp snmpd snmptrapd lldpd iproute2 util-linux procps valgrind python3 python3-pysnmp4
    smitools
    # The package test (tests/e2e/test_package.sh): lintian, and
    # systemd-analyze, which a container's Debian may lack.
    lintian systemd
)
# npm fetches the IETF base modules that the MIB check needs
# (scripts/lint-mibs.sh); a Node.js from elsewhere may bring its own npm.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # snmpd and lldpd are for the tests' namespaces only: their postinst
    # would start them on the host, which a policy-rc.d refusing every start
    # prevents (unless one is there already).
    policy=/usr/sbin/policy-rc.d own_policy=no
    if [ ! -e $policy ]; then
        printf '#!/bin/sh\nexit 101\n' >$policy
        chmod 0755 $policy
        own_policy=yes
    fi
    status=0
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
    [ $own_policy = no ] || rm -f $policy
    exit $status
fi
