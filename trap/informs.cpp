#include "trap/informs.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "platform/orla/clock.h"
#include "platform/orla/runner.h"
#include "platform/snmp/usm.h"

namespace {

// RFC 3411 SnmpEngineID: 5 to 32 octets.
constexpr size_t ENGINE_ID_MIN = 5;
constexpr size_t ENGINE_ID_MAX = 32;

bool sameUser(const CommunityKeep::Item& a, const CommunityKeep::Item& b) {
    return a.name == b.name && a.security == b.security && a.authProtocol == b.authProtocol &&
           a.privProtocol == b.privProtocol && a.authKu == b.authKu && a.privKu == b.privKu;
}

int32_t freshId() {
    return static_cast<int32_t>(rand());
}

}  // namespace

InformQueue::InformQueue(Send send, Counters counters, const V3ServerInfo& agent)
    : send_(std::move(send)), counters_(std::move(counters)), agent_(agent) {}

InformQueue::~InformQueue() {
    orla::removeTimer(this, &InformQueue::retransmitDue);
}

bool InformQueue::send(const NotifyTarget& target, const Endpoint& to,
                       const Notification& notification, const CommunityKeep::Item& user) {
    Pending pending;
    pending.target = target.id;
    pending.to = to;
    pending.version = static_cast<int>(target.version);
    pending.notification = notification;
    pending.user = user;
    pending.user.authKey.clear();
    pending.user.privKey.clear();
    pending.timeoutMs = target.timeoutMs;
    pending.retriesLeft = target.retries;
    // Each waiting inform has a request-id of its own.
    do {
        pending.requestId = freshId();
    } while (std::any_of(pending_.begin(), pending_.end(), [&](const Pending& other) {
        return other.requestId == pending.requestId;
    }));
    if (pending.version != snmp::VERSION_3) {
        NotificationForm form;
        form.version = pending.version;
        form.inform = true;
        form.requestId = pending.requestId;
        OutStream out;
        if (!encodeNotification(out, notification, form, user, agent_)) {
            std::cerr << "send_trap: createTrap failed" << std::endl;
            return false;
        }
        pending.message = out.bytes();
    }
    if (pending_.size() == MAX_PENDING) {
        ++counters_(pending_.front().target).dropped;
        pending_.pop_front();
    }
    ++counters_(target.id).sent;
    pending_.push_back(std::move(pending));
    transmit(pending_.back());
    arm();
    return true;
}

InformQueue::Receiver& InformQueue::receiverOf(const Pending& pending) {
    Receiver& receiver = receivers_[pending.target];
    if (!(receiver.at == pending.to) || !sameUser(receiver.user, pending.user)) {
        receiver = Receiver{};
        receiver.at = pending.to;
        receiver.user = pending.user;
    }
    return receiver;
}

void InformQueue::transmit(Pending& pending) {
    pending.deadline = orla::monotonicMillis() + pending.timeoutMs;
    if (pending.version != snmp::VERSION_3) {
        send_(pending.to, pending.message);
        return;
    }
    Receiver& receiver = receiverOf(pending);
    if (!receiver.known()) {
        sendProbe(receiver);
        return;
    }
    NotificationForm form;
    form.version = snmp::VERSION_3;
    form.inform = true;
    form.requestId = pending.requestId;
    form.msgID = static_cast<uint32_t>(freshId());
    form.receiver = &receiver.engine;
    OutStream out;
    if (!encodeNotification(out, pending.notification, form, receiver.user, agent_)) {
        // Keys that do not suit their protocol: each try fails alike, until dropped.
        std::cerr << "send_trap: createTrap failed" << std::endl;
        return;
    }
    pending.msgID = form.msgID;
    pending.message = out.bytes();
    send_(pending.to, pending.message);
}

void InformQueue::sendProbe(Receiver& receiver) {
    // RFC 3414 4: noAuthNoPriv, reportable, no engine ID and no user; the
    // receiver answers with a Report that carries its engine ID, boots and
    // time. An empty GetRequest is what managers send.
    V3Info header;
    header.msgID = static_cast<uint32_t>(freshId());
    header.msgSecurityModel = usm::SECURITY_MODEL_USM;
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(snmp::VERSION_3, ber::INTEGER);
    out.reportable = true;
    if (!out.writeV3Info(&header)) return;
    out.startSeq(ber::GET_REQUEST);
    out.add(freshId(), ber::INTEGER);
    out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    out.endSeq();
    out.endSeq();
    if (!out.cryptPacket(&header, {}, 0)) return;
    out.endSeq();
    // A few probes out at once at most: answers to older ones still count.
    constexpr size_t PROBES_KEPT = 8;
    if (receiver.probes.size() == PROBES_KEPT) receiver.probes.erase(receiver.probes.begin());
    receiver.probes.push_back(header.msgID);
    send_(receiver.at, out.bytes());
}

bool InformQueue::takeResponse(std::span<const unsigned char> message,
                               std::span<const unsigned char> from) {
    const std::optional<Endpoint> sender = endpointOf(from);
    if (!sender || pending_.empty()) return false;
    InStream in(message.data(), message.size());
    const int version = in.getVersion();
    if (version == snmp::VERSION_2C) return takeV2cResponse(in, *sender);
    if (version == snmp::VERSION_3) return takeV3Answer(in, *sender);
    return false;
}

bool InformQueue::takeV2cResponse(InStream& in, const Endpoint& from) {
    // RFC 3416 4.2.7: the Response repeats the inform's request-id; RFC 3417
    // 3: it comes from the transport address the inform went to.
    std::string community;
    if (!in.getString(community) || in.getType() != ber::RESPONSE || !in.enterSeq()) return false;
    int requestId = 0;
    if (!in.getInt(requestId)) return false;
    auto answered = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
        return pending.version != snmp::VERSION_3 && pending.requestId == requestId &&
               pending.to == from;
    });
    if (answered == pending_.end()) return false;
    acknowledge(answered);
    return true;
}

bool InformQueue::takeV3Answer(InStream& in, const Endpoint& from) {
    MessageDrops notCounted;  // a message the queue does not take is counted where it is served
    if (!in.readV3Info(notCounted)) return false;
    const V3Info& info = *in.v3Info();
    const uint32_t msgBoots = info.msgAuthoritativeEngineBoots;
    const uint32_t msgTime = info.msgAuthoritativeEngineTime;
    const std::string engineID = info.msgAuthoritativeEngineID;
    const uint32_t msgID = info.msgID;
    const int level = in.securityLevel;

    auto receiverIt = std::find_if(receivers_.begin(), receivers_.end(),
                                   [&](const auto& entry) { return entry.second.at == from; });
    if (receiverIt == receivers_.end()) return false;
    const uint32_t target = receiverIt->first;
    Receiver& receiver = receiverIt->second;
    auto byMsgID = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
        return pending.target == target && pending.version == snmp::VERSION_3 &&
               pending.msgID == msgID && pending.msgID != 0;
    });
    const bool probed =
        std::find(receiver.probes.begin(), receiver.probes.end(), msgID) != receiver.probes.end();

    // RFC 3414 4: an unauthenticated answer to a probe, or to an inform sent
    // to an engine the receiver no longer is, names its engine.
    if (level == 0 && (probed || byMsgID != pending_.end()) &&
        engineID != receiver.engine.engineID) {
        if (engineID.size() < ENGINE_ID_MIN || engineID.size() > ENGINE_ID_MAX) return false;
        receiver.engine.engineID = engineID;
        receiver.engine.engineBoots = msgBoots;
        receiver.engine.engineTimeBase = usm::monotonicSeconds() - msgTime;
        receiver.user.regenerateKeys(engineID);
        receiver.probes.clear();
        for (Pending& pending : pending_) {
            if (pending.target == target) transmit(pending);
        }
        arm();
        return true;
    }
    if (!receiver.known() || engineID != receiver.engine.engineID) return false;

    usm::Report report = usm::NO_REPORT;
    const CommunityKeep::Item& user = receiver.user;
    if (!in.decryptAndCheckSignature(report, user.authKey, user.authProtocol, user.privKey,
                                     user.privProtocol, receiver.engine))
        return false;
    // Outside the time window that the queue believes is still authentic.
    if (report != usm::NO_REPORT && report != usm::NOT_IN_TIME_WINDOW) return false;
    const bool authentic = level >= 1;
    // RFC 3414 3.2 7b: an authentic message moves the receiver's clock on.
    const uint32_t believed = usm::engineTime(receiver.engine);
    const bool clockMoved =
        authentic && (msgBoots > receiver.engine.engineBoots ||
                      (msgBoots == receiver.engine.engineBoots && msgTime > believed));
    if (clockMoved) {
        receiver.engine.engineBoots = msgBoots;
        receiver.engine.engineTimeBase = usm::monotonicSeconds() - msgTime;
    }
    if (!in.v3PduReadable()) return false;
    const uint32_t type = in.getType();
    if (type == ber::REPORT && byMsgID != pending_.end()) {
        // Authenticated: usmStatsNotInTimeWindows; sent again at once when
        // the clock moved, else when its time comes, so that a receiver that
        // keeps refusing is no ping-pong. Unauthenticated (an unknown user, a
        // level the receiver does not take): the tries go on as they are,
        // and the inform is dropped when they are spent.
        if (clockMoved) {
            transmit(*byMsgID);
            arm();
        }
        return true;
    }
    if (type != ber::RESPONSE || !in.enterSeq()) return false;
    int requestId = 0;
    if (!in.getInt(requestId)) return false;
    auto answered = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
        return pending.target == target && pending.version == snmp::VERSION_3 &&
               pending.requestId == requestId;
    });
    // A Response must be as protected as the inform it answers.
    if (answered == pending_.end() || level != static_cast<int>(answered->user.security))
        return false;
    acknowledge(answered);
    return true;
}

void InformQueue::acknowledge(std::deque<Pending>::iterator answered) {
    ++counters_(answered->target).acknowledged;
    pending_.erase(answered);
    arm();
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
        transmit(*it);
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
