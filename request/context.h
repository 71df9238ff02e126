// Context: the state of one SNMP message while the agent answers it (or of
// one trap while it is built), and the error outcomes that leaves apply to it.
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
    // Set to 1 by PathNotExists::apply.
    uint32_t notFound = 0;
    // The second and third INTEGER of the PDU header as received:
    // error-status and error-index, or in a GetBulk non-repeaters and
    // max-repetitions (RFC 3416 4.2.3).
    int32_t nonRepeaters = 0;
    int32_t maxRepetitions = 0;
    // Which of v3counters an SNMPv3 Report PDU carries (0 to 5).
    int32_t reportIndex = 0;

    // The SNMPv3 statistics counters, one per report reason (RFC 3414 usmStats).
    static uint32_t v3counters[6];
};

// A request handler serves one variable binding (see request/get_set.h and
// request/get_next.h). On entry `oid` holds the requested name, `in` stands at
// the binding's value and a binding SEQUENCE is open in `out`. It returns 0
// after writing the reply binding's name and value into that SEQUENCE, or the
// SNMP error status of the request after writing nothing.
using RequestHandler = unsigned (*)(Context&);

// Error outcomes: each `apply` stamps an SNMP error status into the reply
// being built in Context::out. None of them touches the error-index.
class AccessError {
  public:
    // Nothing: the base outcome leaves the reply as it is.
    virtual void apply(Context& ctx) const;
    virtual ~AccessError() = default;
};

// noSuchName (2); also sets Context::notFound.
class PathNotExists : public AccessError {
  public:
    void apply(Context& ctx) const override;
};

// genErr (5).
class MiscError : public AccessError {
  public:
    void apply(Context& ctx) const override;
};

// genErr (5), for a name that the leaf cannot interpret.
class InvalidOID : public AccessError {
  public:
    void apply(Context& ctx) const override;
};
