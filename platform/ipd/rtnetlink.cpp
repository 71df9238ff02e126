#include "platform/ipd/rtnetlink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace ipd {

namespace {

constexpr uint8_t FAMILY_INET = AF_INET;
constexpr uint8_t FAMILY_INET6 = AF_INET6;
constexpr size_t RECEIVE_BYTES = 64 * 1024;  // above the kernel's largest dump datagram
constexpr size_t MAX_DATAGRAMS = 1'000'000;  // of one dump
constexpr size_t MAX_NEXT_HOPS = 256;        // of one multipath route

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

// A read-only view that never reads past its end.
class Bytes {
  public:
    explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    template <class T>
    T at(size_t offset) const {
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof value);
        return value;
    }
    Bytes sub(size_t offset, size_t length) const { return Bytes(bytes_.subspan(offset, length)); }
    std::string text() const { return std::string(bytes_.begin(), bytes_.end()); }

  private:
    std::span<const uint8_t> bytes_;
};

size_t aligned(size_t length) {
    return (length + 3) & ~size_t(3);
}

// Calls visit(type, payload) for each attribute (struct rtattr) of `bytes`;
// false when one's length is short or runs past the end.
template <class Visit>
bool forEachAttribute(Bytes bytes, Visit visit) {
    size_t offset = 0;
    while (bytes.size() - offset >= sizeof(rtattr)) {
        const auto length = bytes.at<uint16_t>(offset);
        const auto type = bytes.at<uint16_t>(offset + 2);
        if (length < sizeof(rtattr) || length > bytes.size() - offset) return false;
        visit(static_cast<uint16_t>(type & NLA_TYPE_MASK),
              bytes.sub(offset + sizeof(rtattr), length - sizeof(rtattr)));
        offset += std::min(aligned(length), bytes.size() - offset);
    }
    return true;
}

std::optional<uint32_t> u32Of(Bytes payload) {
    if (payload.size() != 4) return std::nullopt;
    return payload.at<uint32_t>(0);
}

size_t addressOctets(uint8_t family) {
    return family == FAMILY_INET ? 4 : 16;
}

// Walks the messages of one datagram: parseOne(type, payload) for each of
// sequence `seq` but the control messages; false from it fails the dump.
template <class ParseOne>
DumpStatus forEachMessage(std::span<const uint8_t> datagram, uint32_t seq, ParseOne parseOne) {
    Bytes bytes(datagram);
    size_t offset = 0;
    while (bytes.size() - offset >= sizeof(nlmsghdr)) {
        const auto header = bytes.at<nlmsghdr>(offset);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > bytes.size() - offset) {
            return DumpStatus::Failed;
        }
        Bytes payload = bytes.sub(offset + sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr));
        offset += std::min(aligned(header.nlmsg_len), bytes.size() - offset);
        if (header.nlmsg_seq != seq || header.nlmsg_type == NLMSG_NOOP) continue;
        if (header.nlmsg_type == NLMSG_DONE) return DumpStatus::Done;
        if (header.nlmsg_type == NLMSG_ERROR) return DumpStatus::Failed;
        if (!parseOne(header.nlmsg_type, payload)) return DumpStatus::Failed;
    }
    return DumpStatus::More;
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

}  // namespace

DumpStatus parseAddresses(std::span<const uint8_t> datagram, uint32_t seq,
                          std::vector<AddressInfo>& out) {
    return forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != RTM_NEWADDR || parseAddress(payload, out);
    });
}

DumpStatus parseRoutes(std::span<const uint8_t> datagram, uint32_t seq,
                       std::vector<RouteInfo>& out) {
    return forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != RTM_NEWROUTE || parseRoute(payload, out);
    });
}

Rtnetlink::Rtnetlink() : buffer_(RECEIVE_BYTES) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) {
        openError_ = errno;
        return;
    }
    const timeval timeout{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

Rtnetlink::~Rtnetlink() {
    if (fd_ >= 0) ::close(fd_);
}

template <class Entry>
bool Rtnetlink::dump(uint16_t type, uint8_t family, std::vector<Entry>& out,
                     DumpStatus (*parse)(std::span<const uint8_t>, uint32_t, std::vector<Entry>&)) {
    if (fd_ < 0) return false;
    // The request's header is an ifaddrmsg or an rtmsg; both start with the
    // family, and the kernel reads no further for a dump.
    struct {
        nlmsghdr header;
        rtmsg body;
    } request{};
    request.header.nlmsg_len =
        NLMSG_LENGTH(type == RTM_GETADDR ? sizeof(ifaddrmsg) : sizeof(rtmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++seq_;
    request.body.rtm_family = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return false;
    }
    for (size_t datagrams = 0; datagrams < MAX_DATAGRAMS; ++datagrams) {
        sockaddr_nl from{};
        iovec chunk{buffer_.data(), buffer_.size()};
        msghdr received{};
        received.msg_name = &from;
        received.msg_namelen = sizeof from;
        received.msg_iov = &chunk;
        received.msg_iovlen = 1;
        const ssize_t length = ::recvmsg(fd_, &received, 0);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0 || (received.msg_flags & MSG_TRUNC)) return false;
        if (from.nl_pid != 0) continue;  // only the kernel answers dumps
        switch (parse(std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(length)), seq_,
                      out)) {
            case DumpStatus::Done:
                return true;
            case DumpStatus::Failed:
                return false;
            case DumpStatus::More:
                break;
        }
    }
    return false;
}

bool Rtnetlink::dumpAddresses(std::vector<AddressInfo>& out) {
    return dump(RTM_GETADDR, AF_UNSPEC, out, parseAddresses);
}

bool Rtnetlink::dumpRoutes(std::vector<RouteInfo>& out) {
    return dump(RTM_GETROUTE, FAMILY_INET, out, parseRoutes) &&
           dump(RTM_GETROUTE, FAMILY_INET6, out, parseRoutes);
}

}  // namespace ipd
