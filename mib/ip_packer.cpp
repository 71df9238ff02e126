#include "mib/ip_packer.h"

#include <string>

namespace {

constexpr unsigned int ADDRESS_OCTETS = 4;

}  // namespace

void IPPacker::pack(Context& ctx, Data const* rec) const {
    const unsigned int address = get(rec);
    const unsigned char octets[ADDRESS_OCTETS] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    ctx.out.add(octets, ADDRESS_OCTETS, type);
}

bool IPPacker::unpack(Data* rec, Context& ctx) const {
    std::string octets;
    if (!ctx.in.getString(octets) || octets.size() != ADDRESS_OCTETS) return false;
    unsigned int address = 0;
    for (unsigned char octet : octets)
        address = (address << 8) | octet;
    set(rec, address);
    return true;
}

snmp::ErrorStatus IPPacker::testValue(Context& ctx) const {
    if (ctx.in.getType() != type) return snmp::ErrorStatus::WRONG_TYPE;
    BerElement element;
    if (!ctx.in.peekElement(element)) return snmp::ErrorStatus::WRONG_ENCODING;
    return element.contentLength == ADDRESS_OCTETS ? snmp::ErrorStatus::NO_ERROR
                                                   : snmp::ErrorStatus::WRONG_LENGTH;
}

OID IPPacker::getAsKey(Data const* rec) const {
    const unsigned int address = get(rec);
    return OID({address >> 24, (address >> 16) & 0xff, (address >> 8) & 0xff, address & 0xff});
}

OID IPPacker::setFromKey(Data* rec, OID const& key) const {
    OID rest = key;
    OID fragment;
    uint32_t address = 0;
    if (!rest.popIP(fragment) || !fragment.asIP(address)) return OID();
    set(rec, address);
    return rest;
}
