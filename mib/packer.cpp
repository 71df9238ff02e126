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
