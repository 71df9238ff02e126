// Context: the state of one SNMP message while the agent answers it (or of
// one trap while it is built).
//
// Part of the programming interface of MIB plug-ins: every member is open,
// and leaves read and write them as mib/leaf.h describes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/oid.h"

class Context {
  public:
    // `in` copies the `len` bytes at `buf`, so the caller may reuse its buffer
    // at once. Context(nullptr, 0) is a context with nothing to read (traps).
    Context(unsigned char* buf, unsigned int len);
    // Makes this the context of a new message, as Context(buf, len) would,
    // keeping the memory of the last one (so a long-lived context serves
    // message after message without allocating).
    void reset(const unsigned char* buf, unsigned int len);

    // The name of the binding being served. Get and GetNext replace it by the
    // instance part below the matched object; Set leaves the requested name.
    OID oid;
    // Set only: the requested name shortened to the registered object's OID,
    // and the arcs removed from it (the instance index below that object).
    OID setPrefix;
    OID setSuffix;
    // Get and GetNext: the matched object's OID, which the answering leaf
    // extends to the full name of the instance it answers. Empty in a Set.
    OID name;
    // Community name (SNMPv1, SNMPv2c) or user name (SNMPv3) of the request.
    std::string community;
    InStream in;
    OutStream out;
    // The second and third INTEGER of the PDU header as received:
    // error-status and error-index, or in a GetBulk non-repeaters and
    // max-repetitions (RFC 3416 4.2.3).
    int32_t nonRepeaters = 0;
    int32_t maxRepetitions = 0;
};
