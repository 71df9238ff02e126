#include "mib/get_all_provider.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <iostream>

#include "mib/get_all.h"
#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"
#include "platform/orla/printable.h"

namespace {

// The parameter handlers get unless the plug-in chose another.
constexpr uint32_t DEFAULT_GETALL_PARAM = 5;

// A cache of this many records or more is worth returning to the system
// when dropped.
constexpr size_t LARGE_CACHE_RECORDS = 1024;

}  // namespace

bool GetAllProvider::setData(Data* rec) {
    bool accepted = false;
    for (Source const& source : sources) {
        orla::message request = platformRequest(orla::CMD_SETOBJ, source.path);
        if (rec) rec->reverseBuild(request);
        orla::message reply = exchangeWithPlatform(request);
        if (orla::isError(reply)) {
            std::cerr << orla::printable(orla::getError(reply)) << std::endl;
        } else {
            accepted = true;
        }
    }
    return accepted;
}

void GetAllProvider::subscribe(TableProviderClient* client) {
    clients.push_back(client);
}

void GetAllProvider::updateTables() {
    accessData();
}

bool GetAllProvider::getCountCMD(unsigned& count) {
    count = 0;
    for (Source const& source : sources) {
        orla::message reply =
            exchangeWithPlatform(platformRequest(orla::CMD_GETCOUNT, source.path));
        if (orla::isError(reply) || !reply.has(orla::OBJ_COUNT)) return false;
        count += reply.get(orla::OBJ_COUNT);
    }
    return true;
}

GetAllProvider::~GetAllProvider() {
    for (Data* rec : records)
        delete rec;
}

void GetAllProvider::clearCache() {
    // No table may still point at a record when it is deleted.
    for (TableProviderClient* client : clients)
        client->clear();
    const size_t dropped = records.size();
    for (Data* rec : records)
        delete rec;
    std::vector<Data*>().swap(records);
#ifdef __GLIBC__
    // glibc keeps freed memory for later allocations; after a large table
    // hand it back, so that an idle agent does not stay at the size of the
    // largest table it ever cached.
    if (dropped >= LARGE_CACHE_RECORDS) malloc_trim(0);
#endif
}

void GetAllProvider::updateCache() {
    for (Source const& source : sources) {
        orla::message request = platformRequest(orla::CMD_GETALL, source.path);
        request.insert(orla::OBJ_GETALL_PARAM, source.param);
        for (orla::message const& object : getAll(request))
            source.parse(object, &records);
        for (TableProviderClient* client : clients) {
            for (Data* rec : records) {
                if (rec) client->change(rec);  // a null record makes no row
            }
        }
    }
}

void GetAllProvider::addSource(Parse parse, std::vector<unsigned> const& path, unsigned param) {
    sources.push_back(Source{path, parse, param});
}

void GetAllProvider::addSource(Parse parse, std::vector<unsigned> const& path) {
    addSource(parse, path, DEFAULT_GETALL_PARAM);
}
