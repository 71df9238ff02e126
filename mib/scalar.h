// Scalar objects: one instance, named by the object's OID followed by 0.
//
// A ScalarLeaf asks its DataProvider for the current record and lets its
// packer write the record's field as the value (and decode a Set value into
// it). Without a provider the packer is called with a null record: that is
// the form for constants, and it needs a Const...Packer. Constants and
// objects registered with Access::ReadOnly refuse every Set (the Set
// protocol is FieldLeaf's, mib/field_leaf.h).
//
//     addScalarLeaf(OID("1.3.6.1.2.1.1.4"),
//                   (new DataStringPacker(field(&SysRecord::contact), ber::OCTET_STRING, 0))
//                       ->setMaxLength(255),
//                   sysProvider);
//     addScalarLeaf(OID("1.3.6.1.2.1.1.3"), upTimePacker, upTimeProvider, Access::ReadOnly);
//     addScalarConstNumLeaf(OID("1.3.6.1.2.1.1.7"), 72, ber::INTEGER);
#pragma once

#include <string>

#include "mib/field_leaf.h"
#include "mib/packer.h"
#include "mib/provider.h"

class ScalarLeaf : public FieldLeaf {
  public:
    // `provider` may be null (constants). The registry takes both with the
    // leaf (addLeaf).
    ScalarLeaf(Packer* packer, DataProvider* provider, Access access = Access::ReadWrite)
        : FieldLeaf(packer, access), provider(provider) {}

    // Answers only the instance 0; fails when the provider has no record.
    bool get(Context& ctx) override;
    // Answers the instance 0 when asked for the object itself (ctx.oid empty).
    bool getNext(Context& ctx) override;
    void handParts(Ownership& owner) override;

    DataProvider* const provider;

  protected:
    // A constant (no provider) and a provider that accepts no writes refuse.
    bool acceptsWrites(OID const& suffix) override;
    // The provider's record for the instance 0: noCreation for any other
    // instance, resourceUnavailable while the provider has no record.
    Data* findRecord(OID const& suffix, snmp::ErrorStatus& missing) override;
    // The provider's commit.
    bool commitRecord(OID const& suffix, Data* rec) override;
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
