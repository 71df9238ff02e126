#include "request/get_next.h"

#include <iostream>
#include <iterator>

#include "mib/leaf.h"
#include "request/error_status.h"

unsigned snmpGetNext(Context& ctx) {
    const OID requested = ctx.oid;
    auto entry = leafs.upper_bound(requested);
    // The greatest OID not after the name may contain it: start there then.
    if (entry != leafs.begin() && std::prev(entry)->first.isPrefixOf(requested)) --entry;
    for (; entry != leafs.end(); ++entry) {
        const auto& [key, leaf] = *entry;
        if (key.isPrefixOf(requested)) {
            ctx.oid.assign(requested.data() + key.size(), requested.size() - key.size());
        } else {
            ctx.oid.clear();  // the leaf lies wholly after the name: its first instance
        }
        ctx.name = key;
        if (leaf->getNext(ctx)) return snmp::NO_ERROR;
    }
    return snmp::NO_SUCH_NAME;
}

unsigned snmpGetBulk(Context& ctx) {
    const int32_t repetitions = ctx.maxRepetitions;
    for (int32_t i = 0; i < repetitions; ++i) {
        if (i != 0) {
            ctx.out.startSeq(ber::SEQUENCE);
            ctx.oid = ctx.name;
        }
        const unsigned status = snmpGetNext(ctx);
        if (status != snmp::NO_ERROR) {
            std::cerr << "Error " << status << std::endl;
            return status;
        }
        if (i == repetitions - 1) return snmp::NO_ERROR;
        ctx.out.endSeq();
    }
    return snmp::NO_ERROR;
}
