// Reads the host's network interfaces from sysfs (<root>/class/net/<name>/...)
// into plain structs. The root is a constructor argument so that tests can
// point it at a fake tree. Missing or malformed attributes give the defaults
// noted below; an interface without a valid ifindex is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ifaced {

// Interfaces listed at most; further directory entries are ignored.
inline constexpr size_t MAX_INTERFACES = 4096;
// Directory entries examined at most, valid names or not.
inline constexpr size_t MAX_DIRECTORY_ENTRIES = 4 * MAX_INTERFACES;
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
    uint64_t outOctets = 0;
    uint64_t outUcastPackets = 0;  // all of tx_packets
    uint64_t outDiscards = 0;
    uint64_t outErrors = 0;
};

struct InterfaceInfo {
    uint32_t index = 0;  // ifindex, never 0
    std::string name;
    uint32_t type = 1;              // IANAifType; other(1) when unknown
    uint32_t mtu = 0;               // 0 when unreadable
    uint32_t speedMbps = 0;         // 0 when unknown or negative
    std::string hwAddress;          // raw octets; empty when none or all zero
    bool adminUp = false;           // IFF_UP; down when flags are unreadable
    bool promiscuous = false;       // IFF_PROMISC
    bool connectorPresent = false;  // a device (hardware) behind the interface
    OperStatus operStatus = OperStatus::Unknown;
    std::string alias;  // at most MAX_ALIAS_OCTETS, cut there when longer
    InterfaceCounters counters;
};

// A name the kernel could have given an interface: 1 to 15 printable ASCII
// characters, not "." or "..", without '/', ':' or spaces.
bool isInterfaceName(std::string_view name);

// IANAifType for a kernel ARPHRD_* link type.
uint32_t ifTypeFromArphrd(uint64_t arphrd);

// RFC 2863 status for the kernel's operstate text; unknown(4) for anything else.
OperStatus operStatusFromText(std::string_view text);

// Octets of "aa:bb:..." with exactly `length` octets; nullopt when malformed.
std::optional<std::string> parseHwAddress(std::string_view text, size_t length);

class InterfaceReader {
  public:
    // `sysfsRoot` is the directory holding class/net, "/sys" on a host.
    explicit InterfaceReader(std::string sysfsRoot);

    // Every interface with all its attributes, in ascending ifindex; of
    // entries with the same ifindex only the first in name order is kept.
    std::vector<InterfaceInfo> readAll() const;
    // The same interfaces with only their index, name, type, flags and
    // operational status: four small files each, for watching the links.
    std::vector<InterfaceInfo> readLinks() const;
    // One interface with all its attributes; nullopt when there is no
    // interface of that name, or its ifindex is no longer `index`.
    std::optional<InterfaceInfo> readOne(const std::string& name, uint32_t index) const;
    // Number of interface directories, without reading their attributes.
    size_t count() const;
    // The name of the interface with this ifindex; empty when there is none.
    std::string nameOf(uint32_t index) const;
    // Sets the interface's alias (the caller has checked the value): 0 on
    // success, else the errno value of the failed write.
    int writeAlias(const std::string& name, std::string_view alias) const;

    std::string attributePath(const std::string& name, std::string_view attribute) const;

  private:
    std::vector<std::string> listNames() const;
    std::optional<uint32_t> readIndex(const std::string& name) const;
    std::optional<uint64_t> readNumber(const std::string& name, std::string_view attribute) const;
    InterfaceInfo readLink(const std::string& name, uint32_t index) const;
    InterfaceInfo readInterface(const std::string& name, uint32_t index) const;
    std::vector<InterfaceInfo> readEach(bool full) const;

    std::string netDirectory_;
};

}  // namespace ifaced
