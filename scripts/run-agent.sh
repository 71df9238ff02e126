#!/usr/bin/env bash
# Builds the agent, installs it with its plug-ins under /orla, starts it in
# the background and enables it. Run it again to restart with a new build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

mkdir -p /orla/bin /orla/lib/snmp /orla/log
install -m 0755 build/bin/orla-snmpd build/bin/orla-cli /orla/bin/
if compgen -G "build/lib/snmp/*.so" >/dev/null; then
    install -m 0644 build/lib/snmp/*.so /orla/lib/snmp/
fi

pidfile=/orla/run/orla-snmpd.pid
if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
    echo "stopping the running agent"
    kill -TERM "$(cat "$pidfile")"
    while kill -0 "$(cat "$pidfile")" 2>/dev/null; do sleep 0.1; done
fi

nohup /orla/bin/orla-snmpd >>/orla/log/orla-snmpd.log 2>&1 &
echo $! >"$pidfile"
for _ in $(seq 50); do
    [ -S /orla/run/161.sock ] && break
    sleep 0.1
done
/orla/bin/orla-cli send 161 set bool:1=yes >/dev/null

cat <<TXT
orla-snmpd is running (pid $(cat "$pidfile"), log /orla/log/orla-snmpd.log).
Query it with the default read-only community:
    snmpwalk -v2c -c morvel 127.0.0.1
Manage it with /orla/bin/orla-cli (see docs/cli.md); stop it with:
    kill \$(cat $pidfile)
TXT
