#include "platform/ifaced/interface_reader.h"

#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ifaced {

namespace {

using netlink::Bytes;
using netlink::DumpStatus;

constexpr size_t MAX_NAME_OCTETS = 15;        // IFNAMSIZ less the terminating NUL
constexpr size_t MAX_HW_ADDRESS_OCTETS = 32;  // the kernel's MAX_ADDR_LEN

// IANAifType values (RFC 2863 ifType).
constexpr uint32_t IANA_OTHER = 1;
constexpr uint32_t IANA_ETHERNET_CSMACD = 6;
constexpr uint32_t IANA_PPP = 23;
constexpr uint32_t IANA_PROP_VIRTUAL = 53;
constexpr uint32_t IANA_TUNNEL = 131;

// struct rtnl_link_stats64 as 64-bit words: the kernel appends fields over
// time, so it is read by position, up to what the message holds.
enum Stat64 : size_t {
    RX_PACKETS = 0,
    TX_PACKETS = 1,
    RX_BYTES = 2,
    TX_BYTES = 3,
    RX_ERRORS = 4,
    TX_ERRORS = 5,
    RX_DROPPED = 6,
    TX_DROPPED = 7,
    MULTICAST = 8,
    RX_NOHANDLER = 23,
};
// The structure's size before rx_nohandler (Linux 4.6) came.
constexpr size_t STATS64_MIN_BYTES = RX_NOHANDLER * 8;

// An attribute holding a string: its octets up to the first NUL.
std::string textOf(Bytes value) {
    std::string text = value.text();
    return text.substr(0, text.find('\0'));
}

InterfaceCounters countersOf(Bytes stats) {
    auto word = [&](Stat64 field) {
        return stats.size() >= (field + 1) * 8 ? stats.at<uint64_t>(field * 8) : 0;
    };
    InterfaceCounters counters;
    counters.inOctets = word(RX_BYTES);
    counters.inMulticastPackets = word(MULTICAST);
    const uint64_t received = word(RX_PACKETS);
    counters.inUcastPackets =
        received > counters.inMulticastPackets ? received - counters.inMulticastPackets : 0;
    counters.inDiscards = word(RX_DROPPED);
    counters.inErrors = word(RX_ERRORS);
    counters.inUnknownProtos = word(RX_NOHANDLER);
    counters.outOctets = word(TX_BYTES);
    counters.outUcastPackets = word(TX_PACKETS);
    counters.outDiscards = word(TX_DROPPED);
    counters.outErrors = word(TX_ERRORS);
    return counters;
}

// One RTM_NEWLINK or RTM_DELLINK; false when malformed. A message to skip
// leaves `out` as it was.
bool parseLink(uint16_t type, Bytes payload, std::vector<LinkMessage>& out) {
    if (type != RTM_NEWLINK && type != RTM_DELLINK) return true;
    if (payload.size() < sizeof(ifinfomsg)) return false;
    const auto header = payload.at<ifinfomsg>(0);
    // AF_BRIDGE messages describe a link's bridge port, not the link.
    if (header.ifi_family != AF_UNSPEC) return true;
    if (header.ifi_index <= 0) return false;

    LinkMessage link;
    link.removed = type == RTM_DELLINK;
    InterfaceInfo& info = link.info;
    info.index = static_cast<uint32_t>(header.ifi_index);
    info.type = ifTypeFromArphrd(header.ifi_type);
    info.adminUp = (header.ifi_flags & IFF_UP) != 0;
    info.promiscuous = (header.ifi_flags & IFF_PROMISC) != 0;
    uint8_t operstate = IF_OPER_UNKNOWN;
    bool wellFormed = true;
    auto visit = [&](uint16_t attribute, Bytes value) {
        switch (attribute) {
            case IFLA_IFNAME:
                info.name = textOf(value);
                break;
            case IFLA_MTU:
                wellFormed = wellFormed && netlink::u32Of(value).has_value();
                info.mtu = netlink::u32Of(value).value_or(0);
                break;
            case IFLA_ADDRESS:
                if (value.size() > MAX_HW_ADDRESS_OCTETS) {
                    wellFormed = false;
                } else {
                    // RFC 2863 ifPhysAddress: empty for an interface without
                    // an address; loopback and tunnels report all zeros.
                    std::string octets = value.text();
                    if (std::any_of(octets.begin(), octets.end(), [](char c) { return c != 0; }))
                        info.hwAddress = std::move(octets);
                }
                break;
            case IFLA_OPERSTATE:
                wellFormed = wellFormed && value.size() == 1;
                if (value.size() == 1) operstate = value.at<uint8_t>(0);
                break;
            case IFLA_IFALIAS:
                info.alias = textOf(value).substr(0, MAX_ALIAS_OCTETS);
                break;
            case IFLA_STATS64:
                wellFormed = wellFormed && value.size() >= STATS64_MIN_BYTES;
                info.counters = countersOf(value);
                break;
            case IFLA_PARENT_DEV_NAME:
                // A bus device (a PCI or USB function) is behind the link:
                // hardware with a connector. Software links have none.
                info.connectorPresent = true;
                break;
            default:
                break;
        }
    };
    if (!netlink::forEachAttribute(payload.from(NLMSG_ALIGN(sizeof(ifinfomsg))), visit) ||
        !wellFormed) {
        return false;
    }
    // Wireless extension events come as RTM_NEWLINK without a name.
    if (!isInterfaceName(info.name)) return true;
    if (out.size() >= MAX_INTERFACES) return false;
    info.operStatus = operStatusOf(operstate, header.ifi_flags);
    out.push_back(std::move(link));
    return true;
}

}  // namespace

bool isInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > MAX_NAME_OCTETS || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '/' && c != ':'; });
}

uint32_t ifTypeFromArphrd(uint64_t arphrd) {
    switch (arphrd) {
        case 1:  // ARPHRD_ETHER
            return IANA_ETHERNET_CSMACD;
        case 512:  // ARPHRD_PPP
            return IANA_PPP;
        case 772:  // ARPHRD_LOOPBACK
            return IANA_SOFTWARE_LOOPBACK;
        case 768:  // ARPHRD_TUNNEL (ipip)
        case 769:  // ARPHRD_TUNNEL6
        case 776:  // ARPHRD_SIT
        case 778:  // ARPHRD_IPGRE
            return IANA_TUNNEL;
        case 65534:  // ARPHRD_NONE: tun, wireguard; software links without a link layer
            return IANA_PROP_VIRTUAL;
        default:
            return IANA_OTHER;
    }
}

OperStatus operStatusOf(uint8_t operstate, uint32_t flags) {
    switch (operstate) {
        case IF_OPER_UP:
            return OperStatus::Up;
        case IF_OPER_UNKNOWN:
            return (flags & IFF_UP) && (flags & IFF_RUNNING) ? OperStatus::Up : OperStatus::Down;
        case IF_OPER_DOWN:
            return OperStatus::Down;
        case IF_OPER_LOWERLAYERDOWN:
            return OperStatus::LowerLayerDown;
        case IF_OPER_TESTING:
            return OperStatus::Testing;
        case IF_OPER_DORMANT:
            return OperStatus::Dormant;
        case IF_OPER_NOTPRESENT:
            return OperStatus::NotPresent;
        default:
            return OperStatus::Unknown;
    }
}

DumpStatus parseLinks(std::span<const uint8_t> datagram, std::optional<uint32_t> seq,
                      std::vector<LinkMessage>& out) {
    return netlink::forEachMessage(
        datagram, seq, [&](uint16_t type, Bytes payload) { return parseLink(type, payload, out); });
}

KernelInterfaces::KernelInterfaces() : ioctlFd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

KernelInterfaces::~KernelInterfaces() {
    if (ioctlFd_ >= 0) ::close(ioctlFd_);
}

bool KernelInterfaces::readAll(std::vector<InterfaceInfo>& out) {
    std::vector<LinkMessage> links;
    const bool read =
        socket_.dump(RTM_GETLINK, AF_UNSPEC, [&](std::span<const uint8_t> datagram, uint32_t seq) {
            return parseLinks(datagram, seq, links);
        });
    if (!read) return false;
    out.clear();
    out.reserve(links.size());
    for (LinkMessage& link : links) {
        if (link.removed) continue;
        // A link set down has no speed to report (ethtool, like sysfs,
        // answers for an up link only).
        if (link.info.adminUp) link.info.speedMbps = speedOf(link.info.name);
        out.push_back(std::move(link.info));
    }
    std::sort(out.begin(), out.end(),
              [](const InterfaceInfo& a, const InterfaceInfo& b) { return a.index < b.index; });
    out.erase(std::unique(out.begin(), out.end(),
                          [](const InterfaceInfo& a, const InterfaceInfo& b) {
                              return a.index == b.index;
                          }),
              out.end());
    return true;
}

uint32_t KernelInterfaces::speedOf(const std::string& name) const {
    if (ioctlFd_ < 0) return 0;
    ethtool_cmd command{};
    command.cmd = ETHTOOL_GSET;
    ifreq request{};
    name.copy(request.ifr_name, IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&command);
    if (::ioctl(ioctlFd_, SIOCETHTOOL, &request) != 0) return 0;
    const uint32_t speed = ethtool_cmd_speed(&command);
    return speed == static_cast<uint32_t>(SPEED_UNKNOWN) ? 0 : speed;
}

int KernelInterfaces::writeAlias(uint32_t index, std::string_view alias) {
    // ifinfomsg naming the link, then IFLA_IFALIAS; an empty alias removes it.
    const size_t attributeBytes = RTA_LENGTH(alias.size());
    std::vector<uint8_t> body(NLMSG_ALIGN(sizeof(ifinfomsg)) + RTA_ALIGN(attributeBytes));
    ifinfomsg link{};
    link.ifi_family = AF_UNSPEC;
    link.ifi_index = static_cast<int>(index);
    std::memcpy(body.data(), &link, sizeof link);
    rtattr attribute{};
    attribute.rta_len = static_cast<uint16_t>(attributeBytes);
    attribute.rta_type = IFLA_IFALIAS;
    uint8_t* at = body.data() + NLMSG_ALIGN(sizeof(ifinfomsg));
    std::memcpy(at, &attribute, sizeof attribute);
    std::memcpy(at + RTA_LENGTH(0), alias.data(), alias.size());
    return socket_.request(RTM_SETLINK, 0, body);
}

}  // namespace ifaced
