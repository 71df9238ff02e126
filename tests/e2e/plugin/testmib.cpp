// testmib: a MIB plug-in for the end-to-end tests, never shipped.
//
// It registers under the experimental arc 1.3.6.1.3.9999 (RFC 1155 3.1:
// experimental is 1.3.6.1.3) leaves of its own classes, built only on the
// SDK's Leaf interface, so the tests exercise the agent's request path without
// depending on the agent's own scalar and columnar leaves:
//
//   .1.0            INTEGER, writable (Set stores the new value)
//   .2.0            OCTET STRING, read-only
//   .3.0            Counter32 above 2^31
//   .4.1.C.R.S      table: columns C = 1 INTEGER (writable), 2 OCTET STRING,
//                   3 INTEGER; rows indexed by two arcs R.S
//   .5.1.0          INTEGER of a leaf registered at .5 ...
//   .5.2.0          ... and a leaf registered at .5.2, nested inside it
//   .6.0            OCTET STRING, the last object before the big table
//   .9.1.C.R        big table: column 1 holds 1000-octet strings, column 2
//                   INTEGER; BIG_ROWS rows indexed by one arc
//
// All values are constant unless set, so walks taken one after another give
// identical output.
#include <cstdint>
#include <map>
#include <string>

#include "mib/sdk.h"

namespace {

const OID BASE("1.3.6.1.3.9999");

constexpr uint32_t TABLE_ROWS = 4;
constexpr uint32_t TABLE_SUBROWS = 3;
constexpr uint32_t BIG_ROWS = 80;
constexpr size_t BIG_STRING_OCTETS = 1000;

// One value of an instance: an integer (INTEGER, Counter32) or a string.
struct Value {
    uint32_t tag = ber::INTEGER;
    int64_t number = 0;
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
Value counter(int64_t number) {
    return Value{ber::COUNTER32, number, {}};
}
Value text(std::string text) {
    return Value{ber::OCTET_STRING, 0, std::move(text)};
}

// Writes the instance `suffix` below ctx.name as the reply binding.
void answer(Context& ctx, const OID& suffix, const Value& value) {
    ctx.name += suffix;
    ctx.out.addOID(ctx.name);
    value.write(ctx.out);
}

// Stores an INTEGER received in a Set into `value` and echoes the binding.
bool setInteger(Context& ctx, Value& value) {
    if (ctx.in.getType() != ber::INTEGER) return false;
    int number = 0;
    if (!ctx.in.getInt(number)) return false;
    value.number = number;
    ctx.out.addOID(ctx.oid);
    value.write(ctx.out);
    return true;
}

// A leaf whose instances are a fixed set of suffixes (a scalar has the one
// suffix 0, a table column the row indexes), each with its own value.
class InstanceLeaf : public Leaf {
  public:
    explicit InstanceLeaf(bool writable) : writable_(writable) {}

    void add(const OID& suffix, Value value) { instances_[suffix] = std::move(value); }

    bool get(Context& ctx) override {
        auto found = instances_.find(ctx.oid);
        if (found == instances_.end()) return false;
        answer(ctx, found->first, found->second);
        return true;
    }

    bool getNext(Context& ctx) override {
        auto next = ctx.oid.empty() ? instances_.begin() : instances_.upper_bound(ctx.oid);
        if (next == instances_.end()) return false;
        answer(ctx, next->first, next->second);
        return true;
    }

    bool set(Context& ctx) override {
        if (!writable_) return false;
        auto found = instances_.find(ctx.setSuffix);
        if (found == instances_.end()) return false;
        return setInteger(ctx, found->second);
    }

  private:
    bool writable_;
    std::map<OID, Value> instances_;
};

void addScalar(uint32_t arc, Value value, bool writable) {
    auto* leaf = new InstanceLeaf(writable);
    leaf->add(ZERO_OID, std::move(value));
    addLeaf(BASE + arc, leaf);
}

// A table column is a leaf whose instances are the row indexes.
void addTable() {
    const OID entry = BASE + OID{4, 1};
    auto* numbers = new InstanceLeaf(true);
    auto* texts = new InstanceLeaf(false);
    auto* negatives = new InstanceLeaf(false);
    for (uint32_t r = 1; r <= TABLE_ROWS; ++r) {
        for (uint32_t s = 1; s <= TABLE_SUBROWS; ++s) {
            const int64_t n = static_cast<int64_t>(r * 10 + s);
            numbers->add(OID{r, s}, integer(n));
            texts->add(OID{r, s}, text("row " + std::to_string(r) + "." + std::to_string(s)));
            negatives->add(OID{r, s}, integer(-n));
        }
    }
    addLeaf(entry + 1, numbers);
    addLeaf(entry + 2, texts);
    addLeaf(entry + 3, negatives);
}

void addNested() {
    auto* outer = new InstanceLeaf(false);
    outer->add(OID{1, 0}, integer(51));
    addLeaf(BASE + 5, outer);
    auto* inner = new InstanceLeaf(false);
    inner->add(ZERO_OID, integer(52));
    addLeaf(BASE + OID{5, 2}, inner);
}

void addBigTable() {
    const OID entry = BASE + OID{9, 1};
    auto* strings = new InstanceLeaf(false);
    auto* numbers = new InstanceLeaf(false);
    for (uint32_t r = 1; r <= BIG_ROWS; ++r) {
        strings->add(OID{r}, text(std::string(BIG_STRING_OCTETS, static_cast<char>('a' + r % 26))));
        numbers->add(OID{r}, integer(static_cast<int64_t>(r)));
    }
    addLeaf(entry + 1, strings);
    addLeaf(entry + 2, numbers);
}

}  // namespace

extern "C" void autorun() {
    addScalar(1, integer(42), true);
    addScalar(2, text("orla test plug-in"), false);
    addScalar(3, counter(3000000000LL), false);
    addTable();
    addNested();
    addScalar(6, text("before the big table"), false);
    addBigTable();
}
