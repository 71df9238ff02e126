// OID: an SNMP object identifier, a sequence of unsigned 32-bit arcs.
//
// A value type: copies are independent, equality and order compare arcs
// (lexicographic by unsigned arc value, a proper prefix sorting first), so
// OIDs serve as keys of ordered maps. Up to INLINE_ARCS arcs live inside the
// object itself; longer OIDs move to the heap. Copying and comparing the
// typical OID of a request therefore allocate nothing.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

class OID {
  public:
    static constexpr size_t INLINE_ARCS = 16;

    OID() = default;
    OID(std::initializer_list<uint32_t> arcs);
    OID(const uint32_t* arcs, size_t count);
    // Dotted decimal: "1.3.6.1", ".1.3.6.1"; "0" is the one arc 0; "" and "."
    // give the empty OID. Text that is not an OID (an empty component, a
    // character other than a digit or a dot, an arc above 4294967295) gives
    // the empty OID, never a part of the text.
    explicit OID(std::string_view dotted);

    OID(const OID& other);
    OID(OID&& other) noexcept;
    OID& operator=(const OID& other);
    OID& operator=(OID&& other) noexcept;
    ~OID();

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint32_t operator[](size_t i) const { return arcs_[i]; }
    const uint32_t* begin() const { return arcs_; }
    const uint32_t* end() const { return arcs_ + size_; }
    const uint32_t* data() const { return arcs_; }
    uint32_t back() const { return arcs_[size_ - 1]; }

    void clear() { size_ = 0; }
    // Replaces the arcs by the `count` arcs at `arcs`, reusing the storage.
    void assign(const uint32_t* arcs, size_t count);
    // Removes the last arc; nothing when empty.
    void popBack();
    // Keeps the first `count` arcs (nothing happens when count >= size()).
    void truncate(size_t count);
    // The arcs from position `first` on (empty when first >= size()).
    OID suffix(size_t first) const;
    // True when every arc of this OID starts `other` (also when equal).
    bool isPrefixOf(const OID& other) const;

    OID& operator+=(const OID& tail);
    OID& operator+=(uint32_t arc);

    bool operator==(const OID& other) const;
    std::strong_ordering operator<=>(const OID& other) const;

    // Dotted decimal without a leading dot; "" for the empty OID.
    std::string toString() const;

    // Index fragments. Each pop moves a fragment off the front of this OID
    // into `fragment` (replacing its content) and returns true; when too few
    // arcs remain it returns false and changes neither OID.
    bool popUnsigned(OID& fragment);  // one arc
    bool popIP(OID& fragment);        // four arcs
    // A length arc n, then n arcs. The fragment receives the n arcs without
    // the length arc, so asOID and asString read it directly.
    bool popOID(OID& fragment);
    bool popString(OID& fragment);
    bool popString(OID& fragment, size_t count);  // exactly `count` arcs

    // Decoders of a popped fragment; false (value untouched) on failure.
    bool asUnsigned(uint32_t& value) const;  // exactly one arc
    // Exactly four arcs, each at most 255; a.b.c.d gives a in bits 31..24.
    bool asIP(uint32_t& address) const;
    bool asOID(OID& value) const;             // the arcs themselves; never fails
    bool asString(std::string& value) const;  // one octet per arc; fails on an arc above 255

  private:
    bool onHeap() const { return arcs_ != inline_; }
    void reserve(size_t count);
    bool popFront(size_t count, OID& fragment);

    uint32_t* arcs_ = inline_;
    uint32_t size_ = 0;
    uint32_t capacity_ = INLINE_ARCS;
    uint32_t inline_[INLINE_ARCS];
};

OID operator+(const OID& head, const OID& tail);
OID operator+(const OID& head, uint32_t arc);
std::ostream& operator<<(std::ostream& os, const OID& oid);
