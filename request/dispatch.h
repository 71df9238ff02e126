// The entry of request processing: one received SNMP message in, one reply
// (or none) out.
#pragma once

#include <functional>
#include <span>

#include "community/access_keep.h"
#include "community/community_keep.h"
#include "mib/context.h"
#include "platform/snmp/v3_server_info.h"

// The GetBulk bounds an agent starts with: every manager's walk fits them
// (net-snmp's tools ask 10 repetitions, monitoring systems 25), and a reply
// fits one Ethernet frame's UDP payload over IPv4 (1500 - 20 - 8 octets),
// about 25 times a short GetBulk request.
inline constexpr uint32_t BULK_REPETITIONS_DEFAULT = 100;
inline constexpr uint32_t BULK_REPLY_OCTETS_DEFAULT = 1472;
// RFC 3417 3.2: every SNMP entity takes messages of 484 octets.
inline constexpr uint32_t BULK_REPLY_OCTETS_MIN = 484;

// What decides beyond the community or user itself.
struct RequestRules {
    // Views, groups and access entries; null: every community and user has
    // the rights of its record.
    const AccessKeep* access = nullptr;
    uint32_t bulkRepetitions = BULK_REPETITIONS_DEFAULT;
    uint32_t bulkReplyOctets = BULK_REPLY_OCTETS_DEFAULT;
};

// Decodes the message in ctx.in, checks its version and its community (or
// its SNMPv3 user and security, request/v3.h), serves its PDU and writes the
// whole reply into ctx.out. True when ctx.out holds a reply to send; false
// when nothing is to be sent (a message that does not decode, fails
// authentication without an SNMPv3 report, has an unsupported version or PDU
// type, or is a failed SNMPv3 message that may not be reported; the reason
// goes to stderr as one line, except for decoding failures and unreported
// failures). Dropped messages count in engine.dropped or engine.usmStats.
// `sourceAddress` is the sender as the source filter of the community or
// user sees it (community/community_keep.h). `communities` are
// the communities and SNMPv3 users; `engine` is the agent's SNMP engine;
// `rules` the access control and GetBulk bounds.
bool createReply(Context& ctx, SourceAddress sourceAddress, const CommunityKeep& communities,
                 V3ServerInfo& engine, const RequestRules& rules = {});

// Where the answers that reach the agent's port go: Responses to the
// informs the agent sends (RFC 3416 4.2.7) and SNMPv3 Reports to them and to
// their discovery, which a layer above keeps. Given the whole message and
// its sender's socket address; true when it was awaited.
using ResponseTaker = std::function<bool(std::span<const unsigned char> message,
                                         std::span<const unsigned char> peer)>;

// What a datagram that reaches the agent's port may be besides a request,
// from its headers only, without copying it, as every datagram is asked.
enum class AnswerShape {
    NotAnAnswer,
    // An SNMPv1 or SNMPv2c message holding a Response-PDU.
    CommunityResponse,
    // An SNMPv3 message without the reportable flag (RFC 3412 6.4: a
    // Response, a Report or a trap; requests ask for reports) and of an
    // authoritative engine other than the agent's `engineID`: the answer to
    // an inform, whose receiver is authoritative, or to a discovery probe.
    V3Answer,
};
AnswerShape answerShape(std::span<const unsigned char> message, const std::string& engineID);
