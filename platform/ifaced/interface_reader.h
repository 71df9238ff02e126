// The kernel's network interfaces, as the interface service reads them:
// links from rtnetlink (RTM_GETLINK dumps and RTM_NEWLINK/RTM_DELLINK
// notifications, rtnetlink(7)) in the network namespace the service runs
// in, parsed into plain structs, and the link speed from the ethtool ioctl,
// the one value the links' messages do not carry. The service reads through
// the InterfaceReader interface so that tests can hand it links of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netlink/rtnetlink.h"

namespace ifaced {

// Interfaces listed at most: a router with a PPP session per subscriber
// has tens of thousands.
inline constexpr size_t MAX_INTERFACES = 65536;
// RFC 2863 ifAlias: at most 64 octets.
inline constexpr size_t MAX_ALIAS_OCTETS = 64;

// IANAifType of loopback interfaces.
inline constexpr uint32_t IANA_SOFTWARE_LOOPBACK = 24;

// RFC 2863 ifOperStatus values.
enum class OperStatus : uint32_t {
    Up = 1,
    Down = 2,
    Testing = 3,
    Unknown = 4,
    Dormant = 5,
    NotPresent = 6,
    LowerLayerDown = 7,
};

struct InterfaceCounters {
    uint64_t inOctets = 0;
    uint64_t inUcastPackets = 0;  // rx_packets less multicast, at least 0
    uint64_t inMulticastPackets = 0;
    uint64_t inDiscards = 0;
    uint64_t inErrors = 0;
    uint64_t inUnknownProtos = 0;  // rx_nohandler
    uint64_t outOctets = 0;
    uint64_t outUcastPackets = 0;  // all of tx_packets
    uint64_t outDiscards = 0;
    uint64_t outErrors = 0;
};

struct InterfaceInfo {
    uint32_t index = 0;  // ifindex, never 0
    std::string name;
    uint32_t type = 1;              // IANAifType; other(1) when unknown
    uint32_t mtu = 0;               // 0 when not reported
    uint32_t speedMbps = 0;         // 0 when unknown
    std::string hwAddress;          // raw octets; empty when none or all zero
    bool adminUp = false;           // IFF_UP
    bool promiscuous = false;       // IFF_PROMISC
    bool connectorPresent = false;  // a parent device (hardware) behind the interface
    OperStatus operStatus = OperStatus::Unknown;
    std::string alias;  // at most MAX_ALIAS_OCTETS, cut there when longer
    InterfaceCounters counters;
};

// One link message: an interface as it is now, or one gone.
struct LinkMessage {
    bool removed = false;  // RTM_DELLINK: only info.index and info.name are set
    InterfaceInfo info;
};

// A name the kernel could have given an interface: 1 to 15 printable ASCII
// characters, not "." or "..", without '/', ':' or spaces.
bool isInterfaceName(std::string_view name);

// IANAifType for a kernel ARPHRD_* link type.
uint32_t ifTypeFromArphrd(uint64_t arphrd);

// RFC 2863 ifOperStatus of the kernel's operstate (IF_OPER_*, RFC 2863's
// states) and interface flags (IFF_*). The kernel reports "unknown" for
// every link without carrier detection (loopback, tun, PPP, tunnels); such
// a link passes packets when it is up and running (RFC 2863 3.1.13).
OperStatus operStatusOf(uint8_t operstate, uint32_t flags);

// Parses one datagram of an RTM_GETLINK dump reply (sequence number `seq`)
// or of link notifications (nullopt: any), appending each link message.
// Links of another family (a bridge's port messages), and messages without
// a valid interface name, are skipped. Failed when a message is malformed
// or `out` would exceed MAX_INTERFACES.
netlink::DumpStatus parseLinks(std::span<const uint8_t> datagram, std::optional<uint32_t> seq,
                               std::vector<LinkMessage>& out);

class InterfaceReader {
  public:
    virtual ~InterfaceReader() = default;
    // Every interface with all its attributes, in ascending ifindex; false
    // when the kernel could not be read (`out` is then unspecified).
    virtual bool readAll(std::vector<InterfaceInfo>& out) = 0;
    // Sets the interface's alias (the caller has checked the value): 0 on
    // success, else the errno value the kernel refused with.
    virtual int writeAlias(uint32_t index, std::string_view alias) = 0;
};

// The kernel of the service's own network namespace.
class KernelInterfaces : public InterfaceReader {
  public:
    KernelInterfaces();
    ~KernelInterfaces() override;
    KernelInterfaces(const KernelInterfaces&) = delete;
    KernelInterfaces& operator=(const KernelInterfaces&) = delete;

    // The rtnetlink socket's errno when it could not be opened, else 0.
    int openError() const { return socket_.openError(); }

    bool readAll(std::vector<InterfaceInfo>& out) override;
    int writeAlias(uint32_t index, std::string_view alias) override;

  private:
    // Mb/s as the driver reports it through ethtool; 0 when it does not.
    uint32_t speedOf(const std::string& name) const;

    netlink::Socket socket_;
    int ioctlFd_ = -1;  // any socket of the namespace serves the ethtool ioctl
};

}  // namespace ifaced
