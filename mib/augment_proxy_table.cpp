#include "mib/augment_proxy_table.h"

Data* AugmentProxyTable::get(OID const& index) {
    Data* baseRecord = base->get(index);
    return baseRecord ? augment(index, baseRecord) : nullptr;
}

std::pair<OID, Data*> AugmentProxyTable::getNext(OID const& index) {
    const auto next = base->getNext(index);
    if (!next.second) return next;
    return {next.first, augment(next.first, next.second)};
}

int AugmentProxyTable::set(OID const&, Data*) {
    return 0;
}

unsigned AugmentProxyTable::count() {
    return base->count();
}
