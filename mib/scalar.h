// Scalar objects: one instance, named by the object's OID followed by 0.
//
// A ScalarLeaf asks its DataProvider for the current record and lets its
// packer write the record's field as the value (and decode a Set value into
// it). Without a provider the packer is called with a null record: that is
// the form for constants, and it needs a Const...Packer.
//
//     addScalarLeaf(OID("1.3.6.1.2.1.1.5"),
//                   new DataStringPacker(field(&SysRecord::name), ber::OCTET_STRING, 0),
//                   sysProvider);
//     addScalarConstNumLeaf(OID("1.3.6.1.2.1.1.7"), 72, ber::INTEGER);
#pragma once

#include <string>

#include "mib/leaf.h"
#include "mib/packer.h"
#include "mib/provider.h"

class ScalarLeaf : public Leaf {
  public:
    // Neither pointer is owned; `provider` may be null (constants).
    ScalarLeaf(Packer* packer, DataProvider* provider) : packer(packer), provider(provider) {}

    // Answers only the instance 0; fails when the provider has no record.
    bool get(Context& ctx) override;
    // Answers the instance 0 when asked for the object itself (ctx.oid empty).
    bool getNext(Context& ctx) override;
    // Whatever the instance part: decodes the value into the provider's
    // record, commits it with the provider's set, and echoes the requested
    // name with the value the record now holds. A value that does not decode
    // leaves the record as it was. Without a provider nothing is stored and
    // the constant is echoed. Fails when the provider has no record.
    bool set(Context& ctx) override;

    Packer* const packer;
    DataProvider* const provider;
};

// Registers a ScalarLeaf over `packer` and `provider` (may be null) under `oid`.
void addScalarLeaf(OID const& oid, Packer* packer, DataProvider* provider);
// Registers a constant scalar: `value` under the BER tag `type` (ConstNumPacker).
void addScalarConstNumLeaf(OID const& oid, int value, unsigned int type);
// Registers a constant OID scalar (ConstOIDPacker), normally with tag 6.
void addScalarConstOIDLeaf(OID const& oid, OID const& value, unsigned int type);
// Registers a constant string scalar (ConstStringPacker with keyLen 0).
void addScalarConstStringLeaf(OID const& oid, std::string const& value, unsigned int type);
