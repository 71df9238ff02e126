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
    Data* rec = ctx.setSuffix.empty() ? nullptr : table->get(ctx.setSuffix);
    if (!rec) return false;
    const std::string held = packer->saveValue(rec);
    if (!packer->unpack(rec, ctx)) return false;
    if (table->commit(ctx.setSuffix, rec)) return true;
    // Refused: the row must not show a value the platform does not hold.
    packer->restoreValue(rec, held);
    return false;
}

snmp::ErrorStatus ColumnarLeaf::testSet(Context& ctx) {
    if (access == Access::ReadOnly || !packer->writable() || !table->acceptsWrites(ctx.setSuffix))
        return snmp::ErrorStatus::NOT_WRITABLE;
    const snmp::ErrorStatus valueStatus = packer->testValue(ctx);
    if (valueStatus != snmp::ErrorStatus::NO_ERROR) return valueStatus;
    if (ctx.setSuffix.empty() || !table->get(ctx.setSuffix)) return snmp::ErrorStatus::NO_CREATION;
    return snmp::ErrorStatus::NO_ERROR;
}

snmp::ErrorStatus ColumnarLeaf::commitSet(Context& ctx, std::string& undo) {
    Data* rec = ctx.setSuffix.empty() ? nullptr : table->get(ctx.setSuffix);
    if (!rec) return snmp::ErrorStatus::COMMIT_FAILED;
    undo = packer->saveValue(rec);
    return set(ctx) ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::COMMIT_FAILED;
}

bool ColumnarLeaf::undoSet(Context& ctx, std::string const& undo) {
    Data* rec = ctx.setSuffix.empty() ? nullptr : table->get(ctx.setSuffix);
    return rec && packer->restoreValue(rec, undo) && table->commit(ctx.setSuffix, rec);
}

void addColumnarLeaf(OID const& oid, Packer* packer, Table* table, Access access) {
    addLeaf(oid, new ColumnarLeaf(packer, table, access));
}
