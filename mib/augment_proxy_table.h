// AugmentProxyTable: a table whose rows are exactly those of another table
// (same indexes, same count), each record derived from the base table's
// record with the same index by the plug-in's augment().
//
// Derive from it and implement augment. The records augment returns belong
// to the plug-in; the table never deletes them. The table accepts no writes:
// its columns are notWritable.
//
// A base row for which augment returns null is not a row of this table: Get
// does not find it and GetNext passes over it.
#pragma once

#include "mib/table.h"

class AugmentProxyTable : public Table {
  public:
    // `base` is not owned; registered, the table hands it to the registry.
    explicit AugmentProxyTable(Table* base) : base(base) {}

    // augment of the base record at `index`; null, without calling augment,
    // when the base table has no row there.
    Data* get(OID const& index) override;
    // The base table's next row that augment gives a record; the base
    // table's end marker unchanged.
    std::pair<OID, Data*> getNext(OID const& index) override;
    // Accepts no writes: false.
    bool acceptsWrites(OID const& index) override;
    bool commit(OID const& index, Data* rec) override;
    // The base table.
    void handParts(Ownership& owner) override;
    // The base table's count, also for rows that augment gives no record.
    unsigned count() override;
    ~AugmentProxyTable() override = default;

    // This table's record for the base row (`index`, `baseRecord`), or null
    // when the row has none here.
    virtual Data* augment(OID const& index, Data* baseRecord) = 0;

  protected:
    Table* const base;
};
