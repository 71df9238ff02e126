#include "mib/static_mux_table.h"

#include "mib/ownership.h"

Data* StaticMuxTable::get(OID const& index) {
    const auto row = providers.find(index);
    return row == providers.end() ? nullptr : row->second->get();
}

std::pair<OID, Data*> StaticMuxTable::getNext(OID const& index) {
    for (auto row = providers.upper_bound(index); row != providers.end(); ++row) {
        if (Data* rec = row->second->get()) return {row->first, rec};
    }
    return {OID(), nullptr};
}

bool StaticMuxTable::acceptsWrites(OID const& index) {
    const auto row = providers.find(index);
    return row == providers.end() || row->second->acceptsWrites();
}

bool StaticMuxTable::commit(OID const& index, Data* rec) {
    const auto row = providers.find(index);
    return row != providers.end() && row->second->commit(rec);
}

void StaticMuxTable::handParts(Ownership& owner) {
    for (const auto& [index, provider] : providers)
        owner.take(provider);
}

unsigned StaticMuxTable::count() {
    return static_cast<unsigned>(providers.size());
}

void StaticMuxTable::addProvider(OID const& index, DataProvider* provider) {
    providers[index] = provider;
}
