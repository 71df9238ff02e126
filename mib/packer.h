// Packer: the codec between one field of a record (Data) and SNMP.
//
// A packer does four things for its field:
// - pack: write the field as the value of a reply binding (after the name);
// - unpack: decode a Set value at the Context's input into the field;
// - getAsKey: turn the field into its fragment of a table row index;
// - setFromKey: take such a fragment off the front of an index back into the
//   field, returning the arcs that follow it.
// Scalar and columnar leaves use pack and unpack; MapTable uses getAsKey and
// setFromKey to compose and split row indexes. For every family that can be
// an index, setFromKey is the inverse of getAsKey: setFromKey(rec,
// getAsKey(v) + R) stores v and returns R, for any OID R.
//
// The families (NumPacker, BignumPacker in mib/num_packer.h; IPPacker,
// OIDPacker, StringPacker in their own headers) each come in two variants:
// Const...Packer serves a fixed value and ignores the record (which may be
// null); Data...Packer reads and assigns a field of the record, named by a
// member pointer (see field() in mib/data.h); given a null record it reads
// a zero (empty) value and stores nothing. A plug-in may derive its own
// packer from a family class by supplying the family's get and set.
//
// Before a Set changes anything, the leaf asks the packer whether the value
// suits the field (testValue): the packer knows the value's type and the
// constraints it was given (a string's largest length, a number's range).
//
// Packers are created on the heap at start-up and live for the process;
// leaves and tables do not own them. They hold no mutable state.
#pragma once

#include <string>

#include "mib/context.h"
#include "mib/data.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"

class Packer {
  public:
    // `type` is the BER tag that pack writes: 2 INTEGER, 4 OCTET STRING,
    // 6 OBJECT IDENTIFIER, 0x40 IpAddress, 0x41 Counter32, 0x42 Gauge32,
    // 0x43 TimeTicks, 0x46 Counter64.
    explicit Packer(unsigned int type) : type(type) {}

    // Writes the record's value under `type` into ctx.out.
    virtual void pack(Context& ctx, Data const* rec) const = 0;
    // Decodes the value at ctx.in into the record. On false (no value of the
    // expected form) the record is left as it was.
    virtual bool unpack(Data* rec, Context& ctx) const = 0;
    // Whether the value at ctx.in, which it reads, would suit the field:
    // NO_ERROR, WRONG_TYPE (a tag other than `type`), WRONG_ENCODING (the
    // tag's content does not decode), WRONG_LENGTH or WRONG_VALUE (outside
    // the packer's constraints). The base version checks the tag alone.
    virtual snmp::ErrorStatus testValue(Context& ctx) const;
    // False for packers that serve a fixed value (the Const... variants): a
    // Set of their object is refused with notWritable.
    virtual bool writable() const { return true; }

    // The record's value as pack encodes it, and back into a record: what a
    // Set keeps to put back the value it replaced. restoreValue is false
    // when the saved value does not unpack.
    std::string saveValue(Data const* rec) const;
    bool restoreValue(Data* rec, std::string const& saved) const;
    // The record's index fragment. The base version is for packers that
    // cannot be an index: it writes "BUG: Packer::getAsKey called" to the
    // standard error stream and returns an empty OID.
    virtual OID getAsKey(Data const* rec) const;
    // Stores the value taken from the front of `key` into the record and
    // returns the rest of `key`. When the front of `key` does not hold a
    // value (too few arcs, an arc out of range) the record is left alone and
    // the result is empty. The base version writes "BUG: Packer::setFromKey
    // called" to the standard error stream and returns an empty OID.
    virtual OID setFromKey(Data* rec, OID const& key) const;

    virtual ~Packer() = default;

    unsigned int type;
};
