// The SNMPv3 members of InStream: header decoding and the incoming-message
// checks of the user-based security model (RFC 3412 7.2, RFC 3414 3.2).
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "platform/snmp/ber_in.h"
#include "platform/snmp/usm.h"

namespace {

// RFC 3411: SnmpEngineID and SnmpAdminString user names are at most 32 octets.
constexpr size_t MAX_ENGINE_ID = 32;
constexpr size_t MAX_USER_NAME = 32;

// INTEGER (0..2147483647), the range of every integer in the v3 header.
bool readNonNegative(InStream& in, uint32_t& value) {
    if (in.getType() != ber::INTEGER) return false;
    int number = 0;
    if (!in.getInt(number) || number < 0) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

// Read into `value` itself, whose memory a long-lived stream reuses; on
// failure its content is unspecified (the caller drops the V3Info).
bool readOctets(InStream& in, std::string& value, size_t maxLength) {
    return in.getType() == ber::OCTET_STRING && in.getString(value) && value.size() <= maxLength;
}

// An OCTET STRING left where it is, for its position.
bool skipOctets(InStream& in, BerElement& element) {
    return in.getType() == ber::OCTET_STRING && in.getElement(element);
}

std::string flagsOctet(int level) {
    return std::string(1, static_cast<char>(usm::flagsForLevel(level)));
}

// RFC 3414 3.2 step 7a, for the authoritative engine.
bool inTimeWindow(uint32_t msgBoots, uint32_t msgTime, uint32_t boots, uint32_t now) {
    if (boots >= usm::MAX_ENGINE_BOOTS || msgBoots != boots) return false;
    const long long difference = static_cast<long long>(msgTime) - static_cast<long long>(now);
    return difference <= usm::TIME_WINDOW &&
           difference >= -static_cast<long long>(usm::TIME_WINDOW);
}

}  // namespace

bool InStream::enterContent(const BerElement& element) {
    if (depth_ >= ber::MAX_DEPTH) return false;
    ends_[depth_++] = element.endOffset();
    position_ = element.contentOffset;
    return true;
}

// Every failure here is a silent drop, counted (RFC 3412 7.2 steps 3-5).
bool InStream::readV3Info(MessageDrops& dropped) {
    hasV3Info_ = false;
    securityLevel = 0;
    const size_t startPosition = position_;
    const size_t startDepth = depth_;
    auto drop = [&](uint32_t& counter) {
        ++counter;
        position_ = startPosition;
        depth_ = startDepth;
        hasV3Info_ = false;
        return false;
    };
    auto fail = [&] { return drop(dropped.asnParseErrors); };
    if (depth_ == 0) return fail();
    V3Info& info = v3Info_;
    info.clear();
    hasV3Info_ = true;

    // RFC 3412 6: HeaderData, exactly four elements.
    if (getType() != ber::SEQUENCE || !enterSeq()) return fail();
    if (!readNonNegative(*this, info.msgID) || !readNonNegative(*this, info.msgMaxSize) ||
        !readOctets(*this, info.msgFlags, 1) || info.msgFlags.size() != 1 ||
        !readNonNegative(*this, info.msgSecurityModel) || !isSeqEnd())
        return fail();
    exitSeq();
    if (info.msgMaxSize < usm::MIN_MAX_SIZE) return fail();
    if (info.msgSecurityModel != usm::SECURITY_MODEL_USM)
        return drop(dropped.unknownSecurityModels);
    const unsigned char flags = static_cast<unsigned char>(info.msgFlags[0]);
    // RFC 3412 7.2 step 5: privacy without authentication is invalid.
    if ((flags & usm::FLAG_PRIV) && !(flags & usm::FLAG_AUTH)) return drop(dropped.invalidMessages);

    // RFC 3414 2.4: UsmSecurityParameters, a SEQUENCE filling an OCTET
    // STRING, read where it lies.
    BerElement wrapper;
    if (getType() != ber::OCTET_STRING || !peekElement(wrapper) || !enterContent(wrapper))
        return fail();
    BerElement sequence;
    if (!peekElement(sequence) || sequence.tag != ber::SEQUENCE ||
        sequence.endOffset() != wrapper.endOffset() || !enterSeq())
        return fail();
    BerElement authElement;
    if (!readOctets(*this, info.msgAuthoritativeEngineID, MAX_ENGINE_ID) ||
        !readNonNegative(*this, info.msgAuthoritativeEngineBoots) ||
        !readNonNegative(*this, info.msgAuthoritativeEngineTime) ||
        !readOctets(*this, info.msgUserName, MAX_USER_NAME) || !skipOctets(*this, authElement) ||
        !readOctets(*this, info.msgPrivacyParameters, wrapper.contentLength) || !isSeqEnd())
        return fail();
    exitSeq();
    exitSeq();

    // msgData closes the message: a plaintext ScopedPDU, or with the privacy
    // flag an encrypted one in an OCTET STRING.
    BerElement msgData;
    if (!peekElement(msgData) || msgData.endOffset() != limit()) return fail();
    if (msgData.tag != ((flags & usm::FLAG_PRIV) ? ber::OCTET_STRING : ber::SEQUENCE))
        return fail();

    v3Offsets_.authParameters = authElement.contentOffset;
    v3Offsets_.authLength = authElement.contentLength;
    v3Offsets_.msgData = position_;
    v3Offsets_.pduReadable = false;
    securityLevel = (flags & usm::FLAG_PRIV) ? 2 : (flags & usm::FLAG_AUTH) ? 1 : 0;
    return true;
}

bool InStream::digestMatches(const std::vector<unsigned char>& authKey, uint32_t authProtocol) {
    // RFC 3414 6.3.2 step 1, 7.3.2 step 1, RFC 7860 4.2.2 step 1: exactly
    // the protocol's MAC length.
    const size_t length = usm::macLength(authProtocol);
    if (length == 0 || v3Offsets_.authLength != length) return false;
    unsigned char* field = bytes_.data() + v3Offsets_.authParameters;
    unsigned char received[usm::MAX_MAC_LENGTH];
    std::copy(field, field + length, received);
    std::fill(field, field + length, 0);
    unsigned char mac[usm::MAX_MAC_LENGTH];
    const bool computed = usm::computeMac(authKey, authProtocol, bytes_.data(), bytes_.size(), mac);
    std::copy(received, received + length, field);
    return computed && CRYPTO_memcmp(mac, received, length) == 0;
}

bool InStream::decryptMsgData(const std::vector<unsigned char>& privKey, uint32_t privProtocol,
                              uint32_t msgBoots, uint32_t msgTime) {
    const std::string& salt = v3Info_.msgPrivacyParameters;
    // RFC 3414 8.3.2 step 1, RFC 3826 3.1.4.1: the salt is 8 octets.
    if (salt.size() != usm::SALT_LENGTH) return false;
    BerElement encrypted;
    if (!peekElement(encrypted) || encrypted.tag != ber::OCTET_STRING) return false;
    if (!usm::decryptScopedPdu(privProtocol, privKey, msgBoots, msgTime,
                               reinterpret_cast<const unsigned char*>(salt.data()),
                               bytes_.data() + encrypted.contentOffset, encrypted.contentLength))
        return false;
    // A wrong key decrypts to noise. The plaintext must hold a ScopedPDU that
    // starts with its two OCTET STRINGs. Whatever follows it is padding, whose
    // length and value are the sender's choice (RFC 3414 8.1.1.2, 8.3.2;
    // managers pad AES plaintexts too, and DES ones by a whole block). It
    // cannot reach past the plaintext: the OCTET STRING ends the message.
    const size_t position = position_;
    const size_t depth = depth_;
    position_ = encrypted.contentOffset;
    BerElement scopedPdu, octets;
    const bool decoded = peekElement(scopedPdu) && scopedPdu.tag == ber::SEQUENCE && enterSeq() &&
                         skipOctets(*this, octets) && skipOctets(*this, octets);
    position_ = position;
    depth_ = depth;
    if (!decoded) return false;

    // Put the plaintext in place of the OCTET STRING, the message's last element.
    const size_t oldEnd = encrypted.endOffset();
    const size_t length = scopedPdu.endOffset() - encrypted.contentOffset;
    std::memmove(bytes_.data() + encrypted.headerOffset, bytes_.data() + encrypted.contentOffset,
                 length);
    bytes_.resize(encrypted.headerOffset + length);
    for (size_t i = 0; i < depth_; ++i) {
        if (ends_[i] == oldEnd) ends_[i] = bytes_.size();
    }
    return true;
}

bool InStream::decryptAndCheckSignature(usm::Report& report,
                                        const std::vector<unsigned char>& authKey,
                                        uint32_t authProtocol,
                                        const std::vector<unsigned char>& privKey,
                                        uint32_t privProtocol, const V3ServerInfo& server) {
    V3Info* info = v3Info();
    if (info == nullptr || position_ != v3Offsets_.msgData) return false;
    const uint32_t msgBoots = info->msgAuthoritativeEngineBoots;
    const uint32_t msgTime = info->msgAuthoritativeEngineTime;
    const uint32_t now = usm::engineTime(server);
    const int level = securityLevel;
    int replyLevel = level;
    bool decrypt = level >= 2;

    // RFC 3414 3.2 steps 3 to 5 (found by the caller) come before the digest.
    if (report != usm::NO_REPORT) {
        replyLevel = 0;
        decrypt = false;
    } else if (level >= 1) {
        if (!digestMatches(authKey, authProtocol)) {
            // RFC 3414 3.2 step 6; no key held fails too.
            report = usm::WRONG_DIGEST;
            replyLevel = 0;
            decrypt = false;
        } else if (!inTimeWindow(msgBoots, msgTime, server.engineBoots, now)) {
            // RFC 3414 3.2 step 7b: the report is authenticated, not encrypted,
            // so the manager learns our boots and time from a trusted message.
            report = usm::NOT_IN_TIME_WINDOW;
            replyLevel = 1;
        }
    }
    // RFC 3414 3.2 step 8. After a time-window failure the message is
    // authentic, and decrypting it only gives the report its request id.
    if (decrypt && !decryptMsgData(privKey, privProtocol, msgBoots, msgTime) &&
        report == usm::NO_REPORT) {
        report = usm::DECRYPTION_ERROR;
        replyLevel = 0;
    }

    if (getType() == ber::SEQUENCE) {
        if (!enterSeq() || !readOctets(*this, info->contextEngineID, bytes_.size()) ||
            !readOctets(*this, info->contextName, bytes_.size()))
            return false;
        v3Offsets_.pduReadable = true;
    }

    // What the reply carries (RFC 3414 3.1 step 1b, RFC 3412 7.1 step 3).
    info->msgAuthoritativeEngineID = server.engineID;
    info->msgAuthoritativeEngineBoots = server.engineBoots;
    info->msgAuthoritativeEngineTime = now;
    info->msgFlags = flagsOctet(replyLevel);
    info->authProtocol = authProtocol;
    if (replyLevel < 2) info->msgPrivacyParameters.clear();
    if (report != usm::NO_REPORT) {
        info->contextEngineID = server.engineID;
        info->contextName.clear();
    }
    securityLevel = replyLevel;
    return true;
}

size_t InStream::v3ReplyLimit() const {
    size_t limit = ber::MAX_UDP_PAYLOAD;
    if (hasV3Info_) limit = std::min<size_t>(limit, v3Info_.msgMaxSize);
    if (securityLevel >= 2) limit -= usm::MAX_PRIVACY_EXPANSION;
    return limit;
}
