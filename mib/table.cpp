#include "mib/table.h"

bool TableProvider::getCountCMD(unsigned&) {
    return false;
}

bool Table::acceptsWrites(OID const&) {
    return true;
}

void Table::handParts(Ownership&) {}
