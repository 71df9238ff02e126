// V3ServerInfo: the agent's own SNMP engine, as the user-based security model
// needs it (RFC 3414 2.2: snmpEngineID, snmpEngineBoots, snmpEngineTime),
// with the counters of the messages it refused or dropped.
#pragma once

#include <cstdint>
#include <string>

namespace usm {

// RFC 3414 3.2: why a message failed the security checks. Each reason is
// the index of its counter in V3ServerInfo::usmStats, and its counter is the
// usmStats object 1.3.6.1.6.3.15.1.1.(reason + 1).0 (RFC 3414 5).
enum Report : int {
    NO_REPORT = -1,
    UNSUPPORTED_SEC_LEVEL = 0,  // usmStatsUnsupportedSecLevels
    NOT_IN_TIME_WINDOW = 1,     // usmStatsNotInTimeWindows
    UNKNOWN_USER_NAME = 2,      // usmStatsUnknownUserNames
    UNKNOWN_ENGINE_ID = 3,      // usmStatsUnknownEngineIDs
    WRONG_DIGEST = 4,           // usmStatsWrongDigests
    DECRYPTION_ERROR = 5,       // usmStatsDecryptionErrors
    REPORT_REASONS = 6,
};

}  // namespace usm

// Messages dropped before a PDU could be served, counted as RFC 3418 (the
// snmp group) and RFC 3412 5 (snmpMPDStats) name them.
struct MessageDrops {
    uint32_t badVersions = 0;     // snmpInBadVersions
    uint32_t asnParseErrors = 0;  // snmpInASNParseErrs
    // SNMPv1 and SNMPv2c (RFC 3584 4.1): a community name that is not known,
    // or whose source-address filter refuses the sender; an operation the
    // community may not use (a Set without write access, a read without
    // read access).
    uint32_t badCommunityNames = 0;      // snmpInBadCommunityNames
    uint32_t badCommunityUses = 0;       // snmpInBadCommunityUses
    uint32_t unknownSecurityModels = 0;  // snmpUnknownSecurityModels
    uint32_t invalidMessages = 0;        // snmpInvalidMsgs
    uint32_t unknownPduHandlers = 0;     // snmpUnknownPDUHandlers
    // SNMPv3 requests for a context the agent does not serve (RFC 3413 3.2
    // step 3): answered with a Report.
    uint32_t unknownContexts = 0;  // snmpUnknownContexts
};

struct V3ServerInfo {
    uint32_t engineBoots = 1;     // snmpEngineBoots
    uint32_t engineTimeBase = 0;  // snmpEngineTime is orla::getUptime() minus this
    uint32_t engineParam = 15;    // stored and reported; opaque to the agent
    std::string engineID;         // full snmpEngineID octets
    uint32_t usmStats[usm::REPORT_REASONS] = {};
    uint32_t inPackets = 0;  // snmpInPkts: every message received
    MessageDrops dropped;
};
