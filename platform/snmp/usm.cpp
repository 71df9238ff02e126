#include "platform/snmp/usm.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <time.h>

#include <algorithm>
#include <cstring>

namespace usm {
namespace {

// RFC 3414 A.2: the password is repeated to fill one mebibyte.
constexpr size_t PASSWORD_EXPANSION = 1024 * 1024;
constexpr size_t DES_KEY_LENGTH = 8;
constexpr size_t DES_BLOCK = 8;
constexpr size_t AES_KEY_LENGTH = 16;
constexpr size_t MAX_DIGEST = 20;

struct AuthAlgorithm {
    const char* digestName;
    size_t digestLength;
};

// Indexed by the authentication protocol code.
constexpr AuthAlgorithm AUTH_ALGORITHMS[] = {
    {"MD5", 16},   // AUTH_HMAC_MD5_96
    {"SHA1", 20},  // AUTH_HMAC_SHA_96
};
constexpr size_t AUTH_COUNT = sizeof(AUTH_ALGORITHMS) / sizeof(AUTH_ALGORITHMS[0]);

struct PrivAlgorithm {
    const char* cipherName;
    size_t keyLength;  // octets of the B key the protocol needs
};

// Indexed by the privacy protocol code.
constexpr PrivAlgorithm PRIV_ALGORITHMS[] = {
    {"DES-CBC", DES_KEY_LENGTH + DES_BLOCK},  // PRIV_CBC_DES: key, then pre-IV
    {"AES-128-CFB", AES_KEY_LENGTH},          // PRIV_CFB128_AES_128
};
constexpr size_t PRIV_COUNT = sizeof(PRIV_ALGORITHMS) / sizeof(PRIV_ALGORITHMS[0]);

// A cipher context that keeps the key schedule of the last key it was given:
// consecutive messages of one user only set their IV.
struct KeyedCipher {
    EVP_CIPHER_CTX* context = nullptr;
    std::vector<unsigned char> key;  // empty while no key is set
    uint32_t protocol = 0;

    // Readies the context for one message under `privKey` and `iv`.
    bool start(uint32_t privProtocol, const EVP_CIPHER* cipher,
               const std::vector<unsigned char>& privKey, const unsigned char* iv, int encrypt) {
        if (context == nullptr) return false;
        if (!key.empty() && protocol == privProtocol && key == privKey) {
            if (EVP_CipherInit_ex2(context, nullptr, nullptr, iv, encrypt, nullptr) == 1)
                return true;
        }
        key.clear();
        if (EVP_CipherInit_ex2(context, cipher, privKey.data(), iv, encrypt, nullptr) != 1)
            return false;
        EVP_CIPHER_CTX_set_padding(context, 0);
        key = privKey;
        protocol = privProtocol;
        return true;
    }
};

// Algorithm objects fetched once for the life of the process, so no message
// pays for a provider look-up. DES lives in OpenSSL 3's legacy provider,
// which is loaded only when DES is first used: most agents never need it,
// and it costs memory. When it cannot be loaded, DES stays null and fails
// cleanly.
struct Algorithms {
    EVP_MD* digests[AUTH_COUNT] = {};
    EVP_CIPHER* ciphers[PRIV_COUNT] = {};
    bool cipherFetched[PRIV_COUNT] = {};
    EVP_MD_CTX* hash = nullptr;
    // A request is decrypted and its reply encrypted under the same key.
    KeyedCipher decryptor;
    KeyedCipher encryptor;

    Algorithms() {
        // The agent configures its crypto itself; the system's OpenSSL
        // configuration file is not read.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS,
                            nullptr);
        for (size_t i = 0; i < AUTH_COUNT; ++i)
            digests[i] = EVP_MD_fetch(nullptr, AUTH_ALGORITHMS[i].digestName, nullptr);
        hash = EVP_MD_CTX_new();
        decryptor.context = EVP_CIPHER_CTX_new();
        encryptor.context = EVP_CIPHER_CTX_new();
    }

    const EVP_CIPHER* cipher(uint32_t privProtocol) {
        if (privProtocol >= PRIV_COUNT) return nullptr;
        if (!cipherFetched[privProtocol]) {
            cipherFetched[privProtocol] = true;
            // Keeps the default provider as the fallback beside the legacy one.
            if (privProtocol == PRIV_CBC_DES) OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
            ciphers[privProtocol] =
                EVP_CIPHER_fetch(nullptr, PRIV_ALGORITHMS[privProtocol].cipherName, nullptr);
        }
        return ciphers[privProtocol];
    }
};

Algorithms& algorithms() {
    static Algorithms instance;
    return instance;
}

const EVP_MD* digestFor(uint32_t authProtocol) {
    if (authProtocol >= AUTH_COUNT) return nullptr;
    return algorithms().digests[authProtocol];
}

// The HMAC contexts of the last signing key, with its inner and outer pad
// already hashed: consecutive messages of one user skip those two blocks.
struct MacKeyCache {
    std::vector<unsigned char> key;
    uint32_t protocol = 0;
    EVP_MD_CTX* inner = nullptr;
    EVP_MD_CTX* outer = nullptr;
    EVP_MD_CTX* work = nullptr;

    bool prepare(const std::vector<unsigned char>& signingKey, uint32_t authProtocol,
                 const EVP_MD* md) {
        if (work == nullptr) {
            inner = EVP_MD_CTX_new();
            outer = EVP_MD_CTX_new();
            work = EVP_MD_CTX_new();
            if (inner == nullptr || outer == nullptr || work == nullptr) return false;
        }
        if (!key.empty() && protocol == authProtocol && key == signingKey) return true;
        key.clear();
        if (EVP_DigestInit_ex2(inner, md, nullptr) != 1 ||
            EVP_DigestUpdate(inner, signingKey.data(), HMAC_BLOCK) != 1 ||
            EVP_DigestInit_ex2(outer, md, nullptr) != 1 ||
            EVP_DigestUpdate(outer, signingKey.data() + HMAC_BLOCK, HMAC_BLOCK) != 1)
            return false;
        key = signingKey;
        protocol = authProtocol;
        return true;
    }
};

MacKeyCache& macKeyCache() {
    static MacKeyCache cache;
    return cache;
}

void putBigEndian(uint32_t value, unsigned char* out) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

// Key and IV of one message. False when the protocol is unknown or the
// B key too short for it.
bool cipherParameters(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      unsigned char iv[16]) {
    if (privProtocol >= PRIV_COUNT) return false;
    if (privKey.size() < PRIV_ALGORITHMS[privProtocol].keyLength) return false;
    if (privProtocol == PRIV_CBC_DES) {
        // RFC 3414 8.1.1.1: IV = pre-IV XOR salt.
        for (size_t i = 0; i < DES_BLOCK; ++i)
            iv[i] = privKey[DES_KEY_LENGTH + i] ^ salt[i];
    } else {
        // RFC 3826 3.1.2.1: IV = boots || time || salt.
        putBigEndian(boots, iv);
        putBigEndian(time, iv + 4);
        std::memcpy(iv + 8, salt, SALT_LENGTH);
    }
    return true;
}

bool runCipher(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
               const unsigned char* iv, bool encrypt, const unsigned char* input, size_t length,
               std::vector<unsigned char>& out) {
    Algorithms& all = algorithms();
    const EVP_CIPHER* cipher = all.cipher(privProtocol);
    if (cipher == nullptr) return false;
    if (length > size_t(INT32_MAX)) return false;
    KeyedCipher& keyed = encrypt ? all.encryptor : all.decryptor;
    if (!keyed.start(privProtocol, cipher, privKey, iv, encrypt ? 1 : 0)) return false;
    out.resize(length + DES_BLOCK);
    int written = 0;
    int finalWritten = 0;
    if (EVP_CipherUpdate(keyed.context, out.data(), &written, input, int(length)) != 1 ||
        EVP_CipherFinal_ex(keyed.context, out.data() + written, &finalWritten) != 1) {
        out.clear();
        return false;
    }
    out.resize(size_t(written) + size_t(finalWritten));
    return true;
}

}  // namespace

size_t digestLength(uint32_t authProtocol) {
    return authProtocol < AUTH_COUNT ? AUTH_ALGORITHMS[authProtocol].digestLength : 0;
}

bool computeMac(const std::vector<unsigned char>& signingKey, uint32_t authProtocol,
                const unsigned char* data, size_t length, unsigned char mac[MAC_LENGTH]) {
    const EVP_MD* md = digestFor(authProtocol);
    if (md == nullptr || signingKey.size() != SIGNING_KEY_LENGTH) return false;
    MacKeyCache& cache = macKeyCache();
    if (!cache.prepare(signingKey, authProtocol, md)) return false;
    // RFC 2104: H((K ^ opad) || H((K ^ ipad) || data)).
    unsigned char innerDigest[MAX_DIGEST];
    unsigned char outerDigest[MAX_DIGEST];
    unsigned int innerLength = 0;
    if (EVP_MD_CTX_copy_ex(cache.work, cache.inner) != 1 ||
        EVP_DigestUpdate(cache.work, data, length) != 1 ||
        EVP_DigestFinal_ex(cache.work, innerDigest, &innerLength) != 1 ||
        EVP_MD_CTX_copy_ex(cache.work, cache.outer) != 1 ||
        EVP_DigestUpdate(cache.work, innerDigest, innerLength) != 1 ||
        EVP_DigestFinal_ex(cache.work, outerDigest, nullptr) != 1)
        return false;
    std::memcpy(mac, outerDigest, MAC_LENGTH);
    return true;
}

bool encryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      const unsigned char* plaintext, size_t length,
                      std::vector<unsigned char>& out) {
    unsigned char iv[16];
    if (!cipherParameters(privProtocol, privKey, boots, time, salt, iv)) return false;
    if (privProtocol != PRIV_CBC_DES)
        return runCipher(privProtocol, privKey, iv, true, plaintext, length, out);
    // RFC 3414 8.1.1.2: pad to a multiple of the block; the value is free.
    std::vector<unsigned char> padded(plaintext, plaintext + length);
    padded.resize((length + DES_BLOCK - 1) / DES_BLOCK * DES_BLOCK, 0);
    return runCipher(privProtocol, privKey, iv, true, padded.data(), padded.size(), out);
}

bool decryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      const unsigned char* ciphertext, size_t length,
                      std::vector<unsigned char>& out) {
    unsigned char iv[16];
    if (!cipherParameters(privProtocol, privKey, boots, time, salt, iv)) return false;
    // RFC 3414 8.3.2 step 1: DES ciphertext must be whole blocks.
    if (privProtocol == PRIV_CBC_DES && length % DES_BLOCK != 0) return false;
    return runCipher(privProtocol, privKey, iv, false, ciphertext, length, out);
}

void nextSalt(uint32_t privProtocol, uint32_t boots, unsigned char salt[SALT_LENGTH]) {
    static uint64_t counter = [] {
        uint64_t seed = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&seed), sizeof(seed)) != 1) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            seed = uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
        }
        return seed;
    }();
    ++counter;
    if (privProtocol == PRIV_CBC_DES) {
        putBigEndian(boots, salt);
    } else {
        putBigEndian(uint32_t(counter >> 32), salt);
    }
    putBigEndian(uint32_t(counter), salt + 4);
}

uint32_t monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec);
}

uint32_t engineTime(const V3ServerInfo& server) {
    return monotonicSeconds() - server.engineTimeBase;
}

}  // namespace usm

std::vector<unsigned char> passwordToAKey(const std::string& password, uint32_t authProtocol) {
    const EVP_MD* md = usm::digestFor(authProtocol);
    EVP_MD_CTX* context = usm::algorithms().hash;
    if (password.empty() || md == nullptr || context == nullptr) return {};
    if (EVP_DigestInit_ex2(context, md, nullptr) != 1) return {};
    unsigned char block[usm::HMAC_BLOCK];
    size_t next = 0;
    for (size_t done = 0; done < usm::PASSWORD_EXPANSION; done += sizeof(block)) {
        for (unsigned char& octet : block) {
            octet = static_cast<unsigned char>(password[next]);
            next = next + 1 == password.size() ? 0 : next + 1;
        }
        if (EVP_DigestUpdate(context, block, sizeof(block)) != 1) return {};
    }
    std::vector<unsigned char> key(usm::digestLength(authProtocol));
    if (EVP_DigestFinal_ex(context, key.data(), nullptr) != 1) return {};
    return key;
}

std::vector<unsigned char> aKeyToBKey(const std::vector<unsigned char>& key,
                                      const std::string& engineID, uint32_t authProtocol) {
    const EVP_MD* md = usm::digestFor(authProtocol);
    EVP_MD_CTX* context = usm::algorithms().hash;
    if (key.empty() || md == nullptr || context == nullptr) return {};
    std::vector<unsigned char> localised(usm::digestLength(authProtocol));
    if (EVP_DigestInit_ex2(context, md, nullptr) != 1 ||
        EVP_DigestUpdate(context, key.data(), key.size()) != 1 ||
        EVP_DigestUpdate(context, engineID.data(), engineID.size()) != 1 ||
        EVP_DigestUpdate(context, key.data(), key.size()) != 1 ||
        EVP_DigestFinal_ex(context, localised.data(), nullptr) != 1)
        return {};
    return localised;
}

std::vector<unsigned char> bKeyToDKey(const std::vector<unsigned char>& key,
                                      uint32_t authProtocol) {
    // RFC 2104 2: a key longer than the block would be hashed first; a
    // localised key is one digest, always shorter.
    if (key.empty() || key.size() > usm::HMAC_BLOCK || usm::digestFor(authProtocol) == nullptr)
        return {};
    std::vector<unsigned char> pads(usm::SIGNING_KEY_LENGTH);
    for (size_t i = 0; i < usm::HMAC_BLOCK; ++i) {
        const unsigned char octet = i < key.size() ? key[i] : 0;
        pads[i] = octet ^ 0x36;
        pads[usm::HMAC_BLOCK + i] = octet ^ 0x5c;
    }
    return pads;
}
