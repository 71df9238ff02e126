// testmib: a MIB plug-in for the end-to-end tests, never shipped. Its leaves
// are its own class, built on the SDK's Leaf interface only, so the tests
// exercise the agent's request path without the agent's own leaves. Under
// the experimental arc 1.3.6.1.3.9999 (RFC 1155 3.1):
//
//   .1.0        INTEGER 42, writable (Set stores the new value)
//   .2.0        OCTET STRING, read-only
//   .3.0        Counter32 above 2^31
//   .4.1.C.R.S  table: columns C = 1 INTEGER (writable), 2 OCTET STRING,
//               3 INTEGER; rows indexed by two arcs R.S
//   .5.1.0      INTEGER of a leaf registered at .5, and .5.2.0 of a leaf
//               registered at .5.2, nested inside it
//   .6.0        OCTET STRING, the last object before the big table
//   .7.0        OCTET STRING, writable through the SDK's ScalarLeaf; its
//               owner refuses the value "refused", as a platform service
//               refuses a write
//   .9.1.C.R    big table: column 1 holds 1000-octet strings, column 2
//               INTEGER; 80 rows indexed by one arc
//
// Values are constant unless set, so successive walks give the same output.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "mib/sdk.h"

namespace {

const OID BASE("1.3.6.1.3.9999");

// An INTEGER, a Counter32 or an OCTET STRING.
struct Value {
    uint32_t tag;
    int64_t number;
    std::string text;

    void write(OutStream& out) const {
        if (tag == ber::OCTET_STRING) {
            out.add(std::string_view(text), tag);
        } else if (tag == ber::INTEGER) {
            out.add(static_cast<int>(number), tag);
        } else {
            out.add(static_cast<unsigned int>(number), tag);
        }
    }
};

Value integer(int64_t number) {
    return Value{ber::INTEGER, number, {}};
}
Value text(std::string text) {
    return Value{ber::OCTET_STRING, 0, std::move(text)};
}

// A leaf whose instances are a fixed set of suffixes (0 for a scalar, the
// row indexes for a table column), each with its own value.
class InstanceLeaf : public Leaf {
  public:
    explicit InstanceLeaf(bool writable = false) : writable_(writable) {}

    InstanceLeaf* add(const OID& suffix, Value value) {
        instances_[suffix] = std::move(value);
        return this;
    }

    bool get(Context& ctx) override { return answer(ctx, instances_.find(ctx.oid)); }

    bool getNext(Context& ctx) override {
        return answer(ctx, ctx.oid.empty() ? instances_.begin() : instances_.upper_bound(ctx.oid));
    }

    // Takes an INTEGER into an existing instance; every other Set is
    // notWritable, whatever the reason.
    snmp::ErrorStatus testSet(Context& ctx) override {
        int number = 0;
        if (!writable_ || !instances_.count(ctx.setSuffix) || ctx.in.getType() != ber::INTEGER ||
            !ctx.in.getInt(number))
            return snmp::ErrorStatus::NOT_WRITABLE;
        return snmp::ErrorStatus::NO_ERROR;
    }
    snmp::ErrorStatus commitSet(Context& ctx, std::string& undo) override {
        int number = 0;
        if (!ctx.in.getInt(number)) return snmp::ErrorStatus::COMMIT_FAILED;
        Value& held = instances_[ctx.setSuffix];
        undo = std::to_string(held.number);
        held.number = number;
        return snmp::ErrorStatus::NO_ERROR;
    }
    bool undoSet(Context& ctx, std::string const& undo) override {
        instances_[ctx.setSuffix].number = std::strtoll(undo.c_str(), nullptr, 10);
        return true;
    }

  private:
    bool answer(Context& ctx, std::map<OID, Value>::const_iterator found) {
        if (found == instances_.end()) return false;
        ctx.name += found->first;
        ctx.out.addOID(ctx.name);
        found->second.write(ctx.out);
        return true;
    }

    bool writable_;
    std::map<OID, Value> instances_;
};

struct NoteRecord : Data {
    std::string text = "note";
};

class PickyOwner : public DataProvider {
  public:
    Data* get() override { return &note; }
    bool commit(Data* rec) override { return static_cast<NoteRecord*>(rec)->text != "refused"; }

  private:
    NoteRecord note;
};

void addScalar(const OID& arcs, Value value, bool writable = false) {
    addLeaf(BASE + arcs, (new InstanceLeaf(writable))->add(ZERO_OID, std::move(value)));
}

}  // namespace

extern "C" void autorun() {
    addScalar(OID{1}, integer(42), true);
    addScalar(OID{2}, text("orla test plug-in"));
    addScalar(OID{3}, Value{ber::COUNTER32, 3000000000LL, {}});
    auto* numbers = new InstanceLeaf(true);
    auto* texts = new InstanceLeaf;
    auto* negatives = new InstanceLeaf;
    for (uint32_t r = 1; r <= 4; ++r) {
        for (uint32_t s = 1; s <= 3; ++s) {
            const int64_t n = static_cast<int64_t>(r * 10 + s);
            numbers->add(OID{r, s}, integer(n));
            texts->add(OID{r, s}, text("row " + std::to_string(r) + "." + std::to_string(s)));
            negatives->add(OID{r, s}, integer(-n));
        }
    }
    addLeaf(BASE + OID{4, 1, 1}, numbers);
    addLeaf(BASE + OID{4, 1, 2}, texts);
    addLeaf(BASE + OID{4, 1, 3}, negatives);
    addLeaf(BASE + 5, (new InstanceLeaf)->add(OID{1, 0}, integer(51)));
    addScalar(OID{5, 2}, integer(52));
    addScalar(OID{6}, text("before the big table"));
    addScalarLeaf(BASE + 7, new DataStringPacker(field(&NoteRecord::text), ber::OCTET_STRING, 0),
                  new PickyOwner);
    auto* strings = new InstanceLeaf;
    auto* indexes = new InstanceLeaf;
    for (uint32_t r = 1; r <= 80; ++r) {
        strings->add(OID{r}, text(std::string(1000, static_cast<char>('a' + r % 26))));
        indexes->add(OID{r}, integer(static_cast<int64_t>(r)));
    }
    addLeaf(BASE + OID{9, 1, 1}, strings);
    addLeaf(BASE + OID{9, 1, 2}, indexes);
}
