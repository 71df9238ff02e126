#include "request/get_set.h"

#include <iostream>

#include "mib/leaf.h"
#include "platform/snmp/error_status.h"

snmp::ErrorStatus snmpGet(Context& ctx) {
    auto after = leafs.upper_bound(ctx.oid);
    if (after == leafs.begin()) return snmp::ErrorStatus::NO_SUCH_NAME;
    const auto& [key, leaf] = *std::prev(after);
    if (!key.isPrefixOf(ctx.oid)) return snmp::ErrorStatus::NO_SUCH_NAME;
    ctx.name = key;
    ctx.oid.assign(ctx.oid.data() + key.size(), ctx.oid.size() - key.size());  // the instance part
    return leaf->get(ctx) ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::NO_SUCH_NAME;
}

snmp::ErrorStatus snmpSet(Context& ctx) {
    ctx.setPrefix = ctx.oid;
    ctx.setSuffix.clear();
    while (!ctx.setPrefix.empty()) {
        auto found = leafs.find(ctx.setPrefix);
        if (found != leafs.end()) {
            ctx.setSuffix = ctx.oid.suffix(ctx.setPrefix.size());
            std::cerr << "snmpSet found " << found->first << std::endl;
            return found->second->set(ctx) ? snmp::ErrorStatus::NO_ERROR
                                           : snmp::ErrorStatus::NO_SUCH_NAME;
        }
        ctx.setPrefix.popBack();
    }
    return snmp::ErrorStatus::NO_SUCH_NAME;
}
