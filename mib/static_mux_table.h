// StaticMuxTable: a table with a fixed set of rows chosen by the plug-in,
// each row served by a DataProvider of its own.
//
//     StaticMuxTable* t = new StaticMuxTable;
//     t->addProvider(OID{1}, wanProvider);
//     t->addProvider(OID{2}, lanProvider);
//
// A row whose provider has no record (null from get()) is passed over by
// GetNext; count() still counts it.
#pragma once

#include <map>

#include "mib/provider.h"
#include "mib/table.h"

class StaticMuxTable : public Table {
  public:
    StaticMuxTable() = default;

    // The bound provider's get(); null for an index that is not bound.
    Data* get(OID const& index) override;
    // The first bound index after `index` whose provider has a record, with
    // that record; (empty OID, null) when there is none.
    std::pair<OID, Data*> getNext(OID const& index) override;
    // False for an index bound to a provider that accepts no writes. An
    // unbound index has no row to write: the Set finds none.
    bool acceptsWrites(OID const& index) override;
    // The bound provider's commit; false for an index that is not bound.
    bool commit(OID const& index, Data* rec) override;
    // The bound providers.
    void handParts(Ownership& owner) override;
    // The number of bound indexes.
    unsigned count() override;
    ~StaticMuxTable() override = default;

    // Binds `index` to `provider` (not owned; registered, the table hands
    // it to the registry), replacing an earlier binding.
    virtual void addProvider(OID const& index, DataProvider* provider);

  protected:
    std::map<OID, DataProvider*> providers;
};
