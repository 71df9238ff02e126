// The content octets of INTEGER-like and OBJECT IDENTIFIER values (X.690
// 8.3, 8.19): the one encoder of them. OutStream writes its values with it,
// and code that fills a VariableBinding's value (trap makers, orla-cli)
// takes the same octets as a string. Inline: OutStream's hot path calls it
// for every value, and plug-ins use it without linking the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/snmp/oid.h"

namespace ber {

// Content octets of an integer: eight, and a leading zero octet for an
// unsigned 64-bit value with its top bit set.
inline constexpr size_t MAX_INTEGER_OCTETS = 9;

// Minimal two's complement (X.690 8.3.2), most significant octet first,
// into `out` (room for MAX_INTEGER_OCTETS); returns how many (1 to 8).
inline size_t encodeSigned(long long value, unsigned char* out) {
    unsigned char octets[MAX_INTEGER_OCTETS];
    size_t count = 0;
    do {
        octets[count++] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;  // arithmetic shift keeps the sign
    } while (!((value == 0 && (octets[count - 1] & 0x80) == 0) ||
               (value == -1 && (octets[count - 1] & 0x80) != 0)));
    for (size_t i = 0; i < count; ++i)
        out[i] = octets[count - 1 - i];
    return count;
}

// Minimal unsigned, with a leading zero octet when the top bit of the first
// would otherwise be set, so that the value is never read as negative: the
// form of Counter32, Gauge32, TimeTicks, Counter64 and Unsigned32. Returns
// how many octets (1 to 9).
inline size_t encodeUnsigned(unsigned long long value, unsigned char* out) {
    unsigned char octets[MAX_INTEGER_OCTETS];
    size_t count = 0;
    do {
        octets[count++] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    } while (value != 0);
    if (octets[count - 1] & 0x80) octets[count++] = 0;
    for (size_t i = 0; i < count; ++i)
        out[i] = octets[count - 1 - i];
    return count;
}

// X.690 8.19: the first two arcs share one sub-identifier, 40 * X + Y, and
// each sub-identifier is base 128, the high bit set on all its octets but
// the last. An OID of fewer than two arcs cannot be encoded (8.19.4): the
// empty OID goes out as 0.0 and a one-arc OID x as x.0.
inline uint64_t firstSubidentifier(const OID& oid) {
    return 40 * uint64_t(oid.size() > 0 ? oid[0] : 0) + (oid.size() > 1 ? oid[1] : 0);
}

inline size_t base128Length(uint64_t value) {
    size_t length = 1;
    while (value >>= 7)
        ++length;
    return length;
}

inline size_t oidContentLength(const OID& oid) {
    size_t length = base128Length(firstSubidentifier(oid));
    for (size_t i = 2; i < oid.size(); ++i)
        length += base128Length(oid[i]);
    return length;
}

// Writes exactly oidContentLength(oid) octets to `out`.
inline void encodeOid(const OID& oid, unsigned char* out) {
    // Each sub-identifier from its last octet backwards.
    size_t end = 0;
    auto writeSubidentifier = [&](uint64_t value) {
        end += base128Length(value);
        size_t at = end;
        out[--at] = static_cast<unsigned char>(value & 0x7f);
        while (value >>= 7)
            out[--at] = static_cast<unsigned char>(0x80 | (value & 0x7f));
    };
    writeSubidentifier(firstSubidentifier(oid));
    for (size_t i = 2; i < oid.size(); ++i)
        writeSubidentifier(oid[i]);
}

// The same octets as a binding's value (VariableBinding::value).
inline std::string integerContent(long long value) {
    unsigned char octets[MAX_INTEGER_OCTETS];
    return std::string(reinterpret_cast<const char*>(octets), encodeSigned(value, octets));
}
inline std::string unsignedContent(unsigned long long value) {
    unsigned char octets[MAX_INTEGER_OCTETS];
    return std::string(reinterpret_cast<const char*>(octets), encodeUnsigned(value, octets));
}
inline std::string oidContent(const OID& oid) {
    std::string octets(oidContentLength(oid), '\0');
    encodeOid(oid, reinterpret_cast<unsigned char*>(octets.data()));
    return octets;
}

}  // namespace ber
