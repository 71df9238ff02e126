// The settings handler: engine ID text form, loading and storing the
// settings, the trap generator selection, and the generator list.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/orla/store.h"
#include "platform/snmp/usm.h"

namespace {

std::vector<std::string> calls;

void sub0() {
    calls.push_back("sub 0");
}
void sub1() {
    calls.push_back("sub 1");
}
void sub2() {
    calls.push_back("sub 2");
}
void unsub0() {
    calls.push_back("unsub 0");
}
void unsub1() {
    calls.push_back("unsub 1");
}
void unsub2() {
    calls.push_back("unsub 2");
}

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/settings-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        settingsPath_ = dir_ + "/snmpd";
        scribers = {{"gen0", sub0, unsub0}, {"gen1", sub1, unsub1}, {"gen2", sub2, unsub2}};
        calls.clear();
    }
    void TearDown() override {
        // The service never frees the community table: it lives as long as
        // the daemon. Each test's own goes here.
        delete communityKeep;
        communityKeep = nullptr;
        loop = nullptr;
        scribers.clear();
        std::filesystem::remove_all(dir_);
    }
    // A fresh agent service over this test's stores, as a daemon start makes it.
    // As in the daemon, `loop` is unset while the community table loads, and
    // there is one table: a previous start's goes.
    std::unique_ptr<SnmpLooper> start() {
        loop = nullptr;
        delete communityKeep;
        communityKeep = nullptr;
        auto agent = std::make_unique<SnmpLooper>(settingsPath_, dir_ + "/communities");
        loop = agent.get();
        agent->init();
        return agent;
    }
    // The same, after the running one ends.
    std::unique_ptr<SnmpLooper> restart(std::unique_ptr<SnmpLooper> agent) {
        agent.reset();
        return start();
    }

    std::string dir_;
    std::string settingsPath_;
};

TEST(EngineID, TextFormatHasEnterprisePrefix) {
    // 0x80000000 + 32473, then the text format octet 4 (RFC 3411 SnmpEngineID).
    EXPECT_EQ(formatEngineID("r1"), std::string("\x80\x00\x7e\xd9\x04r1", 7));
    EXPECT_EQ(formatEngineID("").size(), 5u);
    EXPECT_EQ(deformatEngineID(formatEngineID("router-7")), "router-7");
    EXPECT_EQ(deformatEngineID(std::string("\x80\x00\x7e\xd9\x04", 5)), "");
    EXPECT_EQ(deformatEngineID("abc"), "");
}

TEST_F(Settings, WithoutStoredRecordNothingIsWritten) {
    auto agent = start();
    EXPECT_EQ(orla::Store(settingsPath_, 5).size(), 0u);
    EXPECT_FALSE(agent->enabled);
    EXPECT_EQ(agent->getConfig().get(snmp::SNMP_COMMUNITY_NAME), "morvel");
}

std::vector<unsigned char> localisedPrivKey(const std::string& engineID) {
    return aKeyToBKey(passwordToAKey("priv-pw", usm::AUTH_HMAC_SHA_96), engineID,
                      usm::AUTH_HMAC_SHA_96);
}

TEST_F(Settings, KeysAreLocalisedAtStartAlsoWithoutStoredSettings) {
    auto agent = start();
    orla::message user;
    user.insert(snmp::COMM_NAME, std::string("ops"));
    user.insert(snmp::COMM_AUTH_PROTOCOL, usm::AUTH_HMAC_SHA_96);
    user.insert(snmp::COMM_PRIV_PASSWORD, std::string("priv-pw"));
    ASSERT_TRUE(communityKeep->cmdAddObj(user).has(orla::OBJ_ID));

    // Never configured: the engine ID an empty text gives, and nothing stored.
    agent = restart(std::move(agent));
    EXPECT_EQ(agent->serverInfo.engineID, formatEngineID(""));
    EXPECT_EQ(orla::Store(settingsPath_, 5).size(), 0u);
    EXPECT_EQ(communityKeep->findItem("ops")->privKey, localisedPrivKey(formatEngineID("")));

    orla::message set;
    set.insert(snmp::SNMP_ENGINE_ID, std::string("core-1"));
    agent->cmdSet(set);
    EXPECT_EQ(communityKeep->findItem("ops")->privKey, localisedPrivKey(formatEngineID("core-1")));

    agent = restart(std::move(agent));
    EXPECT_EQ(communityKeep->findItem("ops")->privKey, localisedPrivKey(formatEngineID("core-1")));
}

TEST_F(Settings, EveryStartCountsTheBootInTheStore) {
    {
        auto agent = start();
        orla::message set;
        set.insert(snmp::SNMP_TEXT2, std::string("ops@example.net"));
        agent->cmdSet(set);
    }
    for (uint32_t expected : {2u, 3u}) {
        testing::internal::CaptureStdout();
        auto agent = start();
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "engineBoots = " + std::to_string(expected) + "\n");
        EXPECT_EQ(agent->text2, "ops@example.net");
        orla::Store stored(settingsPath_, 5);
        EXPECT_EQ(stored.get(snmp::SETTINGS_RECORD).get(snmp::SNMP_ENGINE_BOOTS), expected);
    }
}

TEST_F(Settings, SetFieldsAreAppliedStoredAndUndoable) {
    auto agent = start();
    orla::message set;
    set.insert(snmp::SNMP_TRAP_TARGET, 0x0100007fu);
    set.insert(snmp::SNMP_TRAP_COMMUNITY, 4u);
    set.insert(snmp::SNMP_TRAP_VERSION, 3u);
    set.insert(snmp::SNMP_ENGINE_ID, std::string("edge"));
    EXPECT_TRUE(agent->cmdSet(set).empty());

    EXPECT_EQ(agent->trapTarget, 0x0100007fu);
    EXPECT_EQ(agent->trapCommunity, 4u);
    EXPECT_EQ(agent->trapVersion, 3u);
    EXPECT_EQ(agent->serverInfo.engineID, formatEngineID("edge"));
    EXPECT_EQ(agent->undoCount(), 1u);

    orla::message stored = orla::Store(settingsPath_, 5).get(snmp::SETTINGS_RECORD);
    EXPECT_EQ(stored.get(snmp::SNMP_ENGINE_ID), "edge");
    EXPECT_EQ(stored.get(snmp::SNMP_TRAP_COMMUNITY), 4u);
}

TEST_F(Settings, StoreWriteFailureIsReportedNotHidden) {
    auto agent = start();
    // A directory where the store writes its new content makes the write fail.
    ASSERT_TRUE(std::filesystem::create_directory(settingsPath_ + ".new"));
    orla::message set;
    set.insert(snmp::SNMP_TRAP_VERSION, 3u);
    EXPECT_EQ(orla::getErrorCode(agent->cmdSet(set)), orla::ERR_BAD_VALUE);
    EXPECT_EQ(agent->trapVersion, 3u);  // in effect until the agent restarts
}

TEST_F(Settings, EmptyEngineIdTextKeepsThePrefixAlone) {
    auto agent = start();
    orla::message set;
    set.insert(snmp::SNMP_ENGINE_ID, std::string());
    agent->cmdSet(set);
    EXPECT_EQ(agent->serverInfo.engineID.size(), 5u);
    EXPECT_EQ(agent->getConfig().get(snmp::SNMP_ENGINE_ID, "absent"), "");
}

TEST_F(Settings, GeneratorSelectionResubscribesWithoutRepetitions) {
    auto agent = start();
    orla::message set;
    set.insert(snmp::SNMP_TRAP_GENERATORS, std::vector<uint32_t>{2, 0, 2, snmp::START_TRAP_ID, 7});
    testing::internal::CaptureStdout();
    agent->cmdSet(set);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(calls, (std::vector<std::string>{"unsub 0", "unsub 1", "unsub 2", "sub 2", "sub 0"}));
    EXPECT_EQ(out,
              "unsubscribed from gen0\nunsubscribed from gen1\nunsubscribed from gen2\n"
              "subscribed to gen2\nsubscribed to gen0\n");
    std::vector<uint32_t> expected{2, 0, snmp::START_TRAP_ID, 7};
    EXPECT_EQ(agent->trapGenerators, expected);
    EXPECT_EQ(orla::Store(settingsPath_, 5).get(0).get(snmp::SNMP_TRAP_GENERATORS), expected);
}

TEST_F(Settings, SetWithoutGeneratorsTouchesNoSubscription) {
    auto agent = start();
    orla::message set;
    set.insert(snmp::SNMP_TEXT3, std::string("rack 4"));
    agent->cmdSet(set);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Settings, GetWithoutSenderIsAnsweredAndLogged) {
    auto agent = start();
    testing::internal::CaptureStderr();
    orla::message reply = agent->cmdGet(orla::message());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "bogonymous cmd_get request\n");
    EXPECT_EQ(reply, agent->getConfig());
}

TEST_F(Settings, GeneratorListStartsWithTheStartTrap) {
    auto agent = start();
    orla::message reply = agent->cmdUnknown(orla::message(), snmp::CMD_LIST_GENERATORS);
    std::vector<orla::flat_message> list = reply.get(orla::OBJ_LIST);
    ASSERT_EQ(list.size(), 4u);
    orla::message first(list[0]);
    EXPECT_EQ(first.get(orla::OBJ_ID), snmp::START_TRAP_ID);
    EXPECT_EQ(first.get(orla::OBJ_NAME), "start-trap");
    EXPECT_EQ(orla::message(list[3]).get(orla::OBJ_NAME), "gen2");

    scribers.clear();
    reply = agent->cmdUnknown(orla::message(), snmp::CMD_LIST_GENERATORS);
    EXPECT_EQ(reply.get(orla::OBJ_LIST).size(), 1u);
    EXPECT_TRUE(agent->cmdUnknown(orla::message(), 12345).empty());
}

}  // namespace
