// The IP service's handlers (platform/ipd/ip_object.h): the forwarding
// scalars from /proc/sys, the addresses and the routes from rtnetlink.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ipd/ip_counters.h"
#include "platform/ipd/ip_object.h"
#include "platform/ipd/rtnetlink.h"
#include "platform/ipd/sock_diag.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"

namespace ipd {

inline constexpr uint32_t DEFAULT_PAGE_SIZE = 64;
// A page of routes or addresses stays far below the library's 1 MiB frame.
inline constexpr uint32_t MAX_PAGE_SIZE = 1024;
// Route windows are compact rows, and a client walking a large table pays
// per window: they are as large as pages go.
inline constexpr uint32_t DEFAULT_ROUTE_WINDOW = MAX_PAGE_SIZE;

// When a kernel table was last dumped: windows from the first row read it
// again after a second; windows further on use the last dump for up to ten
// seconds, so a walk of a large table does not dump it per window.
class DumpAge {
  public:
    // Whether the last dump is `maxAge` jiffies old, or there is none.
    bool due(uint32_t maxAge) const;
    void mark();

  private:
    bool read_ = false;
    uint32_t readAt_ = 0;  // jiffies
};

// IP_SYSTEM_HANDLER: ipForwarding, ipDefaultTTL and ipReasmTimeout, read at
// every request from DIR/net/ipv4/ip_forward, ip_default_ttl and
// ipfrag_time, and ipv6IpForwarding and ipv6IpDefaultHopLimit from
// DIR/net/ipv6/conf/all/forwarding and conf/default/hop_limit (DIR:
// /proc/sys).
class SystemHandler : public orla::Handler {
  public:
    explicit SystemHandler(std::string procSys) : procSys_(std::move(procSys)) {}
    orla::message cmdGet(const orla::message& request) override;

  private:
    std::string procSys_;
};

// IP_STATS_HANDLER: the kernel's counters, read at every request from
// DIR/snmp, DIR/netstat and DIR/snmp6 (DIR: /proc/net, the service's own
// network namespace). A file that is missing (snmp6 without IPv6) leaves
// its counters out.
class StatsHandler : public orla::Handler {
  public:
    explicit StatsHandler(std::string procNet) : procNet_(std::move(procNet)) {}
    orla::message cmdGet(const orla::message& request) override;
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;

  private:
    Counters read() const;

    std::string procNet_;
};

// IP_IF_STATS_HANDLER: the files of DIR (/proc/net/dev_snmp6), one per
// interface with IPv6, read by a get-all from the first page; later pages
// come from that reading.
class IfStatsHandler : public orla::Handler {
  public:
    IfStatsHandler(std::string dir, uint32_t pageSize)
        : dir_(std::move(dir)), pageSize_(pageSize) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;

  private:
    std::string dir_;
    uint32_t pageSize_;
    std::vector<orla::message> snapshot_;  // ascending by OBJ_ID
};

// IP_ADDRESS_HANDLER: a get-all from the first page reads the kernel's
// addresses; later pages come from that reading.
class AddressHandler : public orla::Handler {
  public:
    AddressHandler(Rtnetlink& kernel, uint32_t pageSize) : kernel_(kernel), pageSize_(pageSize) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;

  private:
    Rtnetlink& kernel_;
    uint32_t pageSize_;
    std::vector<AddressInfo> snapshot_;  // IPv4 first, then IPv6
};

// IP_ROUTE_HANDLER: the routes in index order, a window at a time, the
// kernel's table read as DumpAge says.
class RouteHandler : public orla::Handler {
  public:
    RouteHandler(Rtnetlink& kernel, uint32_t pageSize) : kernel_(kernel), pageSize_(pageSize) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;

    // IP_CIDR_ROUTE_HANDLER's answers, from the same reading.
    orla::message cidrWindow(const orla::message& request, uint32_t count);
    uint32_t cidrCount();

  private:
    void refresh(uint32_t maxAge);
    void refreshFor(const orla::message& request);
    std::span<const RouteInfo> ipv4Routes() const;

    Rtnetlink& kernel_;
    uint32_t pageSize_;
    std::vector<RouteInfo> snapshot_;  // in routeIndex() order, each index once
    DumpAge age_;
};

// IP_CIDR_ROUTE_HANDLER: the IPv4 routes of the route handler's reading,
// by cidrRouteIndex().
class CidrRouteHandler : public orla::Handler {
  public:
    explicit CidrRouteHandler(RouteHandler& routes) : routes_(routes) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t, uint32_t count) override {
        return routes_.cidrWindow(request, count);
    }
    orla::message cmdGetCount(const orla::message& request) override;

  private:
    RouteHandler& routes_;
};

// IP_NEIGHBOUR_HANDLER (`media` false) and IP_NET_TO_MEDIA_HANDLER (true):
// the neighbours in index order, a window at a time, read as the routes are.
class NeighbourHandler : public orla::Handler {
  public:
    NeighbourHandler(Rtnetlink& kernel, uint32_t pageSize, bool media)
        : kernel_(kernel), pageSize_(pageSize), media_(media) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;

  private:
    void refresh(uint32_t maxAge);

    Rtnetlink& kernel_;
    uint32_t pageSize_;
    bool media_;
    std::vector<NeighbourInfo> snapshot_;  // in index order
    DumpAge age_;
};

// IP_TCP_CONNECTION_HANDLER, IP_TCP_LISTENER_HANDLER, IP_UDP_ENDPOINT_HANDLER
// (by `shape`): the sockets of socket diagnostics in index order, a window
// at a time, read as the routes are, each with the process that holds it
// (found under DIR: /proc).
class SocketHandler : public orla::Handler {
  public:
    SocketHandler(SockDiag& kernel, uint32_t pageSize, EndpointShape shape, std::string procDir)
        : kernel_(kernel), pageSize_(pageSize), shape_(shape), procDir_(std::move(procDir)) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;

  private:
    struct Row {
        std::vector<uint32_t> index;  // endpointIndex()
        std::string fields;           // endpointFields()
        uint32_t inode;
    };
    void refresh(uint32_t maxAge);

    SockDiag& kernel_;
    uint32_t pageSize_;
    EndpointShape shape_;
    std::string procDir_;
    std::vector<Row> snapshot_;  // in index order, each index once
    DumpAge age_;
};

}  // namespace ipd
