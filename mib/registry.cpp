#include "mib/leaf.h"

std::map<OID, Leaf*> leafs;

const OID ZERO_OID("0");

void addLeaf(OID const& oid, Leaf* leaf) {
    leafs[oid] = leaf;
}
