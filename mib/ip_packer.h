// IPv4 address packers. An address is held as an unsigned 32-bit number whose
// most significant byte is the first octet of the dotted form (10.0.0.1 is
// 0x0a000001). The value is four octets, most significant first (IpAddress,
// 0x40); as an index it is four arcs, one per octet (10.0.0.1).
#pragma once

#include "mib/packer.h"

class IPPacker : public Packer {
  public:
    explicit IPPacker(unsigned int type) : Packer(type) {}

    void pack(Context& ctx, Data const* rec) const override;
    // Accepts only a value of exactly four octets.
    bool unpack(Data* rec, Context& ctx) const override;
    // IpAddress of exactly four octets.
    snmp::ErrorStatus testValue(Context& ctx) const override;
    OID getAsKey(Data const* rec) const override;
    OID setFromKey(Data* rec, OID const& key) const override;

    virtual unsigned int get(Data const* rec) const = 0;
    virtual void set(Data* rec, unsigned int address) const = 0;
};

class ConstIPPacker : public IPPacker {
  public:
    ConstIPPacker(unsigned int address, unsigned int type) : IPPacker(type), address(address) {}
    unsigned int get(Data const*) const override { return address; }
    void set(Data*, unsigned int) const override {}
    bool writable() const override { return false; }

    const unsigned int address;
};

class DataIPPacker : public IPPacker {
  public:
    DataIPPacker(unsigned int Data::*member, unsigned int type) : IPPacker(type), member(member) {}
    unsigned int get(Data const* rec) const override { return rec ? rec->*member : 0; }
    void set(Data* rec, unsigned int address) const override {
        if (rec) rec->*member = address;
    }

    unsigned int Data::*const member;
};
