// WindowTable: a table too large to hold in the agent, such as a full
// Internet routing table, read from a platform handler a window at a time.
//
// The handler keeps its objects sorted by their table index and answers a
// windowed get-all (CMD_GETALL with OBJ_PAGE_SIZE = the window's rows):
// with OBJ_AFTER = an index, the objects whose index follows it; with
// OBJ_FROM = an index, those from it on; with neither, those from the first.
// Its reply lists them in index order in OBJ_ROWS, each as its index and its
// fields (platform/orla/window_rows.h), and, when more follow, names in
// OBJ_AFTER the index of the last one listed (platform/orla/ids.h). The
// index is the row's SNMP index as the handler composes it: the table takes
// it as it comes, so it needs no index packers.
//
// The table holds the last windows it read, up to MAX_WINDOWS (two) of
// them: a GetNext (or a GetBulk repetition) that a window answers costs no
// exchange, and the next one past a window's end reads the window that
// follows into the same place. A walk of any length so holds one window of
// records, a walk of every column reads the table once per column, and two
// managers walking the table at once each keep a window of their own. A Get
// outside the windows reads the window that starts at its index, in place
// of the less recently used window once both places are taken. The windows
// go with the cache lifetime of CacheUpdateTimeout (idle limit 25 ticks,
// maximum age 200 ticks), so the rows a walk serves are never much older
// than that.
//
// The plug-in gives two functions: `make` makes an empty record of its own
// type, and `parse` fills such a record from a row's index and fields, or
// returns false to leave the row out (fields it cannot read, an index of
// another shape). The table makes at most one record per row of a window
// and reuses them from one window to the next; it deletes them when the
// window goes.
//
//     Data* makeRoute() { return new RouteRecord; }
//     bool parseRoute(OID const& index, std::string_view fields, Data* rec);
//     WindowTable* routes = new WindowTable(makeRoute, parseRoute, {43, 3}, 1024);
//     addColumnarLeaf(OID("1.3.6.1.2.1.4.24.7.1.7"), ifIndexPacker, routes);
//
// The table accepts no writes (its columns answer a Set with notWritable),
// and its count() is the handler's CMD_GETCOUNT answer (0 when that fails).
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "mib/cache_update_timeout.h"
#include "mib/table.h"
#include "platform/orla/message.h"

class WindowTable : public Table, public CacheUpdateTimeout {
  public:
    using Make = Data* (*)();
    using Parse = bool (*)(OID const& index, std::string_view fields, Data* rec);

    // Reads the handler at `path` (its MSG_TO) `windowRows` objects at a
    // time (at least 1).
    WindowTable(Make make, Parse parse, std::vector<uint32_t> const& path, uint32_t windowRows);
    ~WindowTable() override;

    Data* get(OID const& index) override;
    std::pair<OID, Data*> getNext(OID const& index) override;
    // False: a Set of any column is notWritable.
    bool acceptsWrites(OID const& index) override;
    // Accepts no writes: false, and sends nothing.
    bool commit(OID const& index, Data* rec) override;
    // The handler's CMD_GETCOUNT answer; 0 when it fails.
    unsigned count() override;

    // Reads the window the current request needs (CacheUpdateTimeout calls
    // it when the windows were dropped).
    void updateCache() override;
    // Drops the windows and deletes their records.
    void clearCache() override;

    // Windows held at once, each of up to `windowRows` records: two walks
    // at once, for a record memory of two windows at most.
    static constexpr size_t MAX_WINDOWS = 2;

  private:
    enum class Bound { Start, After, From };
    using Row = std::pair<OID, Data*>;

    // One window: the rows whose index lies after (Bound::After) or at or
    // after (Bound::From) `first`, or from the first row (Bound::Start), up
    // to and including `last`, or to the end of the table when `complete`.
    struct Window {
        bool read = false;
        Bound bound = Bound::Start;
        OID first;
        OID last;
        bool complete = false;
        // The first `rowCount` slots are the window's rows, ascending by
        // index, each once; the slots after them keep their records and
        // index storage for the next window read into this place.
        std::vector<Row> slots;
        size_t rowCount = 0;
        // The row getNext() answered from this window last (0 when none).
        size_t answered = 0;
        uint64_t lastUse = 0;  // the table's use count when last used

        // Holds every row that follows `index`, up to its last row.
        bool holdsRowsAfter(OID const& index) const;
        // Would hold the row at `index` if there is one.
        bool covers(OID const& index) const;
        // Holds the row that follows `index`, if the table has one.
        bool answersNext(OID const& index) const;
    };

    // Reads the window of `bound` and `index` into `window`.
    void read(Window& window, Bound bound, OID const& index);
    // Orders the window's rows by index, each index once (the first listed
    // stays), for a handler that did not list them so.
    static void sortRows(Window& window);
    // A place for a new window: a free one, else the least recently used.
    Window& freePlace();
    Window& use(Window& window);

    Make const make_;
    Parse const parse_;
    std::vector<uint32_t> const path_;
    uint32_t const windowRows_;

    // What updateCache() is to read.
    Bound wantedBound_ = Bound::Start;
    OID wanted_;

    std::vector<Window> windows_;  // never more than MAX_WINDOWS
    uint64_t uses_ = 0;
};
