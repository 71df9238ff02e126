// IP-FORWARD-MIB (RFC 4292): the main routing table, IPv4 and IPv6, from the
// IP service orla-ipd (platform/ipd/ip_object.h).
//
//   1.3.6.1.2.1.4.24.6.0       inetCidrRouteNumber, the service's route count
//   1.3.6.1.2.1.4.24.7.1.C.I   inetCidrRouteTable, I = destination type,
//                              destination (length first), prefix length,
//                              policy (2.0.0: zeroDotZero), next-hop type,
//                              next hop (length first)
//   1.3.6.1.2.1.4.24.3.0       ipCidrRouteNumber, the IPv4 route count
//   1.3.6.1.2.1.4.24.4.1.C.I   ipCidrRouteTable (RFC 2096), IPv4 only,
//                              I = destination, mask, TOS 0, next hop
//
// A routing table may hold a million routes: each table is a WindowTable,
// which holds one window of routes at a time, never the whole table. Every
// object is read-only. Without the service the table is empty and the
// route number 0.
#include <string_view>

#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"
#include "route_record.h"

namespace {

// RFC 4292: an unused metric is -1; the next hop's AS is 0 when unknown.
constexpr int METRIC_UNUSED = -1;
constexpr int NEXT_HOP_AS_UNKNOWN = 0;
constexpr int ROW_STATUS_ACTIVE = 1;
constexpr int ROUTE_REJECT = 2;
constexpr int ROUTE_BLACKHOLE = 5;
constexpr int LAST_RFC2096_PROTOCOL = 16;
// RFC 2096 ipCidrRouteInfo when there is none.
const OID ZERO_DOT_ZERO{0, 0};

const OID ROUTES("1.3.6.1.2.1.4.24");
const OID ROUTE_ENTRY = ROUTES + 7 + 1;

using ipforward::RouteRecord;

Packer* number(int RouteRecord::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
}

// RFC 2096 ipCidrRouteEntry: the index columns are objects of their own.
struct CidrRouteRecord : RouteRecord {
    unsigned dest = 0;  // first octet most significant
    unsigned mask = 0;
    unsigned nextHop = 0;
};

Data* makeCidrRoute() {
    return new CidrRouteRecord;
}

unsigned ipv4At(OID const& index, size_t at) {
    return index[at] << 24 | index[at + 1] << 16 | index[at + 2] << 8 | index[at + 3];
}

// RFC 2096 has no blackhole type (a route that discards traffic is reject)
// and names the IANA protocols up to ciscoEigrp (16).
bool parseCidrRoute(OID const& index, std::string_view fields, Data* rec) {
    ipd::RouteFields route;
    if (!ipd::isCidrRouteIndex(index.data(), index.size()) ||
        !ipd::readRouteFields(fields, route)) {
        return false;
    }
    auto* record = static_cast<CidrRouteRecord*>(rec);
    record->dest = ipv4At(index, 0);
    record->mask = ipv4At(index, 4);
    record->nextHop = ipv4At(index, 9);
    record->ifIndex = saturatedInt32(route.ifIndex);
    record->type = route.type == ROUTE_BLACKHOLE ? ROUTE_REJECT : route.type;
    record->protocol = route.protocol <= LAST_RFC2096_PROTOCOL ? route.protocol : 1;
    record->metric = saturatedInt32(route.metric);
    return true;
}

Packer* address(unsigned CidrRouteRecord::*member) {
    return new DataIPPacker(field(member), ber::IP_ADDRESS);
}

}  // namespace

extern "C" void autorun() {
    // The service lists its routes with their index, ipd::routeIndex().
    auto* routes =
        new WindowTable(ipforward::makeRoute, ipforward::parseRoute,
                        {ipd::IP_SERVICE, ipd::IP_ROUTE_HANDLER}, ipforward::WINDOW_ROUTES);

    // inetCidrRouteNumber: CMD_GETCOUNT to the service.
    addScalarLeaf(ROUTES + 6,
                  new DataNumPacker(field(&CountProvider::CountData::rowCount), ber::GAUGE32),
                  new CountProvider(routes), Access::ReadOnly);

    const std::pair<unsigned, Packer*> columns[] = {
        {7, number(&RouteRecord::ifIndex, ber::INTEGER)},
        {8, number(&RouteRecord::type, ber::INTEGER)},
        {9, number(&RouteRecord::protocol, ber::INTEGER)},
        {10, new ConstNumPacker(0, ber::GAUGE32)},  // inetCidrRouteAge: not known
        {11, new ConstNumPacker(NEXT_HOP_AS_UNKNOWN, ber::GAUGE32)},
        {12, number(&RouteRecord::metric, ber::INTEGER)},
        {13, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {14, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {15, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {16, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {17, new ConstNumPacker(ROW_STATUS_ACTIVE, ber::INTEGER)},
    };
    for (auto const& [column, packer] : columns)
        addColumnarLeaf(ROUTE_ENTRY + column, packer, routes, Access::ReadOnly);

    // ipCidrRouteTable: the IPv4 routes of the same reading, by RFC 2096's index.
    auto* cidrRoutes =
        new WindowTable(makeCidrRoute, parseCidrRoute,
                        {ipd::IP_SERVICE, ipd::IP_CIDR_ROUTE_HANDLER}, ipforward::WINDOW_ROUTES);
    addScalarLeaf(ROUTES + 3,
                  new DataNumPacker(field(&CountProvider::CountData::rowCount), ber::GAUGE32),
                  new CountProvider(cidrRoutes), Access::ReadOnly);
    const std::pair<unsigned, Packer*> cidrColumns[] = {
        {1, address(&CidrRouteRecord::dest)},
        {2, address(&CidrRouteRecord::mask)},
        {3, new ConstNumPacker(0, ber::INTEGER)},  // ipCidrRouteTos: the index's 0
        {4, address(&CidrRouteRecord::nextHop)},
        {5, number(&RouteRecord::ifIndex, ber::INTEGER)},
        {6, number(&RouteRecord::type, ber::INTEGER)},
        {7, number(&RouteRecord::protocol, ber::INTEGER)},
        {9, new ConstNumPacker(NEXT_HOP_AS_UNKNOWN, ber::INTEGER)},
        {10, new ConstOIDPacker(ZERO_DOT_ZERO, ber::OBJECT_IDENTIFIER)},
        {11, number(&RouteRecord::metric, ber::INTEGER)},
        {12, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {13, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {14, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {15, new ConstNumPacker(METRIC_UNUSED, ber::INTEGER)},
        {16, new ConstNumPacker(ROW_STATUS_ACTIVE, ber::INTEGER)},
    };
    for (auto const& [column, packer] : cidrColumns)
        addColumnarLeaf(ROUTES + 4 + 1 + column, packer, cidrRoutes, Access::ReadOnly);

    registerModule(OID("1.3.6.1.2.1.4.24"),
                   "IP-FORWARD-MIB: the routing table (RFC 4292, and RFC 2096's ipCidrRouteTable)");
}
