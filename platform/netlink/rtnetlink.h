// rtnetlink (RFC 3549; NETLINK_ROUTE sockets, rtnetlink(7)) for the platform
// services: a socket for dump requests and single requests, and the walk
// over the messages of a datagram and the attributes of a message that
// their parsers build on. Every datagram is hostile: each message and
// attribute length is checked against what holds it before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

namespace netlink {

// A read-only view that never reads past its end.
class Bytes {
  public:
    explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    // The caller has checked that sizeof(T) octets are there.
    template <class T>
    T at(size_t offset) const {
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof value);
        return value;
    }
    // From `offset` on, at most `length` octets (fewer at the end).
    Bytes sub(size_t offset, size_t length) const {
        offset = std::min(offset, bytes_.size());
        return Bytes(bytes_.subspan(offset, std::min(length, bytes_.size() - offset)));
    }
    Bytes from(size_t offset) const { return sub(offset, bytes_.size()); }
    std::string text() const { return std::string(bytes_.begin(), bytes_.end()); }

  private:
    std::span<const uint8_t> bytes_;
};

inline size_t aligned(size_t length) {
    return (length + 3) & ~size_t(3);
}

// Calls visit(type, payload) for each attribute (struct rtattr) of `bytes`;
// false when one's length is short or runs past the end.
template <class Visit>
bool forEachAttribute(Bytes bytes, Visit visit) {
    size_t offset = 0;
    while (bytes.size() - offset >= sizeof(rtattr)) {
        const auto length = bytes.at<uint16_t>(offset);
        const auto type = bytes.at<uint16_t>(offset + 2);
        if (length < sizeof(rtattr) || length > bytes.size() - offset) return false;
        visit(static_cast<uint16_t>(type & NLA_TYPE_MASK),
              bytes.sub(offset + sizeof(rtattr), length - sizeof(rtattr)));
        offset += std::min(aligned(length), bytes.size() - offset);
    }
    return true;
}

inline std::optional<uint32_t> u32Of(Bytes payload) {
    if (payload.size() != 4) return std::nullopt;
    return payload.at<uint32_t>(0);
}

// Where a dump stands after one received datagram.
enum class DumpStatus {
    More,    // the dump goes on in the next datagram
    Done,    // NLMSG_DONE: complete
    Failed,  // an error reply, a malformed message, or the bound reached
};

// Walks the messages of one datagram: parseOne(type, payload) for each but
// the control messages; false from it fails the dump. With `seq`, messages
// of another sequence number are skipped (another request's answer); a
// notification (sequence number of no request) is read without.
template <class ParseOne>
DumpStatus forEachMessage(std::span<const uint8_t> datagram, std::optional<uint32_t> seq,
                          ParseOne parseOne) {
    Bytes bytes(datagram);
    size_t offset = 0;
    while (bytes.size() - offset >= sizeof(nlmsghdr)) {
        const auto header = bytes.at<nlmsghdr>(offset);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > bytes.size() - offset) {
            return DumpStatus::Failed;
        }
        Bytes payload = bytes.sub(offset + sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr));
        offset += std::min(aligned(header.nlmsg_len), bytes.size() - offset);
        if ((seq && header.nlmsg_seq != *seq) || header.nlmsg_type == NLMSG_NOOP) continue;
        if (header.nlmsg_type == NLMSG_DONE) return DumpStatus::Done;
        if (header.nlmsg_type == NLMSG_ERROR) return DumpStatus::Failed;
        if (!parseOne(header.nlmsg_type, payload)) return DumpStatus::Failed;
    }
    return DumpStatus::More;
}

// One datagram read from netlink socket `fd` into `buffer` (`flags` as for
// recvmsg), an interrupted read tried again.
struct Received {
    std::span<const uint8_t> datagram;
    int error = 0;           // errno when the read failed; datagram is then empty
    bool truncated = false;  // longer than the buffer
    bool fromKernel = false; // sent by the kernel (port 0), not another process
};
Received receiveDatagram(int fd, std::span<uint8_t> buffer, int flags);

// A NETLINK_ROUTE socket (or another netlink protocol with the same dump
// framing, such as NETLINK_SOCK_DIAG) for requests to the kernel of the
// network namespace it was opened in. Every receive waits at most two
// seconds, so a kernel that stops answering cannot hang the service.
class Socket {
  public:
    // Parses one datagram of a dump's reply; `seq` is the dump's.
    using Parse = std::function<DumpStatus(std::span<const uint8_t> datagram, uint32_t seq)>;

    explicit Socket(int protocol = NETLINK_ROUTE);
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // The socket's errno when it could not be opened, else 0.
    int openError() const { return openError_; }

    // Sends a dump request of `type` (RTM_GET*) for `family` and hands each
    // datagram of the reply to `parse`: true once the dump is complete.
    bool dump(uint16_t type, uint8_t family, const Parse& parse);
    // The same with the request's own header after nlmsghdr (at most 4096
    // octets), for requests whose header is not rtnetlink's.
    bool dump(uint16_t type, std::span<const uint8_t> header, const Parse& parse);
    // Sends one request (a netlink message without its header: `body` of
    // `type`, with `flags` beside NLM_F_REQUEST and NLM_F_ACK) and waits for
    // the kernel's acknowledgement: 0, or the errno value it refused with.
    int request(uint16_t type, uint16_t flags, std::span<const uint8_t> body);

  private:
    bool send(uint16_t type, uint16_t flags, std::span<const uint8_t> body);
    // One datagram from the kernel; empty on a failed or truncated receive.
    std::optional<std::span<const uint8_t>> receive();

    int fd_ = -1;
    int openError_ = 0;
    uint32_t seq_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace netlink
