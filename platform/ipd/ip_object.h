// The IP service's objects: what orla-ipd serves as platform service
// IP_SERVICE and what its clients (the IP-MIB and IP-FORWARD-MIB plug-ins)
// read. docs/ip.md describes each value's source.
//
// Handlers and their commands (platform/orla/ids.h):
// - IP_SYSTEM_HANDLER, CMD_GET: IP_FORWARDING and IP_DEFAULT_TTL.
// - IP_ADDRESS_HANDLER, CMD_GETALL: one object per address of every
//   interface, IPv4 then IPv6, in pages (OBJ_LIST, with OBJ_NEXT when more
//   follow, the OBJ_ID to start the next page at; an object's OBJ_ID is its
//   position from 1 in the reading that the first page made).
//   CMD_GETCOUNT: OBJ_COUNT, the number of addresses.
// - IP_ROUTE_HANDLER, CMD_GETALL: the routes of the main routing table in
//   the order of their routeIndex() below, a window at a time: those after
//   OBJ_AFTER, or from OBJ_FROM on, or from the first without either; at
//   most OBJ_PAGE_SIZE of them. The reply has OBJ_AFTER, the index of its
//   last route, when more follow. CMD_GETCOUNT: OBJ_COUNT, the number of
//   routes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/orla/message.h"

namespace ipd {

inline constexpr uint32_t IP_SERVICE = 43;
inline constexpr uint32_t IP_SYSTEM_HANDLER = 1;
inline constexpr uint32_t IP_ADDRESS_HANDLER = 2;
inline constexpr uint32_t IP_ROUTE_HANDLER = 3;

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

// IP_ADDRESS_HANDLER: addresses are raw octets, 4 for IPv4, 16 for IPv6
// and 20 for a link-local IPv6 address with its zone (withZone()).
inline constexpr orla::U32Key IPA_IF_INDEX{1};
inline constexpr orla::StringKey IPA_ADDRESS{2};
inline constexpr orla::U32Key IPA_PREFIX_LENGTH{3};
inline constexpr orla::U32Key IPA_ORIGIN{4};        // RFC 4293 IpAddressOriginTC
inline constexpr orla::U32Key IPA_STATUS{5};        // RFC 4293 IpAddressStatusTC
inline constexpr orla::StringKey IPA_BROADCAST{6};  // IPv4 broadcast address; empty when none

// IP_ROUTE_HANDLER.
// Addresses as in IP_ADDRESS_HANDLER.
inline constexpr orla::StringKey RT_DEST{1};
inline constexpr orla::U32Key RT_PREFIX_LENGTH{2};
inline constexpr orla::StringKey RT_NEXT_HOP{3};  // IPv4 for IPv4 routes; empty when none
inline constexpr orla::U32Key RT_IF_INDEX{4};     // 0 when none
inline constexpr orla::U32Key RT_TYPE{5};         // RFC 4292 inetCidrRouteType
inline constexpr orla::U32Key RT_PROTOCOL{6};     // IANAipRouteProtocol
inline constexpr orla::U32Key RT_METRIC{7};       // the kernel's priority

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

}  // namespace ipd
