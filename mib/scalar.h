// Scalar objects: one instance, named by the object's OID followed by 0.
//
// A ScalarLeaf asks its DataProvider for the current record and lets its
// packer write the record's field as the value (and decode a Set value into
// it). Without a provider the packer is called with a null record: that is
// the form for constants, and it needs a Const...Packer. Constants and
// objects registered with Access::ReadOnly refuse every Set.
//
//     addScalarLeaf(OID("1.3.6.1.2.1.1.4"),
//                   (new DataStringPacker(field(&SysRecord::contact), ber::OCTET_STRING, 0))
//                       ->setMaxLength(255),
//                   sysProvider);
//     addScalarLeaf(OID("1.3.6.1.2.1.1.3"), upTimePacker, upTimeProvider, Access::ReadOnly);
//     addScalarConstNumLeaf(OID("1.3.6.1.2.1.1.7"), 72, ber::INTEGER);
#pragma once

#include <string>

#include "mib/leaf.h"
#include "mib/packer.h"
#include "mib/provider.h"

class ScalarLeaf : public Leaf {
  public:
    // Neither pointer is owned; `provider` may be null (constants).
    ScalarLeaf(Packer* packer, DataProvider* provider, Access access = Access::ReadWrite)
        : packer(packer), provider(provider), access(access) {}

    // Answers only the instance 0; fails when the provider has no record.
    bool get(Context& ctx) override;
    // Answers the instance 0 when asked for the object itself (ctx.oid empty).
    bool getNext(Context& ctx) override;
    // Decodes the value into the provider's record and commits it. False,
    // with the record as it was, when the value does not decode or the
    // provider refuses it; false without a provider or record.
    bool set(Context& ctx) override;
    // notWritable for a read-only leaf, a constant (no provider, or a
    // packer that serves a fixed value) and a provider that accepts no
    // writes; then the packer's testValue; noCreation for an instance other
    // than 0; resourceUnavailable while the provider has no record.
    snmp::ErrorStatus testSet(Context& ctx) override;
    // Keeps the value held, then calls set: commitFailed when set fails,
    // with the value held back in the record.
    snmp::ErrorStatus commitSet(Context& ctx, std::string& undo) override;
    // Commits the kept value again.
    bool undoSet(Context& ctx, std::string const& undo) override;

    Packer* const packer;
    DataProvider* const provider;
    const Access access;
};

// Registers a ScalarLeaf over `packer` and `provider` (may be null) under `oid`.
void addScalarLeaf(OID const& oid, Packer* packer, DataProvider* provider,
                   Access access = Access::ReadWrite);
// Registers a constant scalar: `value` under the BER tag `type` (ConstNumPacker).
void addScalarConstNumLeaf(OID const& oid, int value, unsigned int type);
// Registers a constant OID scalar (ConstOIDPacker), normally with tag 6.
void addScalarConstOIDLeaf(OID const& oid, OID const& value, unsigned int type);
// Registers a constant string scalar (ConstStringPacker with keyLen 0).
void addScalarConstStringLeaf(OID const& oid, std::string const& value, unsigned int type);
