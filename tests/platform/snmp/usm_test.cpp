#include "platform/snmp/usm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

const std::string RFC_ENGINE_ID = std::string(11, '\0') + '\x02';

struct KeyVector {
    uint32_t protocol;
    const char* ku;
    const char* kul;
};

// RFC 3414 A.3.1 (MD5) and A.3.2 (SHA-1): password "maplesyrup".
const KeyVector RFC_VECTORS[] = {
    {usm::AUTH_HMAC_MD5_96, "9faf3283884e92834ebc9847d8edd963", "526f5eed9fcce26f8964c2930787d82b"},
    {usm::AUTH_HMAC_SHA_96, "9fb5cc0381497b3793528939ff788d5d79145211",
     "6695febc9288e36282235fc7151f128497b38f3f"},
};

TEST(UsmKeys, PasswordAndLocalisationMatchRfc3414AppendixA3) {
    for (const KeyVector& vector : RFC_VECTORS) {
        const std::vector<unsigned char> ku = passwordToAKey("maplesyrup", vector.protocol);
        EXPECT_EQ(ku, fromHex(vector.ku)) << vector.protocol;
        EXPECT_EQ(aKeyToBKey(ku, RFC_ENGINE_ID, vector.protocol), fromHex(vector.kul))
            << vector.protocol;
    }
}

TEST(UsmKeys, EmptyInputOrUnknownProtocolGivesEmptyKey) {
    EXPECT_TRUE(passwordToAKey("", usm::AUTH_HMAC_MD5_96).empty());
    EXPECT_TRUE(passwordToAKey("maplesyrup", 7).empty());
    EXPECT_TRUE(aKeyToBKey({}, RFC_ENGINE_ID, usm::AUTH_HMAC_SHA_96).empty());
    EXPECT_TRUE(aKeyToBKey(fromHex("00112233"), RFC_ENGINE_ID, 2).empty());
    EXPECT_TRUE(bKeyToDKey({}, usm::AUTH_HMAC_MD5_96).empty());
    EXPECT_TRUE(bKeyToDKey(std::vector<unsigned char>(65, 1), usm::AUTH_HMAC_MD5_96).empty());
}

struct MacVector {
    uint32_t protocol;
    size_t keyLength;
    const char* mac;
};

// RFC 2202 test case 1: key 0x0b repeated, data "Hi There"; HMAC-96 keeps 12 octets.
const MacVector RFC2202_VECTORS[] = {
    {usm::AUTH_HMAC_MD5_96, 16, "9294727a3638bb1c13f48ef8"},
    {usm::AUTH_HMAC_SHA_96, 20, "b617318655057264e28bc0b6"},
};

TEST(UsmMac, MatchesRfc2202AndFollowsKeyChanges) {
    const std::string data = "Hi There";
    for (int round = 0; round < 2; ++round) {  // the second round hits the key cache
        for (const MacVector& vector : RFC2202_VECTORS) {
            const std::vector<unsigned char> key(vector.keyLength, 0x0b);
            unsigned char mac[usm::MAC_LENGTH];
            ASSERT_TRUE(usm::computeMac(bKeyToDKey(key, vector.protocol), vector.protocol,
                                        reinterpret_cast<const unsigned char*>(data.data()),
                                        data.size(), mac));
            EXPECT_EQ(std::vector<unsigned char>(mac, mac + usm::MAC_LENGTH), fromHex(vector.mac));
        }
    }
}

TEST(UsmMac, RejectsKeyOfWrongFormOrUnknownProtocol) {
    unsigned char mac[usm::MAC_LENGTH];
    const unsigned char data[1] = {0};
    EXPECT_FALSE(usm::computeMac({}, usm::AUTH_HMAC_MD5_96, data, 1, mac));
    EXPECT_FALSE(
        usm::computeMac(std::vector<unsigned char>(16, 1), usm::AUTH_HMAC_MD5_96, data, 1, mac));
    EXPECT_FALSE(usm::computeMac(std::vector<unsigned char>(128, 1), 9, data, 1, mac));
}

class UsmCipher : public ::testing::TestWithParam<uint32_t> {};

TEST_P(UsmCipher, RoundTripsAndDependsOnSaltKeyAndTime) {
    const uint32_t protocol = GetParam();
    const std::vector<unsigned char> key = aKeyToBKey(
        passwordToAKey("password2", usm::AUTH_HMAC_SHA_96), "engine", usm::AUTH_HMAC_SHA_96);
    const std::vector<unsigned char> plain = {0x30, 0x03, 0x04, 0x01, 0x41, 9, 9, 9, 9, 9, 9};
    unsigned char salt[usm::SALT_LENGTH];
    usm::nextSalt(protocol, 7, salt);
    std::vector<unsigned char> cipher;
    ASSERT_TRUE(
        usm::encryptScopedPdu(protocol, key, 7, 100, salt, plain.data(), plain.size(), cipher));
    EXPECT_EQ(cipher.size(), protocol == usm::PRIV_CBC_DES ? 16u : plain.size());

    std::vector<unsigned char> back;
    ASSERT_TRUE(
        usm::decryptScopedPdu(protocol, key, 7, 100, salt, cipher.data(), cipher.size(), back));
    back.resize(plain.size());
    EXPECT_EQ(back, plain);

    std::vector<unsigned char> other;
    ASSERT_TRUE(
        usm::decryptScopedPdu(protocol, key, 7, 101, salt, cipher.data(), cipher.size(), other));
    other.resize(plain.size());
    // DES ignores boots and time; AES takes them into the IV.
    EXPECT_EQ(other == plain, protocol == usm::PRIV_CBC_DES);

    unsigned char nextSalt[usm::SALT_LENGTH];
    usm::nextSalt(protocol, 7, nextSalt);
    EXPECT_NE(std::vector<unsigned char>(salt, salt + 8),
              std::vector<unsigned char>(nextSalt, nextSalt + 8));
}

TEST_P(UsmCipher, RejectsShortKeyAndEmptyKey) {
    const uint32_t protocol = GetParam();
    unsigned char salt[usm::SALT_LENGTH] = {};
    const unsigned char plain[8] = {};
    std::vector<unsigned char> out;
    EXPECT_FALSE(usm::encryptScopedPdu(protocol, {}, 0, 0, salt, plain, 8, out));
    EXPECT_FALSE(usm::encryptScopedPdu(protocol, std::vector<unsigned char>(15, 1), 0, 0, salt,
                                       plain, 8, out));
    EXPECT_FALSE(usm::decryptScopedPdu(protocol, {}, 0, 0, salt, plain, 8, out));
}

INSTANTIATE_TEST_SUITE_P(Protocols, UsmCipher,
                         ::testing::Values(usm::PRIV_CBC_DES, usm::PRIV_CFB128_AES_128));

struct CipherVector {
    uint32_t protocol;
    const char* key;  // B key: AES its first 16 octets, DES key then pre-IV
    const char* plain;
    const char* cipher;
};

// Computed with the openssl command-line tool: AES-128-CFB under IV
// boots 7 || time 100 || salt (RFC 3826 3.1.2.1), a plaintext that ends in
// a partial block; DES-CBC under IV pre-IV XOR salt (RFC 3414 8.1.1.1).
const CipherVector CIPHER_VECTORS[] = {
    {usm::PRIV_CFB128_AES_128, "000102030405060708090a0b0c0d0e0f",
     "3031323334353637383961626364656658595a", "db1df6351afecf0e8927de24dc2150ceaafa5c"},
    {usm::PRIV_CBC_DES, "00010203040506071011121314151617", "30313233343536373839616263646566",
     "20cdde41008be66273ffc58f3ce11f6d"},
};

TEST(UsmCipher, CiphertextMatchesKnownAnswers) {
    const unsigned char salt[usm::SALT_LENGTH] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const CipherVector& vector : CIPHER_VECTORS) {
        const std::vector<unsigned char> key = fromHex(vector.key);
        const std::vector<unsigned char> plain = fromHex(vector.plain);
        std::vector<unsigned char> out;
        ASSERT_TRUE(usm::encryptScopedPdu(vector.protocol, key, 7, 100, salt, plain.data(),
                                          plain.size(), out));
        EXPECT_EQ(out, fromHex(vector.cipher)) << vector.protocol;
        const std::vector<unsigned char> cipher = fromHex(vector.cipher);
        ASSERT_TRUE(usm::decryptScopedPdu(vector.protocol, key, 7, 100, salt, cipher.data(),
                                          cipher.size(), out));
        EXPECT_EQ(out, plain) << vector.protocol;
    }
}

TEST(UsmCipher, DesCiphertextMustBeWholeBlocksAndProtocolKnown) {
    const std::vector<unsigned char> key(16, 3);
    unsigned char salt[usm::SALT_LENGTH] = {};
    const unsigned char data[12] = {};
    std::vector<unsigned char> out;
    EXPECT_FALSE(usm::decryptScopedPdu(usm::PRIV_CBC_DES, key, 0, 0, salt, data, 12, out));
    EXPECT_FALSE(usm::encryptScopedPdu(2, key, 0, 0, salt, data, 8, out));
}

}  // namespace
