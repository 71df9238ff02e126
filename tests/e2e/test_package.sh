#!/usr/bin/env bash
# The Debian package: CPack builds it from this build, lintian finds no
# error in it, and dpkg installs it into a scratch copy of the system
# (overlays on /usr, /etc and /var in this mount namespace, whose writes
# stay in /orla's tmpfs: the host's files are never touched). Its files,
# user and directories are there; the services and the agent, started as
# their units start them, tell systemd they are ready; the agent then runs
# as orla-snmp with no capability, answers, reaches the three services
# (which let its group in), writes its stores, and serves again after a
# disable and an enable; systemd-analyze verify accepts the units; it
# installs again over itself; removing it takes its files and the plug-in
# link away.
source "$SRC/lib.sh"

USER_NAME=orla-snmp
UNITS=/lib/systemd/system
AGENT_ERR=$TMPDIR/orla-snmpd.log

step "build the package, lint it"
cpack --config "$BUILD/CPackConfig.cmake" -B "$TMPDIR/pkg" >"$TMPDIR/cpack.log" 2>&1 ||
    { cat "$TMPDIR/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$TMPDIR"/pkg/orla-snmpd_*.deb)
[ -f "$deb" ] || fail "no package in $TMPDIR/pkg"
command -v lintian >/dev/null || fail "no lintian (scripts/deps.sh installs it)"
lintian --fail-on error "$deb" >"$TMPDIR/lintian.log" 2>&1 ||
    { cat "$TMPDIR/lintian.log" >&2; fail "lintian reports errors"; }
depends=$(dpkg-deb -f "$deb" Depends)
for forbidden in snmp libssl libgtest libbenchmark; do
    grep -q "$forbidden" <<<"$depends" && fail "the package depends on $forbidden: $depends"
done

step "install it with dpkg into a scratch system"
layers=$TMPDIR/overlay
for dir in usr etc var; do
    mkdir -p "$layers/upper/$dir" "$layers/work/$dir"
    mount -t overlay overlay \
        -o "lowerdir=/$dir,upperdir=$layers/upper/$dir,workdir=$layers/work/$dir" "/$dir"
done
# No systemd here: the maintainer scripts must not reach the host's.
mount -t tmpfs tmpfs /run
dpkg -i "$deb" >"$TMPDIR/dpkg.log" 2>&1 || { cat "$TMPDIR/dpkg.log" >&2; fail "dpkg -i failed"; }

step "its files, user and directories"
for program in orla-snmpd orla-cli orla-ifaced orla-hostd orla-ipd; do
    expect_eq "$program $(dpkg-deb -f "$deb" Version)" "$(/usr/sbin/$program --version)" \
        "$program --version"
    [[ $(/usr/sbin/$program --help) == "usage: $program "* ]] || fail "$program --help"
    [ -f /usr/share/man/man8/$program.8.gz ] || fail "no manual page of $program"
done
for plugin in "$BUILD"/lib/snmp/*.so; do
    [ -f "/usr/lib/orla-snmpd/snmp/$(basename "$plugin")" ] || fail "plug-in $(basename "$plugin") missing"
done
for file in "$SRC"/../../mibs/*.txt; do
    [ -f "/usr/share/orla-snmpd/mibs/$(basename "$file")" ] || fail "MIB module $(basename "$file") missing"
done
for file in "$SRC"/../../docs/*.md copyright changelog.gz; do
    [ -f "/usr/share/doc/orla-snmpd/$(basename "$file")" ] || fail "$(basename "$file") missing"
done
for unit in orla-snmpd orla-ifaced orla-hostd orla-ipd; do
    [ -f "$UNITS/$unit.service" ] || fail "unit $unit missing"
done
uid=$(id -u $USER_NAME) || fail "no user $USER_NAME"
gid=$(id -g $USER_NAME)
expect_eq "710 root $USER_NAME" "$(stat -c '%a %U %G' /orla/run)" "/orla/run"
expect_eq "700 $USER_NAME $USER_NAME" "$(stat -c '%a %U %G' /orla/store)" "/orla/store"
expect_eq /usr/lib/orla-snmpd/snmp "$(readlink /orla/lib/snmp/orla-snmpd)" "plug-in link"

step "systemd-analyze verify the units"
systemd-analyze verify "$UNITS"/orla-*.service || fail "systemd-analyze verify"

# Starts UNIT's ExecStart in the background as systemd would, with a notify
# socket, and waits for its READY=1. Sets STARTED to its pid. WRAPPER, when
# set, runs the command.
start_unit() {
    local socket=$TMPDIR/$1.notify
    python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)  # as systemd has it: the agent sends as its user
s.settimeout(20)
print(s.recv(4096).decode(), flush=True)' "$socket" >"$socket.out" &
    wait_for test -S "$socket" || fail "no notify socket for $1"
    # shellcheck disable=SC2046
    NOTIFY_SOCKET=$socket ${WRAPPER:-} $(sed -n 's/^ExecStart=//p' "$UNITS/$1.service") \
        >>"$TMPDIR/$1.log" 2>&1 &
    STARTED=$!
    wait_for grep -qx READY=1 "$socket.out" || fail "$1 did not say it was ready"
}

step "the services and the agent start as their units start them"
for service in orla-ifaced orla-hostd orla-ipd; do
    start_unit $service
done
# Started with a capability inheritable, which leaving root alone keeps.
WRAPPER="setpriv --inh-caps +net_raw" start_unit orla-snmpd
AGENT_PID=$STARTED
status() { sed -n "s/^$1:\t*//p" /proc/$AGENT_PID/status; }
expect_eq "$uid	$uid	$uid	$uid" "$(status Uid)" "real, effective, saved and file uid"
expect_eq "$gid	$gid	$gid	$gid" "$(status Gid)" "real, effective, saved and file gid"
expect_eq "" "$(status Groups | tr -d " ")" "supplementary groups"
for set in CapInh CapPrm CapEff CapAmb; do
    expect_eq 0000000000000000 "$(status $set)" "$set"
done
expect_eq 1 "$(status NoNewPrivs)" "NoNewPrivs"

step "it answers as $USER_NAME, also from the services"
BIN=/usr/sbin
enable() { cli send 161 set "bool:1=$1" >/dev/null || fail "set enabled=$1"; }
get() { nsnmp snmpget -v2c -c morvel -Oqv 127.0.0.1 "$@"; }
enable yes
wait_for get .1.3.6.1.2.1.1.1.0 || fail "no answer after enabling"
# ifNumber, hrMemorySize, ipForwarding: one from each service.
[[ $(get .1.3.6.1.2.1.2.1.0) =~ ^[1-9][0-9]*$ ]] || fail "no ifNumber from orla-ifaced"
[[ $(get .1.3.6.1.2.1.25.2.2.0) =~ ^[1-9][0-9]*$ ]] || fail "no hrMemorySize from orla-hostd"
[[ $(get .1.3.6.1.2.1.4.1.0) =~ ^[12]$ ]] || fail "no ipForwarding from orla-ipd"
expect_eq "660 root $USER_NAME" "$(stat -c '%a %U %G' /orla/run/40.sock)" "the interface service's socket"
# The enabling was stored by the agent as its user.
expect_eq $USER_NAME "$(stat -c %U /orla/store/snmpd)" "owner of the settings store"

step "disabled it is silent; enabled again it answers"
enable no
expect_no_answer snmpget -v2c -c morvel 127.0.0.1 .1.3.6.1.2.1.1.1.0
enable yes
wait_for get .1.3.6.1.2.1.1.1.0 || fail "no answer after enabling again"
agent_alive

step "installing it again keeps its user; removing it takes its files away"
kill -TERM "$AGENT_PID" && wait "$AGENT_PID" || true
AGENT_PID=
dpkg -i "$deb" >>"$TMPDIR/dpkg.log" 2>&1 || { cat "$TMPDIR/dpkg.log" >&2; fail "dpkg -i again"; }
expect_eq "$uid" "$(id -u $USER_NAME)" "uid of $USER_NAME after installing again"
dpkg -r orla-snmpd >>"$TMPDIR/dpkg.log" 2>&1 || { cat "$TMPDIR/dpkg.log" >&2; fail "dpkg -r"; }
[ ! -e /usr/sbin/orla-snmpd ] || fail "orla-snmpd still installed"
[ ! -L /orla/lib/snmp/orla-snmpd ] || fail "the plug-in link stays"
echo PASS
