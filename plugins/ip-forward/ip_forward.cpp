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
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace {

// Routes read per exchange with the service.
constexpr uint32_t WINDOW_ROUTES = 256;
// RFC 4292: an unused metric is -1; the next hop's AS is 0 when unknown.
constexpr int METRIC_UNUSED = -1;
constexpr int NEXT_HOP_AS_UNKNOWN = 0;
constexpr int ROW_STATUS_ACTIVE = 1;

const OID ROUTES("1.3.6.1.2.1.4.24");
const OID ROUTE_ENTRY = ROUTES + 7 + 1;

struct RouteRecord : Data {
    int destType = 0;
    std::string dest;
    int prefixLength = 0;
    int nextHopType = 0;  // unknown(0) with an empty next hop
    std::string nextHop;
    int ifIndex = 0;
    int type = 0;
    int protocol = 0;
    int metric = 0;
};

int clampedInt(uint32_t value) {
    constexpr uint32_t MAX = std::numeric_limits<int32_t>::max();
    return static_cast<int>(value > MAX ? MAX : value);
}

void parseRoute(orla::message const& object, std::vector<Data*>* records) {
    const std::string dest = object.get(ipd::RT_DEST);
    const std::string nextHop = object.get(ipd::RT_NEXT_HOP);
    const uint32_t length = object.get(ipd::RT_PREFIX_LENGTH, 0);
    const uint32_t destType = ipd::inetAddressType(dest);
    const uint32_t nextHopType = ipd::inetAddressType(nextHop);
    const bool ipv4 = destType == ipd::INET_IPV4;
    const bool nextHopFits = nextHop.empty() || (nextHopType != ipd::INET_UNKNOWN &&
                                                 (nextHopType == ipd::INET_IPV4) == ipv4);
    if (destType == ipd::INET_UNKNOWN || length > (ipv4 ? 32u : 128u) || !nextHopFits) return;
    auto* rec = new RouteRecord;
    rec->destType = static_cast<int>(destType);
    rec->dest = dest;
    rec->prefixLength = static_cast<int>(length);
    rec->nextHopType = static_cast<int>(nextHopType);
    rec->nextHop = nextHop;
    rec->ifIndex = clampedInt(object.get(ipd::RT_IF_INDEX, 0));
    rec->type = static_cast<int>(object.get(ipd::RT_TYPE, 1) & 0xff);
    rec->protocol = static_cast<int>(object.get(ipd::RT_PROTOCOL, 1) & 0xff);
    rec->metric = clampedInt(object.get(ipd::RT_METRIC, 0));
    records->push_back(rec);
}

Packer* number(int RouteRecord::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
}

Packer* address(std::string RouteRecord::*member) {
    return new DataStringPacker(field(member), ber::OCTET_STRING, 0);
}

}  // namespace

extern "C" void autorun() {
    auto* routes =
        new WindowTable(parseRoute, {ipd::IP_SERVICE, ipd::IP_ROUTE_HANDLER}, WINDOW_ROUTES);
    // The order of ipd::routeIndex(), by which the service lists its routes.
    routes->addIndex(number(&RouteRecord::destType, ber::INTEGER));
    routes->addIndex(address(&RouteRecord::dest));
    routes->addIndex(number(&RouteRecord::prefixLength, ber::GAUGE32));
    routes->addIndex(new ConstOIDPacker(OID{0, 0}, ber::OBJECT_IDENTIFIER));
    routes->addIndex(number(&RouteRecord::nextHopType, ber::INTEGER));
    routes->addIndex(address(&RouteRecord::nextHop));

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
