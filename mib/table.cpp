#include "mib/table.h"

bool TableProvider::getCountCMD(unsigned&) {
    return false;
}

bool Table::acceptsWrites(OID const&) {
    return true;
}

bool Table::commit(OID const& index, Data* rec) {
    set(index, rec);
    return true;
}
