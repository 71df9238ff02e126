#include "mib/get_all.h"

#include <iostream>
#include <set>

#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"

std::vector<orla::message> getAll(orla::message& request) {
    std::vector<orla::message> objects;
    std::set<uint32_t> namedNext;
    orla::message page = request;
    for (size_t pages = 1;; ++pages) {
        orla::message reply = exchangeWithPlatform(page);
        if (orla::isError(reply)) return objects;
        for (orla::flat_message const& object : reply.get(orla::OBJ_LIST)) {
            if (objects.size() == GET_ALL_MAX_OBJECTS) {
                std::cerr << "getAll: paging stopped after " << objects.size() << " objects"
                          << std::endl;
                return objects;
            }
            objects.emplace_back(object);
        }
        if (!reply.has(orla::OBJ_NEXT)) return objects;
        uint32_t next = reply.get(orla::OBJ_NEXT);
        if (!namedNext.insert(next).second) {
            std::cerr << "getAll: handler repeated next id " << next << std::endl;
            return objects;
        }
        if (pages == GET_ALL_MAX_PAGES) {
            std::cerr << "getAll: paging stopped after " << pages << " pages" << std::endl;
            return objects;
        }
        page = request;
        page.insert(orla::OBJ_NEXT, next);
    }
}
