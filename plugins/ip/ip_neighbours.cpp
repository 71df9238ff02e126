// IP-MIB (RFC 4293) neighbour tables from the IP service's neighbour
// windows (ipd::IP_NEIGHBOUR_HANDLER and IP_NET_TO_MEDIA_HANDLER,
// platform/ipd/ip_object.h):
//
//   1.3.6.1.2.1.4.35.1.C.I.T.L.A  ipNetToPhysicalTable, I = ifIndex,
//                                 T = 1 ipv4, 2 ipv6, L.A = the address's
//                                 length and octets
//   1.3.6.1.2.1.4.22.1.C.I.A      ipNetToMediaTable, IPv4 only
//
// A neighbour cache may hold many thousands of entries: both tables are
// WindowTables, holding a window of rows at a time. Every object is
// read-only; without the service the tables are empty.
#include <cstdint>
#include <string>
#include <string_view>

#include "ip_parts.h"
#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace {

const OID IP_NET_TO_PHYSICAL_ENTRY("1.3.6.1.2.1.4.35.1");
const OID IP_NET_TO_MEDIA_ENTRY("1.3.6.1.2.1.4.22.1");

// Neighbours read per exchange with the service, as routes are.
constexpr uint32_t WINDOW_NEIGHBOURS = 1024;
constexpr int ROW_STATUS_ACTIVE = 1;

struct NeighbourRecord : Data {
    int ifIndex = 0;
    unsigned ipv4 = 0;  // ipNetToMediaTable: the address, first octet most significant
    std::string physAddress;
    int type = 0;
    int state = 0;
};

Data* makeNeighbour() {
    return new NeighbourRecord;
}

bool parseRow(OID const& index, std::string_view fields, Data* rec, bool media) {
    ipd::NeighbourFields neighbour;
    if (!ipd::isNeighbourIndex(index.data(), index.size(), media) ||
        !ipd::readNeighbourFields(fields, neighbour)) {
        return false;
    }
    auto* record = static_cast<NeighbourRecord*>(rec);
    record->ifIndex = static_cast<int>(index[0]);
    record->ipv4 = media ? index[1] << 24 | index[2] << 16 | index[3] << 8 | index[4] : 0;
    record->physAddress = std::move(neighbour.linkAddress);
    record->type = neighbour.type;
    record->state = neighbour.state;
    return true;
}

bool parsePhysical(OID const& index, std::string_view fields, Data* rec) {
    return parseRow(index, fields, rec, false);
}

bool parseMedia(OID const& index, std::string_view fields, Data* rec) {
    return parseRow(index, fields, rec, true);
}

Packer* number(int NeighbourRecord::*member) {
    return new DataNumPacker(field(member), ber::INTEGER);
}

}  // namespace

void registerNeighbours() {
    auto* physical =
        new WindowTable(makeNeighbour, parsePhysical, {ipd::IP_SERVICE, ipd::IP_NEIGHBOUR_HANDLER},
                        WINDOW_NEIGHBOURS);
    Packer* physAddress =
        new DataStringPacker(field(&NeighbourRecord::physAddress), ber::OCTET_STRING, 0);
    Packer* type = number(&NeighbourRecord::type);
    const std::pair<unsigned, Packer*> physicalColumns[] = {
        {4, physAddress},
        {6, type},
        {7, number(&NeighbourRecord::state)},
        {8, new ConstNumPacker(ROW_STATUS_ACTIVE, ber::INTEGER)},
    };
    for (auto const& [column, packer] : physicalColumns)
        addColumnarLeaf(IP_NET_TO_PHYSICAL_ENTRY + column, packer, physical, Access::ReadOnly);

    auto* media =
        new WindowTable(makeNeighbour, parseMedia, {ipd::IP_SERVICE, ipd::IP_NET_TO_MEDIA_HANDLER},
                        WINDOW_NEIGHBOURS);
    const std::pair<unsigned, Packer*> mediaColumns[] = {
        {1, number(&NeighbourRecord::ifIndex)},
        {2, physAddress},
        {3, new DataIPPacker(field(&NeighbourRecord::ipv4), ber::IP_ADDRESS)},
        // ipNetToMediaType has ipNetToPhysicalType's values but local(5),
        // which the service never gives.
        {4, type},
    };
    for (auto const& [column, packer] : mediaColumns)
        addColumnarLeaf(IP_NET_TO_MEDIA_ENTRY + column, packer, media, Access::ReadOnly);
}
