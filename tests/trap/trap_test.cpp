// Notification encoding and the vendor trap maker past what the end-to-end
// trap test sees through snmptrapd: the vendor trap's binding rules, the
// SNMPv1 enterprise of generic traps, informs, SNMPv3 users that cannot
// sign, and the inform queue's matching of Responses.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "mib/agent_settings.h"
#include "request/dispatch.h"
#include "tests/fixture.h"
#include "tests/platform/snmp/v3_message.h"
#include "trap/create_trap.h"
#include "trap/informs.h"
#include "trap/notify_targets.h"
#include "trap/trap_maker.h"
#include "trap/trap_request.h"

using namespace fixture;

namespace {

const uint32_t LOCALHOST = htonl(INADDR_LOOPBACK);

// The default community "morvel" as trap community, the vendor trap maker
// registered, and the agent started a moment ago.
class CreateTrap : public ::testing::Test {
  protected:
    void SetUp() override {
        trapMakers = {halvexTrapMaker};
        agent.engine = communities.engine;
        agent.startTick = orla::getJiffies();
    }
    void TearDown() override { trapMakers.clear(); }

    static orla::message vendorRequest() {
        orla::message request;
        request.insert(orla::MSG_CMD, snmp::CMD_TRAP_REQUEST);
        return request;
    }
    // Encodes one community-based trap, expecting success.
    Reply build(const orla::message& request, int version) {
        OutStream out;
        Reply trap;
        const std::optional<Notification> notification = makeNotification(request, agent);
        EXPECT_TRUE(notification);
        NotificationForm form;
        form.version = version;
        form.agentAddress = LOCALHOST;
        EXPECT_TRUE(encodeNotification(out, *notification, form, *communities.keep.findItem(0u),
                                       agent.engine));
        EXPECT_TRUE(decode(out.bytes(), trap));
        return trap;
    }

    Communities communities;
    AgentState agent;
};

// Which fields of a vendor trap request give the trap its one binding.
TEST_F(CreateTrap, VendorTrapBindingFollowsTheRequestFields) {
    struct Case {
        const char* name;
        bool hasOid;
        bool hasType;
        uint32_t type;
        bool hasValue;
        std::string value;
        bool expectBinding;
    };
    const Case cases[] = {
        {"empty string", true, true, 4, true, "", true},
        {"string without value", true, true, 4, false, "", false},
        {"no type", true, false, 0, true, "x", false},
        {"no name", false, true, 4, true, "x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        orla::message request = vendorRequest();
        if (c.hasOid) request.insert(snmp::TRAP_VAR_OID, std::string("1.3.6.1.4.1.32473.5.1"));
        if (c.hasType) request.insert(snmp::TRAP_VAR_TYPE, c.type);
        if (c.hasValue) request.insert(snmp::TRAP_VAR_VALUE, c.value);
        for (int version : {snmp::VERSION_1, snmp::VERSION_2C}) {
            const Reply trap = build(request, version);
            const size_t fixed = version == snmp::VERSION_1 ? 0 : 2;
            ASSERT_EQ(trap.bindings.size(), fixed + (c.expectBinding ? 1 : 0));
            if (!c.expectBinding) continue;
            const VariableBinding& binding = trap.bindings[fixed];
            EXPECT_EQ(binding.oid, OID("1.3.6.1.4.1.32473.5.1"));
            EXPECT_EQ(binding.type, c.type);
            EXPECT_EQ(binding.value, c.value);
        }
    }
}

// A user whose keys are gone, or whose stored security level is none of the
// three (a damaged record), sends nothing.
TEST_F(CreateTrap, V3UserThatCannotSignGivesNoTrap) {
    CommunityKeep::Item keyless = *communities.add(userConfig("keyless", 2));
    keyless.authKey.clear();
    keyless.privKey.clear();
    CommunityKeep::Item damaged = *communities.add(userConfig("damaged", 1));
    damaged.security = 3;
    for (const CommunityKeep::Item* user : {&keyless, &damaged}) {
        OutStream out;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const std::optional<Notification> notification = makeNotification(vendorRequest(), agent);
        ASSERT_TRUE(notification);
        EXPECT_FALSE(encodeNotification(out, *notification, NotificationForm{snmp::VERSION_3},
                                        *user, agent.engine));
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
}

// RFC 3584 3.2 (1): an SNMPv1 generic trap names snmpTraps as its
// enterprise; an enterprise-specific one its maker's enterprise.
TEST_F(CreateTrap, V1EnterpriseOfGenericAndSpecificTraps) {
    struct Case {
        TrapMaker maker;
        const char* enterprise;
        int generic;
    };
    const Case cases[] = {
        {startupTrapMaker, "1.3.6.1.6.3.1.1.5", GENERIC_WARM_START},
        {halvexTrapMaker, "1.3.6.1.4.1.32473.1.1.9", GENERIC_ENTERPRISE_SPECIFIC},
    };
    for (const Case& c : cases) {
        trapMakers = {c.maker};
        OutStream out;
        const std::optional<Notification> notification = makeNotification(vendorRequest(), agent);
        ASSERT_TRUE(notification);
        ASSERT_TRUE(encodeNotification(out, *notification, NotificationForm{snmp::VERSION_1},
                                       *communities.keep.findItem(0u), agent.engine));
        InStream in(out.data(), out.size());
        std::string community;
        OID enterprise;
        int generic = -1;
        ASSERT_EQ(in.getVersion(), snmp::VERSION_1);
        ASSERT_TRUE(in.getString(community) && in.enterSeq() && in.getOID(enterprise));
        std::string agentAddress;
        ASSERT_TRUE(in.getString(agentAddress) && in.getInt(generic));
        EXPECT_EQ(enterprise, OID(c.enterprise));
        EXPECT_EQ(generic, c.generic);
    }
}

// An inform is an InformRequest-PDU with its own request-id, which the
// queue matches against Responses: the same id from the target's address
// only, once. Each waiting inform has its own id; a full queue drops the
// oldest, counted on that inform's target.
TEST_F(CreateTrap, InformQueueMatchesResponsesAndDropsTheOldest) {
    std::vector<Bytes> sent;
    std::map<uint32_t, NotifyTarget::Counters> counted;
    InformQueue queue(
        [&](const Endpoint&, std::span<const unsigned char> message) {
            sent.emplace_back(message.begin(), message.end());
            return true;
        },
        [&](uint32_t id) -> NotifyTarget::Counters& { return counted[id]; }, agent.engine);
    const std::optional<Notification> notification = makeNotification(vendorRequest(), agent);
    ASSERT_TRUE(notification);
    const CommunityKeep::Item& morvel = *communities.keep.findItem(0u);
    NotifyTarget target;
    target.id = 5;
    target.inform = true;
    const Endpoint to = *parseEndpoint("::1", 1162);
    ASSERT_TRUE(queue.send(target, to, *notification, morvel));
    ASSERT_EQ(sent.size(), 1u);
    Reply inform;
    ASSERT_TRUE(decode(sent[0], inform));
    EXPECT_EQ(inform.pduType, ber::INFORM_REQUEST);
    EXPECT_EQ(counted[5].sent, 1u);

    // The receiver's Response to request-id `requestId`.
    auto response = [](int requestId) {
        OutStream out;
        out.startSeq(ber::SEQUENCE);
        out.add(snmp::VERSION_2C, ber::INTEGER);
        out.add(std::string("morvel"), ber::OCTET_STRING);
        out.startSeq(ber::RESPONSE);
        out.add(requestId, ber::INTEGER);
        out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
        out.addErrorIndex(0);
        out.startSeq(ber::SEQUENCE);
        out.endSeq();
        out.endSeq();
        out.endSeq();
        return out.bytes();
    };
    auto from = [](const char* address, uint16_t port) {
        sockaddr_in6 peer{};
        peer.sin6_family = AF_INET6;
        inet_pton(AF_INET6, address, &peer.sin6_addr);
        peer.sin6_port = htons(port);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&peer);
        return Bytes(bytes, bytes + sizeof peer);
    };
    const int id = inform.requestId;
    EXPECT_EQ(answerShape(response(id), agent.engine.engineID), AnswerShape::CommunityResponse);
    EXPECT_EQ(answerShape(sent[0], agent.engine.engineID), AnswerShape::NotAnAnswer);
    EXPECT_FALSE(queue.takeResponse(response(id + 1), from("::1", 1162)));
    EXPECT_FALSE(queue.takeResponse(response(id), from("::2", 1162)));
    EXPECT_FALSE(queue.takeResponse(response(id), from("::1", 1163)));
    EXPECT_EQ(queue.waiting(), 1u);
    EXPECT_TRUE(queue.takeResponse(response(id), from("::1", 1162)));
    EXPECT_FALSE(queue.takeResponse(response(id), from("::1", 1162)));
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_EQ(counted[5].acknowledged, 1u);

    NotifyTarget other = target;
    other.id = 6;
    ASSERT_TRUE(queue.send(target, to, *notification, morvel));
    for (size_t i = 0; i < InformQueue::MAX_PENDING; ++i)
        ASSERT_TRUE(queue.send(other, to, *notification, morvel));
    EXPECT_EQ(queue.waiting(), InformQueue::MAX_PENDING);
    EXPECT_EQ(counted[5].dropped, 1u);
    EXPECT_EQ(counted[6].dropped, 0u);
    std::set<int> ids;
    for (size_t i = sent.size() - InformQueue::MAX_PENDING; i < sent.size(); ++i) {
        Reply waiting;
        ASSERT_TRUE(decode(sent[i], waiting));
        ids.insert(waiting.requestId);
    }
    EXPECT_EQ(ids.size(), InformQueue::MAX_PENDING);
}

// An SNMPv3 inform against a receiver played here (RFC 3414 4): a probe
// first, whose Report gives the engine ID, with boots and time 0 as some
// receivers send; the inform then goes to that engine with the user's keys
// localised to it; an authenticated notInTimeWindow report sets the clock
// and brings the inform again at once; the encrypted Response acknowledges it.
TEST_F(CreateTrap, V3InformDiscoversTheReceiverAndFollowsItsClock) {
    std::vector<Bytes> sent;
    NotifyTarget::Counters counted;
    InformQueue queue(
        [&](const Endpoint&, std::span<const unsigned char> message) {
            sent.emplace_back(message.begin(), message.end());
            return true;
        },
        [&](uint32_t) -> NotifyTarget::Counters& { return counted; }, agent.engine);
    const CommunityKeep::Item& user = *communities.add(userConfig("informer", usm::AUTH_PRIV));
    NotifyTarget target;
    target.version = snmp::VERSION_3;
    target.inform = true;
    const Endpoint to = *parseEndpoint("192.0.2.5", 162);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.5", &peer.sin_addr);
    peer.sin_port = htons(162);
    const Bytes from(reinterpret_cast<unsigned char*>(&peer),
                     reinterpret_cast<unsigned char*>(&peer) + sizeof peer);

    const std::optional<Notification> notification = makeNotification(vendorRequest(), agent);
    ASSERT_TRUE(notification);
    ASSERT_TRUE(queue.send(target, to, *notification, user));
    // The receiver reads what the agent sent as its engine `receiver` would.
    struct Read {
        V3Info info;  // as sent
        std::string contextEngineID;
        uint32_t flags = 0;
        Reply pdu;
        usm::Report report = usm::NO_REPORT;
    };
    const std::string engineID("\x80\x00\x1f\x88\x04recv", 9);
    const v3test::Keys keys =
        v3test::deriveKeys(user.authProtocol, engineID, "informer-auth-pw", "informer-priv-pw");
    auto read = [&](const Bytes& message, const V3ServerInfo& receiver) {
        Read got;
        InStream in(message.data(), message.size());
        MessageDrops dropped;
        EXPECT_EQ(in.getVersion(), snmp::VERSION_3);
        EXPECT_TRUE(in.readV3Info(dropped));
        got.info = *in.v3Info();
        got.flags = static_cast<unsigned char>(got.info.msgFlags[0]);
        EXPECT_TRUE(in.decryptAndCheckSignature(got.report, keys.auth, user.authProtocol, keys.priv,
                                                user.privProtocol, receiver));
        got.contextEngineID = in.v3Info()->contextEngineID;
        EXPECT_TRUE(decodePdu(in, got.pdu));
        return got;
    };
    V3ServerInfo receiver;
    receiver.engineID = engineID;
    receiver.engineBoots = 5;
    receiver.engineTimeBase = usm::monotonicSeconds() - 1000;

    ASSERT_EQ(sent.size(), 1u);
    const Read probe = read(sent[0], receiver);
    EXPECT_EQ(probe.flags, usm::FLAG_REPORTABLE);
    EXPECT_TRUE(probe.info.msgAuthoritativeEngineID.empty());
    EXPECT_TRUE(probe.info.msgUserName.empty());

    v3test::Request answer;
    answer.engineID = engineID;
    answer.user = "";
    answer.level = 0;
    answer.pduType = ber::REPORT;
    answer.msgID = probe.info.msgID;
    EXPECT_TRUE(queue.takeResponse(v3test::build(answer, {}), from));
    ASSERT_EQ(sent.size(), 2u);
    const Read first = read(sent[1], receiver);
    EXPECT_EQ(first.flags, usm::FLAG_AUTH | usm::FLAG_PRIV | usm::FLAG_REPORTABLE);
    EXPECT_EQ(first.info.msgUserName, "informer");
    EXPECT_EQ(first.report, usm::NOT_IN_TIME_WINDOW);  // boots and time 0 believed

    answer.user = "informer";
    answer.level = 1;
    answer.boots = receiver.engineBoots;
    answer.time = usm::engineTime(receiver);
    answer.msgID = first.info.msgID;
    EXPECT_TRUE(queue.takeResponse(v3test::build(answer, keys), from));
    ASSERT_EQ(sent.size(), 3u);
    const Read again = read(sent[2], receiver);
    EXPECT_EQ(again.report, usm::NO_REPORT);
    EXPECT_EQ(again.pdu.pduType, ber::INFORM_REQUEST);
    EXPECT_EQ(again.pdu.requestId, first.pdu.requestId);
    EXPECT_EQ(again.contextEngineID, agent.engine.engineID);

    answer.level = 2;
    answer.pduType = ber::RESPONSE;
    answer.requestId = again.pdu.requestId;
    answer.msgID = again.info.msgID;
    EXPECT_TRUE(queue.takeResponse(v3test::build(answer, keys), from));
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_EQ(counted.acknowledged, 1u);
}

// The target table: what it refuses, what it stores and loads again, the
// settings' sink as target 0 that only the settings change, and the undo of
// a remove, which brings a target back under its id.
TEST(NotifyTargets, RefusesStoresAndKeepsTheSettingsSinkFirst) {
    TempDir dir;
    const std::string path = dir.path + "/targets";
    std::optional<NotifyTarget> sink;
    auto settingsSink = [&sink] { return sink; };
    auto target = [](const char* address) {
        orla::message cfg;
        cfg.insert(snmp::TARGET_ADDRESS, std::string(address));
        cfg.insert(snmp::TARGET_VERSION, 1u);
        cfg.insert(snmp::TARGET_COMMUNITY, 0u);
        return cfg;
    };
    NotifyTargets table(settingsSink, path);

    struct Refused {
        const char* why;
        orla::message cfg;
    };
    std::vector<Refused> refused = {{"no address", orla::message()},
                                    {"bad address", target("::g")}};
    auto with = [&](const char* why, auto key, auto value) {
        orla::message cfg = target("192.0.2.1");
        cfg.insert(key, value);
        refused.push_back({why, cfg});
    };
    with("port 0", snmp::TARGET_PORT, 0u);
    with("port above 65535", snmp::TARGET_PORT, 65536u);
    with("version 2", snmp::TARGET_VERSION, 2u);
    with("no community", snmp::TARGET_COMMUNITY, 0xffffffffu);
    with("timeout too short", snmp::TARGET_TIMEOUT_MS, 9u);
    with("retries above 20", snmp::TARGET_RETRIES, 21u);
    orla::message v1Inform = target("192.0.2.1");
    v1Inform.insert(snmp::TARGET_VERSION, 0u);
    v1Inform.insert(snmp::TARGET_INFORM, true);
    refused.push_back({"SNMPv1 inform", v1Inform});
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.why);
        EXPECT_TRUE(orla::isError(table.cmdAddObj(c.cfg)));
    }
    EXPECT_TRUE(table.targets().empty());

    orla::message informV6 = target("2001:db8::7");
    informV6.insert(snmp::TARGET_INFORM, true);
    informV6.insert(snmp::TARGET_GENERATORS, std::vector<uint32_t>{snmp::START_TRAP_ID});
    const orla::message added = table.cmdAddObj(informV6);
    ASSERT_FALSE(orla::isError(added)) << added;
    const uint32_t id = added.get(orla::OBJ_ID);
    EXPECT_EQ(id, 1u);  // 0 is the settings' sink
    EXPECT_TRUE(orla::isError(table.cmdSetObj(target("192.0.2.300"), id)));

    sink = NotifyTarget{};
    sink->address = "192.0.2.9";
    const NotifyTargets reloaded(settingsSink, path);
    const std::vector<NotifyTarget> all = reloaded.targets();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, snmp::SETTINGS_TARGET_ID);
    EXPECT_EQ(all[0].address, "192.0.2.9");
    EXPECT_EQ(all[1].getCfg(), table.targets()[1].getCfg());
    EXPECT_EQ(all[1].endpoint(), parseEndpoint("2001:db8::7", 162));
    EXPECT_TRUE(all[1].receives(snmp::START_TRAP_ID));
    EXPECT_FALSE(all[1].receives(0u));
    EXPECT_TRUE(all[1].receives(std::nullopt));  // a notification of no generator

    EXPECT_TRUE(orla::isError(table.cmdSetObj(target("192.0.2.1"), snmp::SETTINGS_TARGET_ID)));
    EXPECT_TRUE(orla::isError(table.cmdRemoveObj({}, snmp::SETTINGS_TARGET_ID)));
    const orla::message listed = table.cmdGetAll({}, 0xffffffff, 0);
    ASSERT_EQ(listed.get(orla::OBJ_LIST).size(), 2u);
    EXPECT_TRUE(orla::message(listed.get(orla::OBJ_LIST)[0]).get(snmp::TARGET_FROM_SETTINGS));

    // The undo of a remove is an add of the old form with its OBJ_ID.
    orla::message undo = table.cmdGetObj({}, id);
    ASSERT_FALSE(orla::isError(table.cmdRemoveObj({}, id)));
    EXPECT_EQ(table.targets().size(), 1u);
    EXPECT_EQ(NotifyTargets(settingsSink, path).targets().size(), 1u);
    const orla::message back = table.cmdAddObj(undo);
    ASSERT_FALSE(orla::isError(back)) << back;
    EXPECT_EQ(back.get(orla::OBJ_ID), id);
    EXPECT_EQ(NotifyTargets(settingsSink, path).targets()[1].getCfg(), table.targets()[1].getCfg());
}

}  // namespace
