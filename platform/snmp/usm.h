// The user-based security model's cryptography (RFC 3414, RFC 3826) on
// OpenSSL 3's libcrypto: protocol codes, key derivation, the HMAC
// authentication codes (RFC 3414, RFC 7860) and the privacy ciphers. The streams use these
// for readV3Info/decryptAndCheckSignature and writeV3Info/cryptPacket/
// signPacket; the agent calls only the three key functions.
//
// Key forms, all octet vectors:
//   A key  passwordToAKey: Ku of RFC 3414 A.2, RFC 7860 4.2 (one digest of
//          the authentication protocol's hash: 16 octets MD5, 20 SHA-1, 28
//          SHA-224, 32 SHA-256, 48 SHA-384, 64 SHA-512).
//   B key  aKeyToBKey: Kul, Ku localised to one engine ID (same length).
//          The privacy key is the B key, extended by privacyKey when the
//          cipher needs more octets than it has.
//   D key  bKeyToDKey: the signing key, the two RFC 2104 pads already
//          applied: one hash block (Kul padded with zeros: 64 octets, 128
//          for SHA-384 and SHA-512) XOR 0x36, then the same block XOR 0x5c.
//          Signing one message then costs the two hash passes of HMAC and
//          nothing per key.
// An empty input, or an unknown protocol code, gives an empty key; an empty
// key never authenticates or decrypts anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/snmp/v3_server_info.h"

namespace usm {

// Authentication protocol codes (a community record's authProtocol).
inline constexpr uint32_t AUTH_HMAC_MD5_96 = 0;  // RFC 3414 6
inline constexpr uint32_t AUTH_HMAC_SHA_96 = 1;  // RFC 3414 7
// RFC 7860: usmHMAC128SHA224AuthProtocol to usmHMAC384SHA512AuthProtocol.
inline constexpr uint32_t AUTH_HMAC_128_SHA_224 = 2;
inline constexpr uint32_t AUTH_HMAC_192_SHA_256 = 3;
inline constexpr uint32_t AUTH_HMAC_256_SHA_384 = 4;
inline constexpr uint32_t AUTH_HMAC_384_SHA_512 = 5;
// Privacy protocol codes (a community record's privProtocol).
inline constexpr uint32_t PRIV_CBC_DES = 0;         // RFC 3414 8
inline constexpr uint32_t PRIV_CFB128_AES_128 = 1;  // RFC 3826
// RFC 3826 with the longer AES keys. A localised key Kul shorter than the
// AES key is extended, in one of the two ways managers use, and cut to the
// key's length:
//   AES-192, AES-256 (draft-blumenthal-aes-usm-04): Kul || H(Kul);
//   AES-192-C, AES-256-C (draft-reeder-snmpv3-usm-3desede): Kul followed by
//     the localisation of the password-to-key of Kul taken as the password.
// H is the authentication protocol's hash. One step always suffices: the
// shortest Kul, MD5's 16 octets, is half the longest key. The two agree
// whenever Kul already holds the AES key (SHA-256 and longer for AES-256).
inline constexpr uint32_t PRIV_CFB128_AES_192 = 2;
inline constexpr uint32_t PRIV_CFB128_AES_256 = 3;
inline constexpr uint32_t PRIV_CFB128_AES_192_C = 4;
inline constexpr uint32_t PRIV_CFB128_AES_256_C = 5;

// msgFlags (RFC 3412 6.4).
inline constexpr unsigned char FLAG_AUTH = 0x01;
inline constexpr unsigned char FLAG_PRIV = 0x02;
inline constexpr unsigned char FLAG_REPORTABLE = 0x04;

// Security levels, as msgFlags and community records count them.
inline constexpr int NO_AUTH_NO_PRIV = 0;
inline constexpr int AUTH_NO_PRIV = 1;
inline constexpr int AUTH_PRIV = 2;

// The msgFlags octet of a message sent at `level`, reportable clear as for
// responses, reports and traps.
constexpr unsigned char flagsForLevel(int level) {
    return static_cast<unsigned char>((level >= AUTH_NO_PRIV ? FLAG_AUTH : 0) |
                                      (level >= AUTH_PRIV ? FLAG_PRIV : 0));
}

inline constexpr uint32_t SECURITY_MODEL_USM = 3;         // RFC 3411 snmpSecurityModel
inline constexpr size_t MAX_MAC_LENGTH = 48;              // HMAC-384-SHA-512
inline constexpr size_t SALT_LENGTH = 8;                  // msgPrivacyParameters
inline constexpr uint32_t TIME_WINDOW = 150;              // RFC 3414 2.2.3
inline constexpr uint32_t MAX_ENGINE_BOOTS = 0x7fffffff;  // RFC 3414 2.2.2: latched
inline constexpr uint32_t MIN_MAX_SIZE = 484;             // RFC 3412 6.2 msgMaxSize
// How much longer a message gets when its scoped PDU is encrypted: DES pads
// to a multiple of 8 octets (7 more at most), and the ciphertext, which holds
// the whole scoped PDU, gets an OCTET STRING tag and length of its own (4
// octets at most below 65536).
inline constexpr size_t MAX_PRIVACY_EXPANSION = 7 + 4;

// Per authentication protocol, 0 when the code is unknown: the digest
// length of its hash; the length of msgAuthenticationParameters, the
// truncated HMAC (12 for MD5 and SHA-1, RFC 7860 4.1 for the others); the
// length of its D key, two hash blocks.
size_t digestLength(uint32_t authProtocol);
size_t macLength(uint32_t authProtocol);
size_t signingKeyLength(uint32_t authProtocol);

// The macLength(authProtocol) octets of the HMAC of `data` under a D key
// into `mac`. False for an unknown protocol or a key that is not
// signingKeyLength(authProtocol) octets.
bool computeMac(const std::vector<unsigned char>& signingKey, uint32_t authProtocol,
                const unsigned char* data, size_t length, unsigned char mac[MAX_MAC_LENGTH]);

// The privacy key of `privProtocol`, from the user's B key localised to
// `engineID` with `authProtocol`: the B key itself when it is long enough
// (the ciphers take its first octets: DES 16, key then pre-IV, RFC 3414
// 8.1.1.1; AES 16, 24 or 32), else extended as the protocol says. Empty for
// an unknown protocol or an empty key. Derived with the user's other keys:
// the extension of the -C protocols costs a password-to-key.
std::vector<unsigned char> privacyKey(uint32_t privProtocol, uint32_t authProtocol,
                                      const std::vector<unsigned char>& localisedKey,
                                      const std::string& engineID);

// Encrypts or decrypts the `length` octets of a scoped PDU at `data` in
// place, with a key from privacyKey. `boots` and `time` are the message's
// msgAuthoritativeEngineBoots/Time (they enter the AES IV), `salt` its
// msgPrivacyParameters. DES takes whole blocks only (RFC 3414 8.3.2): the
// sender pads the plaintext to encryptedLength first, and a DES plaintext
// keeps its padding. False, `data` unchanged, for an unknown protocol, a
// key too short for it or DES input that is not whole blocks.
bool encryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      unsigned char* data, size_t length);
bool decryptScopedPdu(uint32_t privProtocol, const std::vector<unsigned char>& privKey,
                      uint32_t boots, uint32_t time, const unsigned char salt[SALT_LENGTH],
                      unsigned char* data, size_t length);
// The length of a plaintext of `length` octets once padded for the cipher
// (RFC 3414 8.1.1.2: DES to a multiple of 8 octets; AES, a stream mode,
// keeps it); the padding value is free, zeros here.
size_t encryptedLength(uint32_t privProtocol, size_t length);

// A fresh salt for one encrypted message: a 64-bit counter seeded once from
// the random generator and stepped on every call, so no IV repeats under
// one key. AES takes the counter (RFC 3826 3.1.2.1), DES `boots` followed by
// its low 32 bits (RFC 3414 8.1.1.1).
void nextSalt(uint32_t privProtocol, uint32_t boots, unsigned char salt[SALT_LENGTH]);

// Whole seconds of CLOCK_MONOTONIC: the same clock as orla::getUptime(),
// which V3ServerInfo::engineTimeBase was taken from. The two must agree.
uint32_t monotonicSeconds();
// snmpEngineTime of the agent: monotonicSeconds() - engineTimeBase.
uint32_t engineTime(const V3ServerInfo& server);

// The octets of key the privacy protocol's cipher takes (DES: key and
// pre-IV, 16; AES: 16, 24 or 32); 0 for an unknown protocol.
size_t privKeyLength(uint32_t privProtocol);

// RFC 3414 5, KeyChange: the new key from the old one and a KeyChange
// value (random || delta, each as long as the key), with the hash of
// `authProtocol`. False, `newKey` untouched, when the value's length is not
// twice the old key's or the protocol is unknown.
bool keyChange(uint32_t authProtocol, const std::vector<unsigned char>& oldKey,
               std::string_view value, std::vector<unsigned char>& newKey);

// Overwrites a secret (a password, a key) so that no copy of it stays in
// freed memory, then empties it (OPENSSL_cleanse: the compiler cannot drop
// the writes as dead).
void wipe(std::vector<unsigned char>& secret);
void wipe(std::string& secret);

}  // namespace usm

// RFC 3414 A.2, RFC 7860 4.2: hashes 1 MiB of the repeated password (Ku).
std::vector<unsigned char> passwordToAKey(const std::string& password, uint32_t authProtocol);
// RFC 3414 2.6: localises a key to an engine, H(key || engineID || key).
std::vector<unsigned char> aKeyToBKey(const std::vector<unsigned char>& key,
                                      const std::string& engineID, uint32_t authProtocol);
// The signing form of a B key (see above).
std::vector<unsigned char> bKeyToDKey(const std::vector<unsigned char>& key, uint32_t authProtocol);
