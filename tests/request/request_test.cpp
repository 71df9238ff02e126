// Message processing past what the end-to-end tests reach with net-snmp's
// tools: binding failures and their statuses, size limits, GetBulk's layout
// at its edges, SNMPv1's Counter64 rule under long names, and SNMPv3 reports
// of replayed and malformed messages.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>

#include "mib/get_provider.h"
#include "mib/platform_exchange.h"
#include "mib/scalar.h"
#include "mib/string_packer.h"
#include "request/dispatch.h"
#include "request/parked_requests.h"
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
PduPolicy version1(PduPolicy policy) {
    policy.snmpV1 = true;
    return policy;
}
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
    {"GetMixesValuesAndExceptions", ber::GET_REQUEST, 0, 0,
     {binding(OID("1.3.6.1.3.7.1.6.0")), binding(under({1, 0})), binding(under({2, 3})), binding(under({0}))},
     READ, 0, 0, {"1.3.6.1.3.7.1.6.0!instance", e("1.0"), e("2.3!instance"), e("0!object")}},
    {"V1GetEndsAtFirstMissing", ber::GET_REQUEST, 0, 0,
     {binding(under({1, 0})), binding(OID("1.3.6.1.3.7.1.6.0")), binding(under({4, 0}))},
     version1(READ), 2, 2, {e("1.0"), "1.3.6.1.3.7.1.6.0"}},
    {"GetNextSkipsRefusingLeafAndEndsInEndOfMibView", ber::GET_NEXT_REQUEST, 0, 0,
     {binding(under({2, 5})), binding(under({4, 0}))}, READ, 0, 0, {e("4.0"), e("4.0!end")}},
    {"V1GetNextPastEndIsNoSuchName", ber::GET_NEXT_REQUEST, 0, 0, {binding(under({4, 0}))},
     version1(READ), 2, 1, {e("4.0")}},
    {"V2GetWithoutReadSeesNothing", ber::GET_REQUEST, 0, 0, {binding(under({1, 0})), binding(under({4, 0}))},
     rights(false, true), 0, 0, {e("1.0!object"), e("4.0!object")}},
    {"BulkRepeaterAtEndRepeatsEndOfMibView", ber::GET_BULK_REQUEST, 0, 3,
     {binding(under({2, 1})), binding(under({4, 0}))}, READ, 0, 0,
     {e("2.2"), e("4.0!end"), e("2.5"), e("4.0!end"), e("4.0"), e("4.0!end")}},
    {"BulkStopsAfterRepetitionAllAtEnd", ber::GET_BULK_REQUEST, 1, 5,
     {binding(under({1})), binding(under({4, 0}))}, READ, 0, 0, {e("1.0"), e("4.0!end")}},
    {"BulkNonRepeaterPastEndIsEndOfMibView", ber::GET_BULK_REQUEST, 2, 1,
     {binding(under({1})), binding(under({4, 0})), binding(under({2}))}, READ, 0, 0,
     {e("1.0"), e("4.0!end"), e("2.1")}},
    {"BulkNegativeRepetitionsAsZero", ber::GET_BULK_REQUEST, 0, -1, {binding(under({1}))}, READ, 0, 0, {}},
    {"BulkNegativeNonRepeatersAsZero", ber::GET_BULK_REQUEST, -3, 1,
     {binding(under({1})), binding(under({2}))}, READ, 0, 0, {e("1.0"), e("2.1")}},
    {"BulkNonRepeatersBeyondListAllNonRepeating", ber::GET_BULK_REQUEST, 7, 4,
     {binding(under({1})), binding(under({2}))}, READ, 0, 0, {e("1.0"), e("2.1")}},
    {"BulkWithoutReadSeesTheEnd", ber::GET_BULK_REQUEST, 0, 5,
     {binding(under({1})), binding(under({2}))}, rights(false, false), 0, 0, {e("1!end"), e("2!end")}},
    // A leaf that cannot undo its commit: the refusal after it leaves the
    // request undoFailed.
    {"LeafWithoutUndoLeavesUndoFailed", ber::SET_REQUEST, 0, 0,
     {binding(under({2, 1}), ber::INTEGER, integer(11)), binding(under({2, 3}), ber::INTEGER, integer(33)),
      binding(under({2, 2}), ber::INTEGER, integer(22))}, READ_WRITE, 15, 0, {e("2.1"), e("2.3"), e("2.2")}},
    {"SetOfUnknownNameIsNotWritable", ber::SET_REQUEST, 0, 0,
     {binding(under({2, 1}), ber::INTEGER, integer(11)), binding(OID("1.3.6.1.9.9.0"), ber::INTEGER, integer(1))},
     READ_WRITE, 17, 2, {e("2.1"), "1.3.6.1.9.9.0"}},
    {"V1SetOfUnknownNameIsNoSuchName", ber::SET_REQUEST, 0, 0,
     {binding(OID("1.3.6.1.9.9.0"), ber::INTEGER, integer(1))}, version1(READ_WRITE), 2, 1, {"1.3.6.1.9.9.0"}},
    {"SetWithoutWriteIsNoAccess", ber::SET_REQUEST, 0, 0,
     {binding(under({2, 1}), ber::INTEGER, integer(11))}, READ, 6, 1, {e("2.1")}},
    {"V1SetWithoutWriteIsReadOnly", ber::SET_REQUEST, 0, 0,
     {binding(under({2, 1}), ber::INTEGER, integer(11))}, version1(READ), 4, 0, {e("2.1")}},
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
    // A Get binding that fails SNMPv1's request is echoed with NULL.
    if (c.pduType != ber::SET_REQUEST && c.status == 2) {
        EXPECT_EQ(reply.bindings.back().type, ber::NULL_VALUE);
    }
}

INSTANTIATE_TEST_SUITE_P(Request, Pdu, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.scenario); });

// A provider whose owner takes writes until told to refuse them, recording
// what it was given.
class Gate : public DataProvider {
  public:
    Data* get() override { return &rec; }
    bool commit(Data* committed) override {
        if (refuseAfter-- <= 0) return false;
        held.push_back(static_cast<Rec*>(committed)->str);
        return true;
    }
    Rec rec;
    int refuseAfter = 1000;
    std::vector<std::string> held;
};

// RFC 3416 4.2.5 over the SDK's leaves: every binding is tested before any
// is committed, a refused commit puts back the bindings before it, and a
// failed put-back is undoFailed.
TEST_F(Tree, SetIsAppliedWholeOrNotAtAll) {
    DataStringPacker text(field(&Rec::str), ber::OCTET_STRING, 0);
    text.setMaxLength(8);
    Gate first, second;
    first.rec.str = "old";
    second.rec.str = "kept";
    ScalarLeaf one(&text, &first), two(&text, &second), fixed(&text, &second, Access::ReadOnly);
    addLeaf(under({6}), &one);
    addLeaf(under({7}), &two);
    addLeaf(under({8}), &fixed);
    const auto set = [](std::vector<VariableBinding> bindings) {
        Reply reply;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(
            serve(request(1, "public", ber::SET_REQUEST, 0, 0, bindings), READ_WRITE, reply));
        testing::internal::GetCapturedStderr();
        return std::pair(reply.status, reply.index);
    };
    const auto str = [](const char* name, std::string value) {
        return binding(under({uint32_t(std::stoul(name)), 0}), ber::OCTET_STRING, value);
    };
    // Refused in the test phase: nothing reaches a provider.
    EXPECT_EQ(set({str("6", "new"), str("7", "too long a value")}), std::pair(8, 2));
    EXPECT_EQ(set({str("6", "new"), binding(under({7, 0}), ber::INTEGER, integer(1))}),
              std::pair(7, 2));
    EXPECT_EQ(set({str("6", "new"), str("8", "x")}), std::pair(17, 2));
    EXPECT_EQ(set({str("6", "new"), binding(under({7, 1}), ber::OCTET_STRING, "x")}),
              std::pair(11, 2));
    EXPECT_TRUE(first.held.empty());
    // The second commit refused: the first is put back.
    second.refuseAfter = 0;
    EXPECT_EQ(set({str("6", "new"), str("7", "x")}), std::pair(14, 2));
    EXPECT_EQ(first.held, (std::vector<std::string>{"new", "old"}));
    EXPECT_EQ(first.rec.str, "old");
    EXPECT_EQ(second.rec.str, "kept");
    // ... and the put-back refused too.
    first.refuseAfter = 1;
    EXPECT_EQ(set({str("6", "new"), str("7", "x")}), std::pair(15, 0));
    // Accepted whole.
    first.refuseAfter = second.refuseAfter = 1000;
    EXPECT_EQ(set({str("6", "a"), str("7", "b")}), std::pair(0, 0));
    EXPECT_EQ(first.rec.str + second.rec.str, "ab");
}
// A registration nested in another takes its subtree from it, for every
// operation alike: the outer column's row 5 lies in the nested scalar's
// subtree and is never answered, its rows around it are.
TEST_F(Tree, NestedRegistrationOwnsItsSubtreeForEveryOperation) {
    leafs.clear();
    Column outerRows{{{1, 1}, {5, 5}, {9, 9}}};
    Scalar inner{"inner"};
    addLeaf(ENTERPRISE, &outerRows);
    addLeaf(under({5}), &inner);
    const auto ask = [](uint32_t pduType, std::vector<VariableBinding> bindings, int repetitions) {
        Reply reply;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(serve(request(1, "public", pduType, 0, repetitions, bindings), READ_WRITE,
                          reply));
        testing::internal::GetCapturedStderr();
        return reply;
    };
    const Reply walk = ask(ber::GET_BULK_REQUEST, {binding(ENTERPRISE)}, 10);
    EXPECT_EQ(names(walk), (std::vector<std::string>{e("1"), e("5.0"), e("9"), e("9!end")}));
    const Reply got = ask(ber::GET_REQUEST, {binding(under({5})), binding(under({9}))}, 0);
    EXPECT_EQ(names(got), (std::vector<std::string>{e("5!instance"), e("9")}));
    const Reply set = ask(ber::SET_REQUEST, {binding(under({9}), ber::INTEGER, integer(99))}, 0);
    EXPECT_EQ(std::pair(set.status, outerRows.rows[9]), std::pair(0, 99));
    const Reply refused = ask(ber::SET_REQUEST, {binding(under({5}), ber::INTEGER, integer(7))}, 0);
    EXPECT_EQ(std::pair(refused.status, outerRows.rows[5]), std::pair(17, 5));  // notWritable
}

// Under E.6: a scalar whose value comes from a platform service that
// answers when the test says. The exchanges started wait in `started`.
struct RemoteScalar {
    RemoteScalar() {
        started.clear();
        setExchangeStarter([](const orla::message&, uint32_t, const std::string& ticket) {
            started.push_back(ticket);
            return std::optional<orla::message>();
        });
        addLeaf(under({6}), &leaf);
    }
    ~RemoteScalar() {
        forgetAnswers();
        setExchangeStarter(nullptr);
    }
    // The service's answer: the scalar's value is `value`.
    static orla::message answer(const std::string& value) {
        orla::message reply;
        reply.insert(orla::OBJ_NAME, value);
        return reply;
    }
    static inline std::vector<std::string> started;
    GetProvider provider{makeNamed, {9, 1}, orla::CMD_GET, orla::CMD_SET};
    DataStringPacker name{field(&NamedRecord::name), ber::OCTET_STRING, 0};
    ScalarLeaf leaf{&name, &provider};
};

// A request whose object needs a platform service's answer waits for it
// without holding others: it is served again once the answer came, and
// answered genErr, its bindings repeated, when the answer never came.
TEST_F(Tree, RequestWaitsForItsServiceWhileOthersAreServed) {
    RemoteScalar remote;
    auto& started = RemoteScalar::started;
    const auto get = [](std::vector<OID> names, bool& waited) {
        std::vector<VariableBinding> bindings;
        for (const OID& oid : names)
            bindings.push_back(binding(oid));
        Reply reply;
        WaitingServe serving;
        EXPECT_TRUE(serve(request(1, "public", ber::GET_REQUEST, 0, 0, bindings), READ, reply));
        waited = !serving.waitsFor().empty();
        return reply;
    };
    bool waited = false;
    get({under({1, 0}), under({6, 0})}, waited);
    EXPECT_TRUE(waited);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(get({under({1, 0})}, waited).bindings.at(0).value, "alpha");
    EXPECT_FALSE(waited);

    exchangeAnswered(started[0], RemoteScalar::answer("remote"));
    Reply reply = get({under({1, 0}), under({6, 0})}, waited);
    EXPECT_FALSE(waited);
    EXPECT_EQ(reply.bindings.at(1).value, "remote");

    remote.provider.invalidateData();
    forgetAnswers();
    get({under({1, 0}), under({6, 0})}, waited);
    ASSERT_EQ(started.size(), 2u);
    exchangeAnswered(started[1], orla::errorMsg(orla::ERR_TIMEOUT, "no reply"));
    reply = get({under({1, 0}), under({6, 0})}, waited);
    EXPECT_EQ(std::pair(reply.status, reply.index), std::pair(5, 2));  // genErr
    EXPECT_EQ(names(reply), (std::vector<std::string>{e("1.0"), e("6.0")}));
    EXPECT_EQ(reply.bindings.at(0).type, ber::NULL_VALUE);
}

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

// Answers to the agent's own informs reach the taker before any community
// or user check: SNMPv1 and SNMPv2c Responses, those not taken counted in
// snmpUnknownPDUHandlers (RFC 3412 4.2.2.1) and never answered, and SNMPv3
// messages of another engine without the reportable flag, served as before
// when not taken. Requests, an Inform among them, are not offered.
TEST_F(Dispatch, AnswersReachTheInformTakerFirst) {
    std::vector<Bytes> offered;
    bool take = false;
    const RequestRules rules;
    ParkedRequests parked(communities.keep, communities.engine, rules,
                          [](const ParkedRequests::ReplyTo&, std::span<const unsigned char>) {});
    parked.takeResponsesWith(
        [&](std::span<const unsigned char> message, std::span<const unsigned char>) {
            offered.emplace_back(message.begin(), message.end());
            return take;
        });
    Context ctx(nullptr, 0);
    const unsigned char where[] = {1};
    auto serve = [&](const Bytes& datagram) {
        testing::internal::CaptureStderr();
        const bool replied = parked.serve(ctx, datagram, ANYWHERE, where, {});
        testing::internal::GetCapturedStderr();
        return replied;
    };
    const uint32_t& unknownPdus = communities.engine.dropped.unknownPduHandlers;
    const Bytes response = request(1, "public", ber::RESPONSE, 0, 0, {});
    EXPECT_FALSE(serve(response));
    EXPECT_EQ(unknownPdus, 1u);
    take = true;
    EXPECT_FALSE(serve(response));
    EXPECT_EQ(unknownPdus, 1u);
    EXPECT_EQ(offered.size(), 2u);

    EXPECT_FALSE(serve(request(1, "morvel", ber::INFORM_REQUEST, 0, 0, {})));
    EXPECT_EQ(unknownPdus, 2u);
    EXPECT_EQ(offered.size(), 2u);

    v3test::Request answer;
    answer.level = 0;
    answer.engineID = std::string("\x80\x00\x1f\x88\x04other", 10);
    answer.pduType = ber::REPORT;
    EXPECT_FALSE(serve(v3test::build(answer, {})));
    EXPECT_EQ(offered.size(), 3u);
    answer.engineID = communities.engine.engineID;
    serve(v3test::build(answer, {}));
    EXPECT_EQ(offered.size(), 3u);
}

// Requests that wait are kept with where their reply goes and answered once
// their answer came, each counted once; beyond the limit the one that waited
// longest is answered genErr at once.
TEST_F(Dispatch, WaitingRequestsAreAnsweredLaterAndTheOldestGiveWay) {
    RemoteScalar remote;
    auto& started = RemoteScalar::started;
    std::vector<std::pair<unsigned char, Reply>> sent;  // whom, what
    const RequestRules rules;
    {
        ParkedRequests parked(communities.keep, communities.engine, rules,
                              [&sent](const ParkedRequests::ReplyTo& to,
                                      std::span<const unsigned char> reply) {
                                  Reply decoded;
                                  EXPECT_TRUE(decode(Bytes(reply.begin(), reply.end()), decoded));
                                  sent.emplace_back(to.peer.at(0), decoded);
                              });
        const uint32_t packetsBefore = communities.engine.inPackets;
        Context ctx(nullptr, 0);
        for (unsigned char peer = 0; peer <= ParkedRequests::MAX_PARKED; ++peer) {
            Bytes datagram = request(1, "morvel", ber::GET_REQUEST, 0, 0, {binding(under({6, 0}))});
            const unsigned char where[] = {peer};
            EXPECT_FALSE(parked.serve(ctx, datagram, ANYWHERE, where, {}));
        }
        EXPECT_EQ(started.size(), 1u);  // one exchange for them all
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].first, 0);
        EXPECT_EQ(sent[0].second.status, 5);  // genErr
        EXPECT_EQ(parked.waiting(), ParkedRequests::MAX_PARKED);

        exchangeAnswered(started[0], RemoteScalar::answer("remote"));
        EXPECT_EQ(parked.waiting(), 0u);
        ASSERT_EQ(sent.size(), ParkedRequests::MAX_PARKED + 1);
        EXPECT_EQ(sent[1].first, 1);
        EXPECT_EQ(sent.back().second.bindings.at(0).value, "remote");
        EXPECT_EQ(communities.engine.inPackets - packetsBefore, ParkedRequests::MAX_PARKED + 1);
    }
}

}  // namespace
