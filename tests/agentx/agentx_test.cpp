// The AgentX master: its PDU codec against frames written as RFC 2741 lays
// them out, and against malformed ones.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agentx/master.h"
#include "agentx/notify.h"
#include "agentx/pdu.h"
#include "mib/platform_exchange.h"
#include "mib/modules.h"
#include "mib/registry.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "request/pdu.h"
#include "tests/fixture.h"

using namespace agentx;

namespace {

using Bytes = std::vector<uint8_t>;

// A header in network byte order, with `payload` after it.
Bytes frame(uint8_t type, uint8_t flags, const Bytes& payload, uint8_t version = 1) {
    const uint32_t length = static_cast<uint32_t>(payload.size());
    Bytes out{version, type, static_cast<uint8_t>(flags | FLAG_NETWORK_BYTE_ORDER), 0,
              0, 0, 0, 7,  // session 7
              0, 0, 0, 9,  // transaction 9
              0, 0, 0, 11, // packet 11
              uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// 1.3.6.1.2.1.1 as a subagent writes it: prefix 2, then 1.1.
const Bytes SYSTEM_OID{2, 2, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1};
const Bytes NULL_OID{0, 0, 0, 0};

}  // namespace

// An Open as net-snmp's subagent sends it, in its host's (little-endian)
// byte order: timeout 0, the null OID, description "Net-SNMP AgentX sub-agent".
TEST(AgentxCodec, DecodesLittleEndianOpen) {
    const std::string description = "Net-SNMP AgentX sub-agent";
    Bytes payload{0, 0, 0, 0, 0, 0, 0, 0, uint8_t(description.size()), 0, 0, 0};
    payload.insert(payload.end(), description.begin(), description.end());
    payload.resize(payload.size() + 3, 0);  // 25 octets padded to 28
    const uint32_t length = static_cast<uint32_t>(payload.size());
    Bytes bytes{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                uint8_t(length), uint8_t(length >> 8), 0, 0};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    Pdu pdu;
    size_t used = 0;
    ASSERT_EQ(decode(bytes, pdu, used), DecodeError::None);
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(pdu.header.type, PduType::Open);
    EXPECT_EQ(pdu.header.packetID, 1u);
    EXPECT_TRUE(pdu.id.empty());
    EXPECT_EQ(pdu.description, description);
}

TEST(AgentxCodec, DecodesRegisterWithRangeAndPrefix) {
    // Register 1.3.6.1.2.1.1.[1-9], priority 127, timeout 5.
    const Bytes bytes = frame(3, 0, cat({{5, 127, 7, 0}, SYSTEM_OID, {0, 0, 0, 9}}));
    Pdu pdu;
    size_t used = 0;
    ASSERT_EQ(decode(bytes, pdu, used), DecodeError::None);
    EXPECT_EQ(pdu.subtree, OID("1.3.6.1.2.1.1"));
    EXPECT_EQ(pdu.timeout, 5);
    EXPECT_EQ(pdu.priority, 127);
    EXPECT_EQ(pdu.rangeSubid, 7);
    EXPECT_EQ(pdu.upperBound, 9u);
    EXPECT_EQ(pdu.header.sessionID, 7u);
}

// What the master writes it reads back the same, in both byte orders.
TEST(AgentxCodec, RoundTripsInBothByteOrders) {
    Pdu get;
    get.header.type = PduType::GetBulk;
    get.nonRepeaters = 1;
    get.maxRepetitions = 10;
    get.ranges = {{OID("1.3.6.1.2.1.1"), true, OID("1.3.6.1.2.1.2")}, {OID("1.0.8802"), false, {}}};
    Pdu response;
    response.header.type = PduType::Response;
    response.sysUpTime = 1234;
    response.error = 5;
    response.index = 2;
    VarBind text{ValueType::OctetString, OID("1.3.6.1.2.1.1.1.0"), 0, "router", {}};
    VarBind count{ValueType::Counter64, OID("1.3.6.1.2.1.31.1.1.1.6.1"), 1ull << 40, {}, {}};
    VarBind id{ValueType::ObjectIdentifier, OID("1.3.6.1.2.1.1.2.0"), 0, {}, OID("1.3.6.1.4.1.8072")};
    VarBind address{ValueType::IpAddress, OID("1.3.6.1.2.1.4.20.1.1.10.0.0.1"), 0, std::string("\x0a\0\0\x01", 4), {}};
    VarBind end{ValueType::EndOfMibView, OID("1.3.6.1.2.1.99"), 0, {}, {}};
    response.bindings = {text, count, id, address, end};
    Pdu reg;
    reg.header.type = PduType::Register;
    reg.header.flags |= FLAG_NON_DEFAULT_CONTEXT;
    reg.context = "vrf1";
    reg.priority = 100;
    reg.rangeSubid = 3;
    reg.upperBound = 40;
    reg.subtree = OID("1.3.6.1.2.1.4");
    for (bool network : {true, false}) {
        for (Pdu original : {get, response, reg}) {
            if (!network) original.header.flags &= ~FLAG_NETWORK_BYTE_ORDER;
            Bytes bytes;
            encode(original, bytes);
            Pdu back;
            size_t used = 0;
            ASSERT_EQ(decode(bytes, back, used), DecodeError::None);
            EXPECT_EQ(used, bytes.size());
            EXPECT_EQ(back.header.flags, original.header.flags);
            EXPECT_EQ(back.context, original.context);
            EXPECT_EQ(back.subtree, original.subtree);
            EXPECT_EQ(back.upperBound, original.upperBound);
            ASSERT_EQ(back.ranges.size(), original.ranges.size());
            for (size_t i = 0; i < back.ranges.size(); ++i) {
                EXPECT_EQ(back.ranges[i].start, original.ranges[i].start);
                EXPECT_EQ(back.ranges[i].include, original.ranges[i].include);
                EXPECT_EQ(back.ranges[i].end, original.ranges[i].end);
            }
            ASSERT_EQ(back.bindings.size(), original.bindings.size());
            for (size_t i = 0; i < back.bindings.size(); ++i) {
                EXPECT_EQ(back.bindings[i].type, original.bindings[i].type);
                EXPECT_EQ(back.bindings[i].name, original.bindings[i].name);
                EXPECT_EQ(back.bindings[i].number, original.bindings[i].number);
                EXPECT_EQ(back.bindings[i].octets, original.bindings[i].octets);
                EXPECT_EQ(back.bindings[i].oid, original.bindings[i].oid);
            }
        }
    }
}

struct Malformed {
    const char* name;
    Bytes bytes;
    DecodeError error;
};

class AgentxMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(AgentxMalformed, IsRefusedWhole) {
    Pdu pdu;
    size_t used = 99;
    EXPECT_EQ(decode(GetParam().bytes, pdu, used), GetParam().error);
    EXPECT_EQ(used, 0u);
}

namespace {

Bytes withPayloadLength(Bytes bytes, uint32_t length) {
    bytes[16] = uint8_t(length >> 24);
    bytes[17] = uint8_t(length >> 16);
    bytes[18] = uint8_t(length >> 8);
    bytes[19] = uint8_t(length);
    return bytes;
}

Bytes manyArcs(uint8_t count, uint8_t prefix) {
    Bytes oid{count, prefix, 0, 0};
    oid.resize(4 + 4 * size_t(count), 0);
    return oid;
}

const Malformed MALFORMED[] = {
    {"ShortHeader", Bytes(19, 0), DecodeError::Truncated},
    {"VersionTwo", frame(13, 0, {}, 2), DecodeError::BadVersion},
    {"TypeZero", frame(0, 0, {}), DecodeError::BadType},
    {"TypeAfterResponse", frame(19, 0, {}), DecodeError::BadType},
    {"PayloadNotPadded", withPayloadLength(frame(13, 0, {0, 0, 0}), 3), DecodeError::BadLength},
    {"PayloadBeyondBound", withPayloadLength(frame(13, 0, {}), MAX_PAYLOAD + 4),
     DecodeError::BadLength},
    {"PayloadLongerThanBytes", withPayloadLength(frame(13, 0, {}), 8), DecodeError::Truncated},
    {"PingWithTrailingBytes", frame(13, 0, {0, 0, 0, 0}), DecodeError::BadLength},
    {"CloseCut", frame(2, 0, {}), DecodeError::Truncated},
    {"OidArcsCut", frame(5, 0, {3, 0, 0, 0, 0, 0, 0, 1}), DecodeError::Truncated},
    {"OidOf129Arcs", frame(5, 0, cat({manyArcs(129, 0), NULL_OID})), DecodeError::BadOid},
    {"PrefixPushesPast128Arcs", frame(5, 0, cat({manyArcs(124, 2), NULL_OID})),
     DecodeError::BadOid},
    {"SearchRangeWithoutEnd", frame(5, 0, SYSTEM_OID), DecodeError::Truncated},
    {"RangeSubidPastSubtree", frame(3, 0, cat({{0, 127, 9, 0}, SYSTEM_OID, {0, 0, 0, 9}})),
     DecodeError::BadOid},
    {"RangeWithoutUpperBound", frame(3, 0, cat({{0, 127, 7, 0}, SYSTEM_OID})),
     DecodeError::Truncated},
    {"StringLongerThanPayload", frame(16, 0, cat({NULL_OID, {0, 0, 0, 5, 'a', 'b', 'c', 'd'}})),
     DecodeError::Truncated},
    {"StringLengthNearFourGiB", frame(16, 0, cat({NULL_OID, {0xff, 0xff, 0xff, 0xfe}})),
     DecodeError::Truncated},
    {"ContextCut", frame(13, FLAG_NON_DEFAULT_CONTEXT, {0, 0, 0, 8}), DecodeError::Truncated},
    {"UnknownValueType", frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 3, 0, 0}, SYSTEM_OID})),
     DecodeError::BadValueType},
    {"IpAddressOfFiveOctets",
     frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 64, 0, 0}, SYSTEM_OID,
                       {0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0}})),
     DecodeError::BadValueType},
    {"Counter64Cut",
     frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 70, 0, 0}, SYSTEM_OID, {0, 0, 0, 1}})),
     DecodeError::Truncated},
};

std::string caseName(const testing::TestParamInfo<Malformed>& info) {
    return info.param.name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Frames, AgentxMalformed, testing::ValuesIn(MALFORMED), caseName);

// Bindings beyond the bound are refused, not collected without end.
TEST(AgentxCodec, RefusesTooManyBindings) {
    Bytes payload{0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i <= MAX_BINDINGS; ++i)
        payload.insert(payload.end(), {0, 5, 0, 0, 0, 0, 0, 0});  // Null under the null OID
    Pdu pdu;
    size_t used = 0;
    EXPECT_EQ(decode(frame(18, 0, payload), pdu, used), DecodeError::TooMany);
}

// ---- The master, with subagents on its socket ----

namespace {

// Serves requests that may wait, with starts that never complete: the master
// answers subagents' tickets itself.
std::optional<orla::message> noStart(const orla::message&, uint32_t, const std::string&) {
    return orla::errorMsg(orla::ERR_NO_SERVICE, "unused");
}

// The agent's own object, which no subagent may shadow.
class LocalLeaf : public Leaf {
  public:
    bool get(Context&) override { return false; }
    bool getNext(Context&) override { return false; }
};

// A subagent: a connection to the master, driven from the test, which turns
// the agent's event loop while it waits for the master.
class Subagent {
  public:
    explicit Subagent(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Subagent() { hangUp(); }
    void hangUp() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        turn();
    }

    void send(Pdu pdu) {
        if (pdu.header.sessionID == 0) pdu.header.sessionID = session;
        if (pdu.header.packetID == 0) pdu.header.packetID = ++packets_;
        Bytes bytes;
        encode(pdu, bytes);
        sendBytes(bytes);
    }
    void sendBytes(const Bytes& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }

    // The next PDU from the master, or nothing when none came in a second
    // or the connection ended.
    std::optional<Pdu> receive() {
        for (int round = 0; round < 100; ++round) {
            Pdu pdu;
            size_t used = 0;
            if (decode(input_, pdu, used) == DecodeError::None) {
                input_.erase(input_.begin(), input_.begin() + static_cast<long>(used));
                return pdu;
            }
            orla::getRunner().runOnce(10);
            uint8_t chunk[4096];
            const ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got == 0) return std::nullopt;
            if (got > 0) input_.insert(input_.end(), chunk, chunk + got);
        }
        return std::nullopt;
    }
    // A request and the master's Response to it.
    Pdu ask(const Pdu& request) {
        send(request);
        std::optional<Pdu> response = receive();
        EXPECT_TRUE(response && response->header.type == PduType::Response);
        return response.value_or(Pdu{});
    }
    void open() { session = ask(pduOf(PduType::Open)).header.sessionID; }
    uint16_t registerSubtree(const char* subtree, uint8_t priority = 127) {
        Pdu pdu = pduOf(PduType::Register);
        pdu.subtree = OID(subtree);
        pdu.priority = priority;
        return ask(pdu).error;
    }

    static Pdu pduOf(PduType type) {
        Pdu pdu;
        pdu.header.type = type;
        return pdu;
    }
    static void turn() {
        for (int i = 0; i < 5; ++i)
            orla::getRunner().runOnce(1);
    }

    uint32_t session = 0;

  private:
    int fd_ = -1;
    uint32_t packets_ = 0;
    Bytes input_;
};

class AgentxMaster : public testing::Test {
  protected:
    static constexpr uint32_t PREFETCH_AGE_MILLIS = 300;

    void SetUp() override {
        char pattern[] = "/tmp/orla-agentx-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/agentx";
        MasterLimits limits;
        limits.defaultTimeoutMillis = 50;
        limits.prefetchMaxAgeMillis = PREFETCH_AGE_MILLIS;
        master_ = std::make_unique<Master>(
            [this](const std::vector<VarBind>& bindings) { notified_ = bindings; }, limits);
        std::string error;
        ASSERT_TRUE(master_->listen(path_, std::nullopt, error)) << error;
        setExchangeStarter(noStart);
    }
    void TearDown() override {
        master_.reset();
        setExchangeStarter(nullptr);
        forgetAnswers();
        releaseRegistry();
        std::filesystem::remove_all(dir_);
    }

    // Gets `name` as a request that may wait would: true when answered.
    bool get(const char* name, Context& ctx) {
        const OID full(name);
        const auto found = findRegistration(full);
        if (found == leafs.end()) return false;
        ctx.reset(nullptr, 0);
        ctx.name = found->first;
        ctx.oid = full.suffix(found->first.size());
        WaitingServe serving;
        return found->second->get(ctx);
    }
    // The first instance after `after`, as a walk that may wait asks it (a
    // GetBulk of `repetitions`, or a GetNext): its name, or an empty OID;
    // waited_ tells whether the request waits for the subagent.
    OID next(const char* after, int32_t repetitions = 0) {
        Context ctx(nullptr, 0);
        ctx.maxRepetitions = repetitions;
        ctx.oid = OID(after);
        WaitingServe serving;
        const bool answered = answerNext(ctx);
        waited_ = servingMustWait();
        return answered ? ctx.name : OID();
    }
    bool registered(const char* subtree) { return leafs.count(OID(subtree)) != 0; }

    std::string dir_, path_;
    bool waited_ = false;
    std::unique_ptr<Master> master_;
    std::vector<VarBind> notified_;
};

Pdu answerTo(const Pdu& request, VarBind binding, uint16_t error = 0) {
    Pdu response = Subagent::pduOf(PduType::Response);
    response.header.sessionID = request.header.sessionID;
    response.header.packetID = request.header.packetID;
    response.error = error;
    response.bindings = {std::move(binding)};
    return response;
}

}  // namespace

TEST_F(AgentxMaster, SocketIsForTheAgentsUserAlone) {
    struct stat info{};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Open, Register, a Get that waits for the subagent's answer and is served
// from it, then the subagent leaves and its subtree with it.
TEST_F(AgentxMaster, GetReachesTheSubagentAndItsSubtreeLeavesWithIt) {
    Subagent sub(path_);
    sub.open();
    EXPECT_NE(sub.session, 0u);
    EXPECT_EQ(sub.registerSubtree("1.3.6.1.4.1.99999"), 0);
    EXPECT_TRUE(registered("1.3.6.1.4.1.99999"));

    Context ctx(nullptr, 0);
    EXPECT_FALSE(get("1.3.6.1.4.1.99999.1.0", ctx));
    EXPECT_FALSE(leafs.empty());
    const std::optional<Pdu> request = sub.receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.type, PduType::Get);
    ASSERT_EQ(request->ranges.size(), 1u);
    EXPECT_EQ(request->ranges[0].start, OID("1.3.6.1.4.1.99999.1.0"));
    sub.send(answerTo(*request, {ValueType::OctetString, OID("1.3.6.1.4.1.99999.1.0"), 0, "up", {}}));
    Subagent::turn();
    EXPECT_TRUE(get("1.3.6.1.4.1.99999.1.0", ctx));
    EXPECT_EQ(ctx.name, OID("1.3.6.1.4.1.99999.1.0"));

    sub.hangUp();
    EXPECT_FALSE(registered("1.3.6.1.4.1.99999"));
    EXPECT_EQ(master_->sessionCount(), 0u);
}

// A GetBulk's repetitions go to the subagent as one GetBulk: the GetNexts
// after the first are answered from what it sent, without asking again.
TEST_F(AgentxMaster, BulkRepetitionsAskTheSubagentOnce) {
    Subagent sub(path_);
    sub.open();
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.99999"), 0);
    EXPECT_EQ(next("1.3.6.1.4.1.99999", 3), OID());
    EXPECT_TRUE(waited_);
    const std::optional<Pdu> bulk = sub.receive();
    ASSERT_TRUE(bulk);
    EXPECT_EQ(bulk->header.type, PduType::GetBulk);
    EXPECT_EQ(bulk->maxRepetitions, 3);
    Pdu response = answerTo(*bulk, {ValueType::Integer, OID("1.3.6.1.4.1.99999.1.1"), 1, {}, {}});
    response.bindings.push_back({ValueType::Integer, OID("1.3.6.1.4.1.99999.1.2"), 2, {}, {}});
    response.bindings.push_back({ValueType::EndOfMibView, OID("1.3.6.1.4.1.99999.1.2"), 0, {}, {}});
    sub.send(response);
    Subagent::turn();
    EXPECT_EQ(next("1.3.6.1.4.1.99999", 3), OID("1.3.6.1.4.1.99999.1.1"));
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.1", 3), OID("1.3.6.1.4.1.99999.1.2"));
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.2", 3), OID());  // the subagent's end: the tree's end
    EXPECT_FALSE(waited_);
}

// A GetNext asks for several instances at once; the walk's next steps are
// answered from them, in order, while they are fresh and while the subagent
// keeps its registration: neither a stale instance nor one that went back,
// nor one of a subtree unregistered meanwhile, reaches a manager.
TEST_F(AgentxMaster, GetNextWalksTakeSeveralInstancesWhileTheyAreFresh) {
    Subagent sub(path_);
    sub.open();
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.99999"), 0);
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.100000"), 0);
    auto instance = [](const char* name) {
        return VarBind{ValueType::Integer, OID(name), 1, {}, {}};
    };
    // The subagent's answer to `question`: these instances, in this order.
    auto answer = [&sub, &instance](const Pdu& question, std::initializer_list<const char*> names) {
        Pdu response = answerTo(question, instance(*names.begin()));
        for (auto name = names.begin() + 1; name != names.end(); ++name)
            response.bindings.push_back(instance(*name));
        sub.send(response);
        Subagent::turn();
    };
    // The question the walk's step after `start` sent the subagent.
    auto asked = [&sub](const char* start, uint16_t repetitions = NEXT_PREFETCH) {
        const std::optional<Pdu> question = sub.receive();
        EXPECT_TRUE(question);
        if (!question) return Pdu{};
        EXPECT_EQ(question->header.type, PduType::GetBulk);
        EXPECT_EQ(question->maxRepetitions, repetitions);
        EXPECT_EQ(question->ranges.at(0).start, OID(start));
        return *question;
    };

    EXPECT_EQ(next("1.3.6.1.4.1.99999"), OID());
    EXPECT_TRUE(waited_);
    // .1.3 twice: the instance after .1.3 is not known.
    answer(asked("1.3.6.1.4.1.99999"),
           {"1.3.6.1.4.1.99999.1.1", "1.3.6.1.4.1.99999.1.2", "1.3.6.1.4.1.99999.1.3",
            "1.3.6.1.4.1.99999.1.3", "1.3.6.1.4.1.99999.1.9"});
    EXPECT_EQ(next("1.3.6.1.4.1.99999"), OID("1.3.6.1.4.1.99999.1.1"));
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.1"), OID("1.3.6.1.4.1.99999.1.2"));
    EXPECT_FALSE(waited_);
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.2"), OID("1.3.6.1.4.1.99999.1.3"));
    EXPECT_FALSE(waited_);
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.3"), OID());
    EXPECT_TRUE(waited_);
    // The walk went through what was prefetched: twice as many are asked.
    answer(asked("1.3.6.1.4.1.99999.1.3", 2 * NEXT_PREFETCH),
           {"1.3.6.1.4.1.99999.1.4", "1.3.6.1.4.1.99999.1.5", "1.3.6.1.4.1.99999.1.6"});
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.3"), OID("1.3.6.1.4.1.99999.1.4"));

    // Older than answers are kept: the subagent is asked again.
    usleep((PREFETCH_AGE_MILLIS + 50) * 1000);
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.4"), OID());
    EXPECT_TRUE(waited_);
    answer(asked("1.3.6.1.4.1.99999.1.4"), {"1.3.6.1.4.1.99999.1.7", "1.3.6.1.4.1.99999.1.8"});
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.4"), OID("1.3.6.1.4.1.99999.1.7"));

    // Another subagent's registration nested in the subtree ends the range:
    // .1.8, asked within the wider one, is asked again.
    Subagent nested(path_);
    nested.open();
    ASSERT_EQ(nested.registerSubtree("1.3.6.1.4.1.99999.1.8"), 0);
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.7"), OID());
    EXPECT_TRUE(waited_);
    Pdu question = asked("1.3.6.1.4.1.99999.1.7");
    EXPECT_EQ(question.ranges.at(0).end, OID("1.3.6.1.4.1.99999.1.8"));
    answer(question, {"1.3.6.1.4.1.99999.1.7.5"});
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.7"), OID("1.3.6.1.4.1.99999.1.7.5"));
    nested.hangUp();

    // The subtree leaves mid-walk: the walk goes on past it, in the next one.
    Pdu unregister = Subagent::pduOf(PduType::Unregister);
    unregister.subtree = OID("1.3.6.1.4.1.99999");
    unregister.priority = 127;
    EXPECT_EQ(sub.ask(unregister).error, 0);
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.7"), OID());
    EXPECT_TRUE(waited_);
    question = asked("1.3.6.1.4.1.100000");
    EXPECT_TRUE(question.ranges.at(0).include);
    answer(question, {"1.3.6.1.4.1.100000.1"});
    EXPECT_EQ(next("1.3.6.1.4.1.99999.1.7"), OID("1.3.6.1.4.1.100000.1"));
}

// A subagent's answer outside what was asked is no answer: a walk never
// goes back or leaves the subtree, and a Get never answers another name.
TEST_F(AgentxMaster, AnswersOutsideTheQuestionAreNoAnswers) {
    Subagent sub(path_);
    sub.open();
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.99999"), 0);
    struct Case {
        const char* asked;  // GetNext after it, or Get of it
        bool getNext;
        const char* answered;
    } cases[] = {
        {"1.3.6.1.4.1.99999.5", true, "1.3.6.1.4.1.99999.4"},      // before the question
        {"1.3.6.1.4.1.99999.6", true, "1.3.6.1.4.1.99999.6"},      // the question itself
        {"1.3.6.1.4.1.99999.7", true, "1.3.6.1.4.1.100000.1"},     // past the subtree
        {"1.3.6.1.4.1.99999.8.0", false, "1.3.6.1.4.1.99999.9.0"}, // another instance
    };
    for (const Case& c : cases) {
        Context ctx(nullptr, 0);
        auto serve = [&] { return c.getNext ? !next(c.asked).empty() : get(c.asked, ctx); };
        EXPECT_FALSE(serve());
        const std::optional<Pdu> question = sub.receive();
        ASSERT_TRUE(question);
        sub.send(answerTo(*question, {ValueType::Integer, OID(c.answered), 1, {}, {}}));
        Subagent::turn();
        EXPECT_FALSE(serve()) << c.asked << " answered by " << c.answered;
    }
}

// Only root and the agent's own user are admitted: the socket's mode says
// so, and the master checks again as it accepts.
TEST_F(AgentxMaster, OtherUsersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    // Past the first gate: the folder and the socket let anyone connect.
    ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
    const pid_t child = fork();
    if (child == 0) {
        // As nobody: the master closes the connection before any answer.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
        Bytes open;
        encode(Subagent::pduOf(PduType::Open), open);
        (void)!::send(fd, open.data(), open.size(), MSG_NOSIGNAL);
        char byte = 0;
        _exit(recv(fd, &byte, 1, 0) <= 0 ? 0 : 1);
    }
    int status = -1;
    for (int round = 0; round < 200 && waitpid(child, &status, WNOHANG) == 0; ++round)
        orla::getRunner().runOnce(10);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(master_->sessionCount(), 0u);
}

// An unanswered request fails (genErr) after the time-out; the third in a
// row closes the session, whose subtree leaves the tree.
TEST_F(AgentxMaster, SilentSubagentCostsGenErrAndThenItsSession) {
    Subagent sub(path_);
    sub.open();
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.99999"), 0);
    Context ctx(nullptr, 0);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const std::string name = "1.3.6.1.4.1.99999.1." + std::to_string(attempt);
        EXPECT_FALSE(get(name.c_str(), ctx));
        ASSERT_TRUE(sub.receive());  // never answered
        const uint64_t failures = failedAnswers();
        usleep(60 * 1000);
        Subagent::turn();
        if (attempt < 3) {
            EXPECT_FALSE(get(name.c_str(), ctx));
            EXPECT_EQ(failedAnswers(), failures + 1) << attempt;
        }
    }
    const std::optional<Pdu> close = sub.receive();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->header.type, PduType::Close);
    EXPECT_EQ(close->reason, uint8_t(CloseReason::Timeouts));
    EXPECT_FALSE(registered("1.3.6.1.4.1.99999"));
}

// RFC 2741 7.1.5.1 between subagents; the agent's own objects are never shadowed.
TEST_F(AgentxMaster, RegistrationsFollowPriorityAndLeaveLocalObjectsAlone) {
    addLeaf(OID("1.3.6.1.2.1.1"), new LocalLeaf);
    Subagent first(path_), second(path_);
    first.open();
    second.open();
    EXPECT_EQ(first.registerSubtree("1.3.6.1.2.1.1"), uint16_t(ResponseError::RequestDenied));
    EXPECT_EQ(first.registerSubtree("1.3.6.1.2.1.1.9.1"), uint16_t(ResponseError::RequestDenied));
    EXPECT_EQ(first.registerSubtree("1.3.6.1.2.1"), 0);  // encloses the local one
    EXPECT_EQ(first.registerSubtree("1.3.6.1.4.1.5", 127), 0);
    EXPECT_EQ(second.registerSubtree("1.3.6.1.4.1.5", 127),
              uint16_t(ResponseError::DuplicateRegistration));
    EXPECT_EQ(second.registerSubtree("1.3.6.1.4.1.5", 100), 0);
    auto servedBy = [](const char* subtree) {
        const auto found = leafs.find(OID(subtree));
        auto* leaf = found == leafs.end() ? nullptr : dynamic_cast<SubagentLeaf*>(found->second);
        return leaf == nullptr ? 0u : leaf->sessionID();
    };
    EXPECT_EQ(servedBy("1.3.6.1.4.1.5"), second.session);
    Pdu unregister = Subagent::pduOf(PduType::Unregister);
    unregister.subtree = OID("1.3.6.1.4.1.6");
    unregister.priority = 127;
    EXPECT_EQ(first.ask(unregister).error, uint16_t(ResponseError::UnknownRegistration));
    second.hangUp();
    EXPECT_EQ(servedBy("1.3.6.1.4.1.5"), first.session);
    // A range: 1.3.6.1.4.1.7.[1-3].2, three subtrees.
    Pdu range = Subagent::pduOf(PduType::Register);
    range.subtree = OID("1.3.6.1.4.1.7.1.2");
    range.rangeSubid = 8;
    range.upperBound = 3;
    EXPECT_EQ(first.ask(range).error, 0);
    EXPECT_EQ(servedBy("1.3.6.1.4.1.7.3.2"), first.session);
    range.header.type = PduType::Unregister;
    EXPECT_EQ(first.ask(range).error, 0);
    EXPECT_FALSE(registered("1.3.6.1.4.1.7.2.2"));
}

// What a session may do before and besides its registrations.
TEST_F(AgentxMaster, SessionsNeedOpenAndKeepTheirIndexes) {
    Subagent first(path_), second(path_);
    EXPECT_EQ(first.ask(Subagent::pduOf(PduType::Ping)).error, uint16_t(ResponseError::NotOpen));
    first.open();
    second.open();
    EXPECT_EQ(first.ask(Subagent::pduOf(PduType::Ping)).error, 0);

    Pdu allocate = Subagent::pduOf(PduType::IndexAllocate);
    allocate.header.flags |= FLAG_ANY_INDEX;
    allocate.bindings = {{ValueType::Integer, OID("1.3.6.1.4.1.5.1.1"), 0, {}, {}}};
    EXPECT_EQ(first.ask(allocate).bindings.at(0).number, 1u);
    EXPECT_EQ(second.ask(allocate).bindings.at(0).number, 2u);
    Pdu deallocate = Subagent::pduOf(PduType::IndexDeallocate);
    deallocate.bindings = {{ValueType::Integer, OID("1.3.6.1.4.1.5.1.1"), 1, {}, {}}};
    EXPECT_EQ(second.ask(deallocate).error, uint16_t(ResponseError::IndexNotAllocated));
    EXPECT_EQ(first.ask(deallocate).error, 0);

    Pdu notify = Subagent::pduOf(PduType::Notify);
    notify.bindings = {{ValueType::ObjectIdentifier, OID("1.3.6.1.6.3.1.1.4.1.0"), 0, {},
                        OID("1.3.6.1.4.1.5.0.1")}};
    EXPECT_EQ(first.ask(notify).error, 0);
    ASSERT_EQ(notified_.size(), 1u);
    EXPECT_EQ(notified_[0].oid, OID("1.3.6.1.4.1.5.0.1"));

    // AgentCaps are rows of sysORTable while their session lives.
    Pdu caps = Subagent::pduOf(PduType::AddAgentCaps);
    caps.id = OID("1.3.6.1.4.1.5.2");
    caps.description = "a subagent's module";
    const size_t modules = registeredModules.size();
    EXPECT_EQ(first.ask(caps).error, 0);
    EXPECT_EQ(first.ask(caps).error, uint16_t(ResponseError::RequestDenied));
    ASSERT_EQ(registeredModules.size(), modules + 1);
    EXPECT_EQ(registeredModules.back().description, "a subagent's module");
    Pdu uncaps = Subagent::pduOf(PduType::RemoveAgentCaps);
    uncaps.id = caps.id;
    EXPECT_EQ(second.ask(uncaps).error, uint16_t(ResponseError::UnknownAgentCaps));
    EXPECT_EQ(second.ask(caps).error, 0);
    EXPECT_EQ(first.ask(uncaps).error, 0);
    EXPECT_EQ(registeredModules.size(), modules + 1);

    // A frame that does not parse ends the session.
    first.sendBytes(frame(3, 0, {0, 127, 0, 0, 9, 0, 0, 0}));
    std::optional<Pdu> reply = first.receive();
    while (reply && reply->header.type == PduType::Response)
        reply = first.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, PduType::Close);
    EXPECT_EQ(master_->sessionCount(), 1u);
    second.hangUp();
    EXPECT_EQ(registeredModules.size(), modules);
}

// A Set across a local object and a subagent's (RFC 2741 7.2.4): TestSet,
// then CommitSet, then the local commit; a failure after the subagent
// committed undoes it there, and every transaction ends with a CleanupSet.
// The local binding is row 1 (commits) or row 3 (fails at its commit) of
// the fixture's column; the subagent answers each phase as the case says
// (-1: never).
TEST_F(AgentxMaster, SetIsAllOrNothingAcrossTheSubagent) {
    struct Case {
        const char* scenario;
        uint32_t localRow;
        int testError, commitError, undoError;
        std::vector<PduType> sent;  // to the subagent, in order
        int status, index;          // the reply's
        int localValue;             // row 1's afterwards
    };
    using enum PduType;
    const Case cases[] = {
        {"BothCommit", 1, 0, 0, 0, {TestSet, CommitSet, CleanupSet}, 0, 0, 99},
        {"SubagentRefusesItsTest", 1, 10, 0, 0, {TestSet, CleanupSet}, 10, 2, 10},
        {"SilentSubagentIsGenErr", 1, -1, 0, 0, {TestSet, CleanupSet}, 5, 2, 10},
        {"SubagentCommitFails", 1, 0, 14, 0, {TestSet, CommitSet, UndoSet, CleanupSet}, 14, 2, 10},
        {"LocalCommitFailsAfterTheSubagents", 3, 0, 0, 0,
         {TestSet, CommitSet, UndoSet, CleanupSet}, 14, 1, 10},
        {"SubagentUndoFails", 3, 0, 0, 15, {TestSet, CommitSet, UndoSet, CleanupSet}, 15, 0, 10},
    };
    auto& column = *new fixture::Column({{1, 10}, {2, 20}});
    addLeaf(OID("1.3.6.1.4.1.99999.2"), &column);
    Subagent sub(path_);
    sub.open();
    ASSERT_EQ(sub.registerSubtree("1.3.6.1.4.1.99998"), 0);
    PduPolicy policy;
    policy.canWrite = true;
    uint64_t request = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        column.rows[1] = 10;
        const OID local = OID("1.3.6.1.4.1.99999.2") + OID{c.localRow};
        const fixture::Bytes datagram = fixture::request(
            1, "private", ber::SET_REQUEST, 0, 0,
            {fixture::binding(local, ber::INTEGER, fixture::integer(99)),
             fixture::binding(OID("1.3.6.1.4.1.99998.1.0"), ber::INTEGER, fixture::integer(7))});
        ++request;
        std::optional<fixture::Reply> reply;
        std::vector<Pdu> sent;
        for (int round = 0; round < 8 && !reply; ++round) {
            fixture::Bytes buffer = datagram;
            Context ctx(buffer.data(), static_cast<unsigned>(buffer.size()));
            ASSERT_EQ(ctx.in.getVersion(), 1);
            ASSERT_TRUE(ctx.in.getString(ctx.community));
            ctx.out.startSeq(ber::SEQUENCE);
            ctx.out.add(1, ber::INTEGER);
            ctx.out.add(ctx.community, ber::OCTET_STRING);
            bool waits = false;
            {
                WaitingServe serving(false, request);
                ASSERT_TRUE(servePdu(ctx, policy));
                waits = servingMustWait();
            }
            if (!waits) {
                ctx.out.endSeq();
                reply.emplace();
                ASSERT_TRUE(fixture::decode(ctx.out.bytes(), *reply));
                break;
            }
            const std::optional<Pdu> phase = sub.receive();
            if (!phase) continue;  // the time-out answered meanwhile
            sent.push_back(*phase);
            const int error = phase->header.type == TestSet     ? c.testError
                              : phase->header.type == CommitSet ? c.commitError
                                                                : c.undoError;
            if (error < 0) continue;
            Pdu response = Subagent::pduOf(Response);
            response.header.sessionID = phase->header.sessionID;
            response.header.transactionID = phase->header.transactionID;
            response.header.packetID = phase->header.packetID;
            response.error = static_cast<uint16_t>(error);
            response.index = error != 0 && phase->header.type == TestSet ? 1 : 0;
            sub.send(response);
            Subagent::turn();
        }
        ASSERT_TRUE(reply);
        if (std::optional<Pdu> cleanup = sub.receive()) sent.push_back(*cleanup);
        EXPECT_EQ(reply->status, c.status);
        EXPECT_EQ(reply->index, c.index);
        EXPECT_EQ(column.rows[1], c.localValue);
        std::vector<PduType> types;
        for (const Pdu& pdu : sent) {
            types.push_back(pdu.header.type);
            EXPECT_EQ(pdu.header.transactionID, sent.front().header.transactionID);
        }
        EXPECT_EQ(types, c.sent);
        ASSERT_FALSE(sent.empty());
        ASSERT_EQ(sent.front().bindings.size(), 1u);  // the subagent's binding alone
        EXPECT_EQ(sent.front().bindings[0].name, OID("1.3.6.1.4.1.99998.1.0"));
        EXPECT_EQ(sent.front().bindings[0].number, 7u);
    }

    // One PDU of a transaction at a time: an UndoSet asked while the
    // CommitSet is on its way goes once that was answered.
    const unsigned char seven[] = {ber::INTEGER, 1, 7};
    const RemoteBinding one{OID("1.3.6.1.4.1.99998.1.0"), seven};
    auto run = [&](RemotePhase phase) {
        WaitingServe serving(false, request);
        return master_->runSetPhase(sub.session, request, phase, {&one, 1}, 1000).state;
    };
    auto answerNext = [&](PduType expected) {
        const std::optional<Pdu> phase = sub.receive();
        ASSERT_TRUE(phase);
        ASSERT_EQ(phase->header.type, expected);
        Pdu response = Subagent::pduOf(Response);
        response.header = phase->header;
        response.header.type = Response;
        sub.send(response);
        Subagent::turn();
    };
    ++request;
    EXPECT_EQ(run(RemotePhase::Test), RemoteAnswer::State::Waiting);
    answerNext(TestSet);
    EXPECT_EQ(run(RemotePhase::Commit), RemoteAnswer::State::Waiting);
    EXPECT_EQ(run(RemotePhase::Undo), RemoteAnswer::State::Waiting);
    answerNext(CommitSet);
    EXPECT_EQ(run(RemotePhase::Undo), RemoteAnswer::State::Waiting);
    answerNext(UndoSet);
    EXPECT_EQ(run(RemotePhase::Undo), RemoteAnswer::State::Answered);
    master_->endSet(sub.session, request);
    const std::optional<Pdu> cleanup = sub.receive();
    ASSERT_TRUE(cleanup);
    EXPECT_EQ(cleanup->header.type, CleanupSet);
}

// A subagent's Notify becomes the agent's trap: RFC 3584 3.2's SNMPv1 form.
TEST(AgentxNotify, TrapIsSnmpTrapOidsValue) {
    const OID trapOidName("1.3.6.1.6.3.1.1.4.1.0");
    const VarBind upTime{ValueType::TimeTicks, OID("1.3.6.1.2.1.1.3.0"), 5, {}, {}};
    const VarBind ifIndex{ValueType::Integer, OID("1.3.6.1.2.1.2.2.1.1.3"), 3, {}, {}};
    struct Case {
        OID notification;
        OID trapOid;
        int generic, specific;
    } cases[] = {
        {OID("1.3.6.1.6.3.1.1.5.3"), OID("1.3.6.1.6.3.1.1.5.3"), 2, 0},  // linkDown
        {OID("1.3.6.1.4.1.8072.4.0.2"), OID("1.3.6.1.4.1.8072.4"), 6, 2},
        {OID("1.0.8802.1.1.2.0.0.1"), OID("1.0.8802.1.1.2.0"), 6, 1},
    };
    for (const Case& c : cases) {
        const VarBind trap{ValueType::ObjectIdentifier, trapOidName, 0, {}, c.notification};
        std::vector<VariableBinding> bindings;
        OID trapOid;
        int generic = -1, specific = -1;
        ASSERT_TRUE(notifyTrapMaker(bindings, notifyRequest({upTime, trap, ifIndex}), trapOid,
                                    generic, specific));
        EXPECT_EQ(trapOid, c.trapOid);
        EXPECT_EQ(generic, c.generic);
        EXPECT_EQ(specific, c.specific);
        ASSERT_EQ(bindings.size(), 1u);  // sysUpTime.0 and snmpTrapOID.0 are the agent's to write
        EXPECT_EQ(bindings[0].oid, ifIndex.name);
        EXPECT_EQ(bindings[0].value, std::string(1, '\x03'));
    }
    std::vector<VariableBinding> bindings;
    OID trapOid;
    int generic = 0, specific = 0;
    EXPECT_FALSE(notifyTrapMaker(bindings, notifyRequest({upTime, ifIndex}), trapOid, generic, specific));
    EXPECT_FALSE(notifyTrapMaker(bindings, orla::message(), trapOid, generic, specific));
}
