#include "mib/columnar.h"

#include "mib/ownership.h"
#include "mib/registry.h"

bool ColumnarLeaf::get(Context& ctx) {
    if (ctx.oid.empty()) return false;
    Data* rec = table->get(ctx.oid);
    if (!rec) return false;
    ctx.name += ctx.oid;
    ctx.out.addOID(ctx.name);
    packer->pack(ctx, rec);
    return true;
}

bool ColumnarLeaf::getNext(Context& ctx) {
    const auto [index, rec] = table->getNext(ctx.oid);
    if (!rec) return false;
    ctx.name += index;
    ctx.out.addOID(ctx.name);
    packer->pack(ctx, rec);
    return true;
}

void ColumnarLeaf::handParts(Ownership& owner) {
    owner.take(packer);
    owner.take(table);
}

bool ColumnarLeaf::acceptsWrites(OID const& suffix) {
    return table->acceptsWrites(suffix);
}

Data* ColumnarLeaf::findRecord(OID const& suffix, snmp::ErrorStatus& missing) {
    missing = snmp::ErrorStatus::NO_CREATION;
    return suffix.empty() ? nullptr : table->get(suffix);
}

bool ColumnarLeaf::commitRecord(OID const& suffix, Data* rec) {
    return table->commit(suffix, rec);
}

void addColumnarLeaf(OID const& oid, Packer* packer, Table* table, Access access) {
    addLeaf(oid, new ColumnarLeaf(packer, table, access));
}
