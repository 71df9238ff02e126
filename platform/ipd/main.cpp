// orla-ipd: the IP service. It serves the host's IP state as platform
// service 43: the forwarding scalars from /proc/sys (handler 1), the
// interfaces' addresses (handler 2) and the main routing table (handlers 3
// and 10)
// and the neighbours (handlers 5 and 6) from the kernel over rtnetlink, the
// IP, ICMP, TCP and UDP counters from /proc/net (handlers 4 and 11), and the TCP
// connections and listeners and UDP endpoints (handlers 7 to 9) from socket
// diagnostics (platform/ipd/ip_object.h; docs/ip.md).
//
//   orla-ipd [--page-size N] [--run-dir DIR]
//
// --page-size N    objects per get-all page and routes or neighbours per
//                  window, 1 to 1024 (default 64 addresses a page, 1024
//                  routes or neighbours a window)
// --run-dir DIR    service socket directory instead of /orla/run
// --version        print the version and exit; --help prints the options
//
// Started by systemd (Type=notify), it reports itself ready once its socket
// listens.
//
// Exit status: 0 stopped by SIGTERM or SIGINT; 1 the service socket or the
// rtnetlink or socket diagnostics socket could not be set up; 2 bad arguments.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/ipd/ip_object.h"
#include "platform/ipd/ip_service.h"
#include "platform/ipd/rtnetlink.h"
#include "platform/orla/daemon.h"
#include "platform/orla/decimal.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/looper.h"

namespace {

constexpr const char* PROGRAM = "orla-ipd";
constexpr const char* USAGE =
    "usage: orla-ipd [--page-size N] [--run-dir DIR]\n"
    "  --page-size N    objects per get-all page and routes per window, 1 to 1024\n"
    "                   (default 64 addresses a page, 1024 routes a window)\n"
    "  --run-dir DIR    service socket directory instead of /orla/run\n"
    "  --version        print the version and exit\n";

int usage(const char* problem, const char* argument) {
    std::fprintf(stderr, "orla-ipd: %s%s (usage: orla-ipd [--page-size N] [--run-dir DIR])\n",
                 problem, argument);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (orla::answerInfoOption(argc, argv, PROGRAM, USAGE)) return 0;
    uint32_t pageSize = 0;  // not given
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option != "--page-size" && option != "--run-dir") {
            return usage("unknown argument ", argv[i]);
        }
        if (i + 1 >= argc) return usage("missing value after ", argv[i]);
        const char* value = argv[++i];
        if (option == "--run-dir") {
            orla::setRunDirectory(value);
            continue;
        }
        const std::optional<uint64_t> number = orla::parseDecimal(value);
        if (!number || *number == 0 || *number > ipd::MAX_PAGE_SIZE) {
            return usage("page size must be 1 to 1024: ", value);
        }
        pageSize = static_cast<uint32_t>(*number);
    }

    ipd::Rtnetlink kernel;
    if (kernel.openError() != 0) {
        std::fprintf(stderr, "orla-ipd: cannot open a NETLINK_ROUTE socket: %s\n",
                     std::strerror(kernel.openError()));
        return 1;
    }
    ipd::SystemHandler system("/proc/sys");
    ipd::AddressHandler addresses(kernel, pageSize ? pageSize : ipd::DEFAULT_PAGE_SIZE);
    ipd::RouteHandler routes(kernel, pageSize ? pageSize : ipd::DEFAULT_ROUTE_WINDOW);
    ipd::CidrRouteHandler cidrRoutes(routes);
    ipd::StatsHandler stats("/proc/net");
    ipd::IfStatsHandler ifStats("/proc/net/dev_snmp6",
                                pageSize ? pageSize : ipd::DEFAULT_PAGE_SIZE);
    const uint32_t neighbourWindow = pageSize ? pageSize : ipd::DEFAULT_ROUTE_WINDOW;
    ipd::NeighbourHandler neighbours(kernel, neighbourWindow, false);
    ipd::NeighbourHandler media(kernel, neighbourWindow, true);
    ipd::SockDiag sockets;
    if (sockets.openError() != 0) {
        std::fprintf(stderr, "orla-ipd: cannot open a NETLINK_SOCK_DIAG socket: %s\n",
                     std::strerror(sockets.openError()));
        return 1;
    }
    using ipd::EndpointShape;
    ipd::SocketHandler connections(sockets, neighbourWindow, EndpointShape::TcpConnection, "/proc");
    ipd::SocketHandler listeners(sockets, neighbourWindow, EndpointShape::TcpListener, "/proc");
    ipd::SocketHandler endpoints(sockets, neighbourWindow, EndpointShape::UdpEndpoint, "/proc");
    orla::Looper looper;
    looper.addHandler(ipd::IP_SYSTEM_HANDLER, &system);
    looper.addHandler(ipd::IP_ADDRESS_HANDLER, &addresses);
    looper.addHandler(ipd::IP_ROUTE_HANDLER, &routes);
    looper.addHandler(ipd::IP_STATS_HANDLER, &stats);
    looper.addHandler(ipd::IP_NEIGHBOUR_HANDLER, &neighbours);
    looper.addHandler(ipd::IP_NET_TO_MEDIA_HANDLER, &media);
    looper.addHandler(ipd::IP_TCP_CONNECTION_HANDLER, &connections);
    looper.addHandler(ipd::IP_TCP_LISTENER_HANDLER, &listeners);
    looper.addHandler(ipd::IP_UDP_ENDPOINT_HANDLER, &endpoints);
    looper.addHandler(ipd::IP_CIDR_ROUTE_HANDLER, &cidrRoutes);
    looper.addHandler(ipd::IP_IF_STATS_HANDLER, &ifStats);
    if (!looper.serve(ipd::IP_SERVICE)) return 1;
    if (!orla::notifyReady())
        std::fprintf(stderr, "%s: cannot tell systemd it is ready\n", PROGRAM);
    looper.run();
    return 0;
}
