#include "mib/map_table.h"

#include "mib/ownership.h"

MapTable::MapTable(TableProvider* provider) : provider(provider) {
    provider->subscribe(this);
}

Data* MapTable::get(OID const& index) {
    provider->updateTables();
    const auto row = rows.find(index);
    return row == rows.end() ? nullptr : row->second;
}

std::pair<OID, Data*> MapTable::getNext(OID const& index) {
    provider->updateTables();
    const auto row = rows.upper_bound(index);
    if (row == rows.end()) return {OID(), nullptr};
    return *row;
}

bool MapTable::commit(OID const&, Data* rec) {
    return provider->setData(rec);
}

void MapTable::handParts(Ownership& owner) {
    owner.take(provider);
    for (Packer* index : indexes)
        owner.take(index);
}

unsigned MapTable::count() {
    unsigned direct = 0;
    if (provider->getCountCMD(direct)) return direct;
    provider->updateTables();
    return static_cast<unsigned>(rows.size());
}

void MapTable::addIndex(Packer* packer) {
    indexes.push_back(packer);
}

OID MapTable::getKey(Data const* rec) const {
    OID key;
    for (const Packer* packer : indexes)
        key += packer->getAsKey(rec);
    return key;
}

void MapTable::storeKey(Data* rec, OID const& key) const {
    OID rest = key;
    for (const Packer* packer : indexes)
        rest = packer->setFromKey(rec, rest);
}

void MapTable::clear() {
    rows.clear();
}

bool MapTable::rowKey(Data const* rec, OID& key) const {
    key.clear();
    for (const Packer* packer : indexes) {
        const OID fragment = packer->getAsKey(rec);
        // Every index family makes at least one arc of a value it can index.
        if (fragment.empty()) return false;
        key += fragment;
    }
    return true;
}

void MapTable::change(Data* rec) {
    OID key;
    if (rowKey(rec, key)) rows[key] = rec;
}

void MapTable::remove(Data* rec) {
    OID key;
    if (rowKey(rec, key)) rows.erase(key);
}
