// Message processing past what the end-to-end tests reach with net-snmp's
// tools: binding failures and their statuses, size limits, GetBulk's layout
// at its edges, SNMPv1's Counter64 rule under long names, and SNMPv3 reports
// of replayed and malformed messages.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>

#include "request/dispatch.h"
#include "request/pdu.h"
#include "tests/fixture.h"
#include "tests/platform/snmp/captured_v3_packets.h"
#include "tests/platform/snmp/v3_message.h"

using namespace fixture;

namespace {

PduPolicy rights(bool read, bool write) {
    PduPolicy policy;
    policy.canRead = read;
    policy.canWrite = write;
    return policy;
}
const PduPolicy READ = rights(true, false);
const PduPolicy READ_WRITE = rights(true, true);
const SourceAddress ANYWHERE = htonl(0xC0A80001);  // 192.168.0.1

// Writes the community header as the dispatcher does, then serves the PDU.
bool serve(const Bytes& datagram, const PduPolicy& policy, Reply& reply,
           size_t* replySize = nullptr) {
    Bytes buffer = datagram;
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

struct Case {
    const char* scenario;
    uint32_t pduType;
    int nonRepeaters;
    int maxRepetitions;
    std::vector<VariableBinding> bindings;
    PduPolicy policy;
    int status;
    int index;
    std::vector<std::string> replyNames;
};

class Pdu : public Tree, public ::testing::WithParamInterface<Case> {};

// Plain gets, walks, rights and the end of the tree are the end-to-end walk,
// bulk and access tests'.
// clang-format off
const Case CASES[] = {
    {"GetNestedOnlyTriesGreatestKey", ber::GET_REQUEST, 0, 0, {binding(OID("1.3.6.1.3.7.1.6.0"))},
     READ, 2, 1, {"1.3.6.1.3.7.1.6.0"}},
    {"GetNextSkipsRefusingLeaf", ber::GET_NEXT_REQUEST, 0, 0, {binding(under({2, 5}))}, READ, 0, 0, {e("4.0")}},
    {"SetStopsAtFailingBinding", ber::SET_REQUEST, 0, 0,
     {binding(under({2, 1}), ber::INTEGER, integer(11)), binding(under({2, 3}), ber::INTEGER, integer(33)),
      binding(under({2, 2}), ber::INTEGER, integer(22))}, READ_WRITE, 2, 2, {e("2.1"), e("2.3")}},
    {"BulkSecondRepeaterPastEndCutsRepetition", ber::GET_BULK_REQUEST, 0, 3,
     {binding(under({2, 1})), binding(under({4, 0}))}, READ, 0, 0, {e("2.2")}},
    {"BulkFirstRepeaterFailingAfterNonRepeaters", ber::GET_BULK_REQUEST, 1, 5,
     {binding(under({1})), binding(under({4, 0}))}, READ, 0, 0, {e("1.0")}},
    {"BulkFailingNonRepeaterAnsweredAsGetNext", ber::GET_BULK_REQUEST, 2, 1,
     {binding(under({1})), binding(under({4, 0})), binding(under({2}))}, READ, 2, 2, {e("1.0"), e("4.0")}},
    {"BulkNegativeRepetitionsAsZero", ber::GET_BULK_REQUEST, 0, -1, {binding(under({1}))}, READ, 0, 0, {}},
    {"BulkNegativeNonRepeatersAsZero", ber::GET_BULK_REQUEST, -3, 1,
     {binding(under({1})), binding(under({2}))}, READ, 0, 0, {e("1.0"), e("2.1")}},
    {"BulkNonRepeatersBeyondListAllNonRepeating", ber::GET_BULK_REQUEST, 7, 4,
     {binding(under({1})), binding(under({2}))}, READ, 0, 0, {e("1.0"), e("2.1")}},
    {"BulkWithoutReadEchoesFirstBinding", ber::GET_BULK_REQUEST, 0, 5,
     {binding(under({1})), binding(under({2}))}, rights(false, false), 2, 1, {e("1")}},
};
// clang-format on

TEST_P(Pdu, AnswersWithStatusIndexAndBindings) {
    const Case& c = GetParam();
    Reply reply;
    ASSERT_TRUE(serve(request(1, "public", c.pduType, c.nonRepeaters, c.maxRepetitions, c.bindings),
                      c.policy, reply));
    EXPECT_EQ(reply.pduType, ber::RESPONSE);
    EXPECT_EQ(reply.requestId, 4711);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.index, c.index);
    EXPECT_EQ(names(reply), c.replyNames);
    // A failing binding is echoed with NULL; answered ones carry a value.
    for (size_t i = 0; i < reply.bindings.size(); ++i) {
        const bool failed = c.status != 0 && i + 1 == reply.bindings.size();
        EXPECT_EQ(reply.bindings[i].type == ber::NULL_VALUE, failed) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Request, Pdu, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.scenario); });

// The limit of an SNMPv3 reply (the manager's msgMaxSize) is lower than a
// datagram's: a reply over it is tooBig without bindings, and so is a bulk
// reply whose first binding does not fit.
TEST_F(Tree, ReplyOverTheLimitIsTooBigWithNoBindings) {
    Scalar large(std::string(300, 'l'));
    addLeaf(under({0}), &large);
    PduPolicy lowered = READ;
    lowered.replyLimit = 200;
    for (const Bytes& datagram :
         {request(1, "public", ber::GET_REQUEST, 0, 0, {binding(under({0, 0}))}),
          request(1, "public", ber::GET_BULK_REQUEST, 0, 3, {binding(ENTERPRISE)})}) {
        Reply reply;
        ASSERT_TRUE(serve(datagram, lowered, reply));
        EXPECT_EQ(reply.status, 1);
        EXPECT_EQ(reply.index, 0);
        EXPECT_TRUE(reply.bindings.empty());
    }
}

// A huge table and max-repetitions: the reply stops at the size limit, and
// the work at what such a reply could hold.
TEST_F(Tree, HugeRepetitionsStopAtReplyLimit) {
    Column huge({}, 1000000);
    addLeaf(under({5}), &huge);
    for (const size_t limit : {size_t(ber::MAX_UDP_PAYLOAD), size_t(484)}) {
        SCOPED_TRACE(limit);
        huge.nextCalls = 0;
        PduPolicy policy = READ;
        policy.replyLimit = limit;
        Reply reply;
        size_t size = 0;
        ASSERT_TRUE(serve(request(1, "public", ber::GET_BULK_REQUEST, 0, 0x7fffffff,
                                  {binding(under({5})), binding(under({5, 500000}))}),
                          policy, reply, &size));
        EXPECT_EQ(reply.status, 0);
        EXPECT_LE(size, limit);
        EXPECT_GT(size + 40, limit);  // filled up to about one binding below the limit
        ASSERT_GE(reply.bindings.size(), 2u);
        for (size_t i = 0; i < reply.bindings.size(); ++i) {
            const uint32_t row = uint32_t(i / 2 + 1) + (i % 2 == 0 ? 0 : 500000);
            ASSERT_EQ(reply.bindings[i].oid, under({5, row})) << i;
        }
        EXPECT_LE(huge.nextCalls, reply.bindings.size() + 1);
    }
}

// Under E.5: a Counter64 at any index.
class Counters : public Leaf {
  public:
    bool get(Context& ctx) override {
        ctx.name += ctx.oid;
        ctx.out.addOID(ctx.name);
        ctx.out.add(uint64_t{1} << 40, ber::COUNTER64);
        return true;
    }
    bool getNext(Context&) override { return false; }
    bool set(Context&) override { return false; }
};

// createReply over the tree and a community table, with no agent service.
class Dispatch : public Tree {
  protected:
    void SetUp() override {
        Tree::SetUp();
        addLeaf(under({5}), &counters);
    }

    // createReply on `datagram`; nullopt when nothing is sent. `line` gets stderr.
    std::optional<Bytes> send(Bytes datagram, std::string* line = nullptr) {
        Context ctx(datagram.data(), static_cast<unsigned>(datagram.size()));
        testing::internal::CaptureStderr();
        const bool sent = createReply(ctx, ANYWHERE, communities.keep, communities.engine);
        const std::string err = testing::internal::GetCapturedStderr();
        if (line) *line = err;
        if (!sent) return std::nullopt;
        return ctx.out.bytes();
    }
    Reply ask(int version, uint32_t pduType, const OID& name) {
        Reply reply;
        const std::optional<Bytes> sent =
            send(request(version, "morvel", pduType, 0, 0, {binding(name)}));
        EXPECT_TRUE(sent && decode(*sent, reply));
        return reply;
    }
    uint32_t reports() const {
        uint32_t sum = 0;
        for (uint32_t counter : communities.engine.usmStats)
            sum += counter;
        return sum;
    }

    Counters counters;
    Communities communities;
};

// RFC 3584 4.2.2.1: SNMPv1 cannot carry Counter64, so such instances do not
// exist for a version 1 request. Walks and short names are the end-to-end
// v1 interfaces test's; here a name whose length takes the long form.
TEST_F(Dispatch, Counter64IsInvisibleToVersion1AlsoUnderALongName) {
    OID longName = under({5, 1});
    for (int i = 0; i < 70; ++i)
        longName += 300;
    EXPECT_EQ(ask(0, ber::GET_REQUEST, longName).status, 2);
    EXPECT_EQ(ask(1, ber::GET_REQUEST, longName).status, 0);
}

TEST_F(Dispatch, DroppedMessagesGetTheirLineAndCountNothing) {
    std::string line;
    // A plaintext scoped PDU without its context fields.
    Bytes datagram = captured::DISCOVERY;
    datagram.resize(0x2a);
    datagram.insert(datagram.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
    datagram[1] = static_cast<unsigned char>(datagram.size() - 2);
    EXPECT_FALSE(send(datagram, &line));
    EXPECT_EQ(line, "decryptAndCheckSignature failed\n");
    EXPECT_EQ(reports(), 0u);
}

// RFC 3412 7.2, 6.4: a failed message is reported only when its PDU is of
// the Confirmed class, or, while it stays encrypted, when the reportable flag
// asks; a report for an unreadable PDU carries request-id 0.
TEST_F(Dispatch, FailuresAreReportedOnlyToConfirmedPdusOrReportableFlags) {
    communities.add(userConfig("vault", usm::AUTH_PRIV));
    const auto time = usm::engineTime(communities.engine);
    const std::tuple<const char*, int, uint32_t, unsigned char, std::optional<int>> cases[] = {
        {"nobody", 0, ber::GET_REQUEST, 0x04, 0x1234},
        {"nobody", 0, ber::GET_REQUEST, 0x00, 0x1234},  // the class overrides the flag
        {"nobody", 0, ber::INFORM_REQUEST, 0x04, 0x1234},
        {"nobody", 0, ber::REPORT, 0x04, std::nullopt},
        {"nobody", 0, ber::RESPONSE, 0x04, std::nullopt},
        {"nobody", 0, ber::TRAP_V2, 0x04, std::nullopt},
        {"vault", 2, ber::GET_REQUEST, 0x07, 0},  // wrong key: the PDU stays encrypted
        {"vault", 2, ber::REPORT, 0x07, 0},
        {"vault", 2, ber::GET_REQUEST, 0x03, std::nullopt},
    };
    for (const auto& [user, level, pduType, flags, requestId] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::tuple(user, pduType, int(flags))));
        v3test::Request m;
        m.level = level;
        m.engineID = communities.engine.engineID;
        m.boots = 7;
        m.time = time;
        m.user = user;
        m.pduType = pduType;
        Bytes datagram = v3test::build(
            m, v3test::deriveKeys(m.authProtocol, m.engineID, "wrong-auth-pw", "wrong-priv-pw"));
        // msgFlags follows msgMaxSize 65507 (02 03 00 ff e3) and its header (04 01).
        const unsigned char header[] = {0x02, 0x03, 0x00, 0xff, 0xe3, 0x04, 0x01};
        auto at =
            std::search(datagram.begin(), datagram.end(), std::begin(header), std::end(header));
        ASSERT_NE(at, datagram.end());
        at[sizeof header] = flags;
        const std::optional<Bytes> sent = send(datagram);
        ASSERT_EQ(sent.has_value(), requestId.has_value());
        if (!sent) continue;
        InStream in(sent->data(), sent->size());
        MessageDrops dropped;
        std::string contextField;
        Reply reply;
        ASSERT_TRUE(in.getVersion() == 3 && in.readV3Info(dropped) && in.enterSeq() &&
                    in.getString(contextField) && in.getString(contextField) &&
                    decodePdu(in, reply));
        EXPECT_EQ(in.v3Info()->msgID, 77u);
        EXPECT_EQ(reply.pduType, ber::REPORT);
        EXPECT_EQ(reply.requestId, *requestId);
    }
    EXPECT_EQ(reports(), std::size(cases));
}

}  // namespace
