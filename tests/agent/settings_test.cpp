// The service object past the end-to-end tests: a store write that fails, a
// generator selection with repetitions, trap requests no maker takes, and
// the makers of the agent's own traps beside those of plug-ins.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "platform/orla/ids.h"
#include "platform/orla/store.h"
#include "tests/fixture.h"
#include "trap/trap_maker.h"

namespace {

std::vector<std::string> calls;

template <int N>
void sub() {
    calls.push_back("sub " + std::to_string(N));
}
template <int N>
void unsub() {
    calls.push_back("unsub " + std::to_string(N));
}

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        scribers = {
            {"gen0", sub<0>, unsub<0>}, {"gen1", sub<1>, unsub<1>}, {"gen2", sub<2>, unsub<2>}};
        calls.clear();
    }
    void TearDown() override {
        loop = nullptr;
        scribers.clear();
        trapMakers.clear();
    }
    // A fresh agent service over this test's stores, as a daemon start makes it.
    std::unique_ptr<SnmpLooper> start() {
        loop = nullptr;
        auto agent = std::make_unique<SnmpLooper>(settingsPath_, dir_.path + "/communities",
                                                  dir_.path + "/access", dir_.path + "/targets");
        loop = agent.get();
        agent->init();
        return agent;
    }

    fixture::TempDir dir_;
    const std::string settingsPath_ = dir_.path + "/snmpd";
};

TEST_F(Settings, StoreWriteFailureIsReportedNotHidden) {
    auto agent = start();
    // A directory where the store writes its new content makes the write fail.
    ASSERT_TRUE(std::filesystem::create_directory(settingsPath_ + ".new"));
    orla::message set;
    set.insert(snmp::SNMP_TRAP_VERSION, 3u);
    EXPECT_EQ(orla::getErrorCode(agent->cmdSet(set)), orla::ERR_BAD_VALUE);
    EXPECT_EQ(agent->trapVersion, 3u);  // in effect until the agent restarts
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

// Runs `action`, returning what it wrote to stderr; `out` gets its stdout.
template <class F>
std::string stderrOf(F action, std::string& out) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    action();
    out = testing::internal::GetCapturedStdout();
    return testing::internal::GetCapturedStderr();
}

// Delivery to a real trap receiver is the end-to-end trap test's.
TEST_F(Settings, TrapRequestNoMakerTakesIsDumpedAndAnsweredEmpty) {
    auto agent = start();
    agent->enabled = true;
    agent->trapCommunity = 0;
    inet_pton(AF_INET, "127.0.0.1", &agent->trapTarget);
    trapMakers = {halvexTrapMaker};
    for (uint32_t cmd : {snmp::CMD_TRAP_REQUEST_ALT1, snmp::CMD_TRAP_REQUEST_ALT2}) {
        orla::message request;
        request.insert(orla::MSG_CMD, cmd);
        orla::message reply;
        std::string out;
        EXPECT_EQ(stderrOf([&] { reply = agent->cmdUnknown(request, cmd); }, out),
                  "send_trap: createTrap failed\n");
        EXPECT_EQ(out.rfind("Could not handle trap, msg dump:\n", 0), 0u) << out;
        EXPECT_EQ(reply, orla::message());
    }
}

int pluginMakerAsked = 0;
// A plug-in's maker for traps of its own: it declines the agent's.
bool pluginMaker(std::vector<VariableBinding>&, const orla::message&, OID&, int&, int&) {
    ++pluginMakerAsked;
    return false;
}

// The agent's own traps bring their maker: the start trap is offered to the
// registered makers first, the authenticationFailure trap to none of them.
// Either way it is built and sent, and the registered makers stay as the
// plug-ins and main left them.
TEST_F(Settings, OwnTrapsBringTheirMakerAndLeaveTheRegisteredOnes) {
    auto agent = start();
    agent->enabled = true;
    agent->trapCommunity = 0;
    inet_pton(AF_INET, "127.0.0.1", &agent->trapTarget);
    agent->trapGenerators = {snmp::START_TRAP_ID};
    agent->authenTraps = true;
    const std::vector<TrapMaker> registered{pluginMaker, halvexTrapMaker};
    struct Case {
        const char* name;
        std::function<void()> send;
        int pluginMakerAsked;
    };
    const Case cases[] = {
        {"start trap", [&] { agent->startup(); }, 1},
        {"authenticationFailure",
         [&] {
             ++agent->serverInfo.dropped.badCommunityNames;
             agent->trapAuthenticationFailures();
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trapMakers = registered;
        pluginMakerAsked = 0;
        std::string out;
        EXPECT_EQ(stderrOf(c.send, out), "");
        EXPECT_EQ(pluginMakerAsked, c.pluginMakerAsked);
        EXPECT_TRUE(trapMakers == registered);
    }
}

}  // namespace
