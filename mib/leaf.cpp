#include "mib/leaf.h"

snmp::ErrorStatus Leaf::testSet(Context&) {
    return snmp::ErrorStatus::NO_ERROR;
}

snmp::ErrorStatus Leaf::commitSet(Context& ctx, std::string&) {
    return set(ctx) ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::NOT_WRITABLE;
}

bool Leaf::undoSet(Context&, std::string const&) {
    return false;
}
