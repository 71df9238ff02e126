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
#include "platform/snmp/v3_info.h"
#include "platform/snmp/v3_server_info.h"

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
    // Starts over on a new message, as InStream(bytes, length) would, keeping
    // the memory of the last one: a long-lived stream then reads message
    // after message without allocating. Memory beyond what a message of
    // KEPT_OCTETS needs is released.
    void reset(const unsigned char* bytes, size_t length);
    static constexpr size_t KEPT_OCTETS = 2048;

    // Enters the message SEQUENCE and reads the INTEGER version. Returns the
    // version, or -1 when the data is not a SEQUENCE spanning exactly the
    // whole datagram, or its first element is not an INTEGER version >= 0.
    int getVersion();

    // Tag of the next element without consuming it; 0 at the end of the
    // readable range or on a high-tag-number identifier (never a valid tag here).
    uint32_t getType() const {
        if (position_ >= limit()) return 0;
        const unsigned char identifier = bytes_[position_];
        return (identifier & ber::HIGH_TAG_NUMBER) == ber::HIGH_TAG_NUMBER ? 0 : identifier;
    }
    // Enters the next element, which must be constructed (any tag with bit
    // 0x20: SEQUENCE, a PDU). False at the depth limit or on a bad header.
    bool enterSeq();
    // Skips the rest of the innermost entered element and leaves it. False
    // when no element is entered.
    bool exitSeq();
    // True at the end of the data or of the innermost entered element.
    bool isSeqEnd() const { return position_ >= limit(); }

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

    // SNMPv3 (RFC 3412, RFC 3414). After getVersion() returned 3:
    //
    // readV3Info decodes msgGlobalData and msgSecurityParameters strictly
    // into a V3Info owned by this stream and sets securityLevel from msgFlags.
    // False (drop the message), counted in `dropped`, when they are not well
    // formed, msgFlags is not one octet, msgMaxSize is outside 484..2^31-1,
    // or msgData, which must be the last element of the message, is not a
    // plaintext scoped PDU (SEQUENCE) without the privacy flag or an OCTET
    // STRING with it (asnParseErrors); when msgSecurityModel is not 3
    // (unknownSecurityModels); when privacy is asked without authentication
    // (invalidMessages). The stream is then left at msgData.
    bool readV3Info(MessageDrops& dropped);

    // RFC 3414 3.2 steps 6 to 8, after the caller's steps 3 to 5 (engine ID,
    // user, security level), with the user's keys (a D key and a privacy key, see
    // platform/snmp/usm.h; empty when the user is unknown):
    //   a report already set by the caller       -> no key is used
    //   level >= 1, digest wrong or no usable key -> WRONG_DIGEST
    //   level >= 1, outside the time window       -> NOT_IN_TIME_WINDOW
    //   level 2, cannot decrypt or no usable key  -> DECRYPTION_ERROR
    //
    // Then, when the scoped PDU is in plaintext, it is entered and
    // contextEngineID and contextName are read into the V3Info, leaving the
    // stream at the PDU. When a report stops the checks before decryption, or
    // decryption fails, the stream stays at the encrypted OCTET STRING: the
    // PDU cannot be read. With NOT_IN_TIME_WINDOW the authenticated message is
    // still decrypted, so its request id can go into the report.
    //
    // Afterwards the V3Info holds what the reply carries: the agent's engine
    // ID, engineBoots and engine time (usm::engineTime); for a report also
    // contextEngineID = the agent's engine ID and an empty contextName
    // (RFC 3412 7.1 step 3). securityLevel (and msgFlags) become the level
    // the reply must go out with: the request's level when all checks pass,
    // 1 for a not-in-time-window report, 0 for every other report. So no
    // report is ever authenticated for a message whose digest did not verify.
    // Set the output stream's securityLevel from it.
    //
    // False only when the message is to be dropped: no readV3Info before, or
    // the scoped PDU (plaintext, or decrypted with a good key) does not
    // decode as SEQUENCE { OCTET STRING, OCTET STRING, ... }.
    bool decryptAndCheckSignature(usm::Report& report, const std::vector<unsigned char>& authKey,
                                  uint32_t authProtocol, const std::vector<unsigned char>& privKey,
                                  uint32_t privProtocol, const V3ServerInfo& server);

    // After decryptAndCheckSignature: whether the stream stands at the PDU
    // (false while the scoped PDU stayed encrypted).
    bool v3PduReadable() const { return v3Offsets_.pduReadable; }

    // The V3Info of readV3Info; null before it, or when it failed.
    V3Info* v3Info() { return hasV3Info_ ? &v3Info_ : nullptr; }
    const V3Info* v3Info() const { return hasV3Info_ ? &v3Info_ : nullptr; }

    // Largest reply message (octets) the requester accepts: msgMaxSize, at
    // most ber::MAX_UDP_PAYLOAD, less usm::MAX_PRIVACY_EXPANSION when the
    // reply is encrypted (securityLevel 2). Measure the reply with its scoped
    // PDU in plaintext, before cryptPacket. MAX_UDP_PAYLOAD without a V3Info.
    size_t v3ReplyLimit() const;

  private:
    size_t limit() const { return depth_ == 0 ? bytes_.size() : ends_[depth_ - 1]; }
    bool readHeader(size_t at, BerElement& element) const;
    bool readUnsigned(const BerElement& element, size_t maxOctets, unsigned long long& value) const;
    // RFC 3414 3.2 step 6: the HMAC of the message with its code zeroed.
    bool digestMatches(const std::vector<unsigned char>& authKey, uint32_t authProtocol);
    // RFC 3414 3.2 step 8: decrypts the encryptedPDU at the read position in
    // place and puts the scoped PDU where the OCTET STRING began. False on
    // failure: the OCTET STRING stays, its content noise.
    bool decryptMsgData(const std::vector<unsigned char>& privKey, uint32_t privProtocol,
                        uint32_t msgBoots, uint32_t msgTime);

    std::vector<unsigned char> bytes_;
    size_t position_ = 0;
    size_t depth_ = 0;
    std::array<size_t, ber::MAX_DEPTH> ends_{};  // end offset of each entered element

    // Narrows the readable range to the content of `element`, which lies
    // within it, as enterSeq does for a constructed one (an OCTET STRING
    // that wraps BER, RFC 3414 2.4). False at the depth limit.
    bool enterContent(const BerElement& element);

    // A member rather than a heap object, its strings reused from message
    // to message: no allocation per message.
    V3Info v3Info_;
    bool hasV3Info_ = false;
    // Offsets into bytes_ that readV3Info found, for decryptAndCheckSignature.
    struct V3Offsets {
        size_t authParameters = 0;  // content of msgAuthenticationParameters
        size_t authLength = 0;      // its length
        size_t msgData = 0;         // header of the scoped PDU or encryptedPDU
        bool pduReadable = false;
    } v3Offsets_;
};
