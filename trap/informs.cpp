#include "trap/informs.h"

#include <algorithm>
#include <cstdlib>

#include "platform/orla/clock.h"
#include "platform/orla/runner.h"
#include "platform/snmp/ber_in.h"

InformQueue::InformQueue(Send send, Counters counters)
    : send_(std::move(send)), counters_(std::move(counters)) {}

InformQueue::~InformQueue() {
    orla::removeTimer(this, &InformQueue::retransmitDue);
}

int32_t InformQueue::freshRequestId() const {
    while (true) {
        const auto id = static_cast<int32_t>(rand());
        if (std::none_of(pending_.begin(), pending_.end(),
                         [id](const Pending& pending) { return pending.requestId == id; }))
            return id;
    }
}

void InformQueue::send(const NotifyTarget& target, const Endpoint& to, int32_t requestId,
                       std::vector<unsigned char> message) {
    if (pending_.size() == MAX_PENDING) {
        ++counters_(pending_.front().target).dropped;
        pending_.pop_front();
    }
    Pending pending;
    pending.target = target.id;
    pending.to = to;
    pending.requestId = requestId;
    pending.message = std::move(message);
    pending.timeoutMs = target.timeoutMs;
    pending.retriesLeft = target.retries;
    pending.deadline = orla::monotonicMillis() + target.timeoutMs;
    ++counters_(target.id).sent;
    send_(to, pending.message);
    pending_.push_back(std::move(pending));
    arm();
}

bool InformQueue::takeResponse(std::span<const unsigned char> message,
                               std::span<const unsigned char> from) {
    const std::optional<Endpoint> sender = endpointOf(from);
    if (!sender) return false;
    // RFC 3416 4.2.7: the Response repeats the inform's request-id; RFC 3417
    // 3: it comes from the transport address the inform went to.
    InStream in(message.data(), message.size());
    if (in.getVersion() != snmp::VERSION_2C) return false;
    std::string community;
    if (!in.getString(community) || in.getType() != ber::RESPONSE || !in.enterSeq()) return false;
    int requestId = 0;
    if (!in.getInt(requestId)) return false;
    auto answered = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
        return pending.requestId == requestId && pending.to == *sender;
    });
    if (answered == pending_.end()) return false;
    ++counters_(answered->target).acknowledged;
    pending_.erase(answered);
    arm();
    return true;
}

void InformQueue::retransmitDue() {
    const uint64_t now = orla::monotonicMillis();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->deadline > now) {
            ++it;
            continue;
        }
        if (it->retriesLeft == 0) {
            ++counters_(it->target).dropped;
            it = pending_.erase(it);
            continue;
        }
        --it->retriesLeft;
        it->deadline = now + it->timeoutMs;
        send_(it->to, it->message);
        ++it;
    }
    arm();
}

void InformQueue::arm() {
    orla::removeTimer(this, &InformQueue::retransmitDue);
    if (pending_.empty()) return;
    uint64_t earliest = pending_.front().deadline;
    for (const Pending& pending : pending_)
        earliest = std::min(earliest, pending.deadline);
    const uint64_t now = orla::monotonicMillis();
    const uint64_t waitMs = earliest > now ? earliest - now : 0;
    // Timers count clock ticks; rounded up, so a retransmission is never early.
    const uint64_t tickMs = 1000 / orla::ticksPerSecond();
    orla::addTimer(this, &InformQueue::retransmitDue,
                   static_cast<uint32_t>((waitMs + tickMs - 1) / tickMs));
}
