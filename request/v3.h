// SNMPv3 messages under the user-based security model (RFC 3412, RFC 3414):
// the security steps between the message header and the PDU, the usmStats
// report, and the protection of the reply once its PDU is written.
#pragma once

#include <cstdint>
#include <vector>

#include "request/context.h"
#include "request/pdu.h"

// The report reasons of RFC 3414 3.2, each the index of its counter in
// Context::v3counters. A reason's counter is usmStats object
// 1.3.6.1.6.3.15.1.1.(index + 1).0: the order of the usmStats group.
namespace v3report {
inline constexpr int UNSUPPORTED_SEC_LEVEL = 0;  // usmStatsUnsupportedSecLevels
inline constexpr int NOT_IN_TIME_WINDOW = 1;     // usmStatsNotInTimeWindows
inline constexpr int UNKNOWN_USER_NAME = 2;      // usmStatsUnknownUserNames
inline constexpr int UNKNOWN_ENGINE_ID = 3;      // usmStatsUnknownEngineIDs
inline constexpr int WRONG_DIGEST = 4;           // usmStatsWrongDigests
inline constexpr int DECRYPTION_ERROR = 5;       // usmStatsDecryptionErrors
}  // namespace v3report

// The user's keys and protocols, as the reply's encryption and signature need
// them. Empty keys and protocols 0 for an unknown user.
struct V3Keys {
    std::vector<unsigned char> authKey;
    uint32_t authProtocol = 0;
    std::vector<unsigned char> privKey;
    uint32_t privProtocol = 0;
};

// Reads the SNMPv3 header and security parameters at ctx.in (after the
// version), checks the user against the community table and the message
// through the encoding library, and writes the reply's header into ctx.out.
// On success `policy` either names snmpV3 as the report handler (one of
// Context::v3counters counted, ctx.reportIndex set) or carries the user's
// rights and the requester's size limit; ctx.community is the user name.
// False when the message is dropped: the reason goes to stderr as one line.
// `sourceAddress` is the sender's IPv4 address in network byte order.
bool acceptV3(Context& ctx, int sourceAddress, PduPolicy& policy, V3Keys& keys);

// Once the PDU is closed: encrypts the scoped PDU, closes the message and
// signs it, as the reply's security level asks. False when the reply cannot
// be protected and must not be sent.
bool protectV3Reply(Context& ctx, const V3Keys& keys);

// The report handler: writes the binding of usmStats object
// 1.3.6.1.6.3.15.1.1.(ctx.reportIndex + 1).0 with its counter as a Counter32.
// Always 0.
unsigned snmpV3(Context& ctx);
