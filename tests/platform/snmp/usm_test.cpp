#include "platform/snmp/usm.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

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
// Computed with the openssl command-line tool: AES-128/192/256-CFB under IV
// boots 7 || time 100 || salt (RFC 3826 3.1.2.1), a plaintext that ends in
// a partial block; DES-CBC under IV pre-IV XOR salt (RFC 3414 8.1.1.1).
TEST(Usm, CiphersMatchKnownAnswersAndPadDes) {
    const std::tuple<uint32_t, const char*, const char*, const char*> vectors[] = {
        {usm::PRIV_CFB128_AES_128, "000102030405060708090a0b0c0d0e0f",
         "3031323334353637383961626364656658595a", "db1df6351afecf0e8927de24dc2150ceaafa5c"},
        {usm::PRIV_CBC_DES, "00010203040506071011121314151617", "30313233343536373839616263646566",
         "20cdde41008be66273ffc58f3ce11f6d"},
        // Two whole blocks and a partial one, under both longer keys.
        {usm::PRIV_CFB128_AES_192, "000102030405060708090a0b0c0d0e0f1011121314151617",
         "3031323334353637383961626364656658595a303132333435363738396162636465665859",
         "19944e0bef1e282797d45379ae4e89724b757c1bdf9fa6c17af0b3b732ab9211d5b7cad713"},
        {usm::PRIV_CFB128_AES_256_C,
         "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "3031323334353637383961626364656658595a303132333435363738396162636465665859",
         "fed2917db3cc4638cf6668b9efd9ad7f8f62071e4d834311a26948056d3c8f15cd66f79145"},
    };
    const unsigned char salt[usm::SALT_LENGTH] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& [protocol, keyHex, plainHex, cipherHex] : vectors) {
        SCOPED_TRACE(protocol);
        const Bytes key = fromHex(keyHex), plain = fromHex(plainHex), cipher = fromHex(cipherHex);
        Bytes text = plain;
        text.resize(usm::encryptedLength(protocol, text.size()), 0);
        ASSERT_TRUE(usm::encryptScopedPdu(protocol, key, 7, 100, salt, text.data(), text.size()));
        EXPECT_EQ(text, cipher);
        ASSERT_TRUE(usm::decryptScopedPdu(protocol, key, 7, 100, salt, text.data(), text.size()));
        EXPECT_EQ(text, plain);
        // 11 octets: DES pads them to two blocks, AES keeps their length.
        EXPECT_EQ(usm::encryptedLength(protocol, 11), protocol == usm::PRIV_CBC_DES ? 16u : 11u);
        // RFC 3414 8.3.2: DES takes whole blocks only.
        EXPECT_EQ(usm::decryptScopedPdu(protocol, key, 7, 100, salt, text.data(), 12),
                  protocol != usm::PRIV_CBC_DES);
        // No salt repeats under one key.
        unsigned char first[usm::SALT_LENGTH], second[usm::SALT_LENGTH];
        usm::nextSalt(protocol, 7, first);
        usm::nextSalt(protocol, 7, second);
        EXPECT_NE(Bytes(first, first + 8), Bytes(second, second + 8));
    }
}

// Localised keys for "maplesyrup" and engine 00..02 (the inputs of RFC 3414
// A.3) with the SHA-2 hashes, and the AES key extensions where the hash is
// shorter than the key, computed with Python's hashlib (the SHA-256 key and
// the SHA-1 Blumenthal extension checked with the openssl command too).
TEST(Usm, KeysMatchKnownAnswers) {
    constexpr uint32_t LOCALISED = ~0u;  // the B key itself, no cipher
    const std::tuple<uint32_t, uint32_t, const char*> vectors[] = {
        {usm::AUTH_HMAC_128_SHA_224, LOCALISED,
         "0bd8827c6e29f8065e08e09237f177e410f69b90e1782be682075674"},
        {usm::AUTH_HMAC_192_SHA_256, LOCALISED,
         "8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b"},
        {usm::AUTH_HMAC_256_SHA_384, LOCALISED,
         "3b298f16164a11184279d5432bf169e2d2a48307de02b3d3f7e2b4f36eb6f045"
         "5a53689a3937eea07319a633d2ccba78"},
        {usm::AUTH_HMAC_384_SHA_512, LOCALISED,
         "22a5a36cedfcc085807a128d7bc6c2382167ad6c0dbc5fdff856740f3d84c099"
         "ad1ea87a8db096714d9788bd544047c9021e4229ce27e4c0a69250adfcffbb0b"},
        {usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_256,
         "6695febc9288e36282235fc7151f128497b38f3f505e07eb9af25568fa1f5dbe"},
        {usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_256_C,
         "6695febc9288e36282235fc7151f128497b38f3f9b8b6d78936ba6e7d19dfd9c"},
        {usm::AUTH_HMAC_MD5_96, usm::PRIV_CFB128_AES_192,
         "526f5eed9fcce26f8964c2930787d82bfa24a92467426c2f"},
        {usm::AUTH_HMAC_MD5_96, usm::PRIV_CFB128_AES_192_C,
         "526f5eed9fcce26f8964c2930787d82b79eff44a90650ee0"},
    };
    const std::string engineID("\0\0\0\0\0\0\0\0\0\0\0\2", 12);
    for (const auto& [auth, priv, keyHex] : vectors) {
        SCOPED_TRACE(std::to_string(auth) + "/" + std::to_string(priv));
        const Bytes localised = aKeyToBKey(passwordToAKey("maplesyrup", auth), engineID, auth);
        EXPECT_EQ(priv == LOCALISED ? localised : usm::privacyKey(priv, auth, localised, engineID),
                  fromHex(keyHex));
    }
}

// RFC 3414 5, KeyChange, the manager's side as the RFC gives it:
// iterations = (lenOfDelta - 1) / lenOfHash; temp = keyOld; each round
// temp = H(temp || random) and the piece of delta is temp XOR keyNew.
std::string keyChangeValue(const EVP_MD* md, const Bytes& oldKey, const Bytes& newKey,
                           const Bytes& random) {
    const size_t hashLength = static_cast<size_t>(EVP_MD_get_size(md));
    const size_t iterations = (newKey.size() - 1) / hashLength;
    Bytes temp = oldKey;
    Bytes delta(newKey.size());
    for (size_t i = 0; i <= iterations; ++i) {
        Bytes input = temp;
        input.insert(input.end(), random.begin(), random.end());
        temp.resize(hashLength);
        unsigned int written = 0;
        EVP_Digest(input.data(), input.size(), temp.data(), &written, md, nullptr);
        for (size_t j = 0; j < hashLength && i * hashLength + j < newKey.size(); ++j)
            delta[i * hashLength + j] = temp[j] ^ newKey[i * hashLength + j];
    }
    return std::string(random.begin(), random.end()) + std::string(delta.begin(), delta.end());
}

// The agent's side gives back the manager's new key for each hash, for an
// authentication key (one digest long) and a privacy key longer than the
// digest (AES-256 from a shorter hash); a value of another length changes
// nothing.
TEST(Usm, KeyChangeGivesTheManagersNewKey) {
    const std::pair<uint32_t, const EVP_MD*> hashes[] = {
        {usm::AUTH_HMAC_MD5_96, EVP_md5()},          {usm::AUTH_HMAC_SHA_96, EVP_sha1()},
        {usm::AUTH_HMAC_128_SHA_224, EVP_sha224()}, {usm::AUTH_HMAC_192_SHA_256, EVP_sha256()},
        {usm::AUTH_HMAC_256_SHA_384, EVP_sha384()}, {usm::AUTH_HMAC_384_SHA_512, EVP_sha512()},
    };
    const std::string engineID("\0\0\0\0\0\0\0\0\0\0\0\2", 12);
    for (const auto& [auth, md] : hashes) {
        for (const size_t length : {usm::digestLength(auth), size_t(32)}) {
            SCOPED_TRACE(std::to_string(auth) + ", " + std::to_string(length) + " octets");
            Bytes oldKey = aKeyToBKey(passwordToAKey("maplesyrup", auth), engineID, auth);
            Bytes newKey = aKeyToBKey(passwordToAKey("newsyrup1", auth), engineID, auth);
            oldKey.resize(length, 0x5a);
            newKey.resize(length, 0xa5);
            Bytes random(length);
            for (size_t i = 0; i < length; ++i)
                random[i] = static_cast<unsigned char>(i * 7 + 3);
            const std::string value = keyChangeValue(md, oldKey, newKey, random);
            Bytes got{1, 2, 3};
            ASSERT_TRUE(usm::keyChange(auth, oldKey, value, got));
            EXPECT_EQ(got, newKey);
            EXPECT_FALSE(usm::keyChange(auth, oldKey, value.substr(1), got));
            EXPECT_EQ(got, newKey);
        }
    }
}

}  // namespace
