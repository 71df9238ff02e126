#include "mib/scalar.h"

#include "mib/num_packer.h"
#include "mib/oid_packer.h"
#include "mib/string_packer.h"

namespace {

// Writes instance 0 of the scalar: its name, then the value. False when the
// provider has no record.
bool answerInstance(Context& ctx, Packer* packer, DataProvider* provider) {
    Data* rec = nullptr;
    if (provider) {
        rec = provider->get();
        if (!rec) return false;
    }
    ctx.name += ZERO_OID;
    ctx.out.addOID(ctx.name);
    packer->pack(ctx, rec);
    return true;
}

}  // namespace

bool ScalarLeaf::get(Context& ctx) {
    if (ctx.oid != ZERO_OID) return false;
    return answerInstance(ctx, packer, provider);
}

bool ScalarLeaf::getNext(Context& ctx) {
    // Any instance part means the request named instance 0 or lay after it.
    if (!ctx.oid.empty()) return false;
    return answerInstance(ctx, packer, provider);
}

bool ScalarLeaf::set(Context& ctx) {
    Data* rec = provider ? provider->get() : nullptr;
    if (!rec) return false;
    const std::string held = packer->saveValue(rec);
    if (!packer->unpack(rec, ctx)) return false;
    if (provider->commit(rec)) return true;
    // Refused: the record must not show a value the platform does not hold.
    packer->restoreValue(rec, held);
    return false;
}

snmp::ErrorStatus ScalarLeaf::testSet(Context& ctx) {
    if (access == Access::ReadOnly || !provider || !provider->acceptsWrites() ||
        !packer->writable())
        return snmp::ErrorStatus::NOT_WRITABLE;
    const snmp::ErrorStatus valueStatus = packer->testValue(ctx);
    if (valueStatus != snmp::ErrorStatus::NO_ERROR) return valueStatus;
    if (ctx.setSuffix != ZERO_OID) return snmp::ErrorStatus::NO_CREATION;
    return provider->get() ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::RESOURCE_UNAVAILABLE;
}

snmp::ErrorStatus ScalarLeaf::commitSet(Context& ctx, std::string& undo) {
    Data* rec = provider ? provider->get() : nullptr;
    if (!rec) return snmp::ErrorStatus::COMMIT_FAILED;
    undo = packer->saveValue(rec);
    return set(ctx) ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::COMMIT_FAILED;
}

bool ScalarLeaf::undoSet(Context&, std::string const& undo) {
    Data* rec = provider ? provider->get() : nullptr;
    return rec && packer->restoreValue(rec, undo) && provider->commit(rec);
}

void addScalarLeaf(OID const& oid, Packer* packer, DataProvider* provider, Access access) {
    addLeaf(oid, new ScalarLeaf(packer, provider, access));
}
void addScalarConstNumLeaf(OID const& oid, int value, unsigned int type) {
    addScalarLeaf(oid, new ConstNumPacker(value, type), nullptr);
}

void addScalarConstOIDLeaf(OID const& oid, OID const& value, unsigned int type) {
    addScalarLeaf(oid, new ConstOIDPacker(value, type), nullptr);
}

void addScalarConstStringLeaf(OID const& oid, std::string const& value, unsigned int type) {
    addScalarLeaf(oid, new ConstStringPacker(value, type, 0), nullptr);
}
