#include "mib/string_packer.h"

#include <iostream>
#include <typeinfo>

#include "platform/orla/printable.h"
#include "platform/orla/throttled_line.h"

namespace {

// One line per string a Set writes: throttled, or a manager's large Sets
// would fill the log.
orla::ThrottledLine unpackedLine("unpacked s = ");

}  // namespace

void StringPacker::pack(Context& ctx, Data const* rec) const {
    std::string buffer;  // filled, and allocated, only by a view through get
    ctx.out.add(view(rec, buffer), type);
}

std::string_view StringPacker::view(Data const* rec, std::string& buffer) const {
    buffer = get(rec);
    return buffer;
}

// The octets in place, unless the packer is of a class derived from the
// one named, whose own get (if it has one) must give the value.
std::string_view ConstStringPacker::view(Data const* rec, std::string& buffer) const {
    if (typeid(*this) != typeid(ConstStringPacker)) return StringPacker::view(rec, buffer);
    return value;
}

std::string_view DataStringPacker::view(Data const* rec, std::string& buffer) const {
    if (typeid(*this) != typeid(DataStringPacker)) return StringPacker::view(rec, buffer);
    return rec ? std::string_view(rec->*member) : std::string_view();
}

std::string_view DataRawPacker::view(Data const* rec, std::string& buffer) const {
    if (typeid(*this) != typeid(DataRawPacker)) return StringPacker::view(rec, buffer);
    if (!rec) return std::string_view();
    const std::vector<unsigned char>& bytes = rec->*member;
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool StringPacker::unpack(Data* rec, Context& ctx) const {
    std::string value;
    if (!ctx.in.getString(value)) return false;
    // The manager's octets, escaped: a Set must not write lines of its own.
    unpackedLine.write(orla::printable(value));
    set(rec, value);
    return true;
}

snmp::ErrorStatus StringPacker::testValue(Context& ctx) const {
    if (ctx.in.getType() != type) return snmp::ErrorStatus::WRONG_TYPE;
    std::string value;
    if (!ctx.in.getString(value)) return snmp::ErrorStatus::WRONG_ENCODING;
    return value.size() > maxLength_ ? snmp::ErrorStatus::WRONG_LENGTH
                                     : snmp::ErrorStatus::NO_ERROR;
}

StringPacker* StringPacker::setMaxLength(size_t octets) {
    maxLength_ = octets;
    return this;
}

OID StringPacker::getAsKey(Data const* rec) const {
    std::string buffer;
    const std::string_view value = view(rec, buffer);
    OID key;
    if (keyLen == 0) {
        key += static_cast<uint32_t>(value.size());
    } else if (value.size() != keyLen) {
        std::cerr << "inconsistent key length" << std::endl;
        return OID();
    }
    for (unsigned char octet : value)
        key += octet;
    return key;
}

OID StringPacker::setFromKey(Data* rec, OID const& key) const {
    OID rest = key;
    OID fragment;
    std::string value;
    const bool popped = keyLen == 0 ? rest.popString(fragment) : rest.popString(fragment, keyLen);
    if (!popped || !fragment.asString(value)) return OID();
    set(rec, value);
    return rest;
}

std::string DataRawPacker::get(Data const* rec) const {
    if (!rec) return std::string();
    const std::vector<unsigned char>& bytes = rec->*member;
    return std::string(bytes.begin(), bytes.end());
}

void DataRawPacker::set(Data* rec, std::string const& value) const {
    if (rec) (rec->*member).assign(value.begin(), value.end());
}
