#include "platform/ifaced/interface_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/ifaced/sysfs_attribute.h"
#include "platform/orla/decimal.h"

namespace ifaced {

namespace {

constexpr size_t MAX_NAME_OCTETS = 15;        // IFNAMSIZ less the terminating NUL
constexpr size_t MAX_HW_ADDRESS_OCTETS = 32;  // the kernel's MAX_ADDR_LEN
constexpr uint32_t IFF_UP_FLAG = 0x1;
constexpr uint32_t IFF_PROMISC_FLAG = 0x100;

// IANAifType values (RFC 2863 ifType).
constexpr uint32_t IANA_OTHER = 1;
constexpr uint32_t IANA_ETHERNET_CSMACD = 6;
constexpr uint32_t IANA_PPP = 23;
constexpr uint32_t IANA_PROP_VIRTUAL = 53;
constexpr uint32_t IANA_TUNNEL = 131;

class Directory {
  public:
    explicit Directory(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~Directory() {
        if (dir_) ::closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint64_t readCounter(const std::string& path) {
    std::optional<std::string> text = readAttribute(path);
    if (!text) return 0;
    return orla::parseDecimal(*text).value_or(0);
}

uint32_t clampToU32(uint64_t value) {
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

}  // namespace

bool isInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > MAX_NAME_OCTETS || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '/' && c != ':'; });
}

uint32_t ifTypeFromArphrd(uint64_t arphrd) {
    switch (arphrd) {
        case 1:  // ARPHRD_ETHER
            return IANA_ETHERNET_CSMACD;
        case 512:  // ARPHRD_PPP
            return IANA_PPP;
        case 772:  // ARPHRD_LOOPBACK
            return IANA_SOFTWARE_LOOPBACK;
        case 768:  // ARPHRD_TUNNEL (ipip)
        case 769:  // ARPHRD_TUNNEL6
        case 776:  // ARPHRD_SIT
        case 778:  // ARPHRD_IPGRE
            return IANA_TUNNEL;
        case 65534:  // ARPHRD_NONE: tun, wireguard; software links without a link layer
            return IANA_PROP_VIRTUAL;
        default:
            return IANA_OTHER;
    }
}

OperStatus operStatusFromText(std::string_view text) {
    // RFC 2863 ifOperStatus; the kernel's operstate names follow it.
    static constexpr std::pair<std::string_view, OperStatus> names[] = {
        {"up", OperStatus::Up},
        {"down", OperStatus::Down},
        {"testing", OperStatus::Testing},
        {"unknown", OperStatus::Unknown},
        {"dormant", OperStatus::Dormant},
        {"notpresent", OperStatus::NotPresent},
        {"lowerlayerdown", OperStatus::LowerLayerDown},
    };
    for (const auto& [name, status] : names) {
        if (text == name) return status;
    }
    return OperStatus::Unknown;
}

std::optional<std::string> parseHwAddress(std::string_view text, size_t length) {
    if (length > MAX_HW_ADDRESS_OCTETS) return std::nullopt;
    if (length == 0) return text.empty() ? std::optional<std::string>(std::string()) : std::nullopt;
    // "xx" per octet, ':' between octets.
    if (text.size() != length * 3 - 1) return std::nullopt;
    std::string octets;
    for (size_t i = 0; i < length; ++i) {
        size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':') return std::nullopt;
        int high = hexDigit(text[at]);
        int low = hexDigit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        octets.push_back(static_cast<char>(high << 4 | low));
    }
    return octets;
}

InterfaceReader::InterfaceReader(std::string sysfsRoot)
    : netDirectory_(std::move(sysfsRoot) + "/class/net") {}

std::string InterfaceReader::attributePath(const std::string& name,
                                           std::string_view attribute) const {
    std::string path = netDirectory_;
    path += '/';
    path += name;
    path += '/';
    path += attribute;
    return path;
}

std::vector<std::string> InterfaceReader::listNames() const {
    std::vector<std::string> names;
    Directory dir(netDirectory_);
    if (!dir.get()) return names;
    int dirFd = ::dirfd(dir.get());
    for (size_t examined = 0; examined < MAX_DIRECTORY_ENTRIES && names.size() < MAX_INTERFACES;
         ++examined) {
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;
        std::string_view name = entry->d_name;
        if (!isInterfaceName(name)) continue;
        // Interfaces are links to device directories; plain files such as
        // bonding_masters share the directory.
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISDIR(st.st_mode)) continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<uint32_t> InterfaceReader::readIndex(const std::string& name) const {
    std::optional<std::string> text = readAttribute(attributePath(name, "ifindex"));
    if (!text) return std::nullopt;
    std::optional<uint64_t> index = orla::parseDecimal(*text);
    if (!index || *index == 0 || *index > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*index);
}

std::optional<uint64_t> InterfaceReader::readNumber(const std::string& name,
                                                    std::string_view attribute) const {
    std::optional<std::string> text = readAttribute(attributePath(name, attribute));
    if (!text) return std::nullopt;
    return orla::parseDecimal(*text);
}

InterfaceInfo InterfaceReader::readLink(const std::string& name, uint32_t index) const {
    InterfaceInfo info;
    info.index = index;
    info.name = name;
    if (std::optional<uint64_t> type = readNumber(name, "type"))
        info.type = ifTypeFromArphrd(*type);
    if (std::optional<std::string> text = readAttribute(attributePath(name, "flags"))) {
        std::optional<uint32_t> flags = parseHex32(*text);
        info.adminUp = flags && (*flags & IFF_UP_FLAG) != 0;
        info.promiscuous = flags && (*flags & IFF_PROMISC_FLAG) != 0;
    }
    if (std::optional<std::string> text = readAttribute(attributePath(name, "operstate"))) {
        info.operStatus = operStatusFromText(*text);
    }
    return info;
}

InterfaceInfo InterfaceReader::readInterface(const std::string& name, uint32_t index) const {
    InterfaceInfo info = readLink(name, index);
    info.mtu = clampToU32(readNumber(name, "mtu").value_or(0));
    // Reading speed fails (EINVAL) or gives -1 while the link is down.
    if (std::optional<std::string> text = readAttribute(attributePath(name, "speed"))) {
        std::optional<int64_t> speed = parseSignedDecimal(*text);
        if (speed && *speed > 0) info.speedMbps = clampToU32(static_cast<uint64_t>(*speed));
    }
    std::optional<uint64_t> addressLength = readNumber(name, "addr_len");
    std::optional<std::string> addressText = readAttribute(attributePath(name, "address"));
    if (addressLength && addressText) {
        std::optional<std::string> octets = parseHwAddress(*addressText, *addressLength);
        // RFC 2863 ifPhysAddress: empty for an interface without an address;
        // loopback and tunnels report all zeros.
        bool allZero = octets && std::all_of(octets->begin(), octets->end(),
                                             [](char octet) { return octet == 0; });
        if (octets && !allZero) info.hwAddress = std::move(*octets);
    }
    // A device behind the interface (a PCI or USB function, say) is hardware
    // with a connector; software interfaces (loopback, veth, bridges,
    // VLANs, tunnels) have none.
    struct stat st;
    info.connectorPresent = ::lstat(attributePath(name, "device").c_str(), &st) == 0;
    if (std::optional<std::string> text = readAttribute(attributePath(name, "ifalias"))) {
        info.alias = text->substr(0, MAX_ALIAS_OCTETS);
    }

    InterfaceCounters& counters = info.counters;
    auto statistic = [&](std::string_view counter) {
        std::string attribute = "statistics/";
        attribute += counter;
        return readCounter(attributePath(name, attribute));
    };
    counters.inOctets = statistic("rx_bytes");
    counters.inMulticastPackets = statistic("multicast");
    uint64_t received = statistic("rx_packets");
    counters.inUcastPackets =
        received > counters.inMulticastPackets ? received - counters.inMulticastPackets : 0;
    counters.inDiscards = statistic("rx_dropped");
    counters.inErrors = statistic("rx_errors");
    counters.outOctets = statistic("tx_bytes");
    counters.outUcastPackets = statistic("tx_packets");
    counters.outDiscards = statistic("tx_dropped");
    counters.outErrors = statistic("tx_errors");
    return info;
}

std::vector<InterfaceInfo> InterfaceReader::readEach(bool full) const {
    std::vector<InterfaceInfo> interfaces;
    for (const std::string& name : listNames()) {
        std::optional<uint32_t> index = readIndex(name);
        if (!index) continue;
        interfaces.push_back(full ? readInterface(name, *index) : readLink(name, *index));
    }
    // Stable: of duplicate indexes the first name in order stays first.
    std::stable_sort(
        interfaces.begin(), interfaces.end(),
        [](const InterfaceInfo& a, const InterfaceInfo& b) { return a.index < b.index; });
    auto duplicates = std::unique(
        interfaces.begin(), interfaces.end(),
        [](const InterfaceInfo& a, const InterfaceInfo& b) { return a.index == b.index; });
    interfaces.erase(duplicates, interfaces.end());
    return interfaces;
}

std::vector<InterfaceInfo> InterfaceReader::readAll() const {
    return readEach(true);
}

std::vector<InterfaceInfo> InterfaceReader::readLinks() const {
    return readEach(false);
}

std::optional<InterfaceInfo> InterfaceReader::readOne(const std::string& name,
                                                      uint32_t index) const {
    if (!isInterfaceName(name) || readIndex(name) != index) return std::nullopt;
    return readInterface(name, index);
}

size_t InterfaceReader::count() const {
    return listNames().size();
}

std::string InterfaceReader::nameOf(uint32_t index) const {
    for (const std::string& name : listNames()) {
        if (readIndex(name) == index) return name;
    }
    return {};
}

int InterfaceReader::writeAlias(const std::string& name, std::string_view alias) const {
    // The kernel drops one trailing newline; without it an empty alias
    // would be a zero-length write, which sysfs ignores.
    std::string line(alias);
    line += '\n';
    return writeAttribute(attributePath(name, "ifalias"), line);
}

}  // namespace ifaced
