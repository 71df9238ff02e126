// The entry of request processing: one received SNMP message in, one reply
// (or none) out.
#pragma once

#include "community/community_keep.h"
#include "mib/context.h"
#include "platform/snmp/v3_server_info.h"

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
// the communities and SNMPv3 users; `engine` is the agent's SNMP engine.
bool createReply(Context& ctx, SourceAddress sourceAddress, const CommunityKeep& communities,
                 V3ServerInfo& engine);
