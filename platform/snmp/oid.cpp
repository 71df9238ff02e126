#include "platform/snmp/oid.h"

#include <algorithm>
#include <cstring>
#include <ostream>

OID::OID(std::initializer_list<uint32_t> arcs) {
    assign(arcs.begin(), arcs.size());
}

OID::OID(const uint32_t* arcs, size_t count) {
    assign(arcs, count);
}

OID::OID(std::string_view dotted) {
    if (!dotted.empty() && dotted.front() == '.') dotted.remove_prefix(1);
    if (dotted.empty()) return;
    uint64_t arc = 0;
    bool inArc = false;
    for (char c : dotted) {
        if (c == '.') {
            if (!inArc) {
                clear();
                return;
            }
            *this += uint32_t(arc);
            arc = 0;
            inArc = false;
        } else if (c >= '0' && c <= '9') {
            arc = arc * 10 + uint64_t(c - '0');
            if (arc > UINT32_MAX) {
                clear();
                return;
            }
            inArc = true;
        } else {
            clear();
            return;
        }
    }
    if (!inArc) {  // a trailing dot
        clear();
        return;
    }
    *this += uint32_t(arc);
}

OID::OID(const OID& other) {
    assign(other.arcs_, other.size_);
}

OID::OID(OID&& other) noexcept {
    if (other.onHeap()) {
        arcs_ = other.arcs_;
        capacity_ = other.capacity_;
        size_ = other.size_;
        other.arcs_ = other.inline_;
        other.capacity_ = INLINE_ARCS;
        other.size_ = 0;
    } else {
        std::memcpy(inline_, other.inline_, other.size_ * sizeof(uint32_t));
        size_ = other.size_;
        other.size_ = 0;
    }
}

OID& OID::operator=(const OID& other) {
    if (this != &other) assign(other.arcs_, other.size_);
    return *this;
}

OID& OID::operator=(OID&& other) noexcept {
    if (this == &other) return *this;
    if (other.onHeap()) {
        if (onHeap()) delete[] arcs_;
        arcs_ = other.arcs_;
        capacity_ = other.capacity_;
        size_ = other.size_;
        other.arcs_ = other.inline_;
        other.capacity_ = INLINE_ARCS;
        other.size_ = 0;
    } else {
        assign(other.arcs_, other.size_);
        other.size_ = 0;
    }
    return *this;
}

OID::~OID() {
    if (onHeap()) delete[] arcs_;
}

void OID::reserve(size_t count) {
    if (count <= capacity_) return;
    size_t capacity = std::max<size_t>(count, size_t(capacity_) * 2);
    auto* arcs = new uint32_t[capacity];
    if (size_ > 0) std::memcpy(arcs, arcs_, size_ * sizeof(uint32_t));
    if (onHeap()) delete[] arcs_;
    arcs_ = arcs;
    capacity_ = uint32_t(capacity);
}

void OID::assign(const uint32_t* arcs, size_t count) {
    reserve(count);
    if (count > 0) std::memmove(arcs_, arcs, count * sizeof(uint32_t));
    size_ = uint32_t(count);
}

void OID::popBack() {
    if (size_ > 0) --size_;
}

void OID::truncate(size_t count) {
    if (count < size_) size_ = uint32_t(count);
}

OID OID::suffix(size_t first) const {
    if (first >= size_) return OID();
    return OID(arcs_ + first, size_ - first);
}

bool OID::isPrefixOf(const OID& other) const {
    return size_ <= other.size_ && std::equal(begin(), end(), other.begin());
}

OID& OID::operator+=(const OID& tail) {
    if (&tail == this) {
        OID copy(tail);
        return *this += copy;
    }
    reserve(size_t(size_) + tail.size_);
    if (tail.size_ > 0) std::memcpy(arcs_ + size_, tail.arcs_, tail.size_ * sizeof(uint32_t));
    size_ += tail.size_;
    return *this;
}

OID& OID::operator+=(uint32_t arc) {
    reserve(size_t(size_) + 1);
    arcs_[size_++] = arc;
    return *this;
}

bool OID::operator==(const OID& other) const {
    return size_ == other.size_ && std::equal(begin(), end(), other.begin());
}

std::strong_ordering OID::operator<=>(const OID& other) const {
    // The registry compares OIDs on every look-up: a plain loop over the
    // shorter length, then the lengths.
    const uint32_t common = std::min(size_, other.size_);
    for (uint32_t i = 0; i < common; ++i) {
        if (arcs_[i] != other.arcs_[i]) {
            return arcs_[i] < other.arcs_[i] ? std::strong_ordering::less
                                             : std::strong_ordering::greater;
        }
    }
    return size_ <=> other.size_;
}

std::string OID::toString() const {
    std::string text;
    text.reserve(size_ * 4);
    for (uint32_t i = 0; i < size_; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(arcs_[i]);
    }
    return text;
}

bool OID::popFront(size_t count, OID& fragment) {
    if (count > size_) return false;
    fragment.assign(arcs_, count);
    std::memmove(arcs_, arcs_ + count, (size_ - count) * sizeof(uint32_t));
    size_ -= uint32_t(count);
    return true;
}

bool OID::popUnsigned(OID& fragment) {
    return popFront(1, fragment);
}

bool OID::popIP(OID& fragment) {
    return popFront(4, fragment);
}

bool OID::popOID(OID& fragment) {
    return popString(fragment);
}

bool OID::popString(OID& fragment) {
    if (size_ == 0 || arcs_[0] > size_ - 1) return false;
    size_t count = arcs_[0];
    fragment.assign(arcs_ + 1, count);
    std::memmove(arcs_, arcs_ + 1 + count, (size_ - 1 - count) * sizeof(uint32_t));
    size_ -= uint32_t(1 + count);
    return true;
}

bool OID::popString(OID& fragment, size_t count) {
    return popFront(count, fragment);
}

bool OID::asUnsigned(uint32_t& value) const {
    if (size_ != 1) return false;
    value = arcs_[0];
    return true;
}

bool OID::asIP(uint32_t& address) const {
    if (size_ != 4) return false;
    uint32_t result = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (arcs_[i] > 255) return false;
        result = (result << 8) | arcs_[i];
    }
    address = result;
    return true;
}

bool OID::asOID(OID& value) const {
    value = *this;
    return true;
}

bool OID::asString(std::string& value) const {
    if (std::any_of(begin(), end(), [](uint32_t arc) { return arc > 255; })) return false;
    value.assign(size_, '\0');
    for (uint32_t i = 0; i < size_; ++i)
        value[i] = char(arcs_[i]);
    return true;
}

OID operator+(const OID& head, const OID& tail) {
    OID result(head);
    result += tail;
    return result;
}

OID operator+(const OID& head, uint32_t arc) {
    OID result(head);
    result += arc;
    return result;
}

std::ostream& operator<<(std::ostream& os, const OID& oid) {
    return os << oid.toString();
}
