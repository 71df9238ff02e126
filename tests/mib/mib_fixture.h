// Shared by the MIB tests: a record class with one field of every packer
// family, fake data and table providers, and helpers that build a Context
// over a value and read back what a leaf wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mib/data.h"
#include "mib/leaf.h"
#include "mib/provider.h"
#include "mib/scalar.h"
#include "mib/table.h"
#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "request/context.h"

namespace mibtest {

struct Rec : Data {
    int num = 0;
    unsigned long long big = 0;
    unsigned int ip = 0;
    OID oid;
    std::string str;
    std::vector<unsigned char> raw;
};

// A Context whose `in` stands at `value` (one encoded element).
inline Context contextOver(std::vector<unsigned char> value) {
    return Context(value.data(), static_cast<unsigned int>(value.size()));
}

// A name and a value as a leaf writes them into ctx.out.
struct Written {
    OID name;
    uint32_t tag = 0;
    std::vector<unsigned char> content;
};

// Decodes ctx.out as one name and one value; fails the test if it is not.
inline Written written(const Context& ctx) {
    Written w;
    InStream in(ctx.out.data(), ctx.out.size());
    EXPECT_TRUE(in.getOID(w.name));
    BerElement value;
    EXPECT_TRUE(in.getElement(value));
    w.tag = value.tag;
    w.content.assign(in.data() + value.contentOffset, in.data() + value.endOffset());
    EXPECT_TRUE(in.isSeqEnd());
    return w;
}

// A data provider holding one record (or none), counting its writes.
class FakeProvider : public DataProvider {
  public:
    explicit FakeProvider(Data* rec = nullptr) : rec(rec) {}
    Data* get() override { return rec; }
    int set(Data* committed) override {
        ++sets;
        lastSet = committed;
        return 1;
    }
    Data* rec;
    unsigned sets = 0;
    Data* lastSet = nullptr;
};

// A table provider that owns a list of records and announces them the way a
// caching provider does: change() for each record when the cache fills, at
// the first updateTables.
class FakeTableProvider : public TableProvider {
  public:
    bool setData(Data* rec) override {
        setRecords.push_back(rec);
        return true;
    }
    void subscribe(TableProviderClient* client) override { clients.push_back(client); }
    void updateTables() override {
        if (filled) return;
        filled = true;
        for (const auto& rec : records)
            for (TableProviderClient* client : clients)
                client->change(rec.get());
    }

    // Adds a record to the source; it becomes a row at the next fill.
    Rec* add(int num, std::string str = {}, unsigned int ip = 0) {
        records.push_back(std::make_unique<Rec>());
        Rec* rec = records.back().get();
        rec->num = num;
        rec->str = std::move(str);
        rec->ip = ip;
        return rec;
    }

    std::vector<std::unique_ptr<Rec>> records;
    std::vector<TableProviderClient*> clients;
    std::vector<Data*> setRecords;
    bool filled = false;
};

// The registration functions make leaves (and, for constants, packers) that
// live for the process. Tests empty the registry between cases and free what
// the functions made: every leaf, and the packer of every scalar without a
// provider (which in these tests always comes from addScalarConst...Leaf).
inline void releaseRegistered() {
    for (const auto& [oid, leaf] : leafs) {
        if (auto* scalar = dynamic_cast<ScalarLeaf*>(leaf); scalar && !scalar->provider) {
            delete scalar->packer;
        }
        delete leaf;
    }
    leafs.clear();
}

}  // namespace mibtest
