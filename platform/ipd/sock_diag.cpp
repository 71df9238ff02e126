#include "platform/ipd/sock_diag.h"

#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/ipd/ip_object.h"
#include "platform/orla/decimal.h"

namespace ipd {

namespace {

using netlink::aligned;
using netlink::Bytes;
using netlink::forEachAttribute;

uint16_t portOf(uint16_t networkOrder) {
    return ntohs(networkOrder);
}

bool isZero(std::string_view octets) {
    return std::all_of(octets.begin(), octets.end(), [](char octet) { return octet == 0; });
}

// The address as the MIBs index it (SocketInfo): IPv4-mapped IPv6 as IPv4,
// link-local IPv6 with its zone.
std::string addressOf(uint8_t family, const uint32_t (&words)[4], uint32_t ifIndex) {
    const auto* octets = reinterpret_cast<const char*>(words);
    if (family == AF_INET) return std::string(octets, 4);
    std::string address(octets, 16);
    if (isZero(address.substr(0, 10)) && address.substr(10, 2) == "\xff\xff") {
        return address.substr(12);
    }
    return withZone(std::move(address), ifIndex);
}

bool parseSocket(Bytes payload, std::vector<SocketInfo>& out) {
    if (payload.size() < sizeof(inet_diag_msg)) return false;
    const auto message = payload.at<inet_diag_msg>(0);
    if (message.idiag_family != AF_INET && message.idiag_family != AF_INET6) return true;
    std::optional<bool> v6only;
    bool wellFormed = true;
    auto visit = [&](uint16_t type, Bytes value) {
        if (type != INET_DIAG_SKV6ONLY) return;
        wellFormed = wellFormed && value.size() == 1;
        if (value.size() == 1) v6only = value.at<uint8_t>(0) != 0;
    };
    const size_t start = aligned(sizeof(inet_diag_msg));
    if (!forEachAttribute(payload.sub(start, payload.size() - std::min(start, payload.size())),
                          visit) ||
        !wellFormed) {
        return false;
    }
    if (out.size() >= MAX_SOCKETS) return false;
    SocketInfo info;
    info.state = message.idiag_state;
    info.localAddress = addressOf(message.idiag_family, message.id.idiag_src, message.id.idiag_if);
    info.localPort = portOf(message.id.idiag_sport);
    info.remoteAddress = addressOf(message.idiag_family, message.id.idiag_dst, message.id.idiag_if);
    info.remotePort = portOf(message.id.idiag_dport);
    info.inode = message.idiag_inode;
    // RFC 4022 tcpListenerTable, RFC 4113 udpEndpointTable: an IPv6
    // wildcard that takes IPv4 too is unknown(0) with an empty address.
    if (message.idiag_family == AF_INET6 && v6only == false && isZero(info.localAddress)) {
        info.localAddress.clear();
    }
    // RFC 4113: a remote wildcard is unknown(0), empty, port 0.
    if (info.remotePort == 0 && isZero(info.remoteAddress)) info.remoteAddress.clear();
    out.push_back(std::move(info));
    return true;
}

// The inode of a descriptor's link text "socket:[12345]".
std::optional<uint32_t> socketInode(std::string_view link) {
    constexpr std::string_view PREFIX = "socket:[";
    if (!link.starts_with(PREFIX) || !link.ends_with(']')) return std::nullopt;
    link.remove_prefix(PREFIX.size());
    link.remove_suffix(1);
    const std::optional<uint64_t> inode = orla::parseDecimal(link);
    if (!inode || *inode > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*inode);
}

}  // namespace

DumpStatus parseSockets(std::span<const uint8_t> datagram, uint32_t seq,
                        std::vector<SocketInfo>& out) {
    return netlink::forEachMessage(datagram, seq, [&](uint16_t type, Bytes payload) {
        return type != SOCK_DIAG_BY_FAMILY || parseSocket(payload, out);
    });
}

void findOwners(const std::string& procDir, std::vector<SocketInfo>& sockets) {
    std::unordered_map<uint32_t, uint32_t> owners;  // inode to pid, 0 until found
    for (const SocketInfo& socket : sockets)
        if (socket.inode != 0) owners.emplace(socket.inode, 0);
    if (owners.empty()) return;
    DIR* processes = ::opendir(procDir.c_str());
    if (processes == nullptr) return;
    size_t descriptors = 0;
    while (const dirent* process = ::readdir(processes)) {
        const std::optional<uint64_t> pid = orla::parseDecimal(process->d_name);
        if (!pid || *pid == 0 || *pid > UINT32_MAX) continue;
        const std::string fdDir = procDir + "/" + process->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;  // gone, or not ours to read
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            if (++descriptors > MAX_DESCRIPTORS) break;
            char link[64];
            const ssize_t length =
                ::readlink((fdDir + "/" + fd->d_name).c_str(), link, sizeof link);
            if (length <= 0 || static_cast<size_t>(length) >= sizeof link) continue;
            const std::optional<uint32_t> inode =
                socketInode(std::string_view(link, static_cast<size_t>(length)));
            if (!inode) continue;
            const auto owner = owners.find(*inode);
            if (owner != owners.end() && (owner->second == 0 || owner->second > *pid)) {
                owner->second = static_cast<uint32_t>(*pid);
            }
        }
        ::closedir(fds);
        if (descriptors > MAX_DESCRIPTORS) break;
    }
    ::closedir(processes);
    for (SocketInfo& socket : sockets) {
        const auto owner = owners.find(socket.inode);
        if (owner != owners.end()) socket.pid = owner->second;
    }
}

bool SockDiag::dump(uint8_t protocol, std::vector<SocketInfo>& out) {
    auto parse = [&](std::span<const uint8_t> datagram, uint32_t seq) {
        return parseSockets(datagram, seq, out);
    };
    for (const uint8_t family : {uint8_t(AF_INET), uint8_t(AF_INET6)}) {
        inet_diag_req_v2 request{};
        request.sdiag_family = family;
        request.sdiag_protocol = protocol;
        request.idiag_states = ~0u;
        const auto* header = reinterpret_cast<const uint8_t*>(&request);
        if (!socket_.dump(SOCK_DIAG_BY_FAMILY, std::span<const uint8_t>(header, sizeof request),
                          parse)) {
            return false;
        }
    }
    return true;
}

}  // namespace ipd
