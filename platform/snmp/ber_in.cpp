#include "platform/snmp/ber_in.h"

#include <climits>

InStream::InStream(const unsigned char* bytes, size_t length) {
    if (bytes != nullptr && length > 0) bytes_.assign(bytes, bytes + length);
}

void InStream::reset(const unsigned char* bytes, size_t length) {
    if (bytes == nullptr) length = 0;
    if (bytes_.capacity() > KEPT_OCTETS && length <= KEPT_OCTETS) {
        std::vector<unsigned char>().swap(bytes_);
        bytes_.reserve(KEPT_OCTETS);
    }
    bytes_.assign(bytes, bytes + length);
    securityLevel = 0;
    position_ = 0;
    depth_ = 0;
    hasV3Info_ = false;
    v3Offsets_ = {};
}

bool InStream::readHeader(size_t at, BerElement& element) const {
    const size_t end = limit();
    if (at >= end) return false;
    const unsigned char identifier = bytes_[at];
    if ((identifier & ber::HIGH_TAG_NUMBER) == ber::HIGH_TAG_NUMBER) return false;
    size_t cursor = at + 1;
    if (cursor >= end) return false;
    const unsigned char first = bytes_[cursor++];
    size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else {
        // X.690 8.1.3.6: 0x80 is the indefinite form; 8.1.3.5: 0xff is reserved.
        const size_t octets = first & 0x7f;
        if (octets == 0 || octets > ber::MAX_LENGTH_OCTETS) return false;
        if (octets > end - cursor) return false;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | bytes_[cursor++];
    }
    if (length > end - cursor) return false;
    element.tag = identifier;
    element.headerOffset = at;
    element.contentOffset = cursor;
    element.contentLength = length;
    return true;
}

bool InStream::peekElement(BerElement& element) const {
    return readHeader(position_, element);
}

bool InStream::getElement(BerElement& element) {
    if (!readHeader(position_, element)) return false;
    position_ = element.endOffset();
    return true;
}

bool InStream::skip() {
    BerElement element;
    return getElement(element);
}

bool InStream::enterSeq() {
    if (depth_ >= ber::MAX_DEPTH) return false;
    BerElement element;
    if (!readHeader(position_, element)) return false;
    if ((element.tag & ber::CONSTRUCTED) == 0) return false;
    ends_[depth_++] = element.endOffset();
    position_ = element.contentOffset;
    return true;
}

bool InStream::exitSeq() {
    if (depth_ == 0) return false;
    position_ = ends_[--depth_];
    return true;
}

int InStream::getVersion() {
    BerElement message;
    if (!readHeader(position_, message) || message.tag != ber::SEQUENCE) return -1;
    // RFC 3417 2: one message per datagram, nothing after it.
    if (depth_ == 0 && message.endOffset() != bytes_.size()) return -1;
    if (!enterSeq()) return -1;
    if (getType() != ber::INTEGER) return -1;
    int version = -1;
    if (!getInt(version) || version < 0) return -1;
    return version;
}

// Reads a non-negative integer of at most maxOctets content octets, in which
// only a leading zero may make room for a set top bit (X.690 8.3.2, 8.3.3).
bool InStream::readUnsigned(const BerElement& element, size_t maxOctets,
                            unsigned long long& value) const {
    const size_t length = element.contentLength;
    if (length == 0 || length > maxOctets) return false;
    const unsigned char* content = bytes_.data() + element.contentOffset;
    if (content[0] & 0x80) return false;                                          // negative
    if (length > 1 && content[0] == 0 && (content[1] & 0x80) == 0) return false;  // not minimal
    if (length == maxOctets && content[0] != 0) return false;
    unsigned long long result = 0;
    for (size_t i = 0; i < length; ++i)
        result = (result << 8) | content[i];
    value = result;
    return true;
}

bool InStream::getInt(int& value) {
    BerElement element;
    if (!readHeader(position_, element)) return false;
    if (element.tag == ber::INTEGER) {
        const size_t length = element.contentLength;
        if (length == 0 || length > 4) return false;
        const unsigned char* content = bytes_.data() + element.contentOffset;
        if (length > 1 && ((content[0] == 0 && (content[1] & 0x80) == 0) ||
                           (content[0] == 0xff && (content[1] & 0x80) != 0)))
            return false;  // X.690 8.3.2: not minimal
        uint32_t bits = (content[0] & 0x80) ? UINT32_MAX : 0;
        for (size_t i = 0; i < length; ++i)
            bits = (bits << 8) | content[i];
        value = int(bits);
    } else if (ber::isUnsignedType(element.tag) && element.tag != ber::COUNTER64) {
        unsigned long long number = 0;
        if (!readUnsigned(element, 5, number)) return false;
        value = int(uint32_t(number));
    } else {
        return false;
    }
    position_ = element.endOffset();
    return true;
}

bool InStream::get64(unsigned long long& value) {
    BerElement element;
    if (!readHeader(position_, element)) return false;
    unsigned long long number = 0;
    if (element.tag == ber::COUNTER64) {
        if (!readUnsigned(element, 9, number)) return false;
    } else if (element.tag == ber::INTEGER) {
        if (!readUnsigned(element, 4, number)) return false;
    } else if (ber::isUnsignedType(element.tag)) {
        if (!readUnsigned(element, 5, number)) return false;
    } else {
        return false;
    }
    value = number;
    position_ = element.endOffset();
    return true;
}

bool InStream::getString(std::string& value) {
    BerElement element;
    if (!readHeader(position_, element)) return false;
    if (element.tag == ber::IP_ADDRESS) {
        if (element.contentLength != 4) return false;
    } else if (element.tag != ber::OCTET_STRING) {
        return false;
    }
    value.assign(reinterpret_cast<const char*>(bytes_.data() + element.contentOffset),
                 element.contentLength);
    position_ = element.endOffset();
    return true;
}

bool InStream::getOID(OID& value) {
    BerElement element;
    if (!readHeader(position_, element)) return false;
    if (element.tag != ber::OBJECT_IDENTIFIER || element.contentLength == 0) return false;
    const unsigned char* content = bytes_.data() + element.contentOffset;
    const size_t length = element.contentLength;
    uint32_t arcs[ber::MAX_OID_ARCS];
    size_t count = 0;
    uint64_t subidentifier = 0;
    bool inSubidentifier = false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char octet = content[i];
        if (!inSubidentifier && octet == 0x80) return false;  // X.690 8.19.2: not minimal
        subidentifier = (subidentifier << 7) | (octet & 0x7f);
        if (subidentifier > UINT32_MAX) return false;
        inSubidentifier = true;
        if (octet & 0x80) continue;
        if (count + (count == 0 ? 2 : 1) > ber::MAX_OID_ARCS) return false;
        if (count == 0) {
            // X.690 8.19.4: the first sub-identifier is 40 * X + Y.
            const uint32_t first = subidentifier < 80 ? uint32_t(subidentifier / 40) : 2;
            arcs[count++] = first;
            arcs[count++] = uint32_t(subidentifier - 40 * first);
        } else {
            arcs[count++] = uint32_t(subidentifier);
        }
        subidentifier = 0;
        inSubidentifier = false;
    }
    if (inSubidentifier) return false;  // the last sub-identifier is unterminated
    value.assign(arcs, count);
    position_ = element.endOffset();
    return true;
}
