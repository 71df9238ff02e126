#include "mib/static_mux_table.h"

Data* StaticMuxTable::get(OID const& index) {
    const auto row = providers.find(index);
    return row == providers.end() ? nullptr : row->second->get();
}

std::pair<OID, Data*> StaticMuxTable::getNext(OID const& index) {
    const auto row = providers.upper_bound(index);
    if (row == providers.end()) return {OID(), nullptr};
    return {row->first, row->second->get()};
}

int StaticMuxTable::set(OID const& index, Data* rec) {
    const auto row = providers.find(index);
    return row == providers.end() ? 0 : row->second->set(rec);
}

unsigned StaticMuxTable::count() {
    return static_cast<unsigned>(providers.size());
}

void StaticMuxTable::addProvider(OID const& index, DataProvider* provider) {
    providers[index] = provider;
}
