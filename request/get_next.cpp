#include "request/get_next.h"

#include <iterator>

#include "mib/leaf.h"

Lookup snmpGetNext(Context& ctx) {
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
        if (leaf->getNext(ctx)) return Lookup::Answered;
    }
    return Lookup::EndOfMibView;
}
