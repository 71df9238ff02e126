// createTrap and the two built-in trap makers, past what the end-to-end trap
// test sees through snmptrapd: the vendor trap's binding rules, other
// version numbers, the SNMPv3 header without authentication and with DES.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/trap/trap_fixture.h"
#include "trap/create_trap.h"

using namespace traptest;

namespace {

uint32_t address(const char* text) {
    in_addr parsed{};
    inet_pton(AF_INET, text, &parsed);
    return parsed.s_addr;
}

class CreateTrap : public AgentTest {
  protected:
    // Builds one trap, expecting success.
    DecodedTrap build(const orla::message& request, const CommunityKeep::Item* user = nullptr) {
        Context ctx(nullptr, 0);
        DecodedTrap trap;
        EXPECT_TRUE(createTrap(ctx, request, address("127.0.0.1")));
        EXPECT_TRUE(decodeTrap(ctx.out.bytes(), trap, user));
        return trap;
    }
};

TEST_F(CreateTrap, VersionsOtherThanOneAndThreeGetTheV2cForm) {
    for (uint32_t version : {2u, 7u}) {
        loop->trapVersion = version;
        DecodedTrap trap = build(vendorRequest());
        EXPECT_EQ(trap.version, static_cast<int>(version));
        EXPECT_EQ(trap.pduTag, ber::TRAP_V2);
        ASSERT_EQ(trap.bindings.size(), 2u);
    }
}

// Which fields of a vendor trap request give the trap its one binding.
struct BindingCase {
    const char* name;
    bool hasOid;
    bool hasType;
    uint32_t type;
    bool hasValue;
    std::string value;
    bool expectBinding;
};

class VendorBinding : public CreateTrap, public ::testing::WithParamInterface<BindingCase> {};

TEST_P(VendorBinding, FollowsTheRequestFields) {
    const BindingCase& c = GetParam();
    orla::message request = vendorRequest();
    if (c.hasOid) request.insert(snmp::TRAP_VAR_OID, std::string("1.3.6.1.4.1.32473.5.1"));
    if (c.hasType) request.insert(snmp::TRAP_VAR_TYPE, c.type);
    if (c.hasValue) request.insert(snmp::TRAP_VAR_VALUE, c.value);
    for (uint32_t version : {0u, 1u}) {
        loop->trapVersion = version;
        DecodedTrap trap = build(request);
        const size_t fixed = version == 0 ? 0 : 2;
        ASSERT_EQ(trap.bindings.size(), fixed + (c.expectBinding ? 1 : 0));
        if (!c.expectBinding) continue;
        const VariableBinding& binding = trap.bindings[fixed];
        EXPECT_EQ(binding.oid, OID("1.3.6.1.4.1.32473.5.1"));
        EXPECT_EQ(binding.type, c.type);
        EXPECT_EQ(binding.value, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trap, VendorBinding,
    ::testing::Values(BindingCase{"EmptyString", true, true, 4, true, "", true},
                      BindingCase{"StringWithoutValue", true, true, 4, false, "", false},
                      BindingCase{"NoType", true, false, 0, true, "x", false},
                      BindingCase{"NoName", false, true, 4, true, "x", false}),
    [](const ::testing::TestParamInfo<BindingCase>& info) { return info.param.name; });

// One SNMPv3 security level: the header it gives a trap.
struct LevelCase {
    const char* name;
    uint32_t security;
    uint32_t authProtocol;
    uint32_t privProtocol;
    unsigned char flags;
    size_t authLength;
    size_t privLength;
};

class V3Trap : public CreateTrap, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(V3Trap, HeaderFollowsTheUsersSecurityLevel) {
    const LevelCase& c = GetParam();
    CommunityKeep::Item* user = addUser("trapuser", c.security, c.authProtocol, c.privProtocol);
    ASSERT_NE(user, nullptr);
    loop->trapVersion = 3;
    loop->trapCommunity = user->id;
    orla::message request = vendorRequest();
    request.insert(snmp::TRAP_VAR_OID, std::string("1.3.6.1.2.1.2.2.1.1.3"));
    request.insert(snmp::TRAP_VAR_TYPE, 2u);
    request.insert(snmp::TRAP_VAR_VALUE, std::string("\x03", 1));

    testing::internal::CaptureStdout();
    DecodedTrap trap = build(request, user);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "snmp v3 trap\n");

    // The rest of the header and the PDU are what snmptrapd checks end to end.
    EXPECT_EQ(trap.header.msgFlags, std::string(1, char(c.flags)));
    EXPECT_EQ(trap.header.msgUserName, "trapuser");
    EXPECT_EQ(trap.header.msgAuthenticationParameters.size(), c.authLength);
    EXPECT_EQ(trap.header.msgPrivacyParameters.size(), c.privLength);
    ASSERT_EQ(trap.bindings.size(), 3u);
    EXPECT_EQ(trap.bindings[2].value, std::string("\x03", 1));
}

INSTANTIATE_TEST_SUITE_P(Trap, V3Trap,
                         ::testing::Values(LevelCase{"NoAuthNoPriv", 0, usm::AUTH_HMAC_SHA_96,
                                                     usm::PRIV_CFB128_AES_128, 0, 0, 0},
                                           LevelCase{"PrivMd5Des", 2, usm::AUTH_HMAC_MD5_96,
                                                     usm::PRIV_CBC_DES, 3, 12, 8}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                             return info.param.name;
                         });

TEST_F(CreateTrap, V3UserWithoutKeysGivesNoTrap) {
    CommunityKeep::Item* user = addUser("keyless", 2);
    ASSERT_NE(user, nullptr);
    user->authKey.clear();
    user->privKey.clear();
    loop->trapVersion = 3;
    loop->trapCommunity = user->id;
    Context ctx(nullptr, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(createTrap(ctx, vendorRequest(), address("127.0.0.1")));
    testing::internal::GetCapturedStdout();
}

}  // namespace
