#!/usr/bin/env bash
# Runs one end-to-end test script inside private network, mount and PID
# namespaces: only loopback (brought up here), a fresh tmpfs at /orla that
# also holds the test's scratch directory (TMPDIR, HOME, net-snmp's state),
# and a private /var/lib/snmp. Nothing reaches the host's network or files,
# and every process of the test dies with the namespace.
#
# usage: netns.sh TEST_SCRIPT BUILD_DIR
set -euo pipefail

script=$(readlink -f "$1")
build=$(readlink -f "$2")

if [ "$(id -u)" -ne 0 ]; then
    echo "end-to-end tests need root for their namespaces" >&2
    exit 1
fi

# The mount point must exist; it stays empty on the host.
[ -d /orla ] || mkdir /orla

exec timeout -k 5 110 unshare --net --mount --pid --fork --mount-proc \
    env E2E_SCRIPT="$script" BUILD="$build" SRC="$(dirname "$script")" \
    bash -c '
        set -euo pipefail
        mount --make-rprivate /
        mount -t tmpfs tmpfs /orla
        mkdir -p /var/lib/snmp && mount -t tmpfs tmpfs /var/lib/snmp
        mkdir -p /orla/lib/snmp /orla/store /orla/run /orla/.test
        ip link set lo up
        export TMPDIR=/orla/.test HOME=/orla/.test SNMP_PERSISTENT_DIR=/orla/.test/snmp MIBS=
        cd /orla/.test
        exec bash "$E2E_SCRIPT"
    '
