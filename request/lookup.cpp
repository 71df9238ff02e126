#include "request/lookup.h"

#include "mib/registry.h"

Lookup snmpGet(Context& ctx) {
    const auto found = findRegistration(ctx.oid);
    if (found == leafs.end()) return Lookup::NoSuchObject;
    const auto& [key, leaf] = *found;
    ctx.name = key;
    ctx.oid.assign(ctx.oid.data() + key.size(), ctx.oid.size() - key.size());  // the instance part
    return leaf->get(ctx) ? Lookup::Answered : Lookup::NoSuchInstance;
}

Lookup snmpGetNext(Context& ctx) {
    return answerNext(ctx) ? Lookup::Answered : Lookup::EndOfMibView;
}
