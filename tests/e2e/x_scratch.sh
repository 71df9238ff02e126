source "$SRC/lib.sh"
start_serving "$TESTMIB_SO" "$BUILD/lib/snmp/snmp-engine.so"
view() { cli snmp view add "$@" >/dev/null || fail "view add $*"; }
view name=mon subtree=$TESTMIB
view name=mon subtree=$TESTMIB.4 type=excluded
view name=mon subtree=$TESTMIB.4.1.1.2
view name=mon subtree=$TESTMIB.4.1.1.0.1 mask=ffbf
cli snmp community add name=mon read=yes read-view=mon >/dev/null
nsnmp snmpgetnext -v2c -c mon 127.0.0.1 .1 
nsnmp snmpgetnext -v2c -c mon 127.0.0.1 $TESTMIB
nsnmp snmpgetnext -v2c -c mon 127.0.0.1 1.3.6.1.2.1.11.1.0
