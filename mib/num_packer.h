// Numeric packers: 32-bit integers (NumPacker) and unsigned 64-bit
// counters (BignumPacker), each with a constant and a record-field variant.
#pragma once

#include <cstdint>
#include <limits>

#include "mib/packer.h"

// For filling an int field from a platform's unsigned number: the number, or
// 2147483647 when it does not fit (an Integer32 or Gauge32 object then
// stays at its largest rather than wrapping negative).
inline int saturatedInt32(uint64_t value) {
    constexpr uint64_t MAX = std::numeric_limits<int32_t>::max();
    return static_cast<int>(value > MAX ? MAX : value);
}

// A signed 32-bit value under any integer tag (INTEGER, Counter32, Gauge32,
// TimeTicks, ...). The unsigned tags carry the value's 32 bits unsigned, so a
// Gauge32 held as -1 goes out as 4294967295. As an index it is one arc, the
// value's 32 bits taken as unsigned (-1 gives 4294967295).
//
// A Set value must carry the packer's own tag, and lie within the range
// given with setRange, if any:
//
//     (new DataNumPacker(field(&IfRecord::adminStatus), ber::INTEGER))->setRange(1, 3);
class NumPacker : public Packer {
  public:
    explicit NumPacker(unsigned int type) : Packer(type) {}

    void pack(Context& ctx, Data const* rec) const override;
    bool unpack(Data* rec, Context& ctx) const override;
    // WRONG_VALUE outside the range; the unsigned tags compare the value
    // taken unsigned.
    snmp::ErrorStatus testValue(Context& ctx) const override;
    OID getAsKey(Data const* rec) const override;
    OID setFromKey(Data* rec, OID const& key) const override;

    // The values a Set may store, both ends included (the SYNTAX of the
    // object, RFC 2578 7.1.1). Returns the packer, for use at registration.
    NumPacker* setRange(int64_t minimum, int64_t maximum);

    virtual int get(Data const* rec) const = 0;
    virtual void set(Data* rec, int value) const = 0;

  private:
    int64_t minimum_ = std::numeric_limits<int64_t>::min();
    int64_t maximum_ = std::numeric_limits<int64_t>::max();
};

class ConstNumPacker : public NumPacker {
  public:
    ConstNumPacker(int value, unsigned int type) : NumPacker(type), value(value) {}
    int get(Data const*) const override { return value; }
    void set(Data*, int) const override {}
    bool writable() const override { return false; }

    const int value;
};

class DataNumPacker : public NumPacker {
  public:
    DataNumPacker(int Data::*member, unsigned int type) : NumPacker(type), member(member) {}
    int get(Data const* rec) const override { return rec ? rec->*member : 0; }
    void set(Data* rec, int value) const override {
        if (rec) rec->*member = value;
    }

    int Data::*const member;
};

// An unsigned 64-bit value, normally Counter64 (0x46). It cannot be part of
// a table index: getAsKey and setFromKey are the Packer defaults, which
// report a bug.
class BignumPacker : public Packer {
  public:
    explicit BignumPacker(unsigned int type) : Packer(type) {}

    void pack(Context& ctx, Data const* rec) const override;
    bool unpack(Data* rec, Context& ctx) const override;
    snmp::ErrorStatus testValue(Context& ctx) const override;

    virtual unsigned long long get(Data const* rec) const = 0;
    virtual void set(Data* rec, unsigned long long value) const = 0;
};

class ConstBignumPacker : public BignumPacker {
  public:
    ConstBignumPacker(unsigned long long value, unsigned int type)
        : BignumPacker(type), value(value) {}
    unsigned long long get(Data const*) const override { return value; }
    void set(Data*, unsigned long long) const override {}
    bool writable() const override { return false; }

    const unsigned long long value;
};

class DataBignumPacker : public BignumPacker {
  public:
    DataBignumPacker(unsigned long long Data::*member, unsigned int type)
        : BignumPacker(type), member(member) {}
    unsigned long long get(Data const* rec) const override { return rec ? rec->*member : 0; }
    void set(Data* rec, unsigned long long value) const override {
        if (rec) rec->*member = value;
    }

    unsigned long long Data::*const member;
};
