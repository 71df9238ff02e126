#include "mib/packer.h"

#include <iostream>

OID Packer::getAsKey(Data const*) const {
    std::cerr << "BUG: Packer::getAsKey called" << std::endl;
    return OID();
}

OID Packer::setFromKey(Data*, OID const&) const {
    std::cerr << "BUG: Packer::setFromKey called" << std::endl;
    return OID();
}

snmp::ErrorStatus Packer::testValue(Context& ctx) const {
    return ctx.in.getType() == type ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::WRONG_TYPE;
}

std::string Packer::saveValue(Data const* rec) const {
    Context scratch(nullptr, 0);
    pack(scratch, rec);
    return std::string(reinterpret_cast<const char*>(scratch.out.data()), scratch.out.size());
}

bool Packer::restoreValue(Data* rec, std::string const& saved) const {
    std::string encoded = saved;  // a Context reads from a buffer of its own
    Context scratch(reinterpret_cast<unsigned char*>(encoded.data()),
                    static_cast<unsigned int>(encoded.size()));
    return unpack(rec, scratch);
}
