// FieldLeaf: the Set protocol of the leaves whose instances are fields of
// records, ScalarLeaf (mib/scalar.h) and ColumnarLeaf (mib/columnar.h).
//
// The record of an instance comes from a data provider or a table, and the
// packer decodes the new value into it; the record goes back to its source
// to be committed. Only finding the record and committing it differ between
// the two, and they are the hooks a derived leaf supplies.
#pragma once

#include <string>

#include "mib/leaf.h"
#include "mib/packer.h"

class FieldLeaf : public Leaf {
  public:
    FieldLeaf(Packer* packer, Access access) : packer(packer), access(access) {}

    // notWritable for a read-only leaf, a packer that serves a fixed value,
    // and a source that accepts no writes for the instance; then the
    // packer's testValue; then the reason the instance has no record.
    snmp::ErrorStatus testSet(Context& ctx) override;
    // Keeps the value held, decodes the new one into the record and commits
    // it: commitFailed, with the record as it was, when the value does not
    // decode or the source refuses it.
    snmp::ErrorStatus commitSet(Context& ctx, std::string& undo) override;
    // Commits the kept value again.
    bool undoSet(Context& ctx, std::string const& undo) override;

    Packer* const packer;
    const Access access;

  protected:
    // Whether the source takes writes of the instance at `suffix` at all.
    virtual bool acceptsWrites(OID const& suffix) = 0;
    // The record of the instance at `suffix`; null when there is none, with
    // the refusal in `missing` (noCreation, or resourceUnavailable when the
    // source has no data now).
    virtual Data* findRecord(OID const& suffix, snmp::ErrorStatus& missing) = 0;
    // Hands the record, changed in place, to its source: true when taken.
    virtual bool commitRecord(OID const& suffix, Data* rec) = 0;
};
