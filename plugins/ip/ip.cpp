// IP-MIB (RFC 4293): the forwarding scalars and the address tables, fed by
// the IP service orla-ipd (platform/ipd/ip_object.h).
//
//   1.3.6.1.2.1.4.1.0          ipForwarding
//   1.3.6.1.2.1.4.2.0          ipDefaultTTL
//   1.3.6.1.2.1.4.20.1.C.A     ipAddrTable, IPv4 only, A = the address
//   1.3.6.1.2.1.4.34.1.C.T.L.A ipAddressTable, T = InetAddressType (ipv6z
//                              for link-local), L.A = the address's length
//                              and octets
//
// and the statistics and neighbour tables of ip_stats.cpp and
// ip_neighbours.cpp.
//
// Every object is read-only (notWritable). Without the service the scalars
// have no value
// and the tables are empty.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ip_parts.h"
#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace {

// RFC 4293 enumerations served as constants.
constexpr int ADDRESS_TYPE_UNICAST = 1;
constexpr int ROW_STATUS_ACTIVE = 1;
constexpr int STORAGE_TYPE_VOLATILE = 2;
// ipAdEntReasmMaxSize: the kernel reassembles datagrams up to 65535 octets.
constexpr int REASSEMBLY_MAX = 65535;

const OID IP("1.3.6.1.2.1.4");
const OID IP_ADDR_ENTRY = IP + 20 + 1;
const OID IP_ADDRESS_ENTRY = IP + 34 + 1;
const OID IP_ADDRESS_PREFIX_ORIGIN("1.3.6.1.2.1.4.32.1.5");

struct SystemRecord : Data {
    int forwarding = 0;
    int defaultTtl = 0;
};

struct AddressRecord : Data {
    int addrType = 0;     // InetAddressType: 1 IPv4, 2 IPv6, 4 IPv6z
    std::string address;  // 4, 16 or 20 octets
    unsigned ipv4 = 0;    // IPv4: the address, first octet most significant
    unsigned netMask = 0;
    int broadcastBit = 0;
    int ifIndex = 0;
    OID prefix;  // ipAddressPrefix
    int origin = 0;
    int status = 0;
};

Data* buildSystem(orla::message const& reply) {
    if (!reply.has(ipd::IP_FORWARDING) || !reply.has(ipd::IP_DEFAULT_TTL)) return nullptr;
    auto* rec = new SystemRecord;
    rec->forwarding = reply.get(ipd::IP_FORWARDING) == 1 ? 1 : 2;
    rec->defaultTtl = static_cast<int>(reply.get(ipd::IP_DEFAULT_TTL) & 0xff);
    return rec;
}

unsigned octetsAsIpv4(std::string const& octets) {
    unsigned value = 0;
    for (unsigned char octet : octets)
        value = value << 8 | octet;
    return value;
}

// The prefix's own octets: the address with the host bits cleared (and
// the zone of an IPv6z address kept).
std::string prefixOf(std::string address, uint32_t length) {
    for (size_t i = 0; i < std::min<size_t>(address.size(), 16); ++i) {
        const uint32_t bitsBefore = static_cast<uint32_t>(i) * 8;
        if (length <= bitsBefore) {
            address[i] = 0;
        } else if (length < bitsBefore + 8) {
            address[i] = static_cast<char>(address[i] & (0xff00 >> (length - bitsBefore)));
        }
    }
    return address;
}

void parseAddress(orla::message const& object, std::vector<Data*>* records) {
    const std::string address = object.get(ipd::IPA_ADDRESS);
    const uint32_t type = ipd::inetAddressType(address);
    const uint32_t length = object.get(ipd::IPA_PREFIX_LENGTH, 0);
    const uint32_t ifIndex = object.get(ipd::IPA_IF_INDEX, 0);
    const uint32_t maxLength = type == ipd::INET_IPV4 ? 32 : 128;
    if (type == ipd::INET_UNKNOWN || length > maxLength || ifIndex == 0 ||
        ifIndex > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        return;
    }
    auto* rec = new AddressRecord;
    rec->addrType = static_cast<int>(type);
    rec->address = address;
    rec->ifIndex = static_cast<int>(ifIndex);
    rec->origin = static_cast<int>(object.get(ipd::IPA_ORIGIN, 1) & 0xff);
    rec->status = static_cast<int>(object.get(ipd::IPA_STATUS, 5) & 0xff);
    // RFC 4293 ipAddressPrefix: the prefix's ipAddressPrefixOrigin instance,
    // indexed by ifIndex, type, prefix (length first) and prefix length.
    const std::string prefix = prefixOf(address, length);
    rec->prefix = IP_ADDRESS_PREFIX_ORIGIN + ifIndex + type + static_cast<uint32_t>(prefix.size());
    for (unsigned char octet : prefix)
        rec->prefix += octet;
    rec->prefix += length;
    if (type == ipd::INET_IPV4) {
        rec->ipv4 = octetsAsIpv4(address);
        rec->netMask = length == 0 ? 0 : ~0u << (32 - length);
        // RFC 1213 ipAdEntBcastAddr: the least significant bit of the
        // broadcast address.
        const std::string broadcast = object.get(ipd::IPA_BROADCAST);
        rec->broadcastBit =
            broadcast.size() == 4 ? static_cast<unsigned char>(broadcast[3]) & 1 : 0;
    }
    records->push_back(rec);
}

// ipAddrTable: the IPv4 records of the address provider, by address.
class Ipv4AddressTable : public MapTable {
  public:
    using MapTable::MapTable;
    void change(Data* rec) override {
        if (static_cast<AddressRecord*>(rec)->addrType == ipd::INET_IPV4) MapTable::change(rec);
    }
    void remove(Data* rec) override {
        if (static_cast<AddressRecord*>(rec)->addrType == ipd::INET_IPV4) MapTable::remove(rec);
    }
};

Packer* number(int AddressRecord::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
}

}  // namespace

extern "C" void autorun() {
    auto* system = new GetProvider(buildSystem, {ipd::IP_SERVICE, ipd::IP_SYSTEM_HANDLER},
                                   orla::CMD_GET, orla::CMD_SET);
    addScalarLeaf(IP + 1, new DataNumPacker(field(&SystemRecord::forwarding), ber::INTEGER), system,
                  Access::ReadOnly);
    addScalarLeaf(IP + 2, new DataNumPacker(field(&SystemRecord::defaultTtl), ber::INTEGER), system,
                  Access::ReadOnly);

    auto* addresses = new GetAllProvider();
    addresses->addSource(parseAddress, {ipd::IP_SERVICE, ipd::IP_ADDRESS_HANDLER});

    auto* ipAddrTable = new Ipv4AddressTable(addresses);
    Packer* ipv4 = new DataIPPacker(field(&AddressRecord::ipv4), ber::IP_ADDRESS);
    ipAddrTable->addIndex(ipv4);
    const std::pair<unsigned, Packer*> ipAddrColumns[] = {
        {1, ipv4},
        {2, number(&AddressRecord::ifIndex, ber::INTEGER)},
        {3, new DataIPPacker(field(&AddressRecord::netMask), ber::IP_ADDRESS)},
        {4, number(&AddressRecord::broadcastBit, ber::INTEGER)},
        {5, new ConstNumPacker(REASSEMBLY_MAX, ber::INTEGER)},
    };
    for (auto const& [column, packer] : ipAddrColumns)
        addColumnarLeaf(IP_ADDR_ENTRY + column, packer, ipAddrTable, Access::ReadOnly);

    auto* ipAddressTable = new MapTable(addresses);
    ipAddressTable->addIndex(number(&AddressRecord::addrType, ber::INTEGER));
    ipAddressTable->addIndex(
        new DataStringPacker(field(&AddressRecord::address), ber::OCTET_STRING, 0));
    const std::pair<unsigned, Packer*> ipAddressColumns[] = {
        {3, number(&AddressRecord::ifIndex, ber::INTEGER)},
        {4, new ConstNumPacker(ADDRESS_TYPE_UNICAST, ber::INTEGER)},
        {5, new DataOIDPacker(field(&AddressRecord::prefix), ber::OBJECT_IDENTIFIER)},
        {6, number(&AddressRecord::origin, ber::INTEGER)},
        {7, number(&AddressRecord::status, ber::INTEGER)},
        {10, new ConstNumPacker(ROW_STATUS_ACTIVE, ber::INTEGER)},
        {11, new ConstNumPacker(STORAGE_TYPE_VOLATILE, ber::INTEGER)},
    };
    for (auto const& [column, packer] : ipAddressColumns)
        addColumnarLeaf(IP_ADDRESS_ENTRY + column, packer, ipAddressTable, Access::ReadOnly);

    registerIpStatistics();
    registerNeighbours();

    registerModule(OID("1.3.6.1.2.1.48"),
                   "IP-MIB: IP addresses, neighbours, forwarding and statistics (RFC 4293)");
}
