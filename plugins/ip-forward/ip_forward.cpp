// IP-FORWARD-MIB (RFC 4292): the main routing table, IPv4 and IPv6, from the
// IP service orla-ipd (platform/ipd/ip_object.h).
//
//   1.3.6.1.2.1.4.24.6.0       inetCidrRouteNumber, the service's route count
//   1.3.6.1.2.1.4.24.7.1.C.I   inetCidrRouteTable, I = destination type,
//                              destination (length first), prefix length,
//                              policy (2.0.0: zeroDotZero), next-hop type,
//                              next hop (length first)
//
// A routing table may hold a million routes: the table is a WindowTable,
// which holds one window of routes at a time, never the whole table. Every
// object is read-only. Without the service the table is empty and the
// route number 0.
#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"
#include "route_record.h"

namespace {

// RFC 4292: an unused metric is -1; the next hop's AS is 0 when unknown.
constexpr int METRIC_UNUSED = -1;
constexpr int NEXT_HOP_AS_UNKNOWN = 0;
constexpr int ROW_STATUS_ACTIVE = 1;

const OID ROUTES("1.3.6.1.2.1.4.24");
const OID ROUTE_ENTRY = ROUTES + 7 + 1;

using ipforward::RouteRecord;

Packer* number(int RouteRecord::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
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

    registerModule(OID("1.3.6.1.2.1.4.24"), "IP-FORWARD-MIB: the routing table (RFC 4292)");
}
