// InStream: a strict BER (X.690) decoder over one received SNMP message.
//
// The stream copies the bytes it is built over. Reading walks forward through
// the elements; enterSeq narrows the readable range to the content of a
// constructed element and exitSeq restores the enclosing range, so no read
// ever passes the end of the innermost entered element or of the data.
// Only definite lengths are accepted (short form, or long form with 1 to
// ber::MAX_LENGTH_OCTETS length octets) and only single-octet tags; at most
// ber::MAX_DEPTH elements are entered at once.
//
// Every read returns false on failure and then consumes nothing: a value of
// the wrong type or a malformed value stays where it is, so the caller may
// try another reader or skip() it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/snmp/ber.h"
#include "platform/snmp/oid.h"
#include "platform/snmp/uber_stream.h"

// Position of one element in the stream's bytes.
struct BerElement {
    uint32_t tag = 0;
    size_t headerOffset = 0;   // offset of the identifier octet
    size_t contentOffset = 0;  // offset of the first content octet
    size_t contentLength = 0;
    size_t endOffset() const { return contentOffset + contentLength; }
};

class InStream : public UberStream {
  public:
    InStream() = default;
    InStream(const unsigned char* bytes, size_t length);

    // Enters the message SEQUENCE and reads the INTEGER version. Returns the
    // version, or -1 when the data is not a SEQUENCE spanning exactly the
    // whole datagram, or its first element is not an INTEGER version >= 0.
    int getVersion();

    // Tag of the next element without consuming it; 0 at the end of the
    // readable range or on a high-tag-number identifier (never a valid tag here).
    uint32_t getType() const;
    // Enters the next element, which must be constructed (any tag with bit
    // 0x20: SEQUENCE, a PDU). False at the depth limit or on a bad header.
    bool enterSeq();
    // Skips the rest of the innermost entered element and leaves it. False
    // when no element is entered.
    bool exitSeq();
    // True at the end of the data or of the innermost entered element.
    bool isSeqEnd() const;

    // INTEGER (tag 2): 1 to 4 content octets, two's complement.
    // Counter32, Gauge32, TimeTicks, UInteger32 (0x41, 0x42, 0x43, 0x47): a
    // non-negative value below 2^32 in 1 to 5 octets (5 only with a leading
    // zero); values above 2^31 - 1 are returned as their two's-complement int.
    // Content octets must be minimal (X.690 8.3.2).
    bool getInt(int& value);
    // Counter64 (0x46): a non-negative value below 2^64 in 1 to 9 octets; also
    // the 32-bit unsigned types as in getInt, and a non-negative INTEGER.
    bool get64(unsigned long long& value);
    // OCTET STRING (4), or IpAddress (0x40) of exactly four octets.
    bool getString(std::string& value);
    // OBJECT IDENTIFIER (6): at least one sub-identifier, each minimal and at
    // most 2^32 - 1, the last one terminated, at most ber::MAX_OID_ARCS arcs.
    // The first sub-identifier gives two arcs (X.690 8.19.4).
    bool getOID(OID& value);

    // Generic access, for skipping unknown values and for message security.
    // Reads the header of the next element (checked against the readable
    // range) without consuming it.
    bool peekElement(BerElement& element) const;
    // The same, then steps over the whole element.
    bool getElement(BerElement& element);
    // Steps over the next element whatever its type.
    bool skip();

    const unsigned char* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    size_t position() const { return position_; }
    // Number of elements currently entered.
    size_t depth() const { return depth_; }

    // The SNMPv3 header (V3Info) that readV3Info decodes is owned here too.

  private:
    size_t limit() const { return depth_ == 0 ? bytes_.size() : ends_[depth_ - 1]; }
    bool readHeader(size_t at, BerElement& element) const;
    bool readUnsigned(const BerElement& element, size_t maxOctets, unsigned long long& value) const;

    std::vector<unsigned char> bytes_;
    size_t position_ = 0;
    size_t depth_ = 0;
    std::array<size_t, ber::MAX_DEPTH> ends_{};  // end offset of each entered element
};
