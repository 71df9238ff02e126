#include "agent/send_trap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "mib/context.h"
#include "trap/create_trap.h"

namespace {

constexpr uint16_t SNMP_TRAP_PORT = 162;

}  // namespace

void sendTrap(const orla::message& request, std::span<const TrapMaker> makers,
              const AgentSettings& settings, const CommunityKeep& communities,
              const AgentState& agent) {
    if (!settings.enabled) {
        std::cerr << "send_trap: snmp disabled" << std::endl;
        return;
    }
    if (settings.trapTarget == 0 || settings.trapCommunity == snmp::NO_COMMUNITY) {
        std::cerr << "send_trap: no trap sink specified" << std::endl;
        return;
    }

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::cerr << "send_trap: failed to open UDP socket: " << strerror(errno) << std::endl;
        return;
    }
    sockaddr_in sink{};
    sink.sin_family = AF_INET;
    sink.sin_addr.s_addr = settings.trapTarget;
    sink.sin_port = htons(SNMP_TRAP_PORT);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sink), sizeof sink) < 0) {
        std::cerr << "send_trap: failed to connect: " << strerror(errno) << std::endl;
        close(fd);
        return;
    }

    Context ctx(nullptr, 0);
    sockaddr_in local{};
    socklen_t localLength = sizeof local;
    const CommunityKeep::Item* community = communities.findItem(settings.trapCommunity);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) < 0) {
        std::cerr << "send_trap: failed to getsockname: " << strerror(errno) << std::endl;
    } else if (community == nullptr) {
        std::cerr << "createTrap: bad community" << std::endl;
        std::cerr << "send_trap: createTrap failed" << std::endl;
    } else if (!createTrap(ctx, request, local.sin_addr.s_addr,
                           static_cast<int>(settings.trapVersion), *community, agent, makers)) {
        std::cerr << "send_trap: createTrap failed" << std::endl;
    } else if (send(fd, ctx.out.data(), ctx.out.size(), 0) < 0) {
        std::cerr << "send_trap: failed to send trap packet: " << strerror(errno) << std::endl;
    }
    close(fd);
}
