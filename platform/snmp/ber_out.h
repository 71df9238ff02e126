// OutStream: the BER (X.690) encoder of one outgoing SNMP message.
//
// The stream starts empty and its bytes are the datagram. Every element uses
// the shortest length form. startSeq writes the identifier and a one-octet
// length slot; endSeq fills it in, and only when the content has reached 128
// octets or more moves that content once to make room for the long form. So
// encoding stays linear in the message size (times the nesting depth).
// Tags are single identifier octets (low tag numbers, as SNMP uses).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/snmp/ber.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"
#include "platform/snmp/uber_stream.h"
#include "platform/snmp/usm.h"
#include "platform/snmp/v3_info.h"
#include "platform/snmp/varbind.h"

class OutStream : public UberStream {
  public:
    OutStream() = default;

    // SNMPv3: the message asks for a report on failure (RFC 3412 6.4: set in
    // the confirmed-class messages the sender originates, an InformRequest,
    // a discovery probe); writeV3Info sets the flag. Clear for replies.
    bool reportable = false;

    const unsigned char* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    const std::vector<unsigned char>& bytes() const { return bytes_; }
    // Number of constructed elements opened and not yet closed.
    size_t openSequences() const { return open_.size(); }
    // Makes room for `octets` octets and ber::MAX_DEPTH open elements, so a
    // message of that size is written without growing the buffers again.
    void reserve(size_t octets);
    // Empties the stream for the next message, as a new OutStream, keeping
    // its memory up to `keptOctets` (what reserve made room for, at least):
    // a long-lived stream then writes message after message without
    // allocating, and a rare large message leaves no large buffer behind.
    void reset(size_t keptOctets);

    // Opens a constructed element (SEQUENCE 0x30, a PDU tag).
    void startSeq(uint32_t tag);
    // Closes the innermost open element and fixes its length; false when none is open.
    bool endSeq();

    // Minimal two's complement (X.690 8.3). Two tags differ: IpAddress (0x40)
    // always gets the four octets of the value, most significant first; the
    // unsigned application types (0x41, 0x42, 0x43, 0x46, 0x47) take the
    // value as an unsigned 32-bit number, so a Gauge32 held as -1 goes out
    // as 4294967295.
    void add(int value, uint32_t tag);
    // Minimal unsigned: a leading zero octet when the top bit is set, so the
    // value is never read as negative. IpAddress (0x40) gets four octets.
    void add(unsigned int value, uint32_t tag);
    void add(unsigned long value, uint32_t tag);
    void add(unsigned long long value, uint32_t tag);
    // The octets of `value` as the content.
    void add(std::string_view value, uint32_t tag);
    void add(const unsigned char* bytes, unsigned int length, uint32_t tag);
    // An OID of fewer than two arcs cannot be encoded (X.690 8.19.4):
    // the empty OID goes out as 0.0 and a one-arc OID x as x.0.
    void addOID(const OID& oid, uint32_t tag = ber::OBJECT_IDENTIFIER);
    void addNull(uint32_t tag = ber::NULL_VALUE);

    // The error-status and error-index INTEGERs of the PDU being written. The
    // first call writes the INTEGER into the innermost open element (the PDU);
    // a later call while that element is still open replaces the value in
    // place, growing or shrinking it as the value needs. After that element
    // is closed, the next call starts a new PDU's INTEGER.
    void addErrorStatus(snmp::ErrorStatus status);
    void addErrorIndex(int index);

    // A binding SEQUENCE: the name, then a value with tag `type` and the
    // content octets `value`.
    void addVarBind(const VariableBinding& binding);

    // A mark is the current size; rewind(mark) drops everything written after
    // it, including elements opened after it. A mark stays valid while the
    // elements open when it was taken stay open, and the PDU integers written
    // before it keep their length.
    size_t mark() const { return bytes_.size(); }
    void rewind(size_t mark);

    // SNMPv3 (RFC 3412, RFC 3414), with securityLevel set beforehand and the
    // message SEQUENCE open with the version written:
    //
    // writeV3Info writes msgGlobalData (msgID; msgMaxSize = our own limit,
    // ber::MAX_UDP_PAYLOAD; msgFlags from securityLevel, and reportable as
    // the member says; security model 3) and
    // msgSecurityParameters (engine ID, boots, time, user name from `info`;
    // as the authentication placeholder at level >= 1 zero octets, as many
    // as info->authProtocol's MAC has; 8 octets for the salt at level 2),
    // then opens the scoped PDU and writes contextEngineID and contextName
    // into it. The PDU goes next. False, writing nothing, when `info` is
    // null or no message SEQUENCE is open; false too at level >= 1 with an
    // unknown info->authProtocol.
    bool writeV3Info(const V3Info* info);
    // Closes the scoped PDU once the PDU is closed; at level 2 puts a fresh
    // salt (usm::nextSalt) into msgPrivacyParameters, encrypts the scoped PDU
    // with the privacy key (usm::privacyKey) and the boots and time of
    // `info`, and replaces it by an OCTET STRING of the ciphertext. Afterwards exactly
    // the message SEQUENCE is open. False when not called in that state or
    // when encryption fails: the message is then unusable, do not send it.
    bool cryptPacket(const V3Info* info, const std::vector<unsigned char>& privKey,
                     uint32_t privProtocol);
    // Once the message is closed: at level >= 1 writes the truncated HMAC of
    // the whole message under the D key into the placeholder. False when no
    // message of writeV3Info is complete, the placeholder was sized for
    // another protocol or the key does not suit the protocol: the message is
    // then unusable, do not send it.
    bool signPacket(const V3Info* info, const std::vector<unsigned char>& authKey,
                    uint32_t authProtocol);

  private:
    struct OpenSeq {
        size_t lengthOffset;  // offset of the one-octet length slot
    };
    // A PDU integer written by addErrorStatus/addErrorIndex.
    struct PduInteger {
        size_t offset = 0;      // offset of its tag
        size_t ownerDepth = 0;  // open elements when it was written; closing the last ends it
        bool written = false;
    };

    void writeHeader(uint32_t tag, size_t length);
    void writeUnsigned(unsigned long long value, uint32_t tag);
    void writeSigned(long long value, uint32_t tag);
    void writeFourOctets(uint32_t value, uint32_t tag);
    void setPduInteger(PduInteger& slot, PduInteger& other, int value);

    std::vector<unsigned char> bytes_;
    std::vector<OpenSeq> open_;
    PduInteger errorStatus_;
    PduInteger errorIndex_;

    // Where writeV3Info put what cryptPacket and signPacket fill in later.
    struct V3Marks {
        bool written = false;
        int securityLevel = 0;   // the level msgFlags was written with
        size_t messageSlot = 0;  // length slot of the message SEQUENCE
        // msgAuthenticationParameters content, counted from the first content
        // octet of the message: closing the message may lengthen its header.
        size_t authFromMessageContent = 0;
        size_t authLength = 0;           // octets of the placeholder
        size_t salt = 0;                 // msgPrivacyParameters content
        size_t scopedPdu = 0;            // tag offset of the scoped PDU
        size_t openBeforeScopedPdu = 0;  // open elements around the scoped PDU
    } v3Marks_;
};
