// The AgentX protocol's PDUs (RFC 2741 6): their decoding from the bytes a
// subagent sends and their encoding for the master's replies and requests.
//
// Every byte from a subagent is hostile: decoding checks every length
// against the frame, bounds what a frame may hold (MAX_PAYLOAD, MAX_OID_ARCS,
// MAX_BINDINGS) and fails whole, never with a part of the frame taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/snmp/oid.h"

namespace agentx {

// RFC 2741 6.1: h.type.
enum class PduType : uint8_t {
    Open = 1,
    Close = 2,
    Register = 3,
    Unregister = 4,
    Get = 5,
    GetNext = 6,
    GetBulk = 7,
    TestSet = 8,
    CommitSet = 9,
    UndoSet = 10,
    CleanupSet = 11,
    Notify = 12,
    Ping = 13,
    IndexAllocate = 14,
    IndexDeallocate = 15,
    AddAgentCaps = 16,
    RemoveAgentCaps = 17,
    Response = 18,
};

// RFC 2741 6.1: h.flags.
inline constexpr uint8_t FLAG_INSTANCE_REGISTRATION = 0x01;
inline constexpr uint8_t FLAG_NEW_INDEX = 0x02;
inline constexpr uint8_t FLAG_ANY_INDEX = 0x04;
inline constexpr uint8_t FLAG_NON_DEFAULT_CONTEXT = 0x08;
inline constexpr uint8_t FLAG_NETWORK_BYTE_ORDER = 0x10;

inline constexpr uint8_t VERSION = 1;
inline constexpr size_t HEADER_SIZE = 20;
// The largest payload accepted: a subagent's reply to a GetBulk of the
// largest SNMP message fits, and a connection never buffers more than this.
inline constexpr uint32_t MAX_PAYLOAD = 65536;
// RFC 2741 5.1: at most 128 sub-identifiers.
inline constexpr size_t MAX_OID_ARCS = 128;
inline constexpr size_t MAX_BINDINGS = 1024;

// RFC 2741 5.4: v.type, which are the BER tags of the same types.
enum class ValueType : uint16_t {
    Integer = 2,
    OctetString = 4,
    Null = 5,
    ObjectIdentifier = 6,
    IpAddress = 64,
    Counter32 = 65,
    Gauge32 = 66,
    TimeTicks = 67,
    Opaque = 68,
    Counter64 = 70,
    NoSuchObject = 128,
    NoSuchInstance = 129,
    EndOfMibView = 130,
};

// RFC 2741 6.2.16: res.error beyond the SNMP error statuses.
enum class ResponseError : uint16_t {
    NoError = 0,
    GenErr = 5,
    OpenFailed = 256,
    NotOpen = 257,
    IndexWrongType = 258,
    IndexAlreadyAllocated = 259,
    IndexNoneAvailable = 260,
    IndexNotAllocated = 261,
    UnsupportedContext = 262,
    DuplicateRegistration = 263,
    UnknownRegistration = 264,
    UnknownAgentCaps = 265,
    ParseError = 266,
    RequestDenied = 267,
    ProcessingError = 268,
};

// RFC 2741 6.2.2: close reasons.
enum class CloseReason : uint8_t {
    Other = 1,
    ParseError = 2,
    ProtocolError = 3,
    Timeouts = 4,
    Shutdown = 5,
    ByManager = 6,
};

struct Header {
    uint8_t version = VERSION;
    PduType type = PduType::Response;
    uint8_t flags = FLAG_NETWORK_BYTE_ORDER;
    uint32_t sessionID = 0;
    uint32_t transactionID = 0;
    uint32_t packetID = 0;
    uint32_t payloadLength = 0;
};

struct VarBind {
    ValueType type = ValueType::Null;
    OID name;
    // Integer (as its 32 bits), Counter32, Gauge32, TimeTicks, Counter64.
    uint64_t number = 0;
    // OctetString, IpAddress (four octets), Opaque.
    std::string octets;
    OID oid;  // ObjectIdentifier
};

// RFC 2741 5.2: the names after `start` (from it when `include`) and
// before `end` (none when empty).
struct SearchRange {
    OID start;
    bool include = false;
    OID end;
};

// A decoded PDU: the header and the fields of its type (the others empty).
struct Pdu {
    Header header;
    std::string context;  // when FLAG_NON_DEFAULT_CONTEXT
    // Open, Register (o.timeout, r.timeout); Close (c.reason).
    uint8_t timeout = 0;
    uint8_t reason = 0;
    // Register, Unregister.
    uint8_t priority = 0;
    uint8_t rangeSubid = 0;
    uint32_t upperBound = 0;
    OID subtree;
    // Open, AddAgentCaps, RemoveAgentCaps: the identifier and description.
    OID id;
    std::string description;
    // Get, GetNext, GetBulk.
    std::vector<SearchRange> ranges;
    uint16_t nonRepeaters = 0;
    uint16_t maxRepetitions = 0;
    // TestSet, Notify, IndexAllocate, IndexDeallocate, Response.
    std::vector<VarBind> bindings;
    // Response.
    uint32_t sysUpTime = 0;
    uint16_t error = 0;
    uint16_t index = 0;
};

// Why a frame did not decode.
enum class DecodeError {
    None,
    Truncated,     // the bytes end before the frame or one of its fields
    BadVersion,    // h.version is not 1
    BadType,       // h.type names no PDU
    BadLength,     // payload longer than MAX_PAYLOAD, not a multiple of 4, or not used whole
    BadOid,        // more than MAX_OID_ARCS sub-identifiers, or a malformed range
    BadValueType,  // a binding of no known type
    TooMany,       // more than MAX_BINDINGS bindings or search ranges
};

// The header at the front of `bytes`, when HEADER_SIZE octets are there and
// it is one the master takes (version, type, a payload length within
// bounds); the payload may not have come yet.
std::optional<Header> readHeader(std::span<const uint8_t> bytes, DecodeError& error);

// Decodes the frame at the front of `bytes` (its header says how long it
// is) into `pdu`; `used` is its length. On failure `pdu` is left in an
// unspecified state and nothing is used.
DecodeError decode(std::span<const uint8_t> bytes, Pdu& pdu, size_t& used);

// Appends the frame of `pdu` to `out`, in network byte order or not as its
// header's flags say; the payload length is worked out.
void encode(const Pdu& pdu, std::vector<uint8_t>& out);

}  // namespace agentx
