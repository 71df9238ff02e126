// The route records of the IP-FORWARD-MIB plug-in's WindowTable, and how
// they are read from the IP service's rows (platform/ipd/ip_object.h). The
// benchmark plug-in reads its route tables with the same functions, so it
// costs what this plug-in costs.
#pragma once

#include <cstdint>
#include <string_view>

#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace ipforward {

// Routes read per exchange with the service: a window's rows cost the
// agent far less than the exchange, so windows are the service's largest.
inline constexpr uint32_t WINDOW_ROUTES = 1024;

// A route's columns; its index (destination, prefix, next hop) is the row's.
struct RouteRecord : Data {
    int ifIndex = 0;
    int type = 0;
    int protocol = 0;
    int metric = 0;
};

inline Data* makeRoute() {
    return new RouteRecord;
}

// Leaves out a row whose index is not a route index or whose fields are short.
inline bool parseRoute(OID const& index, std::string_view fields, Data* rec) {
    ipd::RouteFields route;
    if (!ipd::isRouteIndex(index.data(), index.size()) || !ipd::readRouteFields(fields, route)) {
        return false;
    }
    auto* record = static_cast<RouteRecord*>(rec);
    record->ifIndex = saturatedInt32(route.ifIndex);
    record->type = route.type;
    record->protocol = route.protocol;
    record->metric = saturatedInt32(route.metric);
    return true;
}

}  // namespace ipforward
