#include "agent/send_trap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "trap/create_trap.h"

namespace {

// One trap to `to` from a fresh socket connected to it. `form`'s agent
// address is filled in from the socket's local IPv4 address.
void sendTrapDatagram(const Endpoint& to, const Notification& notification, NotificationForm form,
                      const CommunityKeep::Item& user, const V3ServerInfo& engine,
                      NotifyTarget::Counters& counters) {
    const int family = to.isIPv4() ? AF_INET : AF_INET6;
    const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::cerr << "send_trap: failed to open UDP socket: " << strerror(errno) << std::endl;
        return;
    }
    sockaddr_storage peer{};
    socklen_t peerLength = 0;
    if (family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(peer);
        v4.sin_family = AF_INET;
        std::memcpy(&v4.sin_addr, to.address.data() + 12, 4);
        v4.sin_port = htons(to.port);
        peerLength = sizeof v4;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(peer);
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, to.address.data(), 16);
        v6.sin6_port = htons(to.port);
        peerLength = sizeof v6;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), peerLength) < 0) {
        std::cerr << "send_trap: failed to connect: " << strerror(errno) << std::endl;
        close(fd);
        return;
    }
    // An SNMPv1 trap towards an IPv6 target has no IPv4 agent address: 0.0.0.0.
    if (family == AF_INET) {
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) < 0) {
            std::cerr << "send_trap: failed to getsockname: " << strerror(errno) << std::endl;
            close(fd);
            return;
        }
        form.agentAddress = local.sin_addr.s_addr;
    }
    OutStream out;
    if (!encodeNotification(out, notification, form, user, engine)) {
        std::cerr << "send_trap: createTrap failed" << std::endl;
    } else if (send(fd, out.data(), out.size(), 0) < 0) {
        std::cerr << "send_trap: failed to send trap packet: " << strerror(errno) << std::endl;
    } else {
        ++counters.sent;
    }
    close(fd);
}

// RFC 3413 3.3: the notification goes to a target only when its
// notification OID and every binding are in the notify view of the
// target's community or user.
bool mayNotify(const AccessKeep* access, const CommunityKeep::Item& user, const NotifyTarget& target,
               const Notification& notification) {
    if (access == nullptr) return true;
    const uint32_t model = target.version == snmp::VERSION_1    ? snmp::MODEL_V1
                           : target.version == snmp::VERSION_3 ? snmp::MODEL_USM
                                                               : snmp::MODEL_V2C;
    const uint32_t level = target.version == snmp::VERSION_3 ? user.security : 0;
    const AccessRights rights = access->rights(user, model, level, "", Operation::Notify);
    if (!rights.authorized || rights.view == nullptr) return false;
    if (!rights.view->includes(notificationOid(notification))) return false;
    for (const VariableBinding& binding : notification.bindings) {
        if (!rights.view->includes(binding.oid)) return false;
    }
    return true;
}

}  // namespace

void sendTrap(const orla::message& request, std::span<const TrapMaker> makers,
              std::optional<uint32_t> generator, bool enabled, NotificationRoutes routes) {
    if (!enabled) {
        std::cerr << "send_trap: snmp disabled" << std::endl;
        return;
    }
    const std::vector<NotifyTarget> targets = routes.targets.targets();
    if (targets.empty()) {
        std::cerr << "send_trap: no trap sink specified" << std::endl;
        return;
    }
    bool anyReceives = false;
    for (const NotifyTarget& target : targets)
        anyReceives = anyReceives || target.receives(generator);
    if (!anyReceives) return;

    const std::optional<Notification> notification =
        makeNotification(request, routes.agent, makers);
    if (!notification) {
        std::cerr << "send_trap: createTrap failed" << std::endl;
        return;
    }
    for (const NotifyTarget& target : targets) {
        if (!target.receives(generator)) continue;
        const std::optional<Endpoint> to = target.endpoint();
        const CommunityKeep::Item* user = routes.communities.findItem(target.community);
        if (!to) {
            std::cerr << "send_trap: target " << target.id << " has no valid address" << std::endl;
            continue;
        }
        if (user == nullptr) {
            std::cerr << "createTrap: bad community" << std::endl;
            std::cerr << "send_trap: createTrap failed" << std::endl;
            continue;
        }
        if (!mayNotify(routes.access, *user, target, *notification)) continue;
        NotificationForm form;
        form.version = static_cast<int>(target.version);
        form.inform = target.inform && target.version != snmp::VERSION_1;
        NotifyTarget::Counters& counters = routes.targets.counters(target.id);
        if (!form.inform) {
            form.requestId = rand();
            form.msgID = static_cast<uint32_t>(rand());
            sendTrapDatagram(*to, *notification, form, *user, routes.agent.engine, counters);
            continue;
        }
        routes.informs.send(target, *to, *notification, *user);
    }
}
