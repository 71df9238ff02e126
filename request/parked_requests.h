// Requests that wait for a platform service's answer (mib/platform_exchange.h):
// put aside while the agent serves others, served again once the answers
// came, and answered through the transport that received them.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "request/dispatch.h"
#include "mib/context.h"
#include "platform/snmp/v3_server_info.h"
#include "request/dispatch.h"

class ParkedRequests {
  public:
    // Where a request came from, in the transport's own terms (its sender's
    // address and the packet information its reply leaves with).
    struct ReplyTo {
        std::vector<unsigned char> peer;
        std::vector<unsigned char> control;
    };
    // Sends the reply of a request served again to where it came from.
    using Send = std::function<void(const ReplyTo& to, std::span<const unsigned char> reply)>;

    // At most this many requests wait at once: beyond, the one that waited
    // longest is answered genErr.
    static constexpr size_t MAX_PARKED = 64;
    // A request served again this many times and still waiting (one that
    // crosses the windows of a large table, a window per answer, say) is
    // answered genErr.
    static constexpr unsigned MAX_ROUNDS = 1024;

    // Requests are served against `communities`, `engine` and `rules` as
    // createReply serves them. One ParkedRequests listens for answers at a time.
    ParkedRequests(const CommunityKeep& communities, V3ServerInfo& engine,
                   const RequestRules& rules, Send send);
    ~ParkedRequests();
    ParkedRequests(const ParkedRequests&) = delete;
    ParkedRequests& operator=(const ParkedRequests&) = delete;

    // Serves the datagram `datagram` from `source` in `ctx` (reset on it) as
    // createReply does. True when ctx.out holds the reply to send now; false
    // when there is none, and when the request waits: then it is kept with
    // `peer` and `control`, answered once through `send` (or never, as
    // createReply would not answer it).
    bool serve(Context& ctx, std::span<const unsigned char> datagram, SourceAddress source,
               std::span<const unsigned char> peer, std::span<const unsigned char> control);

    size_t waiting() const { return parked_.size(); }

    // Answers to the agent's own messages (request/dispatch.h answerShape)
    // go to `taker` first. SNMPv1 and SNMPv2c Responses it does not take are
    // counted in snmpUnknownPDUHandlers (RFC 3412 4.2.2.1); SNMPv3 messages
    // it does not take are served as any other.
    void takeResponsesWith(ResponseTaker taker) { takeResponse_ = std::move(taker); }

  private:
    struct Parked {
        std::vector<unsigned char> datagram;
        SourceAddress source;
        ReplyTo replyTo;
        std::set<std::string> waitsFor;
        unsigned rounds = 0;
        uint64_t request = 0;  // as WaitingServe names it
    };

    static void answerCame(const std::string& ticket);
    // Serves a parked request again (with `fail`, its exchanges not yet
    // answered fail): true when it is done, answered or not.
    bool serveAgain(Parked& parked, bool fail);

    const CommunityKeep& communities_;
    V3ServerInfo& engine_;
    const RequestRules& rules_;
    Send send_;
    ResponseTaker takeResponse_;
    std::deque<Parked> parked_;
    Context again_{nullptr, 0};  // the context of the requests served again
    uint64_t requestsServed_ = 0;
};
