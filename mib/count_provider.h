// CountProvider: a scalar that counts the rows of a table (an ifNumber
// beside its ifTable). Read its record's rowCount with a numeric packer:
//
//     addScalarLeaf(OID("1.3.6.1.2.1.2.1"),
//                   new DataNumPacker(field(&CountProvider::CountData::rowCount), ber::INTEGER),
//                   new CountProvider(ifTable));
#pragma once

#include "mib/data.h"
#include "mib/ownership.h"
#include "mib/provider.h"
#include "mib/table.h"

class CountProvider : public DataProvider {
  public:
    class CountData : public Data {
      public:
        // An int, as the numeric packers read it; a row count fits.
        int rowCount = 0;
    };

    explicit CountProvider(Table* table) : table(table) {}

    // The embedded record, with rowCount = the table's count() now.
    Data* get() override;
    // Accepts no writes.
    bool acceptsWrites() const override { return false; }
    bool commit(Data*) override { return false; }
    // The table it counts.
    void handParts(Ownership& owner) override { owner.take(table); }

    Table* const table;
    CountData data;
};
