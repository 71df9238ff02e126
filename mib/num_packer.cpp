#include "mib/num_packer.h"

#include "platform/snmp/ber.h"

namespace {

// The refusal of a value whose tag suits but whose content does not decode:
// more content octets than the type holds is a value out of its range.
snmp::ErrorStatus undecodable(const Context& ctx, size_t maxOctets) {
    BerElement element;
    if (ctx.in.peekElement(element) && element.contentLength > maxOctets)
        return snmp::ErrorStatus::WRONG_VALUE;
    return snmp::ErrorStatus::WRONG_ENCODING;
}

}  // namespace

void NumPacker::pack(Context& ctx, Data const* rec) const {
    ctx.out.add(get(rec), type);
}

bool NumPacker::unpack(Data* rec, Context& ctx) const {
    int value = 0;
    if (!ctx.in.getInt(value)) return false;
    set(rec, value);
    return true;
}

snmp::ErrorStatus NumPacker::testValue(Context& ctx) const {
    if (ctx.in.getType() != type) return snmp::ErrorStatus::WRONG_TYPE;
    int value = 0;
    if (!ctx.in.getInt(value)) return undecodable(ctx, ber::isUnsignedType(type) ? 5 : 4);
    const int64_t number =
        ber::isUnsignedType(type) ? int64_t{static_cast<uint32_t>(value)} : int64_t{value};
    if (number < minimum_ || number > maximum_) return snmp::ErrorStatus::WRONG_VALUE;
    return snmp::ErrorStatus::NO_ERROR;
}

NumPacker* NumPacker::setRange(int64_t minimum, int64_t maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    return this;
}

OID NumPacker::getAsKey(Data const* rec) const {
    return OID({static_cast<uint32_t>(get(rec))});
}

OID NumPacker::setFromKey(Data* rec, OID const& key) const {
    OID rest = key;
    OID fragment;
    uint32_t number = 0;
    if (!rest.popUnsigned(fragment) || !fragment.asUnsigned(number)) return OID();
    set(rec, static_cast<int>(number));
    return rest;
}

void BignumPacker::pack(Context& ctx, Data const* rec) const {
    ctx.out.add(get(rec), type);
}

bool BignumPacker::unpack(Data* rec, Context& ctx) const {
    unsigned long long value = 0;
    if (!ctx.in.get64(value)) return false;
    set(rec, value);
    return true;
}

snmp::ErrorStatus BignumPacker::testValue(Context& ctx) const {
    if (ctx.in.getType() != type) return snmp::ErrorStatus::WRONG_TYPE;
    unsigned long long value = 0;
    return ctx.in.get64(value) ? snmp::ErrorStatus::NO_ERROR : undecodable(ctx, 9);
}
