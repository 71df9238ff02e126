// Decoding walks over a received datagram, shared by the decoder tests and
// the fuzz target: the path the agent's dispatcher takes through a
// version 1/2c request, and a generic walk over every element.
#pragma once

#include <string>
#include <vector>

#include "platform/snmp/ber_in.h"

struct WalkedRequest {
    int version = -1;
    std::string community;
    uint32_t pduType = 0;
    int requestId = 0;
    int nonRepeaters = 0;
    int maxRepetitions = 0;
    std::vector<OID> names;
};

// Returns false where the dispatcher would drop the datagram.
inline bool walkRequest(InStream& in, WalkedRequest& request) {
    request.version = in.getVersion();
    if (request.version < 0 || request.version > 2) return false;
    if (!in.getString(request.community)) return false;
    request.pduType = in.getType();
    if (!in.enterSeq()) return false;
    if (!in.getInt(request.requestId) || !in.getInt(request.nonRepeaters) ||
        !in.getInt(request.maxRepetitions))
        return false;
    if (!in.enterSeq()) return false;
    while (!in.isSeqEnd()) {
        if (!in.enterSeq()) return false;
        OID name;
        if (!in.getOID(name)) return false;
        request.names.push_back(name);
        if (!in.exitSeq()) return false;
    }
    return in.exitSeq() && in.exitSeq();
}

// Reads every element it can; returns false at the first malformed one.
// Recursion is bounded by the stream's nesting limit.
inline bool walkElements(InStream& in, size_t& elements) {
    while (!in.isSeqEnd()) {
        BerElement element;
        if (!in.peekElement(element)) return false;
        ++elements;
        if (element.tag & ber::CONSTRUCTED) {
            if (!in.enterSeq() || !walkElements(in, elements) || !in.exitSeq()) return false;
            continue;
        }
        int number = 0;
        unsigned long long wide = 0;
        std::string octets;
        OID oid;
        if (in.getInt(number) || in.get64(wide) || in.getString(octets) || in.getOID(oid)) {
            continue;
        }
        if (!in.skip()) return false;
    }
    return true;
}
