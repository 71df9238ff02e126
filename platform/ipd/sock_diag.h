// The kernel's TCP and UDP sockets over socket diagnostics (sock_diag(7):
// NETLINK_SOCK_DIAG, SOCK_DIAG_BY_FAMILY dumps of inet_diag_req_v2), and
// the processes that hold them (/proc/PID/fd). Every reply is hostile: each
// message and attribute length is checked against what holds it, and the
// number of sockets a dump may yield is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/netlink/rtnetlink.h"

namespace ipd {

using netlink::DumpStatus;

// Bound of one dump (one protocol, both families).
inline constexpr size_t MAX_SOCKETS = 1'000'000;

// The kernel's TCP states (include/net/tcp_states.h).
inline constexpr uint8_t TCP_STATE_LISTEN = 10;

struct SocketInfo {
    uint8_t state = 0;  // the kernel's TCP_* state (UDP: 1 connected, 7 not)
    // RFC 4001 addresses as the MIBs index them: 4 octets for IPv4 (an
    // IPv4-mapped IPv6 address included: RFC 4022 and 4113 name the version
    // that carries the traffic), 16 for IPv6, 20 for a link-local one with
    // its zone; empty for an IPv6 wildcard that also takes IPv4 (a dual-stack
    // listener, RFC 4022 and 4113 unknown(0)).
    std::string localAddress;
    uint16_t localPort = 0;
    std::string remoteAddress;  // empty when the remote is a wildcard (port 0)
    uint16_t remotePort = 0;
    uint32_t inode = 0;  // 0 for a socket no process holds (TIME-WAIT)
    uint32_t pid = 0;    // the process holding it; 0 when none is found
};

// Parses one datagram of a SOCK_DIAG_BY_FAMILY dump reply, appending its
// sockets. Messages of another sequence number are skipped.
DumpStatus parseSockets(std::span<const uint8_t> datagram, uint32_t seq,
                        std::vector<SocketInfo>& out);

// Fills each socket's pid: the lowest process id that holds it among the
// processes of DIR (/proc) whose descriptors the service may read. Reads
// at most MAX_DESCRIPTORS descriptors in all.
inline constexpr size_t MAX_DESCRIPTORS = 4'000'000;
void findOwners(const std::string& procDir, std::vector<SocketInfo>& sockets);

// The kernel's sockets, read over one NETLINK_SOCK_DIAG socket.
class SockDiag {
  public:
    SockDiag() : socket_(NETLINK_SOCK_DIAG) {}
    // The socket's errno when it could not be opened, else 0.
    int openError() const { return socket_.openError(); }
    // Every IPv4 and IPv6 socket of `protocol` (IPPROTO_TCP, IPPROTO_UDP)
    // in any state; false when a dump failed.
    bool dump(uint8_t protocol, std::vector<SocketInfo>& out);

  private:
    netlink::Socket socket_;
};

}  // namespace ipd
