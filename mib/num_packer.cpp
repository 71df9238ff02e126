#include "mib/num_packer.h"

void NumPacker::pack(Context& ctx, Data const* rec) const {
    ctx.out.add(get(rec), type);
}

bool NumPacker::unpack(Data* rec, Context& ctx) const {
    int value = 0;
    if (!ctx.in.getInt(value)) return false;
    set(rec, value);
    return true;
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
