// MapTable: the general-purpose table, an ordered map from row index to
// record, filled by a TableProvider.
//
// The provider announces its records (change), and the table files each one
// under the index composed from the record's own fields by the index
// packers, in the order they were added: the concatenation of each packer's
// getAsKey. A record of which a packer makes no index fragment (a
// fixed-length string of another length) is left out. Two records with the
// same index: the later one wins. A table without index packers files every
// record under the empty OID.
//
// Every read (get, getNext, and count without a direct count) first asks the
// provider to bring its records up to date, which may drop and refill the
// rows. Record pointers obtained from the table are valid until the
// provider next drops its cache: use them at once.
//
// The table owns neither its records, nor its index packers, nor its
// provider; registered, it hands the packers and the provider to the registry.
#pragma once

#include <map>
#include <vector>

#include "mib/packer.h"
#include "mib/table.h"

class MapTable : public Table, public TableProviderClient {
  public:
    // Subscribes the table to `provider` as a client.
    explicit MapTable(TableProvider* provider);

    Data* get(OID const& index) override;
    std::pair<OID, Data*> getNext(OID const& index) override;
    // The provider's setData: true when the platform accepted the record;
    // the rows are not touched.
    bool commit(OID const& index, Data* rec) override;
    // The provider and the index packers.
    void handParts(Ownership& owner) override;
    // The provider's direct count when it has one; otherwise the number of
    // rows after an update.
    unsigned count() override;
    ~MapTable() override = default;

    // Appends an index column.
    virtual void addIndex(Packer* packer);
    // The index of `rec`: each index packer's getAsKey, in order.
    virtual OID getKey(Data const* rec) const;
    // The reverse, for plug-in code that makes a record from an index: each
    // index packer in turn takes its fragment off the front of `key` and
    // stores it into `rec`. Arcs left after the last packer are ignored; a
    // packer that cannot read its fragment leaves an empty rest for the others.
    virtual void storeKey(Data* rec, OID const& key) const;

    // TableProviderClient: called by the provider.
    void clear() override;
    // Files `rec` under getKey(rec), replacing a record filed there before;
    // leaves it out when an index packer makes no fragment of it.
    void change(Data* rec) override;
    // Drops the row filed under getKey(rec), whichever record it holds.
    void remove(Data* rec) override;

  protected:
    // getKey, or false when an index packer makes no fragment of `rec`.
    bool rowKey(Data const* rec, OID& key) const;

    std::map<OID, Data*> rows;
    std::vector<Packer*> indexes;
    TableProvider* const provider;
};
