#include "mib/scalar.h"

#include "mib/num_packer.h"
#include "mib/oid_packer.h"
#include "mib/ownership.h"
#include "mib/registry.h"
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

void ScalarLeaf::handParts(Ownership& owner) {
    owner.take(packer);
    owner.take(provider);
}

bool ScalarLeaf::acceptsWrites(OID const&) {
    return provider && provider->acceptsWrites();
}

Data* ScalarLeaf::findRecord(OID const& suffix, snmp::ErrorStatus& missing) {
    if (suffix != ZERO_OID) {
        missing = snmp::ErrorStatus::NO_CREATION;
        return nullptr;
    }
    Data* rec = provider ? provider->get() : nullptr;
    if (!rec) missing = snmp::ErrorStatus::RESOURCE_UNAVAILABLE;
    return rec;
}

bool ScalarLeaf::commitRecord(OID const&, Data* rec) {
    return provider->commit(rec);
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
