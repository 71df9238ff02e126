// SNMPv3 keys of community records: derived from the passwords, localised to
// the agent's engine ID, and derived again at every configuration change.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"
#include "tests/request/temp_agent.h"

using namespace snmp;
using Bytes = std::vector<unsigned char>;

namespace {

// RFC 3414 A.3: password "maplesyrup", engine ID 00..02 (12 octets).
const std::string RFC_ENGINE_ID = std::string(11, '\0') + '\x02';
const Bytes RFC_MD5_KUL = {0x52, 0x6f, 0x5e, 0xed, 0x9f, 0xcc, 0xe2, 0x6f,
                           0x89, 0x64, 0xc2, 0x93, 0x07, 0x87, 0xd8, 0x2b};
const Bytes RFC_SHA_KUL = {0x66, 0x95, 0xfe, 0xbc, 0x92, 0x88, 0xe3, 0x62, 0x82, 0x23,
                           0x5f, 0xc7, 0x15, 0x1f, 0x12, 0x84, 0x97, 0xb3, 0x8f, 0x3f};

class CommunityKeys : public ::testing::Test {
  protected:
    CommunityKeys() { loop->serverInfo.engineID = RFC_ENGINE_ID; }
    static orla::message user(uint32_t authProtocol, uint32_t privProtocol) {
        orla::message cfg;
        cfg.insert(COMM_NAME, std::string("ops"));
        cfg.insert(COMM_AUTH_PASSWORD, std::string("maplesyrup"));
        cfg.insert(COMM_PRIV_PASSWORD, std::string("maplesyrup"));
        cfg.insert(COMM_AUTH_PROTOCOL, authProtocol);
        cfg.insert(COMM_PRIV_PROTOCOL, privProtocol);
        cfg.insert(COMM_SECURITY, 2u);
        return cfg;
    }

    TempAgent agent_;
};

// RFC 3414 A.3 through the record: the privacy key is localised with the
// authentication protocol's hash, whatever the privacy protocol.
TEST_F(CommunityKeys, PrivacyKeyIsTheLocalisedKeyOfTheAuthenticationHash) {
    CommunityKeep::Item sha;
    sha.setCfg(user(usm::AUTH_HMAC_SHA_96, usm::PRIV_CBC_DES));
    EXPECT_EQ(sha.privKey, RFC_SHA_KUL);
    EXPECT_EQ(sha.authKey, bKeyToDKey(RFC_SHA_KUL, usm::AUTH_HMAC_SHA_96));
}

TEST_F(CommunityKeys, EverySetCfgDerivesAgainAuthProtocolCountsPrivProtocolNot) {
    CommunityKeep::Item item;
    item.setCfg(user(usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES));
    const Bytes md5Auth = item.authKey;
    const Bytes md5Priv = item.privKey;
    EXPECT_EQ(md5Priv, RFC_MD5_KUL);

    // Only the security level: the keys are derived again all the same.
    item.authKey = item.privKey = {1, 2, 3};
    orla::message level;
    level.insert(COMM_SECURITY, 1u);
    item.setCfg(level);
    EXPECT_EQ(item.authKey, md5Auth);
    EXPECT_EQ(item.privKey, md5Priv);

    orla::message priv;
    priv.insert(COMM_PRIV_PROTOCOL, usm::PRIV_CFB128_AES_128);
    item.setCfg(priv);
    EXPECT_EQ(item.authKey, md5Auth);
    EXPECT_EQ(item.privKey, md5Priv);

    orla::message auth;
    auth.insert(COMM_AUTH_PROTOCOL, usm::AUTH_HMAC_SHA_96);
    item.setCfg(auth);
    EXPECT_NE(item.authKey, md5Auth);
    EXPECT_EQ(item.privKey, RFC_SHA_KUL);
}

}  // namespace
