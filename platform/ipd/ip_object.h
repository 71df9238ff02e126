// The IP service's objects: what orla-ipd serves as platform service
// IP_SERVICE and what its clients (the IP-MIB and IP-FORWARD-MIB plug-ins)
// read. docs/ip.md describes each value's source.
//
// Handlers and their commands (platform/orla/ids.h):
// - IP_SYSTEM_HANDLER, CMD_GET: IP_FORWARDING, IP_DEFAULT_TTL, IP_REASM_TIMEOUT,
//   IP6_FORWARDING and IP6_HOP_LIMIT.
// - IP_ADDRESS_HANDLER, CMD_GETALL: one object per address of every
//   interface, IPv4 then IPv6, in pages (OBJ_LIST, with OBJ_NEXT when more
//   follow, the OBJ_ID to start the next page at; an object's OBJ_ID is its
//   position from 1 in the reading that the first page made).
//   CMD_GETCOUNT: OBJ_COUNT, the number of addresses.
// - IP_ROUTE_HANDLER, CMD_GETALL: the routes of the main routing table in
//   the order of their routeIndex() below, a window at a time: those after
//   OBJ_AFTER, or from OBJ_FROM on, or from the first without either; at
//   most OBJ_PAGE_SIZE of them, as the rows of OBJ_ROWS
//   (platform/orla/window_rows.h): index routeIndex(), fields routeFields().
//   The reply has OBJ_AFTER, the index of its last route, when more follow.
//   CMD_GETCOUNT: OBJ_COUNT, the number of routes.
// - IP_CIDR_ROUTE_HANDLER: the same for the IPv4 routes alone, in the order
//   of their cidrRouteIndex().
// - IP_STATS_HANDLER, CMD_GETALL: the kernel's IP and ICMP counters, one
//   object per IP version (OBJ_ID: 1 IPv4, 2 IPv6), read at each request.
//   CMD_GET: the IPv4 object's fields alone.
// - IP_IF_STATS_HANDLER, CMD_GETALL: the IPv6 counters of each interface,
//   one object per interface (OBJ_ID its ifIndex, IPS_COUNTERS), ascending,
//   in pages (OBJ_NEXT: the ifIndex to start the next page at); a get-all
//   from the first page reads the kernel, later pages come from that reading.
// - IP_NEIGHBOUR_HANDLER, CMD_GETALL: the neighbour caches (ARP and IPv6
//   neighbour discovery) in the order of neighbourIndex(), a window at a
//   time as IP_ROUTE_HANDLER lists routes: fields neighbourFields().
//   IP_NET_TO_MEDIA_HANDLER: the IPv4 neighbours alone, by mediaIndex().
//   CMD_GETCOUNT: OBJ_COUNT, the number of neighbours each lists.
// - IP_TCP_CONNECTION_HANDLER, IP_TCP_LISTENER_HANDLER and
//   IP_UDP_ENDPOINT_HANDLER, CMD_GETALL: the TCP connections, TCP
//   listeners and UDP endpoints of socket diagnostics in the order of their
//   endpointIndex(), a window at a time as routes: fields endpointFields().
//   CMD_GETCOUNT: OBJ_COUNT, the number of rows each lists.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/orla/message.h"

namespace ipd {

inline constexpr uint32_t IP_SERVICE = 43;
inline constexpr uint32_t IP_SYSTEM_HANDLER = 1;
inline constexpr uint32_t IP_ADDRESS_HANDLER = 2;
inline constexpr uint32_t IP_ROUTE_HANDLER = 3;
inline constexpr uint32_t IP_STATS_HANDLER = 4;
inline constexpr uint32_t IP_NEIGHBOUR_HANDLER = 5;
inline constexpr uint32_t IP_NET_TO_MEDIA_HANDLER = 6;
inline constexpr uint32_t IP_TCP_CONNECTION_HANDLER = 7;
inline constexpr uint32_t IP_TCP_LISTENER_HANDLER = 8;
inline constexpr uint32_t IP_UDP_ENDPOINT_HANDLER = 9;
inline constexpr uint32_t IP_CIDR_ROUTE_HANDLER = 10;
inline constexpr uint32_t IP_IF_STATS_HANDLER = 11;

// RFC 4001 InetAddressType of an address of 4, 16 or 20 octets.
inline constexpr uint32_t INET_UNKNOWN = 0;
inline constexpr uint32_t INET_IPV4 = 1;
inline constexpr uint32_t INET_IPV6 = 2;
inline constexpr uint32_t INET_IPV6Z = 4;

inline uint32_t inetAddressType(const std::string& address) {
    if (address.size() == 4) return INET_IPV4;
    if (address.size() == 16) return INET_IPV6;
    if (address.size() == 20) return INET_IPV6Z;
    return INET_UNKNOWN;
}

// RFC 4001 InetAddressIPv6z: an IPv6 link-local address (fe80::/10) is
// ambiguous without its zone, so it carries the interface index as four
// more octets, most significant first; any other address is unchanged.
inline std::string withZone(std::string address, uint32_t ifIndex) {
    const bool linkLocal = address.size() == 16 && static_cast<uint8_t>(address[0]) == 0xfe &&
                           (static_cast<uint8_t>(address[1]) & 0xc0) == 0x80;
    if (!linkLocal) return address;
    for (int shift = 24; shift >= 0; shift -= 8)
        address.push_back(static_cast<char>(ifIndex >> shift));
    return address;
}

// IP_SYSTEM_HANDLER.
inline constexpr orla::U32Key IP_FORWARDING{1};   // RFC 4293 ipForwarding: 1 forwarding, 2 not
inline constexpr orla::U32Key IP_DEFAULT_TTL{2};  // 1 to 255
// Seconds fragments wait for reassembly (RFC 4293 ipReasmTimeout).
inline constexpr orla::U32Key IP_REASM_TIMEOUT{3};
// RFC 4293 ipv6IpForwarding (1 forwarding, 2 not) and ipv6IpDefaultHopLimit;
// absent without IPv6.
inline constexpr orla::U32Key IP6_FORWARDING{4};
inline constexpr orla::U32Key IP6_HOP_LIMIT{5};

// IP_STATS_HANDLER, CMD_GET: the TCP-MIB (RFC 4022) and UDP-MIB (RFC 4113)
// scalars as (arc under tcp or udp, high, low) triples, each arc once:
// TCP_COUNTERS tcpRtoAlgorithm (1) to tcpOutRsts (15), tcpMaxConn -1 as
// 2^64-1; UDP_COUNTERS udpInDatagrams (1) to udpOutDatagrams (4), IPv4 and
// IPv6 together.
inline constexpr orla::U32ArrayKey TCP_COUNTERS{4};
inline constexpr orla::U32ArrayKey UDP_COUNTERS{5};

// IP_STATS_HANDLER: counters as (key, high 32 bits, low 32 bits) triples,
// each key once; a counter the kernel does not keep is not listed.
// IPS_COUNTERS: keyed by the ipSystemStatsTable column (RFC 4293) of the
// 32-bit counter (its HC twin, when it has one, has the same value).
inline constexpr orla::U32ArrayKey IPS_COUNTERS{1};
// ICMP_COUNTERS: keyed by the icmpStatsTable column (2 InMsgs to 5 OutErrors).
inline constexpr orla::U32ArrayKey ICMP_COUNTERS{2};
// ICMP_MSG_COUNTS: (message type, packets in, packets out) triples, the
// counts modulo 2^32 (RFC 4293 icmpMsgStatsTable), for each type the
// kernel has counted.
inline constexpr orla::U32ArrayKey ICMP_MSG_COUNTS{3};

inline void appendCounter(std::vector<uint32_t>& triples, uint32_t key, uint64_t value) {
    triples.insert(triples.end(),
                   {key, static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)});
}

// Calls visit(key, value) for each whole triple of `triples`.
template <class Visit>
void forEachCounter(const std::vector<uint32_t>& triples, Visit visit) {
    for (size_t at = 0; at + 3 <= triples.size(); at += 3)
        visit(triples[at], uint64_t(triples[at + 1]) << 32 | triples[at + 2]);
}

// IP_ADDRESS_HANDLER: addresses are raw octets, 4 for IPv4, 16 for IPv6
// and 20 for a link-local IPv6 address with its zone (withZone()).
inline constexpr orla::U32Key IPA_IF_INDEX{1};
inline constexpr orla::StringKey IPA_ADDRESS{2};
inline constexpr orla::U32Key IPA_PREFIX_LENGTH{3};
inline constexpr orla::U32Key IPA_ORIGIN{4};        // RFC 4293 IpAddressOriginTC
inline constexpr orla::U32Key IPA_STATUS{5};        // RFC 4293 IpAddressStatusTC
inline constexpr orla::StringKey IPA_BROADCAST{6};  // IPv4 broadcast address; empty when none

// A route's index in RFC 4292 inetCidrRouteTable, which is also the order
// in which the service lists its routes: destination type, destination
// (length first), prefix length, policy (zeroDotZero, length first),
// next-hop type (unknown(0) when the route has none) and next hop.
inline std::vector<uint32_t> routeIndex(const std::string& dest, uint32_t prefixLength,
                                        const std::string& nextHop) {
    std::vector<uint32_t> index;
    index.reserve(10 + dest.size() + nextHop.size());
    index.push_back(inetAddressType(dest));
    index.push_back(static_cast<uint32_t>(dest.size()));
    for (unsigned char octet : dest)
        index.push_back(octet);
    index.push_back(prefixLength);
    index.insert(index.end(), {2, 0, 0});
    index.push_back(inetAddressType(nextHop));
    index.push_back(static_cast<uint32_t>(nextHop.size()));
    for (unsigned char octet : nextHop)
        index.push_back(octet);
    return index;
}

// Whether `count` arcs are a routeIndex(): an IPv4, IPv6 or IPv6z
// destination with a prefix length that fits it, the policy 2.0.0, and no
// next hop or one of the destination's family.
inline bool isRouteIndex(const uint32_t* arcs, size_t count) {
    auto address = [&](size_t at, uint32_t type) {
        const uint32_t length = type == INET_IPV4 ? 4 : type == INET_IPV6 ? 16 : 20;
        if (type == INET_UNKNOWN || type == 3 || type > INET_IPV6Z || at + 1 + length > count ||
            arcs[at] != length) {
            return size_t(0);
        }
        uint32_t octets = 0;  // every arc's bits: above 0xff when one is not an octet
        for (size_t i = at + 1; i <= at + length; ++i)
            octets |= arcs[i];
        return octets > 0xff ? size_t(0) : at + 1 + length;
    };
    if (count < 1) return false;
    const uint32_t destType = arcs[0];
    size_t at = address(1, destType);
    if (at == 0 || at + 5 > count) return false;
    if (arcs[at] > (destType == INET_IPV4 ? 32u : 128u)) return false;
    if (arcs[at + 1] != 2 || arcs[at + 2] != 0 || arcs[at + 3] != 0) return false;
    const uint32_t nextHopType = arcs[at + 4];
    at += 5;
    if (nextHopType == INET_UNKNOWN) return at + 1 == count && arcs[at] == 0;
    if ((nextHopType == INET_IPV4) != (destType == INET_IPV4)) return false;
    return address(at, nextHopType) == count;
}

// An IPv4 route's index in RFC 2096 ipCidrRouteTable: destination, mask
// (from the prefix length), TOS 0 and next hop (0.0.0.0 when none), the
// octets of each.
inline std::vector<uint32_t> cidrRouteIndex(const std::string& dest, uint32_t prefixLength,
                                            const std::string& nextHop) {
    std::vector<uint32_t> index(dest.begin(), dest.end());
    for (auto& arc : index)
        arc &= 0xff;
    const uint32_t mask =
        prefixLength == 0 ? 0 : ~0u << (32 - std::min<uint32_t>(prefixLength, 32));
    for (int shift = 24; shift >= 0; shift -= 8)
        index.push_back(mask >> shift & 0xff);
    index.push_back(0);
    for (size_t i = 0; i < 4; ++i)
        index.push_back(i < nextHop.size() ? static_cast<unsigned char>(nextHop[i]) : 0);
    return index;
}

// Whether `count` arcs are a cidrRouteIndex().
inline bool isCidrRouteIndex(const uint32_t* arcs, size_t count) {
    if (count != 13 || arcs[8] != 0) return false;
    for (size_t i = 0; i < count; ++i)
        if (arcs[i] > 0xff) return false;
    return true;
}

// A route's fields in its row, version 1: ifIndex (0 when none) and metric
// (the kernel's priority), 4 octets each, then RFC 4292 inetCidrRouteType
// and IANAipRouteProtocol, 1 octet each; integers most significant octet
// first. A later version appends fields: a reader takes the first
// ROUTE_FIELDS_BYTES and leaves the rest.
struct RouteFields {
    uint32_t ifIndex = 0;
    uint32_t metric = 0;
    uint8_t type = 1;
    uint8_t protocol = 1;
};
inline constexpr size_t ROUTE_FIELDS_BYTES = 10;

inline std::string routeFields(const RouteFields& route) {
    return {static_cast<char>(route.ifIndex >> 24), static_cast<char>(route.ifIndex >> 16),
            static_cast<char>(route.ifIndex >> 8),  static_cast<char>(route.ifIndex),
            static_cast<char>(route.metric >> 24),  static_cast<char>(route.metric >> 16),
            static_cast<char>(route.metric >> 8),   static_cast<char>(route.metric),
            static_cast<char>(route.type),          static_cast<char>(route.protocol)};
}

// False, leaving `route` alone, when the fields are too short.
inline bool readRouteFields(std::string_view fields, RouteFields& route) {
    if (fields.size() < ROUTE_FIELDS_BYTES) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(fields.data());
    route.ifIndex = uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
    route.metric = uint32_t(at[4]) << 24 | uint32_t(at[5]) << 16 | uint32_t(at[6]) << 8 | at[7];
    route.type = at[8];
    route.protocol = at[9];
    return true;
}

// The shapes of RFC 4022 tcpConnectionTable's, tcpListenerTable's and RFC
// 4113 udpEndpointTable's indexes: local address (type, length, octets; an
// empty address is unknown(0)) and port; then for a connection or endpoint
// the remote address and port; then for an endpoint its instance.
enum class EndpointShape { TcpConnection, TcpListener, UdpEndpoint };

inline void appendInetAddress(std::vector<uint32_t>& index, const std::string& address) {
    index.push_back(inetAddressType(address));
    index.push_back(static_cast<uint32_t>(address.size()));
    for (unsigned char octet : address)
        index.push_back(octet);
}

inline std::vector<uint32_t> endpointIndex(EndpointShape shape, const std::string& local,
                                           uint16_t localPort, const std::string& remote,
                                           uint16_t remotePort, uint32_t instance) {
    std::vector<uint32_t> index;
    appendInetAddress(index, local);
    index.push_back(localPort);
    if (shape == EndpointShape::TcpListener) return index;
    appendInetAddress(index, remote);
    index.push_back(remotePort);
    if (shape == EndpointShape::UdpEndpoint) index.push_back(instance);
    return index;
}

// Whether `count` arcs are an endpointIndex() of `shape`.
inline bool isEndpointIndex(const uint32_t* arcs, size_t count, EndpointShape shape) {
    size_t at = 0;
    auto addressAndPort = [&]() {
        if (at + 2 > count) return false;
        const uint32_t type = arcs[at], length = arcs[at + 1];
        const bool known =
            (type == INET_UNKNOWN && length == 0) || (type == INET_IPV4 && length == 4) ||
            (type == INET_IPV6 && length == 16) || (type == INET_IPV6Z && length == 20);
        if (!known || at + 2 + length + 1 > count) return false;
        for (size_t i = at + 2; i < at + 2 + length; ++i)
            if (arcs[i] > 0xff) return false;
        at += 2 + length;
        return arcs[at++] <= 0xffff;
    };
    if (!addressAndPort()) return false;
    if (shape == EndpointShape::TcpListener) return at == count;
    if (!addressAndPort()) return false;
    if (shape == EndpointShape::TcpConnection) return at == count;
    return at + 1 == count && arcs[at] != 0;
}

// An endpoint's fields in its row, version 1: RFC 4022 tcpConnectionState
// (1 octet; 0 for a listener or a UDP endpoint) and the process id that
// holds the socket (4 octets, most significant first; 0 when none is known).
// A later version appends fields.
struct EndpointFields {
    uint8_t state = 0;
    uint32_t process = 0;
};
inline constexpr size_t ENDPOINT_FIELDS_BYTES = 5;

inline std::string endpointFields(const EndpointFields& endpoint) {
    return {static_cast<char>(endpoint.state), static_cast<char>(endpoint.process >> 24),
            static_cast<char>(endpoint.process >> 16), static_cast<char>(endpoint.process >> 8),
            static_cast<char>(endpoint.process)};
}

// False, leaving `endpoint` alone, when the fields are too short.
inline bool readEndpointFields(std::string_view fields, EndpointFields& endpoint) {
    if (fields.size() < ENDPOINT_FIELDS_BYTES) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(fields.data());
    endpoint.state = at[0];
    endpoint.process = uint32_t(at[1]) << 24 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 8 | at[4];
    return true;
}

// A neighbour's index in RFC 4293 ipNetToPhysicalTable: ifIndex, address
// type (1 ipv4, 2 ipv6: the interface is in the index, so no zone) and
// address (length first).
inline std::vector<uint32_t> neighbourIndex(uint32_t ifIndex, const std::string& address) {
    std::vector<uint32_t> index{ifIndex, inetAddressType(address),
                                static_cast<uint32_t>(address.size())};
    for (unsigned char octet : address)
        index.push_back(octet);
    return index;
}

// Its index in RFC 4293 ipNetToMediaTable, IPv4 only: ifIndex and address.
inline std::vector<uint32_t> mediaIndex(uint32_t ifIndex, const std::string& address) {
    std::vector<uint32_t> index{ifIndex};
    for (unsigned char octet : address)
        index.push_back(octet);
    return index;
}

// Whether `count` arcs are a neighbourIndex() (`media`: a mediaIndex()) of
// an ifIndex from 1 to 2^31-1.
inline bool isNeighbourIndex(const uint32_t* arcs, size_t count, bool media) {
    if (count < 1 || arcs[0] == 0 || arcs[0] > 0x7fffffff) return false;
    size_t at = 1;
    size_t octets = 4;
    if (!media) {
        if (count < 3 || (arcs[1] != INET_IPV4 && arcs[1] != INET_IPV6)) return false;
        octets = arcs[1] == INET_IPV4 ? 4 : 16;
        if (arcs[2] != octets) return false;
        at = 3;
    }
    if (count != at + octets) return false;
    for (; at < count; ++at)
        if (arcs[at] > 0xff) return false;
    return true;
}

// A neighbour's fields in its row, version 1: RFC 4293 ipNetToPhysicalType
// and ipNetToPhysicalState (1 octet each), the link-layer address's length
// (1 octet) and its octets (none when the kernel has no link-layer address).
// A later version appends fields.
struct NeighbourFields {
    uint8_t type = 1;
    uint8_t state = 6;
    std::string linkAddress;  // at most 255 octets
};

inline std::string neighbourFields(const NeighbourFields& neighbour) {
    const size_t length = std::min<size_t>(neighbour.linkAddress.size(), 255);
    std::string fields{static_cast<char>(neighbour.type), static_cast<char>(neighbour.state),
                       static_cast<char>(length)};
    fields.append(neighbour.linkAddress, 0, length);
    return fields;
}

// False, leaving `neighbour` alone, when the fields are too short.
inline bool readNeighbourFields(std::string_view fields, NeighbourFields& neighbour) {
    if (fields.size() < 3) return false;
    const size_t length = static_cast<unsigned char>(fields[2]);
    if (fields.size() < 3 + length) return false;
    neighbour.type = static_cast<uint8_t>(fields[0]);
    neighbour.state = static_cast<uint8_t>(fields[1]);
    neighbour.linkAddress.assign(fields.substr(3, length));
    return true;
}

}  // namespace ipd
