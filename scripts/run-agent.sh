#!/usr/bin/env bash
# Builds the agent, installs it with its plug-ins, its MIB modules and the
# platform services (the interface service orla-ifaced, the host service
# orla-hostd, the IP service orla-ipd) under /orla, starts them and then the
# agent in the background and enables the agent. Run it again to restart them
# all with a new build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

mkdir -p /orla/bin /orla/lib/snmp /orla/log /orla/share/mibs
# Service sockets and pid files: root's alone (an older run made it 0755).
mkdir -p -m 0700 /orla/run
chmod 0700 /orla/run
install -m 0755 build/bin/orla-snmpd build/bin/orla-cli build/bin/orla-ifaced \
    build/bin/orla-hostd build/bin/orla-ipd /orla/bin/
if compgen -G "build/lib/snmp/*.so" >/dev/null; then
    install -m 0644 build/lib/snmp/*.so /orla/lib/snmp/
fi
# The vendor's MIB modules, for managers' tools (see docs/traps.md).
install -m 0644 mibs/*.txt /orla/share/mibs/

stop() {  # PIDFILE
    if [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; then
        echo "stopping $(basename "$1" .pid)"
        kill -TERM "$(cat "$1")"
        while kill -0 "$(cat "$1")" 2>/dev/null; do sleep 0.1; done
    fi
}

wait_for_socket() {  # PATH
    for _ in $(seq 50); do
        [ -S "$1" ] && return 0
        sleep 0.1
    done
    echo "no $1 after 5 s" >&2
    return 1
}

agent_pid=/orla/run/orla-snmpd.pid
ifaced_pid=/orla/run/orla-ifaced.pid
hostd_pid=/orla/run/orla-hostd.pid
ipd_pid=/orla/run/orla-ipd.pid
stop "$agent_pid"
stop "$ifaced_pid"
stop "$hostd_pid"
stop "$ipd_pid"

# The services first: the IF-MIB, IP-MIB and IP-FORWARD-MIB plug-ins read them.
nohup /orla/bin/orla-ifaced >>/orla/log/orla-ifaced.log 2>&1 &
echo $! >"$ifaced_pid"
wait_for_socket /orla/run/40.sock
nohup /orla/bin/orla-ipd >>/orla/log/orla-ipd.log 2>&1 &
echo $! >"$ipd_pid"
wait_for_socket /orla/run/43.sock

# The host service: the HOST-RESOURCES-MIB plug-in reads it.
nohup /orla/bin/orla-hostd >>/orla/log/orla-hostd.log 2>&1 &
echo $! >"$hostd_pid"
wait_for_socket /orla/run/42.sock

nohup /orla/bin/orla-snmpd >>/orla/log/orla-snmpd.log 2>&1 &
echo $! >"$agent_pid"
wait_for_socket /orla/run/161.sock
/orla/bin/orla-cli send 161 set bool:1=yes >/dev/null

cat <<TXT
orla-snmpd is running (pid $(cat "$agent_pid"), log /orla/log/orla-snmpd.log),
with the interface service orla-ifaced (pid $(cat "$ifaced_pid"), log /orla/log/orla-ifaced.log),
the host service orla-hostd (pid $(cat "$hostd_pid"), log /orla/log/orla-hostd.log)
and the IP service orla-ipd (pid $(cat "$ipd_pid"), log /orla/log/orla-ipd.log).

Walk it in SNMPv2c with the default read-only community:
    snmpwalk -v2c -c morvel 127.0.0.1
    snmpwalk -v2c -c morvel 127.0.0.1 1.3.6.1.2.1.2     # the interfaces (IF-MIB)
    snmpwalk -v2c -c morvel 127.0.0.1 1.3.6.1.2.1.25    # memory, storage, CPUs (HOST-RESOURCES-MIB)
    snmpwalk -v2c -c morvel 127.0.0.1 1.3.6.1.2.1.4     # addresses and routes (IP-MIB, IP-FORWARD-MIB)

In SNMPv3, add a user first (read-only, authPriv with SHA-1 and AES-128):
    /orla/bin/orla-cli snmp community add name=admin read=yes security=priv \\
        auth-protocol=sha1 auth-password=admin-auth-secret \\
        priv-protocol=aes priv-password=admin-priv-secret
    snmpwalk -v3 -u admin -l authPriv -a SHA -A admin-auth-secret \\
        -x AES -X admin-priv-secret 127.0.0.1

Manage it with /orla/bin/orla-cli (see docs/cli.md); stop them all with:
    kill \$(cat $agent_pid) \$(cat $ifaced_pid) \$(cat $hostd_pid) \$(cat $ipd_pid)
TXT
