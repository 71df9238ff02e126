// OBJECT IDENTIFIER packers. As an index the value is length-prefixed: one
// arc with the number of arcs, then the arcs (1.3.6.1 gives 4.1.3.6.1, the
// empty OID the single arc 0).
#pragma once

#include "mib/packer.h"

class OIDPacker : public Packer {
  public:
    explicit OIDPacker(unsigned int type) : Packer(type) {}

    void pack(Context& ctx, Data const* rec) const override;
    bool unpack(Data* rec, Context& ctx) const override;
    snmp::ErrorStatus testValue(Context& ctx) const override;
    OID getAsKey(Data const* rec) const override;
    OID setFromKey(Data* rec, OID const& key) const override;

    virtual OID get(Data const* rec) const = 0;
    virtual void set(Data* rec, OID const& value) const = 0;
};

class ConstOIDPacker : public OIDPacker {
  public:
    ConstOIDPacker(OID const& value, unsigned int type) : OIDPacker(type), value(value) {}
    OID get(Data const*) const override { return value; }
    void set(Data*, OID const&) const override {}
    bool writable() const override { return false; }

    const OID value;
};

class DataOIDPacker : public OIDPacker {
  public:
    DataOIDPacker(OID Data::*member, unsigned int type) : OIDPacker(type), member(member) {}
    OID get(Data const* rec) const override { return rec ? rec->*member : OID(); }
    void set(Data* rec, OID const& value) const override {
        if (rec) rec->*member = value;
    }

    OID Data::*const member;
};
