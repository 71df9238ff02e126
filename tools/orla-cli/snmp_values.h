// Text forms of the SNMP agent's setting and community values, as the
// administrator types and reads them: IPv4 addresses and prefixes, and small
// tables of named codes (trap versions, security levels, protocols).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/orla/printable.h"
#include "platform/snmp/usm.h"

namespace orla::cli {

struct NamedCode {
    const char* name;
    uint32_t code;
};

// Trap versions as written: SNMPv1 is code 0, SNMPv2c 1 (any other code
// but 3 sends an SNMPv2 trap too), SNMPv3 3.
inline constexpr std::array<NamedCode, 3> TRAP_VERSIONS{{{"1", 0}, {"2c", 1}, {"3", 3}}};
// Security level of a community used as an SNMPv3 user (RFC 3414 noAuthNoPriv,
// authNoPriv, authPriv).
inline constexpr std::array<NamedCode, 3> SECURITY_LEVELS{{{"none", 0}, {"auth", 1}, {"priv", 2}}};
// Protocol codes of the encoding library (platform/snmp/usm.h), named as
// net-snmp's tools name them, lowercased: HMAC-MD5-96 and HMAC-SHA-96
// (RFC 3414), the SHA-2 HMACs of RFC 7860; CBC-DES (RFC 3414), CFB128-AES
// (RFC 3826) with 128-, 192- and 256-bit keys, the longer ones with either
// key extension ("c": the one net-snmp calls AES-192-C and AES-256-C).
inline constexpr std::array<NamedCode, 6> AUTH_PROTOCOLS{{
    {"md5", usm::AUTH_HMAC_MD5_96},
    {"sha1", usm::AUTH_HMAC_SHA_96},
    {"sha224", usm::AUTH_HMAC_128_SHA_224},
    {"sha256", usm::AUTH_HMAC_192_SHA_256},
    {"sha384", usm::AUTH_HMAC_256_SHA_384},
    {"sha512", usm::AUTH_HMAC_384_SHA_512},
}};
inline constexpr std::array<NamedCode, 6> PRIV_PROTOCOLS{{
    {"des", usm::PRIV_CBC_DES},
    {"aes", usm::PRIV_CFB128_AES_128},
    {"aes192", usm::PRIV_CFB128_AES_192},
    {"aes256", usm::PRIV_CFB128_AES_256},
    {"aes192c", usm::PRIV_CFB128_AES_192_C},
    {"aes256c", usm::PRIV_CFB128_AES_256_C},
}};

// A name of the table, else a number (decimal or 0x hex). Names win over
// numbers that look the same ("1" is trap version code 0).
bool parseNamedCode(const std::string& text, std::span<const NamedCode> names, uint32_t& code);
// The name of `code`, else the number in decimal.
std::string formatNamedCode(uint32_t code, std::span<const NamedCode> names);

// Dotted quad <-> value in network byte order.
bool parseIPv4(const std::string& text, uint32_t& networkOrder);
std::string formatIPv4(uint32_t networkOrder);

// "A.B.C.D/N" with N from 0 to 32: the address and the mask of N leading
// one bits, both in network byte order.
bool parseAddressPrefix(const std::string& text, uint32_t& address, uint32_t& netmask);
// Length of a contiguous mask (network byte order), or -1 for a mask with holes.
int prefixLength(uint32_t netmask);

}  // namespace orla::cli
