// Tables: the interface columnar objects read their rows through, and the
// pair of interfaces through which a data source fills a table.
//
// A row index is the OID that follows a column's own OID in an instance
// name. Indexes order as OIDs do: arc by arc as unsigned numbers, a proper
// prefix first (1.5 < 1.5.0 < 2).
//
// Implementations: MapTable (mib/map_table.h), AugmentProxyTable
// (mib/augment_proxy_table.h), StaticMuxTable (mib/static_mux_table.h).
#pragma once

#include <utility>

#include "mib/data.h"
#include "platform/snmp/oid.h"

class Ownership;  // mib/ownership.h

class Table {
  public:
    // The record whose index equals `index`; null if there is none.
    virtual Data* get(OID const& index) = 0;
    // The first row whose index is strictly greater than `index`, as (its
    // index, its record). A null record means no further row; a table with
    // no further row returns (empty OID, null).
    virtual std::pair<OID, Data*> getNext(OID const& index) = 0;
    // Whether a Set may write the row at `index`; false makes its columns
    // notWritable. The base version: true.
    virtual bool acceptsWrites(OID const& index);
    // Hands a record that the caller has already modified in place to the
    // data source: true when the source took it, false when it refused it
    // (or the table accepts no writes).
    virtual bool commit(OID const& index, Data* rec) = 0;
    // Hands what the table refers to and was created for it (its provider,
    // its index packers, the tables it derives from) to the registry
    // (mib/ownership.h). The base version refers to nothing.
    virtual void handParts(Ownership& owner);
    // The number of rows.
    virtual unsigned count() = 0;
    virtual ~Table() = default;
};

// The receiver of a data source's record announcements (MapTable is one).
class TableProviderClient {
  public:
    // Forget every record: the provider is about to delete them.
    virtual void clear() = 0;
    // A record was created or changed: file it under its index.
    virtual void change(Data* rec) = 0;
    // A record is going away: drop the row filed under its index.
    virtual void remove(Data* rec) = 0;
    virtual ~TableProviderClient() = default;
};

// A data source of one or more tables. It owns its records and keeps every
// subscribed client consistent with them: clear() on each client before it
// deletes records, change() after it creates them.
class TableProvider {
  public:
    // Sends a modified record to the platform; true when it was accepted.
    virtual bool setData(Data* rec) = 0;
    // Registers a client that is to receive the provider's records.
    virtual void subscribe(TableProviderClient* client) = 0;
    // Makes the records, and so every client's rows, current. Tables call it
    // before every read.
    virtual void updateTables() = 0;
    // Asks the source directly for the number of records. The base version
    // has no direct count: it returns false and leaves `count` unchanged, and
    // the table then counts its rows.
    virtual bool getCountCMD(unsigned& count);
    virtual ~TableProvider() = default;
};
