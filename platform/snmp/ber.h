// BER (X.690) tags and limits shared by the SNMP encoder and decoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ber {

// Universal types (X.690 8).
inline constexpr uint32_t INTEGER = 0x02;
inline constexpr uint32_t OCTET_STRING = 0x04;
inline constexpr uint32_t NULL_VALUE = 0x05;
inline constexpr uint32_t OBJECT_IDENTIFIER = 0x06;
inline constexpr uint32_t SEQUENCE = 0x30;

// SNMP application types (RFC 2578, RFC 1155).
inline constexpr uint32_t IP_ADDRESS = 0x40;
inline constexpr uint32_t COUNTER32 = 0x41;
inline constexpr uint32_t GAUGE32 = 0x42;
inline constexpr uint32_t TIMETICKS = 0x43;
inline constexpr uint32_t OPAQUE = 0x44;
inline constexpr uint32_t COUNTER64 = 0x46;
inline constexpr uint32_t UINTEGER32 = 0x47;

// The exception values of SNMPv2 responses (RFC 3416 3): context-specific
// primitive tags with empty content, in place of a binding's value.
inline constexpr uint32_t NO_SUCH_OBJECT = 0x80;
inline constexpr uint32_t NO_SUCH_INSTANCE = 0x81;
inline constexpr uint32_t END_OF_MIB_VIEW = 0x82;

// PDU types (RFC 1157, RFC 3416).
inline constexpr uint32_t GET_REQUEST = 0xa0;
inline constexpr uint32_t GET_NEXT_REQUEST = 0xa1;
inline constexpr uint32_t RESPONSE = 0xa2;
inline constexpr uint32_t SET_REQUEST = 0xa3;
inline constexpr uint32_t TRAP_V1 = 0xa4;
inline constexpr uint32_t GET_BULK_REQUEST = 0xa5;
inline constexpr uint32_t INFORM_REQUEST = 0xa6;
inline constexpr uint32_t TRAP_V2 = 0xa7;
inline constexpr uint32_t REPORT = 0xa8;

// X.690 8.1.2.5: bit 6 of the identifier octet marks a constructed encoding.
inline constexpr uint32_t CONSTRUCTED = 0x20;
// Low five bits all set: a high-tag-number identifier (X.690 8.1.2.4).
inline constexpr unsigned char HIGH_TAG_NUMBER = 0x1f;

// RFC 2578 3.5: an OBJECT IDENTIFIER has at most 128 sub-identifiers.
inline constexpr size_t MAX_OID_ARCS = 128;
// Constructed elements the decoder enters at once. An SNMPv3 message nests
// six deep (message, scoped PDU, PDU, binding list, binding); the rest is slack.
inline constexpr size_t MAX_DEPTH = 16;
// Long-form length octets the decoder accepts (lengths up to 2^32 - 1).
inline constexpr size_t MAX_LENGTH_OCTETS = 4;
// Largest UDP payload over IPv4: the upper bound of any SNMP message we send.
inline constexpr size_t MAX_UDP_PAYLOAD = 65507;

// True for the application types whose value is an unsigned integer.
constexpr bool isUnsignedType(uint32_t tag) {
    return tag == COUNTER32 || tag == GAUGE32 || tag == TIMETICKS || tag == COUNTER64 ||
           tag == UINTEGER32;
}

}  // namespace ber

namespace snmp {

// msgVersion (RFC 1157 4, RFC 1901 3, RFC 3412 6).
inline constexpr int VERSION_1 = 0;
inline constexpr int VERSION_2C = 1;
inline constexpr int VERSION_3 = 3;

}  // namespace snmp
