// Shared by the request tests: a small object tree of test leaves, request
// datagrams built with OutStream, and replies decoded with InStream.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mib/leaf.h"
#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/varbind.h"
#include "request/pdu.h"

namespace fixture {

inline const OID ENTERPRISE("1.3.6.1.4.1.99999");
inline OID under(std::initializer_list<uint32_t> arcs) {
    return ENTERPRISE + OID(arcs);
}

inline VariableBinding binding(const OID& name, uint32_t type = ber::NULL_VALUE,
                               std::string value = {}) {
    VariableBinding b;
    b.oid = name;
    b.type = type;
    b.value = std::move(value);
    return b;
}
// The content octets of a small non-negative INTEGER.
inline std::string integer(unsigned char value) {
    return std::string(1, char(value));
}

// A scalar answering instance 0 with an OCTET STRING; Set replaces it.
class Scalar : public Leaf {
  public:
    explicit Scalar(std::string value) : value(std::move(value)) {}
    bool get(Context& ctx) override { return ctx.oid == ZERO_OID && answer(ctx); }
    bool getNext(Context& ctx) override { return ctx.oid.empty() && answer(ctx); }
    bool set(Context& ctx) override {
        std::string newValue;
        if (ctx.setSuffix != ZERO_OID || !ctx.in.getString(newValue)) return false;
        value = newValue;
        ctx.out.addOID(ctx.oid);
        ctx.out.add(value, ber::OCTET_STRING);
        return true;
    }
    std::string value;

  private:
    bool answer(Context& ctx) {
        ctx.name += ZERO_OID;
        ctx.out.addOID(ctx.name);
        ctx.out.add(value, ber::OCTET_STRING);
        return true;
    }
};

// A table column: one INTEGER instance per row index. Rows may be generated
// (indexes 1..generated, value = index) to model a table of any size.
class Column : public Leaf {
  public:
    explicit Column(std::map<uint32_t, int> rows, uint32_t generated = 0)
        : rows(std::move(rows)), generated_(generated) {}
    bool get(Context& ctx) override {
        int value = 0;
        return ctx.oid.size() == 1 && find(ctx.oid[0], value) && answer(ctx, ctx.oid[0], value);
    }
    bool getNext(Context& ctx) override {
        ++nextCalls;
        if (generated_ > 0) {
            const uint32_t index = ctx.oid.empty() ? 1 : ctx.oid[0] + 1;
            return index <= generated_ && answer(ctx, index, int(index));
        }
        for (const auto& [index, value] : rows) {
            if (OID{index} > ctx.oid) return answer(ctx, index, value);
        }
        return false;
    }
    bool set(Context& ctx) override {
        int value = 0;
        if (ctx.setSuffix.size() != 1 || !find(ctx.setSuffix[0], value)) return false;
        if (!ctx.in.getInt(value)) return false;
        rows[ctx.setSuffix[0]] = value;
        ctx.out.addOID(ctx.oid);
        ctx.out.add(value, ber::INTEGER);
        return true;
    }
    std::map<uint32_t, int> rows;
    unsigned nextCalls = 0;

  private:
    bool find(uint32_t index, int& value) const {
        if (index >= 1 && index <= generated_) return value = int(index), true;
        auto row = rows.find(index);
        return row != rows.end() && (value = row->second, true);
    }
    bool answer(Context& ctx, uint32_t index, int value) {
        ctx.name += index;
        ctx.out.addOID(ctx.name);
        ctx.out.add(value, ber::INTEGER);
        return true;
    }
    uint32_t generated_;
};

// Refuses everything.
class Refusing : public Leaf {
  public:
    bool get(Context&) override { return false; }
    bool getNext(Context&) override { return false; }
    bool set(Context&) override { return false; }
};

// Answers Get and Set of any instance below it, keeping the last Set's suffix.
class CatchAll : public Leaf {
  public:
    bool get(Context& ctx) override {
        ctx.name += ctx.oid;
        ctx.out.addOID(ctx.name);
        ctx.out.add(1, ber::INTEGER);
        return true;
    }
    bool getNext(Context&) override { return false; }
    bool set(Context& ctx) override {
        lastSuffix = ctx.setSuffix;
        ctx.out.addOID(ctx.oid);
        ctx.out.add(1, ber::INTEGER);
        return true;
    }
    OID lastSuffix;
};

// The tree of most tests, in OID order:
//   1.3.6.1.3.7        CatchAll
//   1.3.6.1.3.7.1.5    Scalar "nested"
//   E.1                Scalar "alpha"
//   E.2                Column rows 1:10, 2:20, 5:50
//   E.3                Refusing
//   E.4                Scalar "omega"       (E = 1.3.6.1.4.1.99999)
class Tree : public ::testing::Test {
  protected:
    void SetUp() override {
        leafs.clear();
        addLeaf(OID("1.3.6.1.3.7"), &catchAll);
        addLeaf(OID("1.3.6.1.3.7.1.5"), &nested);
        addLeaf(under({1}), &alpha);
        addLeaf(under({2}), &column);
        addLeaf(under({3}), &refusing);
        addLeaf(under({4}), &omega);
    }
    void TearDown() override { leafs.clear(); }

    CatchAll catchAll;
    Scalar nested{"nested"};
    Scalar alpha{"alpha"};
    Column column{{{1, 10}, {2, 20}, {5, 50}}};
    Refusing refusing;
    Scalar omega{"omega"};
};

inline std::vector<unsigned char> request(int version, const std::string& community,
                                          uint32_t pduType, int second, int third,
                                          const std::vector<VariableBinding>& bindings,
                                          int requestId = 4711) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(version, ber::INTEGER);
    out.add(community, ber::OCTET_STRING);
    out.startSeq(pduType);
    out.add(requestId, ber::INTEGER);
    out.add(second, ber::INTEGER);
    out.add(third, ber::INTEGER);
    out.startSeq(ber::SEQUENCE);
    for (const VariableBinding& b : bindings)
        out.addVarBind(b);
    out.endSeq();
    out.endSeq();
    out.endSeq();
    return out.bytes();
}

struct Reply {
    int version = -1;
    std::string community;
    uint32_t pduType = 0;
    int requestId = 0;
    int status = -1;
    int index = -1;
    std::vector<VariableBinding> bindings;
};

// Decodes the PDU `in` stands at; false when it is not one.
inline bool decodePdu(InStream& in, Reply& reply) {
    reply.pduType = in.getType();
    if (!in.enterSeq() || !in.getInt(reply.requestId) || !in.getInt(reply.status) ||
        !in.getInt(reply.index) || !in.enterSeq())
        return false;
    while (!in.isSeqEnd()) {
        VariableBinding b;
        BerElement value;
        if (!in.enterSeq() || !in.getOID(b.oid) || !in.getElement(value) || !in.isSeqEnd())
            return false;
        b.type = value.tag;
        b.value.assign(reinterpret_cast<const char*>(in.data()) + value.contentOffset,
                       value.contentLength);
        in.exitSeq();
        reply.bindings.push_back(b);
    }
    return true;
}

// Decodes a version 1/2c message; false when it is not one.
inline bool decode(const std::vector<unsigned char>& bytes, Reply& reply) {
    InStream in(bytes.data(), bytes.size());
    reply.version = in.getVersion();
    return reply.version >= 0 && in.getString(reply.community) && decodePdu(in, reply);
}

// The names of the reply's bindings, dotted, for compact expectations.
inline std::vector<std::string> names(const Reply& reply) {
    std::vector<std::string> result;
    for (const VariableBinding& b : reply.bindings)
        result.push_back(b.oid.toString());
    return result;
}

inline std::string e(const std::string& suffix) {
    return ENTERPRISE.toString() + "." + suffix;
}

// Writes the community header as the dispatcher does, then serves the PDU.
inline bool serve(const std::vector<unsigned char>& datagram, const PduPolicy& policy, Reply& reply,
                  size_t* replySize = nullptr) {
    std::vector<unsigned char> buffer = datagram;
    Context ctx(buffer.data(), static_cast<unsigned>(buffer.size()));
    const int version = ctx.in.getVersion();
    if (version < 0 || !ctx.in.getString(ctx.community)) return false;
    ctx.out.startSeq(ber::SEQUENCE);
    ctx.out.add(version, ber::INTEGER);
    ctx.out.add(ctx.community, ber::OCTET_STRING);
    if (!servePdu(ctx, policy)) return false;
    ctx.out.endSeq();
    if (replySize != nullptr) *replySize = ctx.out.size();
    EXPECT_TRUE(decode(ctx.out.bytes(), reply));
    return true;
}

}  // namespace fixture
