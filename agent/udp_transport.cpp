#include "agent/udp_transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <utility>

#include "mib/context.h"
#include "platform/orla/clock.h"
#include "platform/orla/runner.h"
#include "platform/orla/throttled_line.h"

namespace {

constexpr uint16_t SNMP_PORT = 161;

// Lines that strangers' datagrams cause, throttled.
orla::ThrottledLine forgedSourceLine("IPv6 datagram with an IPv4-mapped source dropped");

// Every receive buffer holds the largest UDP payload.
constexpr size_t DATAGRAM_ROOM = 65536;

// Where a datagram came from: IPv6 on the dual-stack socket, where IPv4
// senders appear as IPv4-mapped addresses (RFC 4291 2.5.5.2), IPv4 on the
// IPv4-only socket of a host without IPv6.
union Peer {
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// One datagram of a batch: where it came from and its packet information
// (IPV6_PKTINFO on the dual-stack socket, for IPv4 datagrams too, or
// IP_PKTINFO), so that its reply leaves from the address the request was
// sent to, and the context of the request being served, which holds the
// reply until it is sent. The context lives as long as the slot, so its
// buffers serve request after request without allocating.
struct DatagramSlot {
    Peer peer;
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in6_pktinfo))];
    iovec io;
    Context request{nullptr, 0};
};
// The control room of IPV6_PKTINFO holds IP_PKTINFO too.
static_assert(sizeof(in6_pktinfo) >= sizeof(in_pktinfo));

// One buffer per datagram of a batch. Only the pages a datagram is written
// to become resident, so the buffers cost about a page each under ordinary
// requests.
alignas(4096) unsigned char receiveBuffers[UdpTransport::REQUEST_BATCH][DATAGRAM_ROOM];

unsigned char* receiveBuffer(unsigned slot) {
    return receiveBuffers[slot];
}
DatagramSlot slots[UdpTransport::REQUEST_BATCH];
mmsghdr receiveHeaders[UdpTransport::REQUEST_BATCH];
mmsghdr replyHeaders[UdpTransport::REQUEST_BATCH];

// Makes slot `i` ready to receive: recvmmsg changes the lengths in its
// header, and a reply points the I/O vector elsewhere.
void prepareSlot(unsigned i) {
    DatagramSlot& slot = slots[i];
    slot.io = {receiveBuffer(i), DATAGRAM_ROOM};
    msghdr& header = receiveHeaders[i].msg_hdr;
    header = {};
    header.msg_name = &slot.peer;
    header.msg_namelen = sizeof slot.peer;
    header.msg_iov = &slot.io;
    header.msg_iovlen = 1;
    header.msg_control = slot.control;
    header.msg_controllen = sizeof slot.control;
}

// The length of a received control block that holds one message, without
// the padding recvmsg counts after it. The kernel copies the control block
// of a send into a 36-octet buffer on its stack and allocates for a longer
// one: IPV6_PKTINFO takes 36 octets, 40 with its padding.
size_t unpaddedControlLength(msghdr& header) {
    cmsghdr* first = CMSG_FIRSTHDR(&header);
    if (first == nullptr || CMSG_NXTHDR(&header, first) != nullptr) return header.msg_controllen;
    return first->cmsg_len;
}

// Addresses a reply as its request came: to the same peer, with the same
// packet information, so that it leaves from the address the request was
// sent to. The flags that recvmmsg reported are not input to a send. The
// reply's I/O vector is the request's, pointed at the reply beforehand.
void addressReply(msghdr& reply, const msghdr& request) {
    reply = request;
    reply.msg_flags = 0;
    reply.msg_controllen = unpaddedControlLength(reply);
}

// True when the datagram of `header` arrived over IPv4. On the dual-stack
// socket the kernel gives an IPv4 datagram's destination in IPV6_PKTINFO as
// an IPv4-mapped address, an IPv6 datagram's as itself.
bool arrivedOverIPv4(const Peer& peer, msghdr& header) {
    if (peer.v4.sin_family == AF_INET) return true;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO ||
            c->cmsg_len < CMSG_LEN(sizeof(in6_pktinfo)))
            continue;
        in6_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        return IN6_IS_ADDR_V4MAPPED(&info.ipi6_addr);
    }
    return false;
}

// The sender as the source filters see it: an IPv4 sender, by its address
// or on the dual-stack socket by its IPv4-mapped one, or none for IPv6.
// Only for datagrams whose source is not forged.
SourceAddress sourceOf(const Peer& peer) {
    if (peer.v4.sin_family == AF_INET) return peer.v4.sin_addr.s_addr;
    const in6_addr& address = peer.v6.sin6_addr;
    if (!IN6_IS_ADDR_V4MAPPED(&address)) return std::nullopt;
    uint32_t mapped;
    std::memcpy(&mapped, address.s6_addr + 12, sizeof mapped);
    return mapped;
}

// An IPv6 datagram that claims an IPv4-mapped source (RFC 4291 2.5.5.2):
// such addresses never appear on the wire (RFC 4038 5.1), and taking it for
// the IPv4 sender it names would let anyone past the IPv4 source filters.
bool forgedSource(const Peer& peer, msghdr& header) {
    return peer.v6.sin6_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&peer.v6.sin6_addr) &&
           !arrivedOverIPv4(peer, header);
}

// True when the administrator switched IPv6 off (net.ipv6.conf.all.disable_ipv6):
// the dual-stack socket would then still open, but only IPv4 reaches it.
bool ipv6SwitchedOff() {
    const int fd = open("/proc/sys/net/ipv6/conf/all/disable_ipv6", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char value = '0';
    const bool read1 = read(fd, &value, 1) == 1;
    close(fd);
    return read1 && value != '0';
}

// Binds `fd` to the wildcard address of `family`, port 161.
bool bindService(int fd, int family) {
    if (family == AF_INET6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        local.sin6_port = htons(SNMP_PORT);
        return bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(SNMP_PORT);
    return bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

// A socket on port 161 that reports each datagram's packet information:
// dual-stack IPv6 when the host has IPv6, IPv4 otherwise. -1 when none
// opens; the caller says so.
int openServiceSocket() {
    static bool ipv6Reported = false;
    const int on = 1;
    const int off = 0;
    if (!ipv6SwitchedOff()) {
        const int fd = socket(AF_INET6, SOCK_DGRAM, 0);
        if (fd >= 0 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0 &&
            setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0) {
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (bindService(fd, AF_INET6)) return fd;
            // The port is taken, for IPv4 as well: not a matter of IPv6.
            if (errno == EADDRINUSE) {
                close(fd);
                return -1;
            }
        }
        if (fd >= 0) close(fd);
    }
    if (!ipv6Reported) {
        ipv6Reported = true;
        std::cerr << "IPv6 unavailable: serving IPv4 only" << std::endl;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (bindService(fd, AF_INET)) return fd;
    close(fd);
    return -1;
}

// Sends the first `count` of replyHeaders. A reply the kernel refuses is
// dropped, as a lost datagram would be, and the rest still go out.
void sendReplies(int fd, unsigned count) {
    unsigned next = 0;
    while (next < count) {
        const int sent = sendmmsg(fd, replyHeaders + next, count - next, 0);
        next += sent > 0 ? static_cast<unsigned>(sent) : 1;
    }
}

}  // namespace

UdpTransport::UdpTransport(const CommunityKeep& communities, V3ServerInfo& engine,
                           const RequestRules& rules, std::function<void()> batchServed)
    : engine_(engine),
      batchServed_(std::move(batchServed)),
      parked_(communities, engine, rules,
              [this](const ParkedRequests::ReplyTo& to, std::span<const unsigned char> reply) {
                  sendLater(to, reply);
              }) {}

void UdpTransport::sendLater(const ParkedRequests::ReplyTo& to,
                             std::span<const unsigned char> reply) {
    // Closed meanwhile (the agent was disabled): the reply is lost, as a
    // datagram may be.
    if (!open_) return;
    iovec io{const_cast<unsigned char*>(reply.data()), reply.size()};
    msghdr header{};
    header.msg_name = const_cast<unsigned char*>(to.peer.data());
    header.msg_namelen = static_cast<socklen_t>(to.peer.size());
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = const_cast<unsigned char*>(to.control.data());
    header.msg_controllen = to.control.size();
    sendmsg(fd_, &header, 0);
}

bool UdpTransport::sendTo(const Endpoint& to, std::span<const unsigned char> message) {
    if (!open_) return false;
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    sockaddr* peer = reinterpret_cast<sockaddr*>(&v6);
    socklen_t peerLength = sizeof v6;
    if (family_ == AF_INET6) {
        // IPv4 targets by their IPv4-mapped address on the dual-stack socket.
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, to.address.data(), sizeof v6.sin6_addr);
        v6.sin6_port = htons(to.port);
    } else {
        if (!to.isIPv4()) return false;
        v4.sin_family = AF_INET;
        std::memcpy(&v4.sin_addr, to.address.data() + 12, sizeof v4.sin_addr);
        v4.sin_port = htons(to.port);
        peer = reinterpret_cast<sockaddr*>(&v4);
        peerLength = sizeof v4;
    }
    return sendto(fd_, message.data(), message.size(), 0, peer, peerLength) >= 0;
}

UdpTransport::~UdpTransport() {
    close();
    if (fd_ >= 0) ::close(fd_);
}

bool UdpTransport::hold() {
    if (fd_ < 0) fd_ = openServiceSocket();
    held_ = fd_ >= 0;
    return held_;
}

void UdpTransport::open() {
    if (open_) return;
    if (fd_ >= 0) {
        // A held socket kept what came while the agent was disabled:
        // requests nobody answered then are not answered late.
        unsigned char stale;
        while (recv(fd_, &stale, sizeof stale, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
        }
    } else {
        fd_ = openServiceSocket();
    }
    if (fd_ < 0) {
        std::cerr << "cannot create service connection" << std::endl;
        return;
    }
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &localLength);
    family_ = local.ss_family;
    const timeval linger{0, LINGER_MICROSECONDS};
    // Without the timeout a waiting read could block the event loop for good.
    readsLinger_ = setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &linger, sizeof linger) == 0;

    for (unsigned i = 0; i < REQUEST_BATCH; ++i)
        prepareSlot(i);
    orla::getRunner().addSocket(fd_, this, &UdpTransport::receive, orla::SOCKET_READABLE);
    open_ = true;
}

void UdpTransport::close() {
    if (!open_) return;
    orla::getRunner().removeSocket(fd_);
    if (!held_) {
        ::close(fd_);
        fd_ = -1;
    }
    open_ = false;
}

void UdpTransport::receive(int fd, int, unsigned) {
    // Between requests the agent waits for the next one in the read itself
    // rather than in the event loop: a manager at work sends its next
    // request within tens of microseconds, and every wake-up through the
    // event loop costs one system call more. The read gives up after
    // LINGER_MICROSECONDS (rounded up to the kernel's tick), and the agent
    // returns to the event loop at the latest LINGER_BUDGET_MILLIS after it
    // left it, so platform messages and timers wait no longer than that.
    // While requests wait for a platform service, the agent goes back to the
    // event loop after each batch: the answers they wait for come there.
    const uint64_t woken = orla::monotonicMillis();
    unsigned served = serveBatch(fd, MSG_DONTWAIT);
    while (served > 0 && parked_.waiting() == 0) {
        if (served >= GATHER_MIN || ++wakeupsSinceGathering_ >= GATHER_TRIAL_INTERVAL)
            gather(fd, served);
        if (parked_.waiting() > 0) return;
        if (!readsLinger_ || orla::monotonicMillis() - woken >= LINGER_BUDGET_MILLIS) return;
        served = serveBatch(fd, MSG_WAITFORONE);
    }
}

void UdpTransport::gather(int fd, unsigned served) {
    // When several requests were waiting, requests come faster than the
    // agent wakes up for each, and every wake-up costs more than serving a
    // request: so the agent lets the next ones gather for a moment and
    // serves them together, as a network card moderates its interrupts. A
    // fast agent rarely finds several waiting even under load, so now and
    // then it also tries one gathering. It goes back to waking per request
    // once two gatherings in a row found fewer than GATHER_MIN (a trial:
    // once one did); a manager with one or two requests outstanding thus
    // waits for a pause only in a trial. The rounds are bounded so platform
    // messages and timers are still served.
    //
    // Requests may also come slowly rather than few at a time: managers
    // busy with their own cryptography send each next request only after
    // tens of microseconds. A round that found more than the one before, and
    // fewer than GATHER_TARGET, doubles the pause, and is not sparse; a
    // doubled pause that found no more is halved again, since the manager
    // had no more to send.
    wakeupsSinceGathering_ = 0;
    unsigned sparseRounds = served < GATHER_MIN ? 1 : 0;
    long pause = GATHER_NANOSECONDS;
    bool lengthened = false;
    unsigned previous = 0;
    for (unsigned round = 0; round < GATHER_ROUNDS && sparseRounds < 2; ++round) {
        const timespec wait{0, pause};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, nullptr);
        do {
            served = serveBatch(fd, MSG_DONTWAIT);
        } while (served == REQUEST_BATCH && ++round < GATHER_ROUNDS);
        const bool more = served > previous;
        if (served >= GATHER_MIN) {
            sparseRounds = 0;
        } else if (!more) {
            ++sparseRounds;
        }
        const bool lengthen = more && served < GATHER_TARGET && pause < GATHER_MAX_NANOSECONDS;
        if (lengthen) {
            pause = std::min(2 * pause, GATHER_MAX_NANOSECONDS);
        } else if (lengthened && !more) {
            pause = std::max(pause / 2, GATHER_NANOSECONDS);
        }
        lengthened = lengthen;
        previous = served;
    }
}

unsigned UdpTransport::serveBatch(int fd, int readFlags) {
    const int received = recvmmsg(fd, receiveHeaders, REQUEST_BATCH, readFlags, nullptr);
    if (received <= 0) return 0;
    const auto count = static_cast<unsigned>(received);

    unsigned replies = 0;
    for (unsigned i = 0; i < count; ++i) {
        DatagramSlot& slot = slots[i];
        const mmsghdr& datagram = receiveHeaders[i];
        Context& ctx = slot.request;
        if (forgedSource(slot.peer, receiveHeaders[i].msg_hdr)) {
            // Counted as a failed source check (RFC 3418 snmpInBadCommunityNames
            // admits these), whatever the message's version.
            ++engine_.inPackets;
            ++engine_.dropped.badCommunityNames;
            forgedSourceLine.write();
            continue;
        }
        msghdr& received = receiveHeaders[i].msg_hdr;
        const std::span<const unsigned char> peer(reinterpret_cast<unsigned char*>(&slot.peer),
                                                  received.msg_namelen);
        const std::span<const unsigned char> control(slot.control, unpaddedControlLength(received));
        if (!parked_.serve(ctx, {receiveBuffer(i), datagram.msg_len}, sourceOf(slot.peer), peer,
                           control))
            continue;

        slot.io = {const_cast<unsigned char*>(ctx.out.data()), ctx.out.size()};
        addressReply(replyHeaders[replies++].msg_hdr, datagram.msg_hdr);
    }
    sendReplies(fd, replies);
    for (unsigned i = 0; i < count; ++i)
        prepareSlot(i);
    batchServed_();
    return count;
}
