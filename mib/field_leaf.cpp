#include "mib/field_leaf.h"

snmp::ErrorStatus FieldLeaf::testSet(Context& ctx) {
    if (access == Access::ReadOnly || !packer->writable() || !acceptsWrites(ctx.setSuffix))
        return snmp::ErrorStatus::NOT_WRITABLE;
    const snmp::ErrorStatus valueStatus = packer->testValue(ctx);
    if (valueStatus != snmp::ErrorStatus::NO_ERROR) return valueStatus;
    snmp::ErrorStatus missing = snmp::ErrorStatus::NO_CREATION;
    return findRecord(ctx.setSuffix, missing) ? snmp::ErrorStatus::NO_ERROR : missing;
}

snmp::ErrorStatus FieldLeaf::commitSet(Context& ctx, std::string& undo) {
    snmp::ErrorStatus missing = snmp::ErrorStatus::NO_CREATION;
    Data* rec = findRecord(ctx.setSuffix, missing);
    if (!rec) return snmp::ErrorStatus::COMMIT_FAILED;
    undo = packer->saveValue(rec);
    if (packer->unpack(rec, ctx) && commitRecord(ctx.setSuffix, rec))
        return snmp::ErrorStatus::NO_ERROR;
    // Refused: the record must not show a value its source does not hold.
    packer->restoreValue(rec, undo);
    return snmp::ErrorStatus::COMMIT_FAILED;
}

bool FieldLeaf::undoSet(Context& ctx, std::string const& undo) {
    snmp::ErrorStatus missing = snmp::ErrorStatus::NO_CREATION;
    Data* rec = findRecord(ctx.setSuffix, missing);
    return rec && packer->restoreValue(rec, undo) && commitRecord(ctx.setSuffix, rec);
}
