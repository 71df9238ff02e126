#include "mib/oid_packer.h"

void OIDPacker::pack(Context& ctx, Data const* rec) const {
    ctx.out.addOID(get(rec), type);
}

bool OIDPacker::unpack(Data* rec, Context& ctx) const {
    OID value;
    if (!ctx.in.getOID(value)) return false;
    set(rec, value);
    return true;
}

snmp::ErrorStatus OIDPacker::testValue(Context& ctx) const {
    if (ctx.in.getType() != type) return snmp::ErrorStatus::WRONG_TYPE;
    OID value;
    return ctx.in.getOID(value) ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::WRONG_ENCODING;
}

OID OIDPacker::getAsKey(Data const* rec) const {
    const OID value = get(rec);
    OID key({static_cast<uint32_t>(value.size())});
    key += value;
    return key;
}

OID OIDPacker::setFromKey(Data* rec, OID const& key) const {
    OID rest = key;
    OID fragment;
    OID value;
    if (!rest.popOID(fragment) || !fragment.asOID(value)) return OID();
    set(rec, value);
    return rest;
}
