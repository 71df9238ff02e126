#include "agent/snmp_looper.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "agent/settings.h"
#include "community/community_keep.h"
#include "platform/orla/clock.h"
#include "platform/orla/runner.h"
#include "request/context.h"
#include "request/dispatch.h"
#include "trap/trap_maker.h"

SnmpLooper* loop = nullptr;
unsigned char c_buf[65536];

namespace {

constexpr uint16_t SNMP_PORT = 161;
constexpr uint32_t POLICY_TRAP_REQUEST = 128;
constexpr uint32_t POLICY_LIST_GENERATORS = 704;
// What the looper is told while the agent serves requests, and while it does not.
constexpr uint32_t LEAVE_SERVING = 0;
constexpr uint32_t LEAVE_IDLE = 1000;

}  // namespace

SnmpLooper::SnmpLooper(const std::string& settingsPath, const std::string& communityPath)
    : orla::Looper(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), store(settingsPath, 5) {
    std::cerr << "communityKeep = new CommunityKeep;" << std::endl;
    communityKeep = new CommunityKeep(communityPath);
    std::cerr << "communityKeep->init();" << std::endl;
    communityKeep->init();
    std::cerr << "addHandler(snmp::ID_COMMUNITIES, communityKeep);" << std::endl;
    addHandler(snmp::ID_COMMUNITIES, communityKeep);
    serverInfo.engineTimeBase = orla::getUptime();
    startJiffies = orla::getJiffies();
    trapCommunity = snmp::NO_COMMUNITY;
    serverInfo.engineParam = 15;
    trapTarget = 0;
    trapVersion = 0;
}

SnmpLooper::~SnmpLooper() = default;

void SnmpLooper::init() {
    addPolicy(snmp::CMD_TRAP_REQUEST, POLICY_TRAP_REQUEST);
    addPolicy(snmp::CMD_LIST_GENERATORS, POLICY_LIST_GENERATORS);

    auto stored = store.find(snmp::SETTINGS_RECORD);
    if (stored != store.end()) {
        const orla::message& cfg = stored->second;
        communityName = cfg.get(snmp::SNMP_COMMUNITY_NAME);
        text2 = cfg.get(snmp::SNMP_TEXT2);
        text3 = cfg.get(snmp::SNMP_TEXT3);
        serverInfo.engineParam = cfg.get(snmp::SNMP_ENGINE_PARAM, 0);
        trapTarget = cfg.get(snmp::SNMP_TRAP_TARGET, 0);
        trapVersion = cfg.get(snmp::SNMP_TRAP_VERSION, 0);
        trapCommunity = cfg.get(snmp::SNMP_TRAP_COMMUNITY, snmp::NO_COMMUNITY);
        if (cfg.has(snmp::SNMP_TRAP_GENERATORS)) {
            trapGenerators = cfg.get(snmp::SNMP_TRAP_GENERATORS);
        }
        serverInfo.engineBoots = cfg.get(snmp::SNMP_ENGINE_BOOTS, 0) + 1;
        std::cout << "engineBoots = " << serverInfo.engineBoots << std::endl;
        serverInfo.engineID = formatEngineID(cfg.get(snmp::SNMP_ENGINE_ID));
        enabled = cfg.get(snmp::SNMP_ENABLED, false);
        // The new boot count is on disk before the first request is served.
        store.set(snmp::SETTINGS_RECORD, getConfig());
    } else {
        // Never configured: the engine ID of an empty text, the one the first
        // restart would load, so SNMPv3 users work from the first enable.
        // Nothing is stored until a setting changes.
        serverInfo.engineID = formatEngineID("");
    }
    // The table was loaded before the engine ID was known (RFC 3414 2.6).
    communityKeep->regenerateKeys();

    if (enabled) {
        enable();
    } else {
        setupLeave(LEAVE_IDLE);
    }
}

void SnmpLooper::startup() {
    for (uint32_t generator : trapGenerators) {
        if (generator != snmp::START_TRAP_ID) continue;
        // Offered only for this one trap: the start trap takes every request.
        trapMakers.push_back(startupTrapMaker);
        send_trap(orla::message());
        trapMakers.pop_back();
        return;
    }
}

void SnmpLooper::enable() {
    if (socketOpen) return;
    setupLeave(LEAVE_SERVING);

    socketFd = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    setsockopt(socketFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(socketFd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (socketFd < 0) {
        std::cerr << "cannot create service connection" << std::endl;
        return;
    }

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(SNMP_PORT);
    if (bind(socketFd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        close(socketFd);
        std::cerr << "cannot create service connection" << std::endl;
        return;
    }

    orla::getRunner().addSocket(socketFd, this, &SnmpLooper::receive, orla::SOCKET_READABLE);
    socketOpen = true;
}

void SnmpLooper::disable() {
    if (!socketOpen) return;
    orla::getRunner().removeSocket(socketFd);
    close(socketFd);
    socketOpen = false;
    setupLeave(LEAVE_IDLE);
}

void SnmpLooper::receive(int fd, int, unsigned) {
    // Under load several requests wait at once: serving them in one wake-up
    // saves an epoll_wait each. Looking for a next one costs a read that
    // finds nothing when requests come one at a time, so the agent only
    // keeps looking while the last look found one, and tries again every
    // few wake-ups. The bound keeps platform messages and timers served
    // while requests keep coming.
    if (serveOneRequest(fd) != Received::DATAGRAM) return;
    if (!burst && ++wakeupsSinceLook < LOOK_AHEAD_INTERVAL) return;
    wakeupsSinceLook = 0;
    for (int served = 1; served < MAX_REQUESTS_PER_WAKEUP; ++served) {
        const Received received = serveOneRequest(fd);
        burst = received == Received::DATAGRAM;
        if (received == Received::NOTHING) return;
    }
}

SnmpLooper::Received SnmpLooper::serveOneRequest(int fd) {
    sockaddr_in source{};
    iovec io{c_buf, sizeof c_buf};
    // Room for the IP_PKTINFO message as this platform lays it out, so the
    // reply can leave from the address the request was sent to.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr header{};
    header.msg_name = &source;
    header.msg_namelen = sizeof source;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;

    ssize_t received = recvmsg(fd, &header, MSG_DONTWAIT);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? Received::NOTHING : Received::ERROR;
    }

    Context ctx(c_buf, static_cast<unsigned int>(received));
    if (!createReply(ctx, static_cast<int>(source.sin_addr.s_addr))) return Received::DATAGRAM;

    // Same destination and packet information as received; the flags that
    // recvmsg reported are not input to sendmsg.
    io.iov_base = const_cast<unsigned char*>(ctx.out.data());
    io.iov_len = ctx.out.size();
    header.msg_flags = 0;
    sendmsg(fd, &header, 0);
    return Received::DATAGRAM;
}
