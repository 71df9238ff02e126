// What the unit tests of the agent's layers share: a temporary folder,
// records and fake data sources and services, a tree of test leaves,
// requests and replies as a manager sees them, and a community table.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "mib/cache_update_timeout.h"
#include "mib/platform_exchange.h"
#include "mib/registry.h"
#include "mib/provider.h"
#include "mib/table.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/usm.h"
#include "platform/snmp/varbind.h"

namespace fixture {

using Bytes = std::vector<unsigned char>;

// A fresh folder under /tmp, removed with everything in it.
struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/orla-test-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        path = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string path;
};

// ---- Records and data sources ----

// One field of every packer family.
struct Rec : Data {
    int num = 0;
    unsigned long long big = 0;
    unsigned int ip = 0;
    OID oid;
    std::string str;
    std::vector<unsigned char> raw;
};

// A record made from one platform object: its id and name.
struct NamedRecord : Data {
    int id = 0;
    std::string name;
};

inline Data* makeNamed(orla::message const& object) {
    if (!object.has(orla::OBJ_NAME)) return nullptr;
    auto* rec = new NamedRecord;
    rec->id = static_cast<int>(object.get(orla::OBJ_ID));
    rec->name = object.get(orla::OBJ_NAME);
    return rec;
}

// A data provider holding one record (or none), counting its writes.
class FakeProvider : public DataProvider {
  public:
    explicit FakeProvider(Data* rec = nullptr) : rec(rec) {}
    Data* get() override { return rec; }
    bool commit(Data* committed) override {
        ++sets;
        lastSet = committed;
        return true;
    }
    Data* rec;
    unsigned sets = 0;
    Data* lastSet = nullptr;
};

// A table provider without records: tables over it only split and join keys.
class FakeTableProvider : public TableProvider {
  public:
    bool setData(Data*) override { return true; }
    void subscribe(TableProviderClient*) override {}
    void updateTables() override {}
};

// The clock of the cache checks while a FakeClock lives: fakeNow, stepped by
// the test.
inline uint32_t fakeNow = 0;
struct FakeClock {
    explicit FakeClock(uint32_t now) {
        fakeNow = now;
        CacheUpdateTimeout::tickClock = [] { return fakeNow; };
    }
    ~FakeClock() { CacheUpdateTimeout::tickClock = orla::getJiffies; }
};

// ---- Platform services ----

// A platform handler whose object list is served in pages; every get-all
// request it gets is kept.
class FakeHandler : public orla::Handler {
  public:
    orla::message cmdGetAll(const orla::message& request, uint32_t startId, uint32_t) override {
        requests.push_back(request);
        if (failPage != 0 && requests.size() == failPage)
            return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "page refused");
        orla::message reply;
        const size_t first = startId == 0xffffffff ? 0 : startId;
        const size_t end = std::min(objects.size(), first + pageSize);
        for (size_t i = first; i < end; ++i)
            reply.append(orla::OBJ_LIST, objects[i]);
        if (end < objects.size()) reply.insert(orla::OBJ_NEXT, static_cast<uint32_t>(end));
        return reply;
    }
    void addObject(uint32_t id, const std::string& name) {
        orla::message object;
        object.insert(orla::OBJ_ID, id);
        object.insert(orla::OBJ_NAME, name);
        objects.push_back(object);
    }

    std::vector<orla::message> objects;
    size_t pageSize = 1000;
    size_t failPage = 0;  // 1-based get-all request that fails; 0: none
    std::vector<orla::message> requests;
};

// Providers exchange with a fake handler at [0, 7] through a looper of the
// test's own, on a clock the test steps.
inline orla::Looper* platformLooper = nullptr;
class Platform : public ::testing::Test {
  protected:
    void SetUp() override {
        looper.addHandler(7, &first);
        platformLooper = &looper;
        setPlatformExchange([](const orla::message& request, uint32_t timeout) {
            return platformLooper->exchangeMessage(request, timeout);
        });
    }
    void TearDown() override { setPlatformExchange(nullptr); }

    FakeClock clock{1000};
    const std::vector<uint32_t> firstPath{0, 7};
    FakeHandler first;
    orla::Looper looper;  // destroyed before the handler it routes to
};

// ---- The object tree ----

inline const OID ENTERPRISE("1.3.6.1.4.1.99999");
inline OID under(std::initializer_list<uint32_t> arcs) {
    return ENTERPRISE + OID(arcs);
}
inline std::string e(const std::string& suffix) {
    return ENTERPRISE.toString() + "." + suffix;
}

// A Context whose `in` stands at `value` (one encoded element).
inline Context contextOver(Bytes value) {
    return Context(value.data(), static_cast<unsigned int>(value.size()));
}

// Writes `name` and an OCTET STRING or INTEGER value, as a leaf answers.
inline bool answer(Context& ctx, const OID& instance, const std::string& value) {
    ctx.name += instance;
    ctx.out.addOID(ctx.name);
    ctx.out.add(value, ber::OCTET_STRING);
    return true;
}
inline bool answer(Context& ctx, const OID& instance, int value) {
    ctx.name += instance;
    ctx.out.addOID(ctx.name);
    ctx.out.add(value, ber::INTEGER);
    return true;
}

// A read-only scalar answering instance 0 with an OCTET STRING.
class Scalar : public Leaf {
  public:
    explicit Scalar(std::string value) : value(std::move(value)) {}
    bool get(Context& ctx) override { return ctx.oid == ZERO_OID && answer(ctx, ZERO_OID, value); }
    bool getNext(Context& ctx) override { return ctx.oid.empty() && answer(ctx, ZERO_OID, value); }
    std::string value;
};

// A table column: one INTEGER instance per row index. Rows may be generated
// (indexes 1..generated, value = index) to model a table of any size.
class Column : public Leaf {
  public:
    explicit Column(std::map<uint32_t, int> rows, uint32_t generated = 0)
        : rows(std::move(rows)), generated_(generated) {}
    bool get(Context& ctx) override {
        int value = 0;
        return ctx.oid.size() == 1 && find(ctx.oid[0], value) && answer(ctx, ctx.oid, value);
    }
    bool getNext(Context& ctx) override {
        ++nextCalls;
        if (generated_ > 0) {
            const uint32_t index = ctx.oid.empty() ? 1 : ctx.oid[0] + 1;
            return index <= generated_ && answer(ctx, OID{index}, int(index));
        }
        for (const auto& [index, value] : rows)
            if (OID{index} > ctx.oid) return answer(ctx, OID{index}, value);
        return false;
    }
    // Takes any INTEGER in the test; a row that does not exist is refused
    // only at the commit, and a commit cannot be undone.
    snmp::ErrorStatus testSet(Context& ctx) override {
        return ctx.in.getType() == ber::INTEGER ? snmp::ErrorStatus::NO_ERROR
                                                : snmp::ErrorStatus::WRONG_TYPE;
    }
    snmp::ErrorStatus commitSet(Context& ctx, std::string&) override {
        int value = 0;
        if (ctx.setSuffix.size() != 1 || !find(ctx.setSuffix[0], value) || !ctx.in.getInt(value))
            return snmp::ErrorStatus::COMMIT_FAILED;
        rows[ctx.setSuffix[0]] = value;
        return snmp::ErrorStatus::NO_ERROR;
    }
    std::map<uint32_t, int> rows;
    unsigned nextCalls = 0;

  private:
    bool find(uint32_t index, int& value) const {
        if (index >= 1 && index <= generated_) return value = int(index), true;
        auto row = rows.find(index);
        return row != rows.end() && (value = row->second, true);
    }
    uint32_t generated_;
};

// Refuses everything.
class Refusing : public Leaf {
  public:
    bool get(Context&) override { return false; }
    bool getNext(Context&) override { return false; }
};

// The tree of most request tests, in OID order:
//   1.3.6.1.3.7        Refusing
//   1.3.6.1.3.7.1.5    Scalar "nested"
//   E.1                Scalar "alpha"
//   E.2                Column rows 1:10, 2:20, 5:50
//   E.3                Refusing
//   E.4                Scalar "omega"       (E = 1.3.6.1.4.1.99999)
// The leaves are the fixture's: the registry is emptied, not released.
class Tree : public ::testing::Test {
  protected:
    void SetUp() override {
        leafs.clear();
        addLeaf(OID("1.3.6.1.3.7"), &outer);
        addLeaf(OID("1.3.6.1.3.7.1.5"), &nested);
        addLeaf(under({1}), &alpha);
        addLeaf(under({2}), &column);
        addLeaf(under({3}), &refusing);
        addLeaf(under({4}), &omega);
    }
    void TearDown() override { leafs.clear(); }

    Refusing outer;
    Scalar nested{"nested"};
    Scalar alpha{"alpha"};
    Column column{{{1, 10}, {2, 20}, {5, 50}}};
    Refusing refusing;
    Scalar omega{"omega"};
};

// ---- Requests and replies ----

inline VariableBinding binding(const OID& name, uint32_t type = ber::NULL_VALUE,
                               std::string value = {}) {
    return VariableBinding{name, type, std::move(value)};
}
// The content octets of a small non-negative INTEGER.
inline std::string integer(unsigned char value) {
    return std::string(1, char(value));
}

inline Bytes request(int version, const std::string& community, uint32_t pduType, int second,
                     int third, const std::vector<VariableBinding>& bindings,
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

// Decodes the PDU `in` stands at (a Trap-PDU's five header fields skipped);
// false when it is not one.
inline bool decodePdu(InStream& in, Reply& reply) {
    reply.pduType = in.getType();
    if (!in.enterSeq()) return false;
    if (reply.pduType == ber::TRAP_V1) {
        for (int field = 0; field < 5; ++field)
            if (!in.skip()) return false;
    } else if (!in.getInt(reply.requestId) || !in.getInt(reply.status) || !in.getInt(reply.index)) {
        return false;
    }
    if (!in.enterSeq()) return false;
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

// Decodes a community-based message; false when it is not one.
inline bool decode(const Bytes& bytes, Reply& reply) {
    InStream in(bytes.data(), bytes.size());
    reply.version = in.getVersion();
    return reply.version >= 0 && in.getString(reply.community) && decodePdu(in, reply);
}

// The names of the reply's bindings, dotted, for compact expectations; an
// exception value (RFC 3416 3) follows as "!object", "!instance" or "!end".
inline std::vector<std::string> names(const Reply& reply) {
    std::vector<std::string> result;
    for (const VariableBinding& b : reply.bindings) {
        const char* exception = b.type == ber::NO_SUCH_OBJECT     ? "!object"
                                : b.type == ber::NO_SUCH_INSTANCE ? "!instance"
                                : b.type == ber::END_OF_MIB_VIEW  ? "!end"
                                                                  : "";
        result.push_back(b.oid.toString() + exception);
    }
    return result;
}

// ---- Communities ----

// A community's or SNMPv3 user's configuration message.
inline orla::message userConfig(const std::string& name, uint32_t security,
                                uint32_t authProtocol = usm::AUTH_HMAC_SHA_96,
                                uint32_t privProtocol = usm::PRIV_CFB128_AES_128) {
    orla::message cfg;
    cfg.insert(snmp::COMM_NAME, name);
    cfg.insert(snmp::COMM_READ_ACCESS, true);
    cfg.insert(snmp::COMM_WRITE_ACCESS, true);
    cfg.insert(snmp::COMM_SECURITY, security);
    cfg.insert(snmp::COMM_AUTH_PROTOCOL, authProtocol);
    cfg.insert(snmp::COMM_PRIV_PROTOCOL, privProtocol);
    cfg.insert(snmp::COMM_AUTH_PASSWORD, name + "-auth-pw");
    cfg.insert(snmp::COMM_PRIV_PASSWORD, name + "-priv-pw");
    return cfg;
}

// A community table over a temporary store: the default community "morvel"
// (id 0, read-only), users localised to `engine`.
struct Communities {
    Communities() {
        keep.init();
        engine.engineID = std::string("\x80\x00\x7e\xd9\x04test", 9);
        engine.engineBoots = 7;
        engine.engineTimeBase = usm::monotonicSeconds();
        keep.setEngineID(engine.engineID);
    }
    const CommunityKeep::Item* add(const orla::message& cfg) {
        const orla::message reply = keep.cmdAddObj(cfg);
        EXPECT_TRUE(reply.has(orla::OBJ_ID)) << reply;
        return keep.findItem(reply.get(orla::OBJ_ID, 0xffffffffu));
    }

    TempDir dir;
    CommunityKeep keep{dir.path + "/communities"};
    V3ServerInfo engine;
};

}  // namespace fixture
