// Bytes the platform side takes from its peers: the rtnetlink and socket
// diagnostics dump replies and the counter files the IP service reads from
// the kernel, the link dumps and notifications the interface service reads,
// the process and login files the host service reads, and the windows the
// agent reads from the services (their rows and each row's fields). The first octet picks the
// parser; the rest is its input. Whatever the bytes, parsing must stay within them and within its
// bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "platform/hostd/host_object.h"
#include "platform/hostd/host_reader.h"
#include "platform/ifaced/interface_reader.h"
#include "platform/ipd/ip_counters.h"
#include "platform/ipd/ip_object.h"
#include "platform/ipd/rtnetlink.h"
#include "platform/ipd/sock_diag.h"
#include "platform/orla/window_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> input(data + 1, size - 1);
    // The dump's sequence number: the first message's own (nlmsg_seq, at
    // octet 8), so that the fuzzer reaches the messages' content.
    uint32_t seq = 0;
    if (input.size() >= 12) std::memcpy(&seq, input.data() + 8, sizeof seq);
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    switch (data[0] % 9) {
        case 0: {
            std::vector<ipd::AddressInfo> addresses;
            ipd::parseAddresses(input, seq, addresses);
            break;
        }
        case 1: {
            std::vector<ipd::RouteInfo> routes;
            ipd::parseRoutes(input, seq, routes);
            break;
        }
        case 2: {
            std::vector<ifaced::LinkMessage> links;
            ifaced::parseLinks(input, seq, links);
            ifaced::parseLinks(input, std::nullopt, links);
            break;
        }
        case 4: {
            std::vector<ipd::NeighbourInfo> neighbours;
            ipd::parseNeighbours(input, seq, neighbours);
            break;
        }
        case 5: {
            std::vector<ipd::SocketInfo> sockets;
            ipd::parseSockets(input, seq, sockets);
            break;
        }
        case 6: {
            ipd::Counters counters;
            ipd::parseGroupedCounters(text, counters);
            ipd::parseNamedCounters(text, counters);
            if (counters.size() > ipd::MAX_COUNTERS) __builtin_trap();
            ipd::statsObject(ipd::INET_IPV6, counters);
            ipd::ifStatsObject(counters);
            break;
        }
        case 7: {
            hostd::parseProcessStat(text);
            if (hostd::parseParameters(text).size() > hostd::MAX_RUN_PATH) __builtin_trap();
            hostd::parseUserSessions(text);
            break;
        }
        case 8: {
            // A row's fields as the plug-ins read them, and its index as
            // arcs of four octets.
            ipd::NeighbourFields neighbour;
            ipd::readNeighbourFields(text, neighbour);
            ipd::EndpointFields endpoint;
            ipd::readEndpointFields(text, endpoint);
            hostd::ProcessFields process;
            hostd::readProcessFields(text, process);
            std::vector<uint32_t> arcs(input.size() / 4);
            if (!arcs.empty()) std::memcpy(arcs.data(), input.data(), arcs.size() * 4);
            for (bool media : {false, true})
                ipd::isNeighbourIndex(arcs.data(), arcs.size(), media);
            for (auto shape : {ipd::EndpointShape::TcpConnection, ipd::EndpointShape::TcpListener,
                               ipd::EndpointShape::UdpEndpoint})
                ipd::isEndpointIndex(arcs.data(), arcs.size(), shape);
            ipd::isCidrRouteIndex(arcs.data(), arcs.size());
            break;
        }
        default: {
            orla::RowReader reader(
                std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
            uint32_t arcs[orla::ROWS_MAX_INDEX_ARCS];
            size_t arcCount = 0;
            std::string_view fields;
            while (reader.next(arcs, arcCount, fields)) {
                if (arcCount > orla::ROWS_MAX_INDEX_ARCS ||
                    fields.data() < reinterpret_cast<const char*>(input.data()) ||
                    fields.data() + fields.size() >
                        reinterpret_cast<const char*>(input.data() + input.size()))
                    __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
