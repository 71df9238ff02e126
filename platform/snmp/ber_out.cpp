#include "platform/snmp/ber_out.h"

#include "platform/snmp/ber_content.h"

void OutStream::reserve(size_t octets) {
    bytes_.reserve(octets);
    open_.reserve(ber::MAX_DEPTH);
}

void OutStream::reset(size_t keptOctets) {
    if (bytes_.capacity() > keptOctets) {
        std::vector<unsigned char>().swap(bytes_);
        bytes_.reserve(keptOctets);
    }
    bytes_.clear();
    open_.clear();
    errorStatus_ = {};
    errorIndex_ = {};
    v3Marks_ = {};
    securityLevel = 0;
    reportable = false;
}

void OutStream::writeHeader(uint32_t tag, size_t length) {
    bytes_.push_back(static_cast<unsigned char>(tag));
    if (length < 0x80) {
        bytes_.push_back(static_cast<unsigned char>(length));
        return;
    }
    unsigned char octets[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        octets[count++] = rest & 0xff;
    bytes_.push_back(static_cast<unsigned char>(0x80 | count));
    while (count > 0)
        bytes_.push_back(octets[--count]);
}

void OutStream::startSeq(uint32_t tag) {
    bytes_.push_back(static_cast<unsigned char>(tag));
    open_.push_back({bytes_.size()});
    bytes_.push_back(0);
}

bool OutStream::endSeq() {
    if (open_.empty()) return false;
    const size_t slot = open_.back().lengthOffset;
    for (PduInteger* integer : {&errorStatus_, &errorIndex_}) {
        if (integer->written && integer->ownerDepth == open_.size()) integer->written = false;
    }
    open_.pop_back();
    const size_t length = bytes_.size() - slot - 1;
    if (length < 0x80) {
        bytes_[slot] = static_cast<unsigned char>(length);
        return true;
    }
    // X.690 8.1.3.5: long form; the content moves once to make room.
    unsigned char octets[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        octets[count++] = rest & 0xff;
    bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(slot) + 1, count, 0);
    bytes_[slot] = static_cast<unsigned char>(0x80 | count);
    for (size_t i = 0; i < count; ++i)
        bytes_[slot + 1 + i] = octets[count - 1 - i];
    return true;
}

void OutStream::writeSigned(long long value, uint32_t tag) {
    unsigned char content[ber::MAX_INTEGER_OCTETS];
    const size_t length = ber::encodeSigned(value, content);
    writeHeader(tag, length);
    bytes_.insert(bytes_.end(), content, content + length);
}

void OutStream::writeUnsigned(unsigned long long value, uint32_t tag) {
    unsigned char content[ber::MAX_INTEGER_OCTETS];
    const size_t length = ber::encodeUnsigned(value, content);
    writeHeader(tag, length);
    bytes_.insert(bytes_.end(), content, content + length);
}

void OutStream::writeFourOctets(uint32_t value, uint32_t tag) {
    writeHeader(tag, 4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes_.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void OutStream::add(int value, uint32_t tag) {
    if (tag == ber::IP_ADDRESS) {
        writeFourOctets(static_cast<uint32_t>(value), tag);
    } else if (ber::isUnsignedType(tag)) {
        writeUnsigned(static_cast<uint32_t>(value), tag);
    } else {
        writeSigned(value, tag);
    }
}

void OutStream::add(unsigned int value, uint32_t tag) {
    if (tag == ber::IP_ADDRESS) {
        writeFourOctets(value, tag);
    } else {
        writeUnsigned(value, tag);
    }
}

void OutStream::add(unsigned long value, uint32_t tag) {
    add(static_cast<unsigned long long>(value), tag);
}

void OutStream::add(unsigned long long value, uint32_t tag) {
    if (tag == ber::IP_ADDRESS) {
        writeFourOctets(static_cast<uint32_t>(value), tag);
    } else {
        writeUnsigned(value, tag);
    }
}

void OutStream::add(std::string_view value, uint32_t tag) {
    writeHeader(tag, value.size());
    bytes_.insert(bytes_.end(), value.begin(), value.end());
}

void OutStream::add(const unsigned char* bytes, unsigned int length, uint32_t tag) {
    if (bytes == nullptr) length = 0;
    writeHeader(tag, length);
    bytes_.insert(bytes_.end(), bytes, bytes + length);
}

void OutStream::addOID(const OID& oid, uint32_t tag) {
    const size_t length = ber::oidContentLength(oid);
    writeHeader(tag, length);
    const size_t end = bytes_.size();
    bytes_.resize(end + length);
    ber::encodeOid(oid, bytes_.data() + end);
}

void OutStream::addNull(uint32_t tag) {
    writeHeader(tag, 0);
}

void OutStream::setPduInteger(PduInteger& slot, PduInteger& other, int value) {
    if (!slot.written) {
        slot.offset = bytes_.size();
        slot.ownerDepth = open_.size();
        slot.written = true;
        writeSigned(value, ber::INTEGER);
        return;
    }
    unsigned char encoded[2 + ber::MAX_INTEGER_OCTETS];
    encoded[0] = ber::INTEGER;
    const size_t contentLength = ber::encodeSigned(value, encoded + 2);
    encoded[1] = static_cast<unsigned char>(contentLength);
    const size_t newSize = 2 + contentLength;
    const size_t oldSize = 2 + size_t(bytes_[slot.offset + 1]);
    auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(slot.offset);
    if (newSize > oldSize) {
        bytes_.insert(at + static_cast<std::ptrdiff_t>(oldSize), newSize - oldSize, 0);
    } else if (newSize < oldSize) {
        bytes_.erase(at + static_cast<std::ptrdiff_t>(newSize),
                     at + static_cast<std::ptrdiff_t>(oldSize));
    }
    std::copy(encoded, encoded + newSize,
              bytes_.begin() + static_cast<std::ptrdiff_t>(slot.offset));
    if (newSize == oldSize) return;
    // Everything after the integer moved: fix the offsets that point there.
    auto shift = [&](size_t& offset) {
        if (offset > slot.offset) offset = offset + newSize - oldSize;
    };
    for (OpenSeq& open : open_)
        shift(open.lengthOffset);
    if (other.written) shift(other.offset);
}

void OutStream::addErrorStatus(snmp::ErrorStatus status) {
    setPduInteger(errorStatus_, errorIndex_, static_cast<int>(status));
}

void OutStream::addErrorIndex(int index) {
    setPduInteger(errorIndex_, errorStatus_, index);
}

void OutStream::addVarBind(const VariableBinding& binding) {
    startSeq(ber::SEQUENCE);
    addOID(binding.oid, ber::OBJECT_IDENTIFIER);
    add(std::string_view(binding.value), binding.type);
    endSeq();
}

void OutStream::rewind(size_t mark) {
    if (mark > bytes_.size()) return;
    while (!open_.empty() && open_.back().lengthOffset >= mark)
        open_.pop_back();
    for (PduInteger* integer : {&errorStatus_, &errorIndex_}) {
        if (integer->written && integer->offset >= mark) integer->written = false;
    }
    bytes_.resize(mark);
}
