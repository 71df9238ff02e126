// WindowTable: a table too large to hold in the agent, such as a full
// Internet routing table, read from a platform handler a window at a time.
//
// The handler keeps its objects sorted by their table index and answers a
// windowed get-all (CMD_GETALL with OBJ_PAGE_SIZE = the window's rows):
// with OBJ_AFTER = an index, the objects whose index follows it; with
// OBJ_FROM = an index, those from it on; with neither, those from the first.
// Its reply lists them in index order and, when more follow, names in
// OBJ_AFTER the index of the last one listed (platform/orla/ids.h).
//
// The table holds only the last window it read: a GetNext (or a GetBulk
// repetition) that the window answers costs no exchange, and the next one
// past its end reads the window that follows. A walk of any length so holds
// one window of records, and a walk of every column reads the table once per
// column. A Get outside the window reads the window that starts at its
// index. The window goes with the cache lifetime of CacheUpdateTimeout (idle
// limit 25 ticks, maximum age 200 ticks), so the rows a walk serves are
// never much older than that.
//
// The plug-in's parse function is the one GetAllProvider takes; the table
// owns the records it appends. The index packers compose a record's index
// as in MapTable, and must compose the index the handler orders by.
//
//     WindowTable* routes = new WindowTable(parseRoute, {43, 3}, 256);
//     routes->addIndex(new DataNumPacker(field(&RouteRecord::destType), ber::INTEGER));
//     ...
//     addColumnarLeaf(OID("1.3.6.1.2.1.4.24.7.1.7"), ifIndexPacker, routes);
//
// The table accepts no writes (its columns answer a Set with notWritable),
// and its count() is the handler's CMD_GETCOUNT answer (0 when that fails).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "mib/cache_update_timeout.h"
#include "mib/packer.h"
#include "mib/table.h"
#include "platform/orla/message.h"

class WindowTable : public Table, public CacheUpdateTimeout {
  public:
    using Parse = void (*)(orla::message const& object, std::vector<Data*>* records);

    // Reads the handler at `path` (its MSG_TO) `windowRows` objects at a
    // time (at least 1).
    WindowTable(Parse parse, std::vector<uint32_t> const& path, uint32_t windowRows);
    ~WindowTable() override;

    Data* get(OID const& index) override;
    std::pair<OID, Data*> getNext(OID const& index) override;
    // Accepts no writes: returns 0 and sends nothing.
    int set(OID const& index, Data* rec) override;
    // False: a Set of any column is notWritable.
    bool acceptsWrites(OID const& index) override;
    // The handler's CMD_GETCOUNT answer; 0 when it fails.
    unsigned count() override;

    // Appends an index column.
    void addIndex(Packer* packer);
    // The index of `rec`: each index packer's getAsKey, in order.
    OID getKey(Data const* rec) const;

    // Reads the window the current request needs (CacheUpdateTimeout calls
    // it when the window was dropped).
    void updateCache() override;
    // Drops the window and deletes its records.
    void clearCache() override;

  private:
    // Frees what the table refers to when the agent stops (mib/registry.cpp).
    friend struct RegistryOwnership;

    enum class Bound { Start, After, From };

    void read(Bound bound, OID const& index);
    // The window holds every row that follows `index`, up to its last row.
    bool holdsRowsAfter(OID const& index) const;
    // The window would hold the row at `index` if there is one.
    bool covers(OID const& index) const;

    Parse const parse_;
    std::vector<uint32_t> const path_;
    uint32_t const windowRows_;
    std::vector<Packer*> indexes_;

    // What updateCache() is to read.
    Bound wantedBound_ = Bound::Start;
    OID wanted_;

    // The window: the rows whose index lies after (Bound::After) or at or
    // after (Bound::From) `first_`, or from the first row (Bound::Start), up
    // to and including `last_`, or to the end of the table when `complete_`.
    bool read_ = false;
    Bound bound_ = Bound::Start;
    OID first_;
    OID last_;
    bool complete_ = false;
    std::vector<std::pair<OID, Data*>> rows_;  // ascending index, each once
};
