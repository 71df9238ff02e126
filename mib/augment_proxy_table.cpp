#include "mib/augment_proxy_table.h"

#include "mib/ownership.h"

Data* AugmentProxyTable::get(OID const& index) {
    Data* baseRecord = base->get(index);
    return baseRecord ? augment(index, baseRecord) : nullptr;
}

std::pair<OID, Data*> AugmentProxyTable::getNext(OID const& index) {
    // Each round moves strictly forward through the base table's rows.
    for (auto next = base->getNext(index); next.second; next = base->getNext(next.first)) {
        if (Data* augmented = augment(next.first, next.second)) return {next.first, augmented};
    }
    return {OID(), nullptr};
}

bool AugmentProxyTable::commit(OID const&, Data*) {
    return false;
}

void AugmentProxyTable::handParts(Ownership& owner) {
    owner.take(base);
}

bool AugmentProxyTable::acceptsWrites(OID const&) {
    return false;
}

unsigned AugmentProxyTable::count() {
    return base->count();
}
