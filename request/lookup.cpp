#include "request/lookup.h"

#include <optional>

#include "mib/registry.h"

Lookup snmpGet(Context& ctx, const View* view) {
    if (view != nullptr && !view->includes(ctx.oid)) return Lookup::NoSuchObject;
    const auto found = findRegistration(ctx.oid);
    if (found == leafs.end()) return Lookup::NoSuchObject;
    const auto& [key, leaf] = *found;
    ctx.name = key;
    ctx.oid.assign(ctx.oid.data() + key.size(), ctx.oid.size() - key.size());  // the instance part
    return leaf->get(ctx) ? Lookup::Answered : Lookup::NoSuchInstance;
}

Lookup snmpGetNext(Context& ctx, const View* view) {
    const size_t mark = ctx.out.mark();
    // Each round answers an instance strictly after the last one, or goes on
    // from a name past it (View::resumeAfter), so the loop ends at the end
    // of the tree at the latest. What the view leaves out is never written.
    for (;;) {
        if (!answerNext(ctx)) return Lookup::EndOfMibView;
        if (view == nullptr || view->includes(ctx.name)) return Lookup::Answered;
        ctx.out.rewind(mark);
        std::optional<OID> resume = view->resumeAfter(ctx.name);
        if (!resume) return Lookup::EndOfMibView;
        ctx.oid = std::move(*resume);
    }
}
