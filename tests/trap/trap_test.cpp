// createTrap and the vendor trap maker past what the end-to-end trap test
// sees through snmptrapd: the vendor trap's binding rules, and SNMPv3 users
// that cannot sign.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mib/agent_settings.h"
#include "tests/fixture.h"
#include "trap/create_trap.h"
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
    // Builds one community-based trap, expecting success.
    Reply build(const orla::message& request, int version) {
        Context ctx(nullptr, 0);
        Reply trap;
        EXPECT_TRUE(
            createTrap(ctx, request, LOCALHOST, version, *communities.keep.findItem(0u), agent));
        EXPECT_TRUE(decode(ctx.out.bytes(), trap));
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
        Context ctx(nullptr, 0);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(createTrap(ctx, vendorRequest(), LOCALHOST, snmp::VERSION_3, *user, agent));
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
}

}  // namespace
