#include "platform/netlink/rtnetlink.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace netlink {

namespace {

constexpr size_t RECEIVE_BYTES = 64 * 1024;  // above the kernel's largest dump datagram
constexpr size_t MAX_DATAGRAMS = 1'000'000;  // of one dump
constexpr size_t MAX_REQUEST_BYTES = 4096;

// The header a dump request carries after nlmsghdr: the kernel reads its
// family, and checks its length against the type's own header.
size_t dumpHeaderBytes(uint16_t type) {
    switch (type) {
        case RTM_GETLINK:
            return sizeof(ifinfomsg);
        case RTM_GETADDR:
            return sizeof(ifaddrmsg);
        case RTM_GETNEIGH:
            return sizeof(ndmsg);
        default:
            return sizeof(rtmsg);
    }
}

}  // namespace

Socket::Socket(int protocol) : buffer_(RECEIVE_BYTES) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd_ < 0) {
        openError_ = errno;
        return;
    }
    const timeval timeout{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

Socket::~Socket() {
    if (fd_ >= 0) ::close(fd_);
}

bool Socket::send(uint16_t type, uint16_t flags, std::span<const uint8_t> body) {
    if (fd_ < 0 || body.size() > MAX_REQUEST_BYTES) return false;
    std::vector<uint8_t> message(NLMSG_LENGTH(body.size()));
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(message.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | flags);
    header.nlmsg_seq = ++seq_;
    std::memcpy(message.data(), &header, sizeof header);
    if (!body.empty()) std::memcpy(message.data() + NLMSG_HDRLEN, body.data(), body.size());
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel) == static_cast<ssize_t>(message.size());
}

Received receiveDatagram(int fd, std::span<uint8_t> buffer, int flags) {
    for (;;) {
        sockaddr_nl from{};
        iovec chunk{buffer.data(), buffer.size()};
        msghdr received{};
        received.msg_name = &from;
        received.msg_namelen = sizeof from;
        received.msg_iov = &chunk;
        received.msg_iovlen = 1;
        const ssize_t length = ::recvmsg(fd, &received, flags);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0) return Received{{}, errno};
        return Received{buffer.first(static_cast<size_t>(length)), 0,
                        (received.msg_flags & MSG_TRUNC) != 0,
                        received.msg_namelen == sizeof from && from.nl_pid == 0};
    }
}

std::optional<std::span<const uint8_t>> Socket::receive() {
    for (;;) {
        const Received got = receiveDatagram(fd_, buffer_, 0);
        if (got.error != 0 || got.truncated) return std::nullopt;
        if (got.fromKernel) return got.datagram;  // only the kernel answers
    }
}

bool Socket::dump(uint16_t type, uint8_t family, const Parse& parse) {
    // ifinfomsg, ifaddrmsg, ndmsg and rtmsg all start with the family.
    uint8_t header[sizeof(ifinfomsg)] = {};
    header[0] = family;
    return dump(type, std::span<const uint8_t>(header, dumpHeaderBytes(type)), parse);
}

bool Socket::dump(uint16_t type, std::span<const uint8_t> header, const Parse& parse) {
    if (!send(type, NLM_F_DUMP, header)) return false;
    for (size_t datagrams = 0; datagrams < MAX_DATAGRAMS; ++datagrams) {
        const std::optional<std::span<const uint8_t>> datagram = receive();
        if (!datagram) return false;
        switch (parse(*datagram, seq_)) {
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

int Socket::request(uint16_t type, uint16_t flags, std::span<const uint8_t> body) {
    if (fd_ < 0) return openError_;
    if (!send(type, static_cast<uint16_t>(flags | NLM_F_ACK), body)) return errno ? errno : EINVAL;
    // The acknowledgement is an NLMSG_ERROR of the request's sequence
    // number: error 0, or the negated errno.
    for (size_t datagrams = 0; datagrams < MAX_DATAGRAMS; ++datagrams) {
        const std::optional<std::span<const uint8_t>> datagram = receive();
        if (!datagram) return errno == EAGAIN || errno == 0 ? ETIMEDOUT : errno;
        Bytes bytes(*datagram);
        size_t offset = 0;
        while (bytes.size() - offset >= sizeof(nlmsghdr)) {
            const auto header = bytes.at<nlmsghdr>(offset);
            if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > bytes.size() - offset)
                return EPROTO;
            if (header.nlmsg_seq == seq_ && header.nlmsg_type == NLMSG_ERROR) {
                if (header.nlmsg_len < NLMSG_LENGTH(sizeof(int))) return EPROTO;
                const int error = bytes.at<int>(offset + NLMSG_HDRLEN);
                if (error == 0) return 0;
                return error < 0 && error > -4096 ? -error : EPROTO;
            }
            offset += std::min(aligned(header.nlmsg_len), bytes.size() - offset);
        }
    }
    return EPROTO;
}

}  // namespace netlink
