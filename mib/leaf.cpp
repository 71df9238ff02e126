#include "mib/leaf.h"

snmp::ErrorStatus Leaf::testSet(Context&) {
    return snmp::ErrorStatus::NOT_WRITABLE;
}

snmp::ErrorStatus Leaf::commitSet(Context&, std::string&) {
    return snmp::ErrorStatus::NOT_WRITABLE;
}

bool Leaf::undoSet(Context&, std::string const&) {
    return false;
}

void Leaf::handParts(Ownership&) {}
