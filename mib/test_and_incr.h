// TestAndIncr (RFC 2579): a scalar for managers that coordinate their
// Sets, snmpSetSerialNo (RFC 3418) and usmUserSpinLock (RFC 3414) among them.
// A Set must carry the value it holds (else inconsistentValue) and then
// advances it by one, wrapping from 2147483647 to 0, so that managers that
// read it before their Sets cannot overwrite each other's. It holds 0 when
// the agent starts.
#pragma once

#include <string>

#include "mib/scalar.h"

class TestAndIncrLeaf : public ScalarLeaf {
  public:
    TestAndIncrLeaf();

    snmp::ErrorStatus testSet(Context& ctx) override;
    snmp::ErrorStatus commitSet(Context& ctx, std::string& undo) override;
};
