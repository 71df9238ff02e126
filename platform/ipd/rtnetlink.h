// The kernel's addresses, routes and neighbours over rtnetlink (platform/netlink): dump
// requests, and the parsing of their replies into plain structs. Every reply
// is hostile: each message and attribute length is checked against what
// holds it before it is read, and the number of entries a dump may yield is
// bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/netlink/rtnetlink.h"

namespace ipd {

using netlink::DumpStatus;

// Bounds of one dump: a full Internet table in both families fits.
inline constexpr size_t MAX_ADDRESSES = 65536;
inline constexpr size_t MAX_ROUTES = 4'000'000;
inline constexpr size_t MAX_NEIGHBOURS = 1'000'000;

struct AddressInfo {
    uint32_t ifIndex = 0;
    std::string address;  // 4 or 16 octets
    uint32_t prefixLength = 0;
    uint32_t origin = 1;    // RFC 4293 IpAddressOriginTC
    uint32_t status = 1;    // RFC 4293 IpAddressStatusTC
    std::string broadcast;  // IPv4 only; empty when none
};

struct RouteInfo {
    std::string dest;  // 4 or 16 octets
    uint32_t prefixLength = 0;
    std::string nextHop;  // empty when none
    uint32_t ifIndex = 0;
    uint32_t type = 1;      // RFC 4292 inetCidrRouteType
    uint32_t protocol = 1;  // IANAipRouteProtocol
    uint32_t metric = 0;
};

struct NeighbourInfo {
    uint32_t ifIndex = 0;
    std::string address;      // 4 or 16 octets
    std::string linkAddress;  // empty when the kernel has none (incomplete, failed)
    uint32_t type = 1;        // RFC 4293 ipNetToPhysicalType
    uint32_t state = 6;       // RFC 4293 ipNetToPhysicalState
};

// Parses one datagram of an RTM_GETADDR dump reply, appending the IPv4 and
// IPv6 addresses it holds. Messages of another sequence number are skipped.
DumpStatus parseAddresses(std::span<const uint8_t> datagram, uint32_t seq,
                          std::vector<AddressInfo>& out);
// Parses one datagram of an RTM_GETROUTE dump reply, appending the routes of
// the main table (one per next hop of a multipath route); cloned routes,
// routes of other tables and of other families are left out.
DumpStatus parseRoutes(std::span<const uint8_t> datagram, uint32_t seq,
                       std::vector<RouteInfo>& out);

// Parses one datagram of an RTM_GETNEIGH dump reply, appending the IPv4 and
// IPv6 neighbours it holds; entries without an address mapping (NUD_NOARP:
// multicast, point-to-point links) and of other families are left out.
DumpStatus parseNeighbours(std::span<const uint8_t> datagram, uint32_t seq,
                           std::vector<NeighbourInfo>& out);

// The kernel's addresses, routes and neighbours, read over one rtnetlink
// socket.
class Rtnetlink {
  public:
    // The socket's errno when it could not be opened, else 0.
    int openError() const { return socket_.openError(); }

    // Every address of every interface; false (with what was read) when the
    // dump failed.
    bool dumpAddresses(std::vector<AddressInfo>& out);
    // The main table's routes, IPv4 and IPv6; false when a dump failed.
    bool dumpRoutes(std::vector<RouteInfo>& out);
    // The neighbour caches of IPv4 (ARP) and IPv6 (neighbour discovery);
    // false when a dump failed.
    bool dumpNeighbours(std::vector<NeighbourInfo>& out);

  private:
    netlink::Socket socket_;
};

}  // namespace ipd
