#include "mib/columnar.h"

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

bool ColumnarLeaf::set(Context& ctx) {
    if (ctx.oid.empty()) return false;
    // Set changes existing rows only; it never creates one.
    Data* rec = table->get(ctx.setSuffix);
    if (!rec) return false;
    // A value that does not decode leaves the row as it was; the reply then
    // shows the value held.
    packer->unpack(rec, ctx);
    table->set(ctx.setSuffix, rec);
    ctx.out.addOID(ctx.oid);
    packer->pack(ctx, rec);
    return true;
}

void addColumnarLeaf(OID const& oid, Packer* packer, Table* table) {
    addLeaf(oid, new ColumnarLeaf(packer, table));
}
