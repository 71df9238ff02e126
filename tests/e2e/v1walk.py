"""Walks subtrees of the agent in SNMPv1 with pysnmp, a strict SNMPv1
manager: a value SNMPv1 cannot carry (Counter64) is a decoding error there.

usage: v1walk.py COMMUNITY OID...
Prints "OID VALUE" per binding; exits 1 on an error indication or status.
"""
import sys

from pysnmp.hlapi import (CommunityData, ContextData, ObjectIdentity, ObjectType,
                          SnmpEngine, UdpTransportTarget, nextCmd)


def walk(engine, community, root):
    last = None
    for error, status, index, binds in nextCmd(
            engine, CommunityData(community, mpModel=0),
            UdpTransportTarget(("127.0.0.1", 161), timeout=2, retries=1),
            ContextData(), ObjectType(ObjectIdentity(root)),
            lexicographicMode=False, lookupMib=False):
        if error:
            sys.exit(f"{root}: {error}")
        if status:
            sys.exit(f"{root}: {status.prettyPrint()} at index {index}")
        for name, value in binds:
            # At the end of the MIB (noSuchName in SNMPv1) pysnmp hands back
            # the last binding again.
            if last is not None and name <= last:
                return
            last = name
            print(name.prettyPrint(), value.prettyPrint())


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    engine = SnmpEngine()
    for root in sys.argv[2:]:
        walk(engine, sys.argv[1], root)


main()
