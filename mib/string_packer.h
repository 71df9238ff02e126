// Octet string packers: std::string fields (StringPacker, ConstStringPacker,
// DataStringPacker) and byte-vector fields (DataRawPacker). The value is the
// octets themselves, normally as OCTET STRING (4).
//
// `keyLen` is the string's length in a table index:
// - 0: variable length, one arc with the number of octets, then one arc per
//   octet ("abc" gives 3.97.98.99, the empty string the single arc 0);
// - n > 0: exactly n octets, one arc each, no length arc. A value of another
//   length has no index fragment: getAsKey writes "inconsistent key length"
//   to the standard error stream and returns an empty OID, and a table
//   leaves such a record out.
//
// A Set value must be an OCTET STRING of at most the packer's largest length
// (setMaxLength; by default 65535 octets, RFC 2578 7.1.2), else WRONG_LENGTH:
//
//     (new DataStringPacker(field(&SysRecord::contact), ber::OCTET_STRING, 0))
//         ->setMaxLength(255);  // DisplayString (RFC 2579)
//
// A packer of a plug-in's own derives from StringPacker and supplies get and
// set. pack and getAsKey read the value through view, which by default asks
// get; the packers below override it to read their value in place, so a Get
// copies and allocates nothing however long the string. A class derived from
// one of them that supplies its own get is asked through get, as before.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mib/packer.h"

class StringPacker : public Packer {
  public:
    StringPacker(unsigned int type, unsigned int keyLen) : Packer(type), keyLen(keyLen) {}

    void pack(Context& ctx, Data const* rec) const override;
    // Writes "unpacked s = " and the decoded octets, non-printable ones and
    // the backslash as \xNN, to the standard error stream before storing them.
    bool unpack(Data* rec, Context& ctx) const override;
    snmp::ErrorStatus testValue(Context& ctx) const override;
    OID getAsKey(Data const* rec) const override;
    OID setFromKey(Data* rec, OID const& key) const override;

    // The longest value a Set may store. Returns the packer, for use at
    // registration.
    StringPacker* setMaxLength(size_t octets);

    virtual std::string get(Data const* rec) const = 0;
    virtual void set(Data* rec, std::string const& value) const = 0;
    // The value without a copy where the packer can give one: a view of the
    // octets in place, valid while the record (or the packer's constant) is
    // unchanged, or else of `buffer`, the caller's, which view fills. This
    // version fills `buffer` from get.
    virtual std::string_view view(Data const* rec, std::string& buffer) const;

    const unsigned int keyLen;

  private:
    size_t maxLength_ = 65535;
};

class ConstStringPacker : public StringPacker {
  public:
    ConstStringPacker(std::string const& value, unsigned int type, unsigned int keyLen)
        : StringPacker(type, keyLen), value(value) {}
    std::string get(Data const*) const override { return value; }
    void set(Data*, std::string const&) const override {}
    std::string_view view(Data const* rec, std::string& buffer) const override;
    bool writable() const override { return false; }

    const std::string value;
};

class DataStringPacker : public StringPacker {
  public:
    DataStringPacker(std::string Data::*member, unsigned int type, unsigned int keyLen)
        : StringPacker(type, keyLen), member(member) {}
    std::string get(Data const* rec) const override { return rec ? rec->*member : std::string(); }
    void set(Data* rec, std::string const& value) const override {
        if (rec) rec->*member = value;
    }
    std::string_view view(Data const* rec, std::string& buffer) const override;

    std::string Data::*const member;
};

// The same over a std::vector<unsigned char> field: get gives the vector's
// octets as a string, set replaces the vector's content.
class DataRawPacker : public StringPacker {
  public:
    DataRawPacker(std::vector<unsigned char> Data::*member, unsigned int type, unsigned int keyLen)
        : StringPacker(type, keyLen), member(member) {}
    std::string get(Data const* rec) const override;
    void set(Data* rec, std::string const& value) const override;
    std::string_view view(Data const* rec, std::string& buffer) const override;

    std::vector<unsigned char> Data::*const member;
};
