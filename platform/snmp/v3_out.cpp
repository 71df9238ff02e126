// The SNMPv3 members of OutStream: header, encryption and signing of an
// outgoing message (RFC 3412 6, RFC 3414 2.4, 3.1).
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/snmp/ber_out.h"

bool OutStream::writeV3Info(const V3Info* info) {
    if (info == nullptr || open_.empty()) return false;
    const int level = securityLevel;
    const size_t authLength = level >= 1 ? usm::macLength(info->authProtocol) : 0;
    if (level >= 1 && authLength == 0) return false;
    v3Marks_ = {};
    const unsigned char flags = usm::flagsForLevel(level) | (reportable ? usm::FLAG_REPORTABLE : 0);

    // RFC 3412 6: HeaderData. msgID is INTEGER (0..2147483647).
    startSeq(ber::SEQUENCE);
    add(info->msgID & 0x7fffffffu, ber::INTEGER);
    add(static_cast<unsigned>(ber::MAX_UDP_PAYLOAD), ber::INTEGER);
    add(std::string_view(reinterpret_cast<const char*>(&flags), 1), ber::OCTET_STRING);
    add(usm::SECURITY_MODEL_USM, ber::INTEGER);
    endSeq();

    // RFC 3414 2.4: UsmSecurityParameters inside an OCTET STRING.
    startSeq(ber::OCTET_STRING);
    startSeq(ber::SEQUENCE);
    add(info->msgAuthoritativeEngineID, ber::OCTET_STRING);
    add(info->msgAuthoritativeEngineBoots, ber::INTEGER);
    add(info->msgAuthoritativeEngineTime, ber::INTEGER);
    add(info->msgUserName, ber::OCTET_STRING);
    const size_t saltLength = level >= 2 ? usm::SALT_LENGTH : 0;
    static constexpr char ZEROS[std::max(usm::MAX_MAC_LENGTH, usm::SALT_LENGTH)] = {};
    add(std::string_view(ZEROS, authLength), ber::OCTET_STRING);
    add(std::string_view(ZEROS, saltLength), ber::OCTET_STRING);
    endSeq();
    endSeq();
    // Closing may have lengthened headers in front, so count from the end:
    // the salt is last, the authentication parameters and a 2-octet header before it.
    const size_t saltOffset = bytes_.size() - saltLength;
    const size_t authOffset = saltOffset - 2 - authLength;

    v3Marks_.written = true;
    v3Marks_.securityLevel = level;
    v3Marks_.messageSlot = open_.back().lengthOffset;
    v3Marks_.authFromMessageContent = authOffset - (v3Marks_.messageSlot + 1);
    v3Marks_.authLength = authLength;
    v3Marks_.salt = saltOffset;
    v3Marks_.openBeforeScopedPdu = open_.size();
    v3Marks_.scopedPdu = bytes_.size();

    // RFC 3412 6: ScopedPDU; at level 2 cryptPacket encrypts it.
    startSeq(ber::SEQUENCE);
    add(info->contextEngineID, ber::OCTET_STRING);
    add(info->contextName, ber::OCTET_STRING);
    return true;
}

bool OutStream::cryptPacket(const V3Info* info, const std::vector<unsigned char>& privKey,
                            uint32_t privProtocol) {
    if (info == nullptr || !v3Marks_.written || open_.size() != v3Marks_.openBeforeScopedPdu + 1)
        return false;
    endSeq();
    if (v3Marks_.securityLevel < 2) return true;
    // RFC 3414 8.1.1.1, RFC 3826 3.1.2.1: a salt never used before under this key.
    unsigned char salt[usm::SALT_LENGTH];
    usm::nextSalt(privProtocol, info->msgAuthoritativeEngineBoots, salt);
    // Encrypted in place, padded first as the cipher needs; the OCTET STRING
    // header then goes in front (RFC 3414 2.4: encryptedPDU).
    const size_t start = v3Marks_.scopedPdu;
    bytes_.resize(start + usm::encryptedLength(privProtocol, bytes_.size() - start), 0);
    const size_t length = bytes_.size() - start;
    if (!usm::encryptScopedPdu(privProtocol, privKey, info->msgAuthoritativeEngineBoots,
                               info->msgAuthoritativeEngineTime, salt, bytes_.data() + start,
                               length))
        return false;
    std::copy(salt, salt + usm::SALT_LENGTH, bytes_.begin() + std::ptrdiff_t(v3Marks_.salt));
    const size_t end = bytes_.size();
    writeHeader(ber::OCTET_STRING, length);
    unsigned char header[2 + sizeof(size_t)];
    const size_t headerLength = bytes_.size() - end;
    std::copy(bytes_.begin() + std::ptrdiff_t(end), bytes_.end(), header);
    bytes_.resize(end);
    bytes_.insert(bytes_.begin() + std::ptrdiff_t(start), header, header + headerLength);
    return true;
}

bool OutStream::signPacket(const V3Info* info, const std::vector<unsigned char>& authKey,
                           uint32_t authProtocol) {
    if (info == nullptr || !v3Marks_.written || !open_.empty()) return false;
    if (v3Marks_.securityLevel < 1) return true;
    const size_t slot = v3Marks_.messageSlot;
    if (slot >= bytes_.size()) return false;
    const size_t lengthOctets = (bytes_[slot] & 0x80) ? (bytes_[slot] & 0x7f) : 0;
    const size_t auth = slot + 1 + lengthOctets + v3Marks_.authFromMessageContent;
    // The placeholder was sized for the protocol in the V3Info.
    const size_t length = v3Marks_.authLength;
    if (length != usm::macLength(authProtocol) || auth + length > bytes_.size()) return false;
    // RFC 3414 6.3.1 / 7.3.1: the code covers the message with the placeholder zeroed.
    unsigned char mac[usm::MAX_MAC_LENGTH];
    if (!usm::computeMac(authKey, authProtocol, bytes_.data(), bytes_.size(), mac)) return false;
    std::copy(mac, mac + length, bytes_.begin() + std::ptrdiff_t(auth));
    return true;
}
