// Informs that wait for their acknowledgement (RFC 3416 4.2.7): each is sent
// again after its target's timeout until a Response with its request-id
// comes from the target's address, or its retries are spent. The event
// loop's timers drive the retransmissions; nothing ever waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

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

    InformQueue(Send send, Counters counters);
    ~InformQueue();
    InformQueue(const InformQueue&) = delete;
    InformQueue& operator=(const InformQueue&) = delete;

    // A request-id no waiting inform has.
    int32_t freshRequestId() const;
    // Sends `message`, an InformRequest with `requestId`, to `target` at
    // `to`, and keeps it until it is acknowledged or dropped.
    void send(const NotifyTarget& target, const Endpoint& to, int32_t requestId,
              std::vector<unsigned char> message);
    // A datagram from `from` (a sockaddr) that reached the agent's port:
    // true when it is the Response to a waiting inform, which is then done.
    bool takeResponse(std::span<const unsigned char> message, std::span<const unsigned char> from);

    size_t waiting() const { return pending_.size(); }

  private:
    struct Pending {
        uint32_t target = 0;
        Endpoint to;
        int32_t requestId = 0;
        std::vector<unsigned char> message;
        uint32_t timeoutMs = 0;
        uint32_t retriesLeft = 0;
        uint64_t deadline = 0;  // orla::monotonicMillis()
    };

    // The timer: sends again what is due, drops what has no retry left.
    void retransmitDue();
    // Arms the timer for the earliest deadline, or none.
    void arm();

    Send send_;
    Counters counters_;
    std::deque<Pending> pending_;  // oldest first
};
