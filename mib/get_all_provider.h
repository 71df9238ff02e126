// GetAllProvider: the table provider for tables fed by platform handlers.
//
// Each source is one handler: its whole object list is read with paged
// get-all requests (getAll) and the plug-in's parse function turns each
// object into zero, one or several records, which the provider owns. The
// records are announced to every subscribed table (MapTable subscribes
// itself) and cached with the lifetime of CacheUpdateTimeout (idle limit 25
// ticks, maximum age 200 ticks), so a walk of a table costs one read of the
// handlers per cache lifetime. A modified record goes back to every source
// as a set-object command built by the record's reverseBuild.
//
//     void parseIf(orla::message const& object, std::vector<Data*>* records) {
//         records->push_back(new IfRecord(object));
//     }
//     GetAllProvider* provider = new GetAllProvider();
//     provider->addSource(parseIf, {42});
//     MapTable* ifTable = new MapTable(provider);
#pragma once

#include <cstdint>
#include <vector>

#include "mib/cache_update_timeout.h"
#include "mib/table.h"
#include "platform/orla/message.h"

class GetAllProvider : public TableProvider, public CacheUpdateTimeout {
  public:
    using Parse = void (*)(orla::message const& object, std::vector<Data*>* records);

    struct Source {
        std::vector<uint32_t> path;  // the handler's MSG_TO
        Parse parse;
        uint32_t param;  // sent as OBJ_GETALL_PARAM in every get-all request
    };

    GetAllProvider() : CacheUpdateTimeout(25, 200) {}

    // Sends the record to every source (CMD_SETOBJ); true when at least one
    // accepted it. Each refusal prints the handler's error text as a line.
    bool setData(Data* rec) override;
    // No check for a client already subscribed: it would hear everything twice.
    void subscribe(TableProviderClient* client) override;
    // Fills the cache when it is not valid, and notes the access.
    void updateTables() override;
    // The sum of the sources' CMD_GETCOUNT answers; false when one fails.
    // Not cached: every call asks every source.
    bool getCountCMD(unsigned& count) override;
    // Deletes the records without telling the clients: a provider lives as
    // long as its tables, and they go together.
    ~GetAllProvider() override;
    // Clears every client, then deletes the records.
    void clearCache() override;
    // Reads every source and announces the records after each.
    void updateCache() override;

    void addSource(Parse parse, std::vector<unsigned> const& path, unsigned param);
    void addSource(Parse parse, std::vector<unsigned> const& path);

    std::vector<Data*> records;
    std::vector<TableProviderClient*> clients;
    std::vector<Source> sources;
};
