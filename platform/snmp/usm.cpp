#include "platform/snmp/usm.h"

// The hashes and DES are called through their low-level functions: they need
// no provider (EVP serves DES only from OpenSSL 3's legacy provider), keep
// their state in plain structs, and link in as a few objects of the static
// library. These calls are deprecated in OpenSSL 3 but remain part of
// libcrypto.
//
// AES runs on the CPU's AES instructions. On x86-64 this file drives AES-NI
// itself through the compiler's intrinsics, and a CPU without AES-NI gets
// the low-level AES. Nothing here calls EVP there, so the static link leaves
// out OpenSSL's providers: 3.4 MB less code, and 340 kB less of the
// function tables that a position-independent executable relocates into
// private memory at start. Nor does the agent pay EVP's first cipher fetch,
// which builds the method tables of every cipher of the default provider
// (190 kB of heap for good), or the provider call that sets each message's
// IV. Elsewhere AES goes through EVP, whose implementation uses the
// instructions the CPU has (the low-level AES never does).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/des.h>
#include <openssl/md5.h>
#include <openssl/sha.h>
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define USM_AES_NI 1
#include <immintrin.h>
#include <openssl/aes.h>
#else
#include <openssl/evp.h>
#endif
#include <sys/random.h>
#include <time.h>

#include <climits>
#include <cstring>

namespace usm {
namespace {

// RFC 3414 A.2: the password is repeated to fill one mebibyte.
constexpr size_t PASSWORD_EXPANSION = 1024 * 1024;
constexpr size_t EXPANSION_CHUNK = 64;  // hashed at a time; divides the mebibyte
constexpr size_t DES_KEY_LENGTH = 8;
constexpr size_t DES_BLOCK = 8;
constexpr size_t AES_BLOCK = 16;
constexpr size_t MAX_DIGEST = SHA512_DIGEST_LENGTH;

// Per authentication protocol code: digest, truncated MAC, hash block.
struct AuthShape {
    size_t digest;
    size_t mac;
    size_t block;
};
constexpr AuthShape AUTH_SHAPES[] = {
    {MD5_DIGEST_LENGTH, 12, MD5_CBLOCK},        // AUTH_HMAC_MD5_96
    {SHA_DIGEST_LENGTH, 12, SHA_CBLOCK},        // AUTH_HMAC_SHA_96
    {SHA224_DIGEST_LENGTH, 16, SHA256_CBLOCK},  // AUTH_HMAC_128_SHA_224
    {SHA256_DIGEST_LENGTH, 24, SHA256_CBLOCK},  // AUTH_HMAC_192_SHA_256
    {SHA384_DIGEST_LENGTH, 32, SHA512_CBLOCK},  // AUTH_HMAC_256_SHA_384
    {SHA512_DIGEST_LENGTH, 48, SHA512_CBLOCK},  // AUTH_HMAC_384_SHA_512
};
constexpr size_t AUTH_COUNT = sizeof(AUTH_SHAPES) / sizeof(AUTH_SHAPES[0]);
static_assert(AUTH_SHAPES[AUTH_HMAC_384_SHA_512].mac == MAX_MAC_LENGTH);

// Per privacy protocol code: octets of the key the cipher takes, and
// whether a short localised key is extended as draft-reeder describes
// rather than as draft-blumenthal does.
struct PrivShape {
    size_t keyLength;
    bool reederExtension;
};
constexpr PrivShape PRIV_SHAPES[] = {
    {DES_KEY_LENGTH + DES_BLOCK, false},  // PRIV_CBC_DES: key, then pre-IV
    {16, false},                          // PRIV_CFB128_AES_128
    {24, false},                          // PRIV_CFB128_AES_192
    {32, false},                          // PRIV_CFB128_AES_256
    {24, true},                           // PRIV_CFB128_AES_192_C
    {32, true},                           // PRIV_CFB128_AES_256_C
};
constexpr size_t PRIV_COUNT = sizeof(PRIV_SHAPES) / sizeof(PRIV_SHAPES[0]);

// A running hash of any authentication protocol. A plain struct:
// assigning one copies the hash state, which is how HMAC reuses its
// pre-hashed pads.
struct Hash {
    uint32_t protocol = AUTH_HMAC_MD5_96;
    union {
        MD5_CTX md5;
        SHA_CTX sha1;
        SHA256_CTX sha256;  // SHA-224 too
        SHA512_CTX sha512;  // SHA-384 too
    };

    // False for an unknown protocol.
    bool start(uint32_t authProtocol) {
        protocol = authProtocol;
        switch (protocol) {
            case AUTH_HMAC_MD5_96:
                return MD5_Init(&md5) == 1;
            case AUTH_HMAC_SHA_96:
                return SHA1_Init(&sha1) == 1;
            case AUTH_HMAC_128_SHA_224:
                return SHA224_Init(&sha256) == 1;
            case AUTH_HMAC_192_SHA_256:
                return SHA256_Init(&sha256) == 1;
            case AUTH_HMAC_256_SHA_384:
                return SHA384_Init(&sha512) == 1;
            case AUTH_HMAC_384_SHA_512:
                return SHA512_Init(&sha512) == 1;
            default:
                return false;
        }
    }
    // Only after a successful start.
    void add(const void* data, size_t length) {
        switch (protocol) {
            case AUTH_HMAC_MD5_96:
                MD5_Update(&md5, data, length);
                break;
            case AUTH_HMAC_SHA_96:
                SHA1_Update(&sha1, data, length);
                break;
            case AUTH_HMAC_128_SHA_224:
                SHA224_Update(&sha256, data, length);
                break;
            case AUTH_HMAC_192_SHA_256:
                SHA256_Update(&sha256, data, length);
                break;
            case AUTH_HMAC_256_SHA_384:
                SHA384_Update(&sha512, data, length);
                break;
            default:
                SHA512_Update(&sha512, data, length);
                break;
        }
    }
    // Writes digestLength(protocol) octets.
    void finish(unsigned char* digest) {
        switch (protocol) {
            case AUTH_HMAC_MD5_96:
                MD5_Final(digest, &md5);
                break;
            case AUTH_HMAC_SHA_96:
                SHA1_Final(digest, &sha1);
                break;
            case AUTH_HMAC_128_SHA_224:
                SHA224_Final(digest, &sha256);
                break;
            case AUTH_HMAC_192_SHA_256:
                SHA256_Final(digest, &sha256);
                break;
            case AUTH_HMAC_256_SHA_384:
                SHA384_Final(digest, &sha512);
                break;
            default:
                SHA512_Final(digest, &sha512);
                break;
        }
    }
};

// The hash states of the last signing key with its inner and outer pad
// already hashed: consecutive messages of one user skip those two blocks.
struct MacKeyCache {
    std::vector<unsigned char> key;  // empty while no key is cached
    Hash inner;
    Hash outer;

    bool prepare(const std::vector<unsigned char>& signingKey, uint32_t authProtocol) {
        if (!key.empty() && inner.protocol == authProtocol && key == signingKey) return true;
        key.clear();
        if (!inner.start(authProtocol) || !outer.start(authProtocol)) return false;
        const size_t block = signingKey.size() / 2;
        inner.add(signingKey.data(), block);
        outer.add(signingKey.data() + block, block);
        key = signingKey;
        return true;
    }
};

MacKeyCache& macKeyCache() {
    static MacKeyCache cache;
    return cache;
}

#ifdef USM_AES_NI
// AES (FIPS-197) on AES-NI. The round keys are expanded as FIPS-197 5.2
// says, with AESKEYGENASSIST as the S-box, so that no table lookup depends
// on the key.
struct AesNiKey {
    static constexpr int MAX_ROUNDS = 14;
    __m128i roundKeys[MAX_ROUNDS + 1];
    int rounds = 0;
};

bool aesNiAvailable() {
    static const bool available = __builtin_cpu_supports("aes");
    return available;
}

// SubWord of FIPS-197 5.2: AESKEYGENASSIST substitutes its second word.
[[gnu::target("aes")]] uint32_t subWord(uint32_t word) {
    const __m128i assisted = _mm_aeskeygenassist_si128(_mm_set_epi32(0, 0, int(word), 0), 0);
    return uint32_t(_mm_cvtsi128_si32(assisted));
}

// `length` is 16, 24 or 32. Words are kept in memory order: on a
// little-endian CPU RotWord is a rotation right by 8, and Rcon the lowest byte.
[[gnu::target("aes")]] void expandAesKey(const unsigned char* key, size_t length, AesNiKey& out) {
    const size_t keyWords = length / 4;
    out.rounds = int(keyWords) + 6;
    const size_t words = 4 * size_t(out.rounds + 1);
    uint32_t w[4 * (AesNiKey::MAX_ROUNDS + 1)];
    std::memcpy(w, key, length);
    uint32_t rcon = 1;
    for (size_t i = keyWords; i < words; ++i) {
        uint32_t temp = w[i - 1];
        if (i % keyWords == 0) {
            temp = subWord((temp >> 8) | (temp << 24)) ^ rcon;
            rcon = (rcon << 1) ^ ((rcon & 0x80) ? 0x11b : 0);
        } else if (keyWords > 6 && i % keyWords == 4) {
            temp = subWord(temp);
        }
        w[i] = w[i - keyWords] ^ temp;
    }
    for (int round = 0; round <= out.rounds; ++round)
        out.roundKeys[round] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4 * round));
}

[[gnu::target("aes")]] __m128i encryptBlock(__m128i block, const AesNiKey& key) {
    block = _mm_xor_si128(block, key.roundKeys[0]);
    for (int round = 1; round < key.rounds; ++round)
        block = _mm_aesenc_si128(block, key.roundKeys[round]);
    return _mm_aesenclast_si128(block, key.roundKeys[key.rounds]);
}

// RFC 3826 3.1.3, 3.1.4: CFB128 (NIST SP 800-38A 6.3) in place. Each block
// is the input block's cipher XOR the text; the next input block is the
// ciphertext, written out when encrypting, read in before it is
// overwritten when decrypting. The last block may be partial.
[[gnu::target("aes")]] void aesNiCfb(const AesNiKey& key, const unsigned char iv[AES_BLOCK],
                                     bool encrypt, unsigned char* data, size_t length) {
    __m128i feedback = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    size_t done = 0;
    for (; done + AES_BLOCK <= length; done += AES_BLOCK) {
        auto* block = reinterpret_cast<__m128i*>(data + done);
        const __m128i input = _mm_loadu_si128(block);
        const __m128i output = _mm_xor_si128(input, encryptBlock(feedback, key));
        _mm_storeu_si128(block, output);
        feedback = encrypt ? output : input;
    }
    if (done == length) return;
    unsigned char stream[AES_BLOCK];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(stream), encryptBlock(feedback, key));
    for (size_t i = done; i < length; ++i)
        data[i] ^= stream[i - done];
}
#else
// The AES ciphers by key length (16, 24 or 32 octets), each fetched at its
// first use and kept, so no message pays for a provider look-up. A fetch
// that fails stays null and the cipher fails cleanly.
const EVP_CIPHER* aesCipher(size_t keyLength) {
    static constexpr const char* NAMES[] = {"AES-128-CFB", "AES-192-CFB", "AES-256-CFB"};
    static EVP_CIPHER* ciphers[3] = {};
    static bool fetched[3] = {};
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) return nullptr;
    const size_t index = keyLength / 8 - 2;
    if (!fetched[index]) {
        fetched[index] = true;
        // The agent configures its crypto itself: the system's OpenSSL
        // configuration and the error strings are never loaded.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS,
                            nullptr);
        ciphers[index] = EVP_CIPHER_fetch(nullptr, NAMES[index], nullptr);
    }
    return ciphers[index];
}
#endif

// The key schedule of the last privacy key. A request is decrypted and its
// reply encrypted under the same key, and both CFB directions and both CBC
// directions run on one schedule, so one entry serves a whole exchange.
struct CipherKeyCache {
    std::vector<unsigned char> key;  // empty while no key is cached
    uint32_t protocol = 0;
    DES_key_schedule des;
#ifdef USM_AES_NI
    AesNiKey aesNi;       // on a CPU with AES-NI
    AES_KEY aesSoftware;  // on one without
#else
    EVP_CIPHER_CTX* aes = nullptr;  // created at the first AES message, then reused
#endif

    // Readies the key schedule. AES takes the first `aesKeyLength` octets of
    // `privKey`, DES its first 8.
    bool prepare(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                 size_t aesKeyLength) {
        if (!key.empty() && protocol == privProtocol && key == privKey) return true;
        key.clear();
        if (privProtocol == PRIV_CBC_DES) {
            // RFC 3414 8.1.1.1: the first 8 octets; their parity bits are
            // ignored, as DES always does.
            DES_cblock desKey;
            std::memcpy(desKey, privKey.data(), DES_KEY_LENGTH);
            DES_set_key_unchecked(&desKey, &des);
        } else {
            if (privKey.size() < aesKeyLength) return false;
#ifdef USM_AES_NI
            if (aesNiAvailable()) {
                expandAesKey(privKey.data(), aesKeyLength, aesNi);
            } else if (AES_set_encrypt_key(privKey.data(), int(8 * aesKeyLength), &aesSoftware) !=
                       0) {
                return false;
            }
#else
            if (aes == nullptr && (aes = EVP_CIPHER_CTX_new()) == nullptr) return false;
            const EVP_CIPHER* cipher = aesCipher(aesKeyLength);
            if (cipher == nullptr ||
                EVP_CipherInit_ex2(aes, cipher, privKey.data(), nullptr, 1, nullptr) != 1)
                return false;
#endif
        }
        key = privKey;
        protocol = privProtocol;
        return true;
    }
};

CipherKeyCache& cipherKeyCache() {
    static CipherKeyCache cache;
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
                      unsigned char iv[AES_BLOCK]) {
    if (privProtocol >= PRIV_COUNT) return false;
    if (privKey.size() < PRIV_SHAPES[privProtocol].keyLength) return false;
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

// Runs the cipher over `length` octets at `data` in place (OpenSSL's DES
// CBC and CFB allow the output to be the input). `privProtocol` is one
// cipherParameters accepted; DES input is whole blocks. False when the
// cipher cannot run.
bool runCipher(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
               unsigned char iv[AES_BLOCK], bool encrypt, unsigned char* data, size_t length) {
    CipherKeyCache& cache = cipherKeyCache();
    if (!cache.prepare(privProtocol, privKey, PRIV_SHAPES[privProtocol].keyLength)) return false;
    if (length == 0) return true;
    if (privProtocol == PRIV_CBC_DES) {
        DES_cblock chain;
        std::memcpy(chain, iv, DES_BLOCK);
        DES_ncbc_encrypt(data, data, long(length), &cache.des, &chain,
                         encrypt ? DES_ENCRYPT : DES_DECRYPT);
        return true;
    }
#ifdef USM_AES_NI
    if (aesNiAvailable()) {
        aesNiCfb(cache.aesNi, iv, encrypt, data, length);
    } else {
        int used = 0;  // octets of the last keystream block used: none yet
        AES_cfb128_encrypt(data, data, length, &cache.aesSoftware, iv, &used,
                           encrypt ? AES_ENCRYPT : AES_DECRYPT);
    }
    return true;
#else
    // CFB is a stream mode: one update does the whole message, and there is
    // nothing left for a final call.
    int written = 0;
    return length <= size_t(INT_MAX) &&
           EVP_CipherInit_ex2(cache.aes, nullptr, nullptr, iv, encrypt, nullptr) == 1 &&
           EVP_CipherUpdate(cache.aes, data, &written, data, int(length)) == 1 &&
           size_t(written) == length;
#endif
}

// Both directions: checks, key and IV, then the cipher in place.
bool runScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey, uint32_t boots,
                  uint32_t time, const unsigned char salt[SALT_LENGTH], bool encrypt,
                  unsigned char* data, size_t length) {
    unsigned char iv[AES_BLOCK];
    if (!cipherParameters(privProtocol, privKey, boots, time, salt, iv)) return false;
    // RFC 3414 8.3.2 step 1: DES ciphertext must be whole blocks, and so
    // must its padded plaintext.
    if (privProtocol == PRIV_CBC_DES && length % DES_BLOCK != 0) return false;
    return runCipher(privProtocol, privKey, iv, encrypt, data, length);
}

}  // namespace

size_t digestLength(uint32_t authProtocol) {
    return authProtocol < AUTH_COUNT ? AUTH_SHAPES[authProtocol].digest : 0;
}

size_t macLength(uint32_t authProtocol) {
    return authProtocol < AUTH_COUNT ? AUTH_SHAPES[authProtocol].mac : 0;
}

size_t signingKeyLength(uint32_t authProtocol) {
    return authProtocol < AUTH_COUNT ? 2 * AUTH_SHAPES[authProtocol].block : 0;
}

size_t privKeyLength(uint32_t privProtocol) {
    return privProtocol < PRIV_COUNT ? PRIV_SHAPES[privProtocol].keyLength : 0;
}

bool keyChange(uint32_t authProtocol, const std::vector<unsigned char>& oldKey,
               std::string_view value, std::vector<unsigned char>& newKey) {
    const size_t hashLength = digestLength(authProtocol);
    const size_t keyLength = oldKey.size();
    if (hashLength == 0 || keyLength == 0 || value.size() != 2 * keyLength) return false;
    const auto* random = reinterpret_cast<const unsigned char*>(value.data());
    const unsigned char* delta = random + keyLength;
    // temp = H(temp || random) for each hash-long piece of the key; the
    // piece is temp XOR delta.
    std::vector<unsigned char> temp = oldKey;
    std::vector<unsigned char> key(keyLength);
    for (size_t done = 0; done < keyLength; done += hashLength) {
        Hash hash;
        if (!hash.start(authProtocol)) return false;
        hash.add(temp.data(), temp.size());
        hash.add(random, keyLength);
        temp.resize(hashLength);
        hash.finish(temp.data());
        for (size_t i = 0; i < hashLength && done + i < keyLength; ++i)
            key[done + i] = temp[i] ^ delta[done + i];
    }
    wipe(temp);
    wipe(newKey);
    newKey = std::move(key);
    return true;
}

void wipe(std::vector<unsigned char>& secret) {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

void wipe(std::string& secret) {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

std::vector<unsigned char> privacyKey(uint32_t privProtocol, uint32_t authProtocol,
                                      const std::vector<unsigned char>& localisedKey,
                                      const std::string& engineID) {
    if (privProtocol >= PRIV_COUNT || localisedKey.empty()) return {};
    const PrivShape& shape = PRIV_SHAPES[privProtocol];
    if (localisedKey.size() >= shape.keyLength) return localisedKey;
    // One step suffices (see usm.h); a localised key of another length than
    // its hash's digest is none of ours.
    if (2 * localisedKey.size() < shape.keyLength ||
        localisedKey.size() != digestLength(authProtocol))
        return {};
    std::vector<unsigned char> extension;
    if (shape.reederExtension) {
        const std::string password(localisedKey.begin(), localisedKey.end());
        extension = aKeyToBKey(passwordToAKey(password, authProtocol), engineID, authProtocol);
    } else {
        Hash hash;
        if (!hash.start(authProtocol)) return {};
        hash.add(localisedKey.data(), localisedKey.size());
        extension.resize(digestLength(authProtocol));
        hash.finish(extension.data());
    }
    std::vector<unsigned char> key = localisedKey;
    key.insert(key.end(), extension.begin(), extension.end());
    key.resize(shape.keyLength);
    return key;
}

bool computeMac(const std::vector<unsigned char>& signingKey, uint32_t authProtocol,
                const unsigned char* data, size_t length, unsigned char mac[MAX_MAC_LENGTH]) {
    if (signingKey.size() != signingKeyLength(authProtocol)) return false;
    MacKeyCache& cache = macKeyCache();
    if (!cache.prepare(signingKey, authProtocol)) return false;
    // RFC 2104: H((K ^ opad) || H((K ^ ipad) || data)).
    unsigned char innerDigest[MAX_DIGEST];
    unsigned char outerDigest[MAX_DIGEST];
    Hash work = cache.inner;
    work.add(data, length);
    work.finish(innerDigest);
    work = cache.outer;
    work.add(innerDigest, digestLength(authProtocol));
    work.finish(outerDigest);
    std::memcpy(mac, outerDigest, macLength(authProtocol));
    return true;
}

bool encryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      unsigned char* data, size_t length) {
    return runScopedPdu(privProtocol, privKey, boots, time, salt, true, data, length);
}

bool decryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      unsigned char* data, size_t length) {
    return runScopedPdu(privProtocol, privKey, boots, time, salt, false, data, length);
}

size_t encryptedLength(uint32_t privProtocol, size_t length) {
    if (privProtocol != PRIV_CBC_DES) return length;
    return (length + DES_BLOCK - 1) / DES_BLOCK * DES_BLOCK;
}

void nextSalt(uint32_t privProtocol, uint32_t boots, unsigned char salt[SALT_LENGTH]) {
    // The salt need only never repeat under one key (RFC 3826 3.1.2.1); the
    // seed merely makes a restarted agent unlikely to retrace its steps.
    // GRND_NONBLOCK: early in boot, before the pool is ready, the clock does.
    static uint64_t counter = [] {
        uint64_t seed = 0;
        if (getrandom(&seed, sizeof(seed), GRND_NONBLOCK) != ssize_t(sizeof(seed))) {
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
    usm::Hash hash;
    if (password.empty() || !hash.start(authProtocol)) return {};
    unsigned char block[usm::EXPANSION_CHUNK];
    size_t next = 0;
    for (size_t done = 0; done < usm::PASSWORD_EXPANSION; done += sizeof(block)) {
        for (unsigned char& octet : block) {
            octet = static_cast<unsigned char>(password[next]);
            next = next + 1 == password.size() ? 0 : next + 1;
        }
        hash.add(block, sizeof(block));
    }
    std::vector<unsigned char> key(usm::digestLength(authProtocol));
    hash.finish(key.data());
    return key;
}

std::vector<unsigned char> aKeyToBKey(const std::vector<unsigned char>& key,
                                      const std::string& engineID, uint32_t authProtocol) {
    usm::Hash hash;
    if (key.empty() || !hash.start(authProtocol)) return {};
    hash.add(key.data(), key.size());
    hash.add(engineID.data(), engineID.size());
    hash.add(key.data(), key.size());
    std::vector<unsigned char> localised(usm::digestLength(authProtocol));
    hash.finish(localised.data());
    return localised;
}

std::vector<unsigned char> bKeyToDKey(const std::vector<unsigned char>& key,
                                      uint32_t authProtocol) {
    // RFC 2104 2: a key longer than the block would be hashed first; a
    // localised key is one digest, always shorter.
    const size_t block = usm::signingKeyLength(authProtocol) / 2;
    if (key.empty() || key.size() > block) return {};
    std::vector<unsigned char> pads(2 * block);
    for (size_t i = 0; i < block; ++i) {
        const unsigned char octet = i < key.size() ? key[i] : 0;
        pads[i] = octet ^ 0x36;
        pads[block + i] = octet ^ 0x5c;
    }
    return pads;
}
