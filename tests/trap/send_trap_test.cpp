// The routing of trap requests and the start-up step: what is written when
// no trap can be built, and the trap makers left as they were. Delivery to a
// real trap receiver is the end-to-end trap test's.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/trap/trap_fixture.h"

using namespace traptest;

namespace {

class SendTrap : public AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        loop->enabled = true;
        inet_pton(AF_INET, "127.0.0.1", &loop->trapTarget);
    }
    // Runs `action`, returning what it wrote to stderr.
    template <class F>
    std::string stderrOf(F action) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        action();
        stdout_ = testing::internal::GetCapturedStdout();
        return testing::internal::GetCapturedStderr();
    }
    std::string stdout_;
};

TEST_F(SendTrap, UnknownRequestIsDumpedAndAnsweredEmpty) {
    for (uint32_t cmd : {snmp::CMD_TRAP_REQUEST_ALT1, snmp::CMD_TRAP_REQUEST_ALT2}) {
        orla::message request;
        request.insert(orla::MSG_CMD, cmd);
        orla::message reply;
        EXPECT_EQ(stderrOf([&] { reply = loop->cmdUnknown(request, cmd); }),
                  "send_trap: createTrap failed\n");
        EXPECT_EQ(stdout_.rfind("Could not handle trap, msg dump:\n", 0), 0u) << stdout_;
        EXPECT_EQ(reply, orla::message());
    }
}

TEST_F(SendTrap, StartupSendsTheStartTrapOnlyWhenSelectedAndRestoresTheMakers) {
    const std::vector<TrapMaker> before = trapMakers;
    loop->trapGenerators = {2, snmp::START_TRAP_ID, snmp::START_TRAP_ID};
    EXPECT_EQ(stderrOf([] { loop->startup(); }), "");
    EXPECT_EQ(trapMakers, before);

    loop->trapGenerators = {0, 1};
    loop->enabled = false;  // a send would write "snmp disabled"
    EXPECT_EQ(stderrOf([] { loop->startup(); }), "");
    EXPECT_EQ(stdout_, "");
}

}  // namespace
