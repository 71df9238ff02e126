#include "platform/ipd/rtnetlink.h"

#include <sys/socket.h>

#include <optional>

namespace ipd {

namespace {

using netlink::aligned;
using netlink::Bytes;
using netlink::forEachAttribute;
using netlink::u32Of;

constexpr uint8_t FAMILY_INET = AF_INET;
constexpr uint8_t FAMILY_INET6 = AF_INET6;
constexpr size_t MAX_NEXT_HOPS = 256;  // of one multipath route

// RFC 4293 IpAddressOriginTC and IpAddressStatusTC.
constexpr uint32_t ORIGIN_MANUAL = 2;
constexpr uint32_t ORIGIN_DHCP = 4;
constexpr uint32_t ORIGIN_LINKLAYER = 5;
constexpr uint32_t ORIGIN_RANDOM = 6;
constexpr uint32_t STATUS_PREFERRED = 1;
constexpr uint32_t STATUS_DEPRECATED = 2;
constexpr uint32_t STATUS_TENTATIVE = 6;
constexpr uint32_t STATUS_DUPLICATE = 7;
constexpr uint32_t STATUS_OPTIMISTIC = 8;

// RFC 4292 inetCidrRouteType.
constexpr uint32_t ROUTE_OTHER = 1;
constexpr uint32_t ROUTE_REJECT = 2;
constexpr uint32_t ROUTE_LOCAL = 3;
constexpr uint32_t ROUTE_REMOTE = 4;
constexpr uint32_t ROUTE_BLACKHOLE = 5;

size_t addressOctets(uint8_t family) {
    return family == FAMILY_INET ? 4 : 16;
}

bool isLinkLocal(const std::string& address) {
    return address.size() == 16 && static_cast<uint8_t>(address[0]) == 0xfe &&
           (static_cast<uint8_t>(address[1]) & 0xc0) == 0x80;
}

// RFC 4293 ipAddressOrigin: an IPv6 link-local or stateless address is the
// link layer's, a privacy address random(6); a lifetime-limited IPv4
// address came from DHCP; the rest were configured.
uint32_t originOf(const std::string& address, uint32_t flags) {
    if (address.size() == 16) {
        if (flags & IFA_F_TEMPORARY) return ORIGIN_RANDOM;
        if (isLinkLocal(address) || !(flags & IFA_F_PERMANENT)) return ORIGIN_LINKLAYER;
        return ORIGIN_MANUAL;
    }
    return flags & IFA_F_PERMANENT ? ORIGIN_MANUAL : ORIGIN_DHCP;
}

// RFC 4293 ipAddressStatus from the kernel's duplicate address detection.
uint32_t statusOf(uint32_t flags) {
    if (flags & IFA_F_DADFAILED) return STATUS_DUPLICATE;
    if (flags & IFA_F_OPTIMISTIC) return STATUS_OPTIMISTIC;
    if (flags & IFA_F_TENTATIVE) return STATUS_TENTATIVE;
    if (flags & IFA_F_DEPRECATED) return STATUS_DEPRECATED;
    return STATUS_PREFERRED;
}

bool parseAddress(Bytes payload, std::vector<AddressInfo>& out) {
    if (payload.size() < sizeof(ifaddrmsg)) return false;
    const auto header = payload.at<ifaddrmsg>(0);
    if (header.ifa_family != FAMILY_INET && header.ifa_family != FAMILY_INET6) return true;
    const size_t octets = addressOctets(header.ifa_family);
    if (header.ifa_prefixlen > octets * 8) return false;
    std::string address, local, broadcast;
    uint32_t flags = header.ifa_flags;
    bool wellFormed = true;
    auto visit = [&](uint16_t type, Bytes value) {
        const bool isAddress = type == IFA_ADDRESS || type == IFA_LOCAL || type == IFA_BROADCAST;
        if (isAddress && value.size() != octets) {
            wellFormed = false;
        } else if (type == IFA_ADDRESS) {
            address = value.text();
        } else if (type == IFA_LOCAL) {
            local = value.text();
        } else if (type == IFA_BROADCAST) {
            broadcast = value.text();
        } else if (type == IFA_FLAGS) {
            // The 32-bit flags replace the 8 of the header when present.
            const std::optional<uint32_t> wide = u32Of(value);
            if (wide) flags = *wide;
            wellFormed = wellFormed && wide.has_value();
        }
    };
    const size_t start = aligned(sizeof(ifaddrmsg));
    if (!forEachAttribute(payload.sub(start, payload.size() - std::min(start, payload.size())),
                          visit) ||
        !wellFormed) {
        return false;
    }
    // IFA_LOCAL is the interface's own address; IFA_ADDRESS is the peer's on
    // a point-to-point link and the same address elsewhere.
    AddressInfo info;
    info.address = local.empty() ? address : local;
    if (info.address.empty()) return true;
    if (out.size() >= MAX_ADDRESSES) return false;
    info.ifIndex = header.ifa_index;
    info.prefixLength = header.ifa_prefixlen;
    info.origin = originOf(info.address, flags);
    info.status = statusOf(flags);
    info.broadcast = broadcast;
    out.push_back(std::move(info));
    return true;
}

// IANAipRouteProtocol of the kernel's rtm_protocol (RTPROT_*).
uint32_t protocolOf(uint8_t protocol) {
    switch (protocol) {
        case RTPROT_KERNEL:
            return 2;  // local
        case RTPROT_BOOT:
        case RTPROT_STATIC:
            return 3;  // netmgmt
        case RTPROT_RA:
            return 4;  // icmp
        case RTPROT_DHCP:
            return 19;  // dhcp
        case 186:       // RTPROT_BGP
            return 14;
        case 187:  // RTPROT_ISIS
            return 9;
        case 188:  // RTPROT_OSPF
            return 13;
        case 189:  // RTPROT_RIP
            return 8;
        case 192:  // RTPROT_EIGRP
            return 16;
        default:
            return 1;  // other
    }
}

// RFC 4292 inetCidrRouteType of the kernel's rtm_type (RTN_*).
uint32_t typeOf(uint8_t type, bool viaGateway) {
    switch (type) {
        case RTN_UNICAST:
            return viaGateway ? ROUTE_REMOTE : ROUTE_LOCAL;
        case RTN_BLACKHOLE:
            return ROUTE_BLACKHOLE;
        case RTN_UNREACHABLE:
        case RTN_PROHIBIT:
            return ROUTE_REJECT;
        default:
            return ROUTE_OTHER;
    }
}

// The next hops of RTA_MULTIPATH: struct rtnexthop, each followed by its
// own attributes.
bool parseNextHops(Bytes bytes, size_t octets, RouteInfo const& route,
                   std::vector<RouteInfo>& hops) {
    size_t offset = 0;
    while (bytes.size() - offset >= sizeof(rtnexthop)) {
        const auto hop = bytes.at<rtnexthop>(offset);
        if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > bytes.size() - offset ||
            hops.size() >= MAX_NEXT_HOPS) {
            return false;
        }
        RouteInfo each = route;
        each.ifIndex = static_cast<uint32_t>(hop.rtnh_ifindex);
        bool wellFormed = true;
        auto visit = [&](uint16_t type, Bytes value) {
            if (type != RTA_GATEWAY) return;
            wellFormed = value.size() == octets;
            each.nextHop = value.text();
        };
        if (!forEachAttribute(
                bytes.sub(offset + sizeof(rtnexthop), hop.rtnh_len - sizeof(rtnexthop)), visit) ||
            !wellFormed) {
            return false;
        }
        hops.push_back(std::move(each));
        offset += std::min(aligned(hop.rtnh_len), bytes.size() - offset);
    }
    return true;
}

bool parseRoute(Bytes payload, std::vector<RouteInfo>& out) {
    if (payload.size() < sizeof(rtmsg)) return false;
    const auto header = payload.at<rtmsg>(0);
    if (header.rtm_family != FAMILY_INET && header.rtm_family != FAMILY_INET6) return true;
    const size_t octets = addressOctets(header.rtm_family);
    if (header.rtm_dst_len > octets * 8) return false;
    uint32_t table = header.rtm_table;
    RouteInfo route;
    route.dest.assign(octets, '\0');  // a default route has no RTA_DST
    route.prefixLength = header.rtm_dst_len;
    route.protocol = protocolOf(header.rtm_protocol);
    std::optional<Bytes> multipath;
    bool wellFormed = true;
    auto visit = [&](uint16_t type, Bytes value) {
        switch (type) {
            case RTA_DST:
                wellFormed = wellFormed && value.size() == octets;
                route.dest = value.text();
                break;
            case RTA_GATEWAY:
                wellFormed = wellFormed && value.size() == octets;
                route.nextHop = value.text();
                break;
            case RTA_OIF:
            case RTA_PRIORITY:
            case RTA_TABLE: {
                const std::optional<uint32_t> number = u32Of(value);
                wellFormed = wellFormed && number.has_value();
                uint32_t& target = type == RTA_OIF        ? route.ifIndex
                                   : type == RTA_PRIORITY ? route.metric
                                                          : table;
                target = number.value_or(0);
                break;
            }
            case RTA_MULTIPATH:
                multipath = value;
                break;
            default:
                break;
        }
    };
    const size_t start = aligned(sizeof(rtmsg));
    if (!forEachAttribute(payload.sub(start, payload.size() - std::min(start, payload.size())),
                          visit) ||
        !wellFormed) {
        return false;
    }
    if (table != RT_TABLE_MAIN || (header.rtm_flags & RTM_F_CLONED)) return true;
    std::vector<RouteInfo> hops;
    if (multipath && !parseNextHops(*multipath, octets, route, hops)) return false;
    if (hops.empty()) hops.push_back(std::move(route));
    for (RouteInfo& hop : hops) {
        if (out.size() >= MAX_ROUTES) return false;
        hop.type = typeOf(header.rtm_type, !hop.nextHop.empty());
        out.push_back(std::move(hop));
    }
    return true;
}

// RFC 4293 ipNetToPhysicalType and ipNetToPhysicalState of the kernel's
// neighbour state (NUD_*): the kernel runs neighbour unreachability
// detection for ARP entries too, so both families carry its state; an
// entry without it (permanent) has the state unknown(6).
constexpr uint32_t NEIGHBOUR_OTHER = 1;
constexpr uint32_t NEIGHBOUR_INVALID = 2;
constexpr uint32_t NEIGHBOUR_DYNAMIC = 3;
constexpr uint32_t NEIGHBOUR_STATIC = 4;

uint32_t neighbourTypeOf(uint16_t state) {
    if (state & NUD_PERMANENT) return NEIGHBOUR_STATIC;
    if (state & NUD_FAILED) return NEIGHBOUR_INVALID;
    if (state & (NUD_INCOMPLETE | NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE)) {
        return NEIGHBOUR_DYNAMIC;
    }
    return NEIGHBOUR_OTHER;
}

uint32_t neighbourStateOf(uint16_t state) {
    if (state & NUD_REACHABLE) return 1;
    if (state & NUD_STALE) return 2;
    if (state & NUD_DELAY) return 3;
    if (state & NUD_PROBE) return 4;
    if (state & NUD_FAILED) return 5;  // invalid
    if (state & NUD_INCOMPLETE) return 7;
    return 6;  // unknown
}

bool parseNeighbour(Bytes payload, std::vector<NeighbourInfo>& out) {
    if (payload.size() < sizeof(ndmsg)) return false;
    const auto header = payload.at<ndmsg>(0);
    if (header.ndm_family != FAMILY_INET && header.ndm_family != FAMILY_INET6) return true;
    const size_t octets = addressOctets(header.ndm_family);
    NeighbourInfo info;
    bool wellFormed = true;
    constexpr size_t MAX_LINK_ADDRESS = 32;  // MAX_ADDR_LEN
    auto visit = [&](uint16_t type, Bytes value) {
        if (type == NDA_DST) {
            wellFormed = wellFormed && value.size() == octets;
            info.address = value.text();
        } else if (type == NDA_LLADDR) {
            wellFormed = wellFormed && value.size() <= MAX_LINK_ADDRESS;
            info.linkAddress = value.text();
        }
    };
    const size_t start = aligned(sizeof(ndmsg));
    if (!forEachAttribute(payload.sub(start, payload.size() - std::min(start, payload.size())),
                          visit) ||
        !wellFormed) {
        return false;
    }
    if (info.address.empty() || (header.ndm_state & NUD_NOARP) || header.ndm_ifindex <= 0) {
        return true;
    }
    if (out.size() >= MAX_NEIGHBOURS) return false;
    info.ifIndex = static_cast<uint32_t>(header.ndm_ifindex);
    info.type = neighbourTypeOf(header.ndm_state);
    info.state = neighbourStateOf(header.ndm_state);
    out.push_back(std::move(info));
    return true;
}

}  // namespace

DumpStatus parseAddresses(std::span<const uint8_t> datagram, uint32_t seq,
                          std::vector<AddressInfo>& out) {
    return netlink::forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != RTM_NEWADDR || parseAddress(payload, out);
    });
}

DumpStatus parseRoutes(std::span<const uint8_t> datagram, uint32_t seq,
                       std::vector<RouteInfo>& out) {
    return netlink::forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != RTM_NEWROUTE || parseRoute(payload, out);
    });
}

DumpStatus parseNeighbours(std::span<const uint8_t> datagram, uint32_t seq,
                           std::vector<NeighbourInfo>& out) {
    return netlink::forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != RTM_NEWNEIGH || parseNeighbour(payload, out);
    });
}

bool Rtnetlink::dumpAddresses(std::vector<AddressInfo>& out) {
    return socket_.dump(RTM_GETADDR, AF_UNSPEC,
                        [&](std::span<const uint8_t> datagram, uint32_t seq) {
                            return parseAddresses(datagram, seq, out);
                        });
}

bool Rtnetlink::dumpRoutes(std::vector<RouteInfo>& out) {
    auto parse = [&](std::span<const uint8_t> datagram, uint32_t seq) {
        return parseRoutes(datagram, seq, out);
    };
    return socket_.dump(RTM_GETROUTE, FAMILY_INET, parse) &&
           socket_.dump(RTM_GETROUTE, FAMILY_INET6, parse);
}

bool Rtnetlink::dumpNeighbours(std::vector<NeighbourInfo>& out) {
    auto parse = [&](std::span<const uint8_t> datagram, uint32_t seq) {
        return parseNeighbours(datagram, seq, out);
    };
    return socket_.dump(RTM_GETNEIGH, FAMILY_INET, parse) &&
           socket_.dump(RTM_GETNEIGH, FAMILY_INET6, parse);
}

}  // namespace ipd
