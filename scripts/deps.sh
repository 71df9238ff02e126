#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, when missing.
set -euo pipefail

packages=(
    build-essential cmake g++ clang pkg-config
    libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
    snmp snmpd snmptrapd iproute2 util-linux procps valgrind python3 python3-pysnmp4
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
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
