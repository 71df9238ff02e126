// Informs that wait for their acknowledgement (RFC 3416 4.2.7): each is sent
// again after its target's timeout until a Response with its request-id
// comes from the target's address, or its retries are spent. The event
// loop's timers drive the retransmissions; nothing ever waits.
//
// The receiver of an SNMPv3 inform is the authoritative engine (RFC 3414
// 1.5.1): before the first inform to a target the queue discovers its
// engine ID, boots and time with a probe (RFC 3414 4), localises the user's
// keys to that engine ID, and keeps both per target, following the
// receiver's clock through its authenticated answers (RFC 3414 3.2 7b).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "platform/snmp/ber_in.h"
#include "platform/snmp/v3_server_info.h"
#include "trap/create_trap.h"
#include "trap/notify_targets.h"

class InformQueue {
  public:
    // At most this many informs wait at once; a full queue drops the oldest.
    static constexpr size_t MAX_PENDING = 64;

    // Sends one datagram to an endpoint; false when it could not go out
    // (the inform then waits for its next try all the same).
    using Send = std::function<bool(const Endpoint& to, std::span<const unsigned char> message)>;
    // The counters of a target by id.
    using Counters = std::function<NotifyTarget::Counters&(uint32_t targetId)>;

    // `agent` is the agent's engine: the context of SNMPv3 informs.
    InformQueue(Send send, Counters counters, const V3ServerInfo& agent);
    ~InformQueue();
    InformQueue(const InformQueue&) = delete;
    InformQueue& operator=(const InformQueue&) = delete;

    // Sends `notification` to `target` at `to` as an InformRequest in the
    // target's version, as `user`, and keeps it until it is acknowledged or
    // dropped. False, with one line on stderr, when it cannot be encoded.
    bool send(const NotifyTarget& target, const Endpoint& to, const Notification& notification,
              const CommunityKeep::Item& user);
    // A datagram from `from` (a sockaddr) that reached the agent's port:
    // true when it answers the queue (a Response to a waiting inform, which
    // is then done, or an SNMPv3 Report to a probe or an inform).
    bool takeResponse(std::span<const unsigned char> message, std::span<const unsigned char> from);

    size_t waiting() const { return pending_.size(); }

  private:
    struct Pending {
        uint32_t target = 0;
        Endpoint to;
        int version = 0;
        Notification notification;
        CommunityKeep::Item user;  // without keys: the receiver's hold them
        int32_t requestId = 0;
        uint32_t msgID = 0;  // SNMPv3: of the latest transmission
        std::vector<unsigned char> message;
        uint32_t timeoutMs = 0;
        uint32_t retriesLeft = 0;
        uint64_t deadline = 0;  // orla::monotonicMillis()
    };
    // An SNMPv3 target's receiving engine, as far as it is known.
    struct Receiver {
        Endpoint at;
        CommunityKeep::Item user;      // keys localised to engine.engineID
        V3ServerInfo engine;           // engineTimeBase: usm::monotonicSeconds() - its time
        std::vector<uint32_t> probes;  // msgIDs of the discovery probes out
        bool known() const { return !engine.engineID.empty(); }
    };

    // Sends `pending` (again): encoded anew in SNMPv3, where each message
    // has its msgID and the receiver's time, or a probe while its engine is
    // not known.
    void transmit(Pending& pending);
    void sendProbe(Receiver& receiver);
    // The receiver of `pending`'s target, discovered again when the
    // target's address or user changed.
    Receiver& receiverOf(const Pending& pending);
    bool takeV2cResponse(InStream& in, const Endpoint& from);
    bool takeV3Answer(InStream& in, const Endpoint& from);
    void acknowledge(std::deque<Pending>::iterator answered);
    // The timer: sends again what is due, drops what has no retry left.
    void retransmitDue();
    // Arms the timer for the earliest deadline, or none.
    void arm();

    Send send_;
    Counters counters_;
    const V3ServerInfo& agent_;
    std::deque<Pending> pending_;             // oldest first
    std::map<uint32_t, Receiver> receivers_;  // by target id
};
