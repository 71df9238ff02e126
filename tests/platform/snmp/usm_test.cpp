#include "platform/snmp/usm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Key localisation and the MACs of both protocols are the end-to-end
// test_walk's, against net-snmp at every level.
// Missing keys and unknown protocols are the end-to-end test_snmp_engine's.
// Computed with the openssl command-line tool: AES-128-CFB under IV
// boots 7 || time 100 || salt (RFC 3826 3.1.2.1), a plaintext that ends in
// a partial block; DES-CBC under IV pre-IV XOR salt (RFC 3414 8.1.1.1).
TEST(Usm, CiphersMatchKnownAnswersAndPadDes) {
    const std::tuple<uint32_t, const char*, const char*, const char*> vectors[] = {
        {usm::PRIV_CFB128_AES_128, "000102030405060708090a0b0c0d0e0f",
         "3031323334353637383961626364656658595a", "db1df6351afecf0e8927de24dc2150ceaafa5c"},
        {usm::PRIV_CBC_DES, "00010203040506071011121314151617", "30313233343536373839616263646566",
         "20cdde41008be66273ffc58f3ce11f6d"},
    };
    const unsigned char salt[usm::SALT_LENGTH] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& [protocol, keyHex, plainHex, cipherHex] : vectors) {
        SCOPED_TRACE(protocol);
        const Bytes key = fromHex(keyHex), plain = fromHex(plainHex), cipher = fromHex(cipherHex);
        Bytes out;
        ASSERT_TRUE(
            usm::encryptScopedPdu(protocol, key, 7, 100, salt, plain.data(), plain.size(), out));
        EXPECT_EQ(out, cipher);
        ASSERT_TRUE(
            usm::decryptScopedPdu(protocol, key, 7, 100, salt, cipher.data(), cipher.size(), out));
        EXPECT_EQ(out, plain);
        // A plaintext of 11 octets: DES pads it to two blocks, AES keeps its length.
        ASSERT_TRUE(usm::encryptScopedPdu(protocol, key, 7, 100, salt, plain.data(), 11, out));
        EXPECT_EQ(out.size(), protocol == usm::PRIV_CBC_DES ? 16u : 11u);
        // RFC 3414 8.3.2: DES ciphertext comes in whole blocks.
        EXPECT_EQ(usm::decryptScopedPdu(protocol, key, 7, 100, salt, cipher.data(), 12, out),
                  protocol != usm::PRIV_CBC_DES);
        // No salt repeats under one key.
        unsigned char first[usm::SALT_LENGTH], second[usm::SALT_LENGTH];
        usm::nextSalt(protocol, 7, first);
        usm::nextSalt(protocol, 7, second);
        EXPECT_NE(Bytes(first, first + 8), Bytes(second, second + 8));
    }
}

}  // namespace
