#include "platform/ipd/ip_service.h"

#include <dirent.h>
#include <netinet/in.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>

#include "platform/ipd/ip_object.h"
#include "platform/orla/clock.h"
#include "platform/orla/decimal.h"
#include "platform/orla/files.h"
#include "platform/orla/ids.h"
#include "platform/orla/window_reply.h"

namespace ipd {

namespace {

constexpr uint32_t FROM_THE_START = 0xffffffff;  // the handler's startId without OBJ_NEXT
constexpr uint32_t FIRST_WINDOW_SECONDS = 1;
constexpr uint32_t LATER_WINDOW_SECONDS = 10;

// A small decimal number from a /proc/sys file ("1\n"), at most
// MAX_SYSCTL_VALUE; nullopt when the file is missing or holds anything else.
std::optional<uint32_t> readSysctl(const std::string& path) {
    constexpr size_t MAX_BYTES = 15;
    constexpr uint64_t MAX_SYSCTL_VALUE = 999999;
    const std::optional<std::string> text = orla::readRegularFile(path, MAX_BYTES);
    if (!text || text->size() > MAX_BYTES) return std::nullopt;
    std::string_view digits = *text;
    if (!digits.empty() && digits.back() == '\n') digits.remove_suffix(1);
    const std::optional<uint64_t> value = orla::parseDecimal(digits);
    if (!value || *value > MAX_SYSCTL_VALUE) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

uint32_t pageOf(uint32_t requested, uint32_t configured) {
    return requested == 0 ? configured : std::min(requested, configured);
}

// The order of routeIndex(): an address's type and length arcs follow from
// its size, and its octets compare as unsigned numbers.
auto orderOf(const RouteInfo& route) {
    return std::make_tuple(route.dest.size(), std::cref(route.dest), route.prefixLength,
                           route.nextHop.size(), std::cref(route.nextHop));
}

// RFC 4022 tcpConnectionState of the kernel's TCP_* state (the listeners
// are a table of their own).
uint8_t tcpConnectionStateOf(uint8_t state) {
    switch (state) {
        case 1:  // TCP_ESTABLISHED
            return 5;
        case 2:  // TCP_SYN_SENT
            return 3;
        case 3:   // TCP_SYN_RECV
        case 12:  // TCP_NEW_SYN_RECV
            return 4;
        case 4:  // TCP_FIN_WAIT1
            return 6;
        case 5:  // TCP_FIN_WAIT2
            return 7;
        case 6:  // TCP_TIME_WAIT
            return 11;
        case 8:  // TCP_CLOSE_WAIT
            return 8;
        case 9:  // TCP_LAST_ACK
            return 9;
        case 11:  // TCP_CLOSING
            return 10;
        default:  // TCP_CLOSE
            return 1;
    }
}

std::string routeFieldsOf(const RouteInfo& route) {
    return routeFields({route.ifIndex, route.metric, static_cast<uint8_t>(route.type),
                        static_cast<uint8_t>(route.protocol)});
}

}  // namespace

bool DumpAge::due(uint32_t maxAge) const {
    return !read_ || orla::getJiffies() - readAt_ >= maxAge;
}

void DumpAge::mark() {
    read_ = true;
    readAt_ = orla::getJiffies();
}

orla::message SystemHandler::cmdGet(const orla::message&) {
    orla::message reply;
    // RFC 4293 ipForwarding: forwarding(1), notForwarding(2).
    const std::optional<uint32_t> forwarding = readSysctl(procSys_ + "/net/ipv4/ip_forward");
    if (forwarding) reply.insert(IP_FORWARDING, *forwarding ? 1u : 2u);
    const std::optional<uint32_t> ttl = readSysctl(procSys_ + "/net/ipv4/ip_default_ttl");
    if (ttl && *ttl >= 1 && *ttl <= 255) reply.insert(IP_DEFAULT_TTL, *ttl);
    const std::optional<uint32_t> reasm = readSysctl(procSys_ + "/net/ipv4/ipfrag_time");
    if (reasm) reply.insert(IP_REASM_TIMEOUT, *reasm);
    const std::optional<uint32_t> forwarding6 =
        readSysctl(procSys_ + "/net/ipv6/conf/all/forwarding");
    if (forwarding6) reply.insert(IP6_FORWARDING, *forwarding6 ? 1u : 2u);
    const std::optional<uint32_t> hopLimit =
        readSysctl(procSys_ + "/net/ipv6/conf/default/hop_limit");
    if (hopLimit && *hopLimit <= 255) reply.insert(IP6_HOP_LIMIT, *hopLimit);
    return reply;
}

Counters StatsHandler::read() const {
    Counters counters;
    auto readFile = [&](const char* name, bool (*parse)(std::string_view, Counters&)) {
        const std::optional<std::string> text =
            orla::readRegularFile(procNet_ + "/" + name, MAX_COUNTER_FILE_BYTES);
        // A truncated file would end in a broken pair of lines: left out.
        if (text && text->size() <= MAX_COUNTER_FILE_BYTES) parse(*text, counters);
    };
    readFile("snmp", parseGroupedCounters);
    readFile("netstat", parseGroupedCounters);
    readFile("snmp6", parseNamedCounters);
    return counters;
}

orla::message StatsHandler::cmdGet(const orla::message&) {
    const Counters counters = read();
    orla::message reply = statsObject(INET_IPV4, counters);
    reply.erase(orla::OBJ_ID.raw());
    addTransportCounters(counters, reply);
    return reply;
}

// Both versions fit one page: the request's page is not looked at.
orla::message StatsHandler::cmdGetAll(const orla::message&, uint32_t, uint32_t) {
    const Counters counters = read();
    orla::message reply;
    reply.append(orla::OBJ_LIST, statsObject(INET_IPV4, counters));
    if (counters.contains("Ip6InReceives")) {
        reply.append(orla::OBJ_LIST, statsObject(INET_IPV6, counters));
    }
    return reply;
}

orla::message IfStatsHandler::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    if (startId == FROM_THE_START) {
        constexpr size_t MAX_INTERFACES = 65536;
        snapshot_.clear();
        if (DIR* dir = ::opendir(dir_.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                if (snapshot_.size() >= MAX_INTERFACES) break;
                if (entry->d_name[0] == '.') continue;
                const std::optional<std::string> text =
                    orla::readRegularFile(dir_ + "/" + entry->d_name, MAX_COUNTER_FILE_BYTES);
                if (!text || text->size() > MAX_COUNTER_FILE_BYTES) continue;
                Counters counters;
                parseNamedCounters(*text, counters);
                orla::message object = ifStatsObject(counters);
                if (object.has(orla::OBJ_ID)) snapshot_.push_back(std::move(object));
            }
            ::closedir(dir);
        }
        std::sort(snapshot_.begin(), snapshot_.end(),
                  [](const orla::message& a, const orla::message& b) {
                      return a.get(orla::OBJ_ID) < b.get(orla::OBJ_ID);
                  });
    }
    // Pages resume at the ifIndex the last one named.
    auto first = snapshot_.begin();
    if (startId != FROM_THE_START) {
        first = std::partition_point(
            snapshot_.begin(), snapshot_.end(),
            [&](const orla::message& object) { return object.get(orla::OBJ_ID) < startId; });
    }
    const size_t page = std::min<size_t>(pageOf(count, pageSize_), snapshot_.end() - first);
    orla::message reply;
    for (auto it = first; it != first + page; ++it)
        reply.append(orla::OBJ_LIST, *it);
    if (first + page != snapshot_.end()) {
        reply.insert(orla::OBJ_NEXT, (first + page)->get(orla::OBJ_ID));
    }
    return reply;
}

orla::message AddressHandler::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    if (startId == FROM_THE_START) {
        std::vector<AddressInfo> addresses;
        kernel_.dumpAddresses(addresses);
        for (AddressInfo& info : addresses)
            info.address = withZone(std::move(info.address), info.ifIndex);
        std::stable_sort(addresses.begin(), addresses.end(),
                         [](const AddressInfo& a, const AddressInfo& b) {
                             return a.address.size() < b.address.size();
                         });
        snapshot_ = std::move(addresses);
    }
    // Positions count from 1: OBJ_ID 0 reads as absent.
    const size_t first = startId == FROM_THE_START ? 0 : std::max<uint32_t>(startId, 1) - 1;
    orla::message reply;
    const size_t end = std::min(snapshot_.size(), first + pageOf(count, pageSize_));
    for (size_t i = first; i < end; ++i) {
        const AddressInfo& info = snapshot_[i];
        orla::message object;
        object.insert(orla::OBJ_ID, static_cast<uint32_t>(i + 1));
        object.insert(IPA_IF_INDEX, info.ifIndex);
        object.insert(IPA_ADDRESS, info.address);
        object.insert(IPA_PREFIX_LENGTH, info.prefixLength);
        object.insert(IPA_ORIGIN, info.origin);
        object.insert(IPA_STATUS, info.status);
        object.insert(IPA_BROADCAST, info.broadcast);
        reply.append(orla::OBJ_LIST, object);
    }
    if (end < snapshot_.size()) reply.insert(orla::OBJ_NEXT, static_cast<uint32_t>(end + 1));
    return reply;
}

orla::message AddressHandler::cmdGetCount(const orla::message&) {
    std::vector<AddressInfo> addresses;
    if (!kernel_.dumpAddresses(addresses)) {
        return orla::errorMsg(orla::ERR_TIMEOUT, "the kernel's address dump failed");
    }
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(addresses.size()));
    return reply;
}

void RouteHandler::refresh(uint32_t maxAge) {
    if (!age_.due(maxAge)) return;
    std::vector<RouteInfo> routes;
    kernel_.dumpRoutes(routes);
    // Link-local routes and next hops exist once per interface.
    for (RouteInfo& route : routes) {
        route.dest = withZone(std::move(route.dest), route.ifIndex);
        route.nextHop = withZone(std::move(route.nextHop), route.ifIndex);
    }
    std::stable_sort(routes.begin(), routes.end(), [](const RouteInfo& a, const RouteInfo& b) {
        return orderOf(a) < orderOf(b);
    });
    // Routes the index cannot tell apart (another TOS, another metric): the
    // kernel's first stays.
    routes.erase(std::unique(routes.begin(), routes.end(),
                             [](const RouteInfo& a, const RouteInfo& b) {
                                 return orderOf(a) == orderOf(b);
                             }),
                 routes.end());
    snapshot_ = std::move(routes);
    snapshot_.shrink_to_fit();
    age_.mark();
}

std::span<const RouteInfo> RouteHandler::ipv4Routes() const {
    // The IPv4 routes come first in routeIndex() order.
    const auto end =
        std::partition_point(snapshot_.begin(), snapshot_.end(),
                             [](const RouteInfo& route) { return route.dest.size() == 4; });
    return {snapshot_.data(), static_cast<size_t>(end - snapshot_.begin())};
}

void RouteHandler::refreshFor(const orla::message& request) {
    const bool further = request.has(orla::OBJ_AFTER) || request.has(orla::OBJ_FROM);
    refresh((further ? LATER_WINDOW_SECONDS : FIRST_WINDOW_SECONDS) * orla::ticksPerSecond());
}

orla::message RouteHandler::cmdGetAll(const orla::message& request, uint32_t, uint32_t count) {
    refreshFor(request);
    return orla::windowReply(
        std::span<const RouteInfo>(snapshot_), request, pageOf(count, pageSize_),
        [](const RouteInfo& route) {
            return routeIndex(route.dest, route.prefixLength, route.nextHop);
        },
        routeFieldsOf);
}

// In RFC 2096 order an IPv4 route's next hop 0.0.0.0 (none) comes first and
// its mask grows with its prefix length: the order of routeIndex().
orla::message RouteHandler::cidrWindow(const orla::message& request, uint32_t count) {
    refreshFor(request);
    return orla::windowReply(
        ipv4Routes(), request, pageOf(count, pageSize_),
        [](const RouteInfo& route) {
            return cidrRouteIndex(route.dest, route.prefixLength, route.nextHop);
        },
        routeFieldsOf);
}

uint32_t RouteHandler::cidrCount() {
    refresh(FIRST_WINDOW_SECONDS * orla::ticksPerSecond());
    return static_cast<uint32_t>(ipv4Routes().size());
}

orla::message CidrRouteHandler::cmdGetCount(const orla::message&) {
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, routes_.cidrCount());
    return reply;
}

orla::message RouteHandler::cmdGetCount(const orla::message&) {
    refresh(FIRST_WINDOW_SECONDS * orla::ticksPerSecond());
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(snapshot_.size()));
    return reply;
}

void NeighbourHandler::refresh(uint32_t maxAge) {
    if (!age_.due(maxAge)) return;
    std::vector<NeighbourInfo> neighbours;
    kernel_.dumpNeighbours(neighbours);
    if (media_) {
        std::erase_if(neighbours,
                      [](const NeighbourInfo& neighbour) { return neighbour.address.size() != 4; });
    }
    // The order of neighbourIndex() (and of mediaIndex() for IPv4 alone):
    // the address's type and length follow from its size.
    std::sort(neighbours.begin(), neighbours.end(),
              [](const NeighbourInfo& a, const NeighbourInfo& b) {
                  return std::make_tuple(a.ifIndex, a.address.size(), std::cref(a.address)) <
                         std::make_tuple(b.ifIndex, b.address.size(), std::cref(b.address));
              });
    snapshot_ = std::move(neighbours);
    snapshot_.shrink_to_fit();
    age_.mark();
}

orla::message NeighbourHandler::cmdGetAll(const orla::message& request, uint32_t, uint32_t count) {
    const bool further = request.has(orla::OBJ_AFTER) || request.has(orla::OBJ_FROM);
    refresh((further ? LATER_WINDOW_SECONDS : FIRST_WINDOW_SECONDS) * orla::ticksPerSecond());
    return orla::windowReply(
        std::span<const NeighbourInfo>(snapshot_), request, pageOf(count, pageSize_),
        [this](const NeighbourInfo& neighbour) {
            return media_ ? mediaIndex(neighbour.ifIndex, neighbour.address)
                          : neighbourIndex(neighbour.ifIndex, neighbour.address);
        },
        [](const NeighbourInfo& neighbour) {
            return neighbourFields({static_cast<uint8_t>(neighbour.type),
                                    static_cast<uint8_t>(neighbour.state), neighbour.linkAddress});
        });
}

orla::message NeighbourHandler::cmdGetCount(const orla::message&) {
    refresh(FIRST_WINDOW_SECONDS * orla::ticksPerSecond());
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(snapshot_.size()));
    return reply;
}

void SocketHandler::refresh(uint32_t maxAge) {
    if (!age_.due(maxAge)) return;
    std::vector<SocketInfo> sockets;
    kernel_.dump(shape_ == EndpointShape::UdpEndpoint ? IPPROTO_UDP : IPPROTO_TCP, sockets);
    if (shape_ != EndpointShape::UdpEndpoint) {
        const bool listeners = shape_ == EndpointShape::TcpListener;
        std::erase_if(sockets, [&](const SocketInfo& socket) {
            return (socket.state == TCP_STATE_LISTEN) != listeners;
        });
    }
    findOwners(procDir_, sockets);
    std::vector<Row> rows;
    rows.reserve(sockets.size());
    for (const SocketInfo& socket : sockets) {
        const uint8_t state =
            shape_ == EndpointShape::TcpConnection ? tcpConnectionStateOf(socket.state) : 0;
        rows.push_back({endpointIndex(shape_, socket.localAddress, socket.localPort,
                                      socket.remoteAddress, socket.remotePort, 1),
                        endpointFields({state, socket.pid}), socket.inode});
    }
    // Equal indexes (the kernel's first stays for TCP) are told apart by
    // RFC 4113 udpEndpointInstance: 1, 2, ... in the order of their inodes.
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::tie(a.index, a.inode) < std::tie(b.index, b.inode);
    });
    if (shape_ == EndpointShape::UdpEndpoint) {
        for (size_t i = 1; i < rows.size(); ++i) {
            std::vector<uint32_t>& index = rows[i].index;
            const std::vector<uint32_t>& before = rows[i - 1].index;
            if (std::equal(index.begin(), index.end() - 1, before.begin(), before.end() - 1)) {
                index.back() = before.back() + 1;
            }
        }
    } else {
        rows.erase(std::unique(rows.begin(), rows.end(),
                               [](const Row& a, const Row& b) { return a.index == b.index; }),
                   rows.end());
    }
    snapshot_ = std::move(rows);
    snapshot_.shrink_to_fit();
    age_.mark();
}

orla::message SocketHandler::cmdGetAll(const orla::message& request, uint32_t, uint32_t count) {
    const bool further = request.has(orla::OBJ_AFTER) || request.has(orla::OBJ_FROM);
    refresh((further ? LATER_WINDOW_SECONDS : FIRST_WINDOW_SECONDS) * orla::ticksPerSecond());
    return orla::windowReply(
        std::span<const Row>(snapshot_), request, pageOf(count, pageSize_),
        [](const Row& row) { return row.index; }, [](const Row& row) { return row.fields; });
}

orla::message SocketHandler::cmdGetCount(const orla::message&) {
    refresh(FIRST_WINDOW_SECONDS * orla::ticksPerSecond());
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(snapshot_.size()));
    return reply;
}

}  // namespace ipd
