#include "agentx/master.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "agentx/values.h"
#include "mib/agent_state.h"
#include "mib/exchange_waits.h"
#include "mib/modules.h"
#include "mib/platform_exchange.h"
#include "mib/registry.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "platform/orla/throttled_line.h"

namespace agentx {

namespace {

// How often pending requests are checked for their time-out, in clock ticks.
constexpr uint32_t TIMEOUT_CHECK_TICKS = 5;
// Read from a session per event: a frame of the largest payload and its header.
constexpr size_t READ_CHUNK = 16384;

// The phases of a Set that the subagent answers: TestSet, CommitSet, UndoSet.
bool isSetPhase(PduType type) {
    return type == PduType::TestSet || type == PduType::CommitSet || type == PduType::UndoSet;
}
PduType setPhaseType(RemotePhase phase) {
    return static_cast<PduType>(static_cast<int>(PduType::TestSet) + static_cast<int>(phase));
}
std::string setTicketOf(uint64_t request, uint32_t sessionID, PduType type) {
    return "agentx-set:" + std::to_string(request) + ":" + std::to_string(sessionID) + ":" +
           std::to_string(static_cast<int>(type));
}

orla::ThrottledLine refusedPeer("agentx: refused a connection from another user");
orla::ThrottledLine tooManySessions("agentx: session limit reached, refusing a subagent");
orla::ThrottledLine badFrame("agentx: malformed frame, closing the session");

bool makeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// The clock of prefetched instances' age: read on every step of a walk,
// where the kernel's tick (a few milliseconds) is precise enough for an age
// of seconds and reading it costs a fraction of the precise clock.
uint64_t coarseMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// sysUpTime for Response PDUs (RFC 2741 6.2.16).
uint32_t upTime() {
    return orla::getJiffies() - agentState.startTick;
}

// An index value as a key: its type and its content.
std::string indexKey(const VarBind& binding) {
    std::string key = std::to_string(static_cast<int>(binding.type)) + ":";
    switch (binding.type) {
        case ValueType::OctetString:
        case ValueType::IpAddress:
        case ValueType::Opaque:
            return key + binding.octets;
        case ValueType::ObjectIdentifier:
            return key + binding.oid.toString();
        default:
            return key + std::to_string(binding.number);
    }
}

// The subtrees of a registration (RFC 2741 6.2.3): one, or with a range
// subid r, the subtree with arc r running from its value to the upper bound.
std::vector<OID> subtreesOf(const Pdu& pdu, size_t bound) {
    if (pdu.rangeSubid == 0) return {pdu.subtree};
    const size_t position = pdu.rangeSubid - 1;
    const uint32_t first = pdu.subtree[position];
    if (pdu.upperBound < first || pdu.upperBound - first >= bound) return {};
    std::vector<OID> subtrees;
    for (uint64_t arc = first; arc <= pdu.upperBound; ++arc) {
        OID subtree(pdu.subtree.data(), position);
        subtree += static_cast<uint32_t>(arc);
        subtree += pdu.subtree.suffix(position + 1);
        subtrees.push_back(std::move(subtree));
    }
    return subtrees;
}

// A registration whose subtree is one of the agent's own objects' or lies
// in one: the agent's own objects are never shadowed by a subagent.
bool shadowsLocal(const OID& subtree) {
    OID prefix = subtree;
    for (;;) {
        const auto found = leafs.find(prefix);
        if (found != leafs.end() && dynamic_cast<SubagentLeaf*>(found->second) == nullptr)
            return true;
        if (prefix.empty()) return false;
        prefix.popBack();
    }
}

// The answer kept under a ticket: the subagent's Response with `binding` alone.
orla::message answerOf(const Pdu& response, const VarBind& binding) {
    Pdu one;
    one.header = response.header;
    one.bindings = {binding};
    std::vector<uint8_t> frame;
    encode(one, frame);
    orla::message reply;
    reply.insert(orla::StringKey{ANSWER_FRAME_FIELD}, std::string(frame.begin(), frame.end()));
    return reply;
}

}  // namespace

Master::Master(NotifySink notify, MasterLimits limits)
    : notify_(std::move(notify)),
      limits_(limits),
      prefetched_(limits.prefetchMaxAgeMillis, limits.maxPrefetchedAnswers) {}

Master::~Master() {
    close();
}

bool Master::listen(const std::string& path, std::optional<gid_t> group, std::string& error) {
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        error = "socket path too long: " + path;
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        const bool live = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        if (live) {
            error = path + ": another master listens there";
            return false;
        }
    }
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // As the platform's service sockets: the file's mode is set before
    // listen(), so no connection is taken while it is wider.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (group && chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) ||
        chmod(path.c_str(), group ? 0660 : 0600) != 0 || ::listen(fd, 16) != 0 ||
        !orla::getRunner().addSocket(fd, this, &Master::onListen, orla::SOCKET_READABLE)) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        unlink(path.c_str());
        return false;
    }
    listenFd_ = fd;
    path_ = path;
    group_ = group;
    return true;
}

void Master::close() {
    while (!sessions_.empty())
        closeSession(sessions_.begin()->first, CloseReason::Shutdown);
    orla::removeTimer(this, &Master::checkTimeouts);
    orla::removeTimer(this, &Master::closeScheduled);
    orla::removeTimer(this, &Master::flushScheduled);
    toFlush_.clear();
    timeoutsArmed_ = false;
    toClose_.clear();
    if (listenFd_ < 0) return;
    orla::getRunner().removeSocket(listenFd_);
    ::close(listenFd_);
    unlink(path_.c_str());
    listenFd_ = -1;
}

void Master::onListen(int fd, int, unsigned) {
    for (int accepted = 0; accepted < 16; ++accepted) {
        const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) return;
        // Like the platform's messaging sockets: root, the agent's own user
        // and the group named for subagents.
        ucred peer{};
        socklen_t length = sizeof peer;
        const bool known = getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                           length == sizeof peer;
        if (!known || (peer.uid != 0 && peer.uid != geteuid() && (!group_ || peer.gid != *group_))) {
            refusedPeer.write();
            ::close(client);
            continue;
        }
        if (sessions_.size() >= limits_.maxSessions ||
            !orla::getRunner().addSocket(client, this, &Master::onSession, orla::SOCKET_READABLE)) {
            tooManySessions.write();
            ::close(client);
            continue;
        }
        // The session's ID is given now and sent in the Response to its Open.
        while (sessions_.count(nextSessionID_) != 0 || nextSessionID_ == 0)
            ++nextSessionID_;
        Session& session = sessions_[nextSessionID_];
        session.fd = client;
        session.id = nextSessionID_++;
        session.timeoutMillis = limits_.defaultTimeoutMillis;
        sessionByFd_[client] = session.id;
    }
}

void Master::onSession(int fd, int, unsigned events) {
    const auto bySession = sessionByFd_.find(fd);
    if (bySession == sessionByFd_.end()) return;
    const uint32_t id = bySession->second;
    if ((events & orla::SOCKET_WRITABLE) && !flush(sessions_.at(id))) {
        closeSession(id, std::nullopt);
        return;
    }
    if ((events & (orla::SOCKET_READABLE | orla::SOCKET_HANGUP)) == 0) return;
    // What came before the connection ended is served before it closes.
    const bool connected = readFrom(sessions_.at(id));
    // Serves each whole frame. Serving may answer parked requests, which may
    // send to this session again, but never closes it here (scheduleClose).
    size_t at = 0;
    for (;;) {
        Session& session = sessions_.at(id);
        const std::span<const uint8_t> rest(session.input.data() + at, session.input.size() - at);
        DecodeError error = DecodeError::None;
        const std::optional<Header> header = readHeader(rest, error);
        if (!header) {
            if (error == DecodeError::Truncated) break;
            badFrame.write();
            closeSession(id, CloseReason::ParseError);
            return;
        }
        if (rest.size() < HEADER_SIZE + header->payloadLength) break;  // the rest is to come
        Pdu pdu;
        size_t used = 0;
        error = decode(rest, pdu, used);
        if (error != DecodeError::None) {
            badFrame.write();
            // RFC 2741 7.1: a frame that does not parse is answered parseError
            // when its header did; a subagent that sends them is not kept.
            respond(session, pdu, ResponseError::ParseError);
            closeSession(id, CloseReason::ParseError);
            return;
        }
        at += used;
        if (!serve(session, pdu)) {
            closeSession(id, CloseReason::ProtocolError);
            return;
        }
        if (sessions_.count(id) == 0) return;
    }
    Session& session = sessions_.at(id);
    session.input.erase(session.input.begin(), session.input.begin() + static_cast<long>(at));
    if (!connected) closeSession(id, std::nullopt);
}

bool Master::readFrom(Session& session) {
    // Never more than one whole frame and a part of the next is buffered.
    // A read that leaves the chunk unfilled took all there was: what comes
    // later wakes the loop again, without a read here that finds nothing.
    const size_t bound = 2 * (HEADER_SIZE + MAX_PAYLOAD);
    uint8_t chunk[READ_CHUNK];
    while (session.input.size() < bound) {
        const ssize_t got = recv(session.fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            session.input.insert(session.input.end(), chunk, chunk + got);
            if (static_cast<size_t>(got) < sizeof chunk) return true;
            continue;
        }
        if (got == 0) return false;  // the subagent closed
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    return true;
}

bool Master::flush(Session& session) {
    while (!session.output.empty()) {
        const ssize_t sent = ::send(session.fd, session.output.data(), session.output.size(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            break;
        }
        session.output.erase(session.output.begin(), session.output.begin() + sent);
    }
    const bool blocked = !session.output.empty();
    if (blocked != session.waitsToWrite) {
        session.waitsToWrite = blocked;
        orla::getRunner().setSocketMask(
            session.fd, orla::SOCKET_READABLE | (blocked ? orla::SOCKET_WRITABLE : 0));
    }
    return true;
}

void Master::send(Session& session, const Pdu& pdu) {
    const bool idle = session.output.empty();
    encode(pdu, session.output);
    if (session.output.size() > limits_.maxOutputBytes) {
        scheduleClose(session.id, CloseReason::Other);
        return;
    }
    // What a turn of the event loop sends a session (the requests of a
    // batch of datagrams, say) leaves in one write at its end; a session
    // whose socket is full is written to when it is writable again.
    if (!idle || session.waitsToWrite) return;
    if (toFlush_.empty()) orla::addTimer(this, &Master::flushScheduled, 0);
    toFlush_.push_back(session.id);
}

void Master::flushScheduled() {
    const std::vector<uint32_t> ids = std::move(toFlush_);
    toFlush_.clear();
    for (const uint32_t id : ids) {
        const auto found = sessions_.find(id);
        if (found != sessions_.end() && !flush(found->second)) closeSession(id, std::nullopt);
    }
}

void Master::respond(Session& session, const Pdu& request, ResponseError error, uint16_t index,
                     std::vector<VarBind> bindings) {
    Pdu response;
    response.header.type = PduType::Response;
    // RFC 2741 6.1: the Response repeats the request's IDs, in its byte order.
    response.header.flags = request.header.flags & FLAG_NETWORK_BYTE_ORDER;
    response.header.sessionID = request.header.sessionID;
    response.header.transactionID = request.header.transactionID;
    response.header.packetID = request.header.packetID;
    response.sysUpTime = upTime();
    response.error = static_cast<uint16_t>(error);
    response.index = index;
    response.bindings = std::move(bindings);
    send(session, response);
}

bool Master::serve(Session& session, Pdu& pdu) {
    const PduType type = pdu.header.type;
    if (type == PduType::Response) {
        answer(session, pdu);
        return true;
    }
    if (type == PduType::Open) {
        if (session.opened) {
            respond(session, pdu, ResponseError::OpenFailed);
            return true;
        }
        session.opened = true;
        session.networkOrder = (pdu.header.flags & FLAG_NETWORK_BYTE_ORDER) != 0;
        if (pdu.timeout != 0) session.timeoutMillis = pdu.timeout * 1000u;
        Pdu opened = pdu;
        opened.header.sessionID = session.id;
        respond(session, opened, ResponseError::NoError);
        return true;
    }
    // RFC 2741 7.1.x: every other PDU needs the session this connection opened.
    if (!session.opened || pdu.header.sessionID != session.id) {
        respond(session, pdu, ResponseError::NotOpen);
        return true;
    }
    // The agent serves the default context alone, which some subagents name
    // as the empty context.
    if ((pdu.header.flags & FLAG_NON_DEFAULT_CONTEXT) && !pdu.context.empty()) {
        respond(session, pdu, ResponseError::UnsupportedContext);
        return true;
    }
    std::vector<VarBind> answered;
    switch (type) {
        case PduType::Close:
            respond(session, pdu, ResponseError::NoError);
            session.opened = false;  // closed by the subagent: no Close goes back
            scheduleClose(session.id, CloseReason::Other);
            return true;
        case PduType::Register:
            respond(session, pdu, registerSubtree(session, pdu));
            return true;
        case PduType::Unregister:
            respond(session, pdu, unregisterSubtree(session, pdu));
            return true;
        case PduType::Ping:
            respond(session, pdu, ResponseError::NoError);
            return true;
        case PduType::Notify:
            if (notify_) notify_(pdu.bindings);
            respond(session, pdu, ResponseError::NoError);
            return true;
        case PduType::IndexAllocate:
        case PduType::IndexDeallocate: {
            const ResponseError error =
                allocateIndexes(session, pdu, type == PduType::IndexAllocate, answered);
            const uint16_t index = error == ResponseError::NoError
                                       ? 0
                                       : static_cast<uint16_t>(answered.size());
            respond(session, pdu, error, index,
                    error == ResponseError::NoError ? std::move(answered) : pdu.bindings);
            return true;
        }
        case PduType::AddAgentCaps: {
            // RFC 2741 7.1.9: a row of sysORTable, once per identity.
            const bool fresh = session.capabilities.count(pdu.id) == 0 &&
                               session.capabilities.size() < limits_.maxCapabilities;
            if (fresh) {
                session.capabilities.emplace(pdu.id, pdu.description);
                registerModule(pdu.id, pdu.description);
            }
            respond(session, pdu, fresh ? ResponseError::NoError : ResponseError::RequestDenied);
            return true;
        }
        case PduType::RemoveAgentCaps: {
            const auto found = session.capabilities.find(pdu.id);
            if (found == session.capabilities.end()) {
                respond(session, pdu, ResponseError::UnknownAgentCaps);
                return true;
            }
            unregisterModule(found->first, found->second);
            session.capabilities.erase(found);
            respond(session, pdu, ResponseError::NoError);
            return true;
        }
        default:
            // Get, GetNext, GetBulk and the Set PDUs go from master to
            // subagent, never the other way (RFC 2741 7.2).
            return false;
    }
}

ResponseError Master::registerSubtree(Session& session, const Pdu& pdu) {
    const size_t room = limits_.maxRegistrations - registrations_.size();
    // RFC 2741 6.2.3: an instance registration names one object instance.
    // The agent keeps it under its object's OID, which one subagent serves:
    // a walk then asks for the instance after the object, never the instance
    // itself again.
    OID subtree = pdu.subtree;
    if ((pdu.header.flags & FLAG_INSTANCE_REGISTRATION) && pdu.rangeSubid == 0 &&
        subtree.size() > 1)
        subtree.popBack();
    Pdu expanded = pdu;
    expanded.subtree = subtree;
    const std::vector<OID> subtrees = subtreesOf(expanded, room + 1);
    if (subtrees.empty() || subtrees.size() > room) return ResponseError::RequestDenied;
    for (const OID& one : subtrees) {
        if (one.empty() || shadowsLocal(one)) return ResponseError::RequestDenied;
        // RFC 2741 7.1.5.1: the same subtree at the same priority is a duplicate.
        for (const auto& other : registrations_) {
            if (other->subtree == one && other->priority == pdu.priority)
                return ResponseError::DuplicateRegistration;
        }
    }
    const uint32_t timeout = pdu.timeout != 0 ? pdu.timeout * 1000u : session.timeoutMillis;
    prefetched_.forget(session.id);
    for (const OID& one : subtrees) {
        auto registration = std::make_unique<Registration>();
        registration->sessionID = session.id;
        registration->registered = pdu.subtree;
        registration->rangeSubid = pdu.rangeSubid;
        registration->upperBound = pdu.upperBound;
        registration->priority = pdu.priority;
        registration->subtree = one;
        registration->leaf = std::make_unique<SubagentLeaf>(*this, session.id, timeout, one);
        registrations_.push_back(std::move(registration));
        install(one);
    }
    registryChanged();
    return ResponseError::NoError;
}

ResponseError Master::unregisterSubtree(Session& session, const Pdu& pdu) {
    std::set<OID> touched;
    for (auto& registration : registrations_) {
        if (registration->sessionID != session.id || registration->registered != pdu.subtree ||
            registration->rangeSubid != pdu.rangeSubid ||
            registration->upperBound != pdu.upperBound || registration->priority != pdu.priority)
            continue;
        if (registration->installed) removeRemoteLeaf(registration->subtree, registration->leaf.get());
        touched.insert(registration->subtree);
        registration.reset();
    }
    if (touched.empty()) return ResponseError::UnknownRegistration;
    prefetched_.forget(session.id);
    std::erase(registrations_, nullptr);
    for (const OID& subtree : touched)
        install(subtree);
    registryChanged();
    return ResponseError::NoError;
}

void Master::install(const OID& subtree) {
    Registration* best = nullptr;
    Registration* current = nullptr;
    for (auto& registration : registrations_) {
        if (registration->subtree != subtree) continue;
        if (registration->installed) current = registration.get();
        // RFC 2741 7.1.5.1: the smaller value is the better priority; of
        // equals (other sessions) the earlier registration.
        if (best == nullptr || registration->priority < best->priority) best = registration.get();
    }
    if (best == current) return;
    if (current != nullptr) {
        removeRemoteLeaf(subtree, current->leaf.get());
        current->installed = false;
    }
    if (best != nullptr) best->installed = addRemoteLeaf(subtree, best->leaf.get());
}

void Master::registryChanged() {
    for (const auto& registration : registrations_)
        registration->leaf->registryChanged();
}

ResponseError Master::allocateIndexes(Session& session, const Pdu& pdu, bool allocate,
                                      std::vector<VarBind>& answered) {
    // All or nothing: every binding is checked before any is kept.
    std::vector<std::pair<OID, std::string>> keys;
    for (const VarBind& requested : pdu.bindings) {
        VarBind binding = requested;
        const bool chosen = pdu.header.flags & (FLAG_NEW_INDEX | FLAG_ANY_INDEX);
        if (allocate && chosen) {
            // RFC 2741 7.1.4.1: the master picks a value; integers only here.
            if (binding.type != ValueType::Integer) return ResponseError::IndexNoneAvailable;
            uint64_t highest = 0;
            for (const auto& [key, index] : indexes_) {
                if (key.first == binding.name && key.second.starts_with("2:"))
                    highest = std::max<uint64_t>(highest, std::stoull(key.second.substr(2)));
            }
            for (const auto& [name, value] : keys) {
                if (name == binding.name) highest = std::max<uint64_t>(highest, std::stoull(value.substr(2)));
            }
            if (highest >= INT32_MAX) return ResponseError::IndexNoneAvailable;
            binding.number = highest + 1;
        }
        auto key = std::make_pair(binding.name, indexKey(binding));
        const auto found = indexes_.find(key);
        answered.push_back(binding);
        if (allocate) {
            if (found != indexes_.end() ||
                std::find(keys.begin(), keys.end(), key) != keys.end())
                return ResponseError::IndexAlreadyAllocated;
            if (indexes_.size() + keys.size() >= limits_.maxIndexes)
                return ResponseError::IndexNoneAvailable;
        } else if (found == indexes_.end() || found->second.sessionID != session.id) {
            return ResponseError::IndexNotAllocated;
        }
        keys.push_back(std::move(key));
    }
    for (auto& key : keys) {
        if (allocate) {
            indexes_[key] = Index{session.id};
        } else {
            indexes_.erase(key);
        }
    }
    return ResponseError::NoError;
}

bool Master::forward(uint32_t sessionID, PduType type, const SearchRange& range,
                     uint16_t repetitions, uint32_t timeoutMillis) {
    const auto found = sessions_.find(sessionID);
    if (found == sessions_.end()) return false;
    Session& session = found->second;
    // A walk that went through every instance prefetched for it asks for
    // twice as many at once: it will likely go on.
    if (type == PduType::GetNext && prefetched_.walkedThrough(sessionID, range, coarseMillis()))
        repetitions = static_cast<uint16_t>(std::min(2 * repetitions, int(MAX_PREFETCH)));
    Pdu request;
    const bool bulk = type == PduType::GetNext && repetitions > 1;
    request.header.type = bulk ? PduType::GetBulk : type;
    request.maxRepetitions = bulk ? repetitions : 0;
    request.header.flags = session.networkOrder ? FLAG_NETWORK_BYTE_ORDER : 0;
    request.header.sessionID = sessionID;
    request.header.packetID = nextPacketID_++;
    request.header.transactionID = request.header.packetID;
    request.ranges = {range};
    // A session about to close (its subagent died, say) is asked nothing,
    // but the request waits all the same: the close removes its subtrees
    // first and then answers, so the request goes on past them.
    if (toClose_.count(sessionID) == 0) send(session, request);
    pending_[request.header.packetID] =
        Pending{sessionID, type, range, orla::monotonicMillis() + timeoutMillis};
    armTimeouts();
    return true;
}

void Master::armTimeouts() {
    if (timeoutsArmed_) return;
    timeoutsArmed_ = true;
    orla::addTimer(this, &Master::checkTimeouts, TIMEOUT_CHECK_TICKS);
}

std::string Master::ticketFor(const Pending& pending) {
    if (isSetPhase(pending.type))
        return setTicketOf(pending.setRequest, pending.sessionID, pending.type);
    return ticketOf(pending.sessionID, pending.type, pending.range);
}

RemoteAnswer Master::runSetPhase(uint32_t sessionID, uint64_t request, RemotePhase phase,
                                 std::span<const RemoteBinding> bindings,
                                 uint32_t timeoutMillis) {
    using State = RemoteAnswer::State;
    const auto found = sessions_.find(sessionID);
    if (found == sessions_.end() || toClose_.count(sessionID) != 0) return RemoteAnswer{};
    const auto key = std::make_pair(request, sessionID);
    if (sets_.count(key) == 0 && sets_.size() >= limits_.maxSets)
        endSet(sets_.begin()->first.second, sets_.begin()->first.first);
    auto [entry, fresh] = sets_.try_emplace(key);
    SetState& state = entry->second;
    if (fresh) state.transactionID = nextTransactionID_++;
    std::optional<RemoteAnswer>& answered = state.answers[static_cast<size_t>(phase)];
    if (answered) return *answered;
    const PduType type = setPhaseType(phase);
    // RFC 2741 7.2.4: a CommitSet follows a TestSet that passed; an UndoSet
    // goes only where a CommitSet went.
    if (phase == RemotePhase::Commit) {
        const std::optional<RemoteAnswer>& tested = state.answers[0];
        if (!tested || tested->state != State::Answered ||
            tested->status != snmp::ErrorStatus::NO_ERROR)
            return RemoteAnswer{};
    }
    if (phase == RemotePhase::Undo && !state.commitSent) return RemoteAnswer{State::Answered};

    // One PDU of a transaction at a time: an UndoSet waits for the CommitSet
    // still on its way, say, and goes once it was answered.
    const bool started = state.onItsWay.has_value();
    const PduType awaited = state.onItsWay.value_or(type);
    if (!mayWait() || mustFail(started)) {
        answered = RemoteAnswer{};
        return *answered;
    }
    if (!started) {
        Pdu pdu;
        pdu.header.type = type;
        pdu.header.flags = found->second.networkOrder ? FLAG_NETWORK_BYTE_ORDER : 0;
        pdu.header.sessionID = sessionID;
        pdu.header.transactionID = state.transactionID;
        pdu.header.packetID = nextPacketID_++;
        if (phase == RemotePhase::Test) {
            for (size_t i = 0; i < bindings.size(); ++i) {
                VarBind binding;
                binding.name = bindings[i].name;
                const snmp::ErrorStatus read = readValue(bindings[i].value, binding);
                if (read != snmp::ErrorStatus::NO_ERROR) {
                    answered = RemoteAnswer{State::Answered, read, static_cast<unsigned>(i + 1)};
                    return *answered;
                }
                pdu.bindings.push_back(std::move(binding));
            }
            state.testSent = true;
        }
        state.commitSent = state.commitSent || phase == RemotePhase::Commit;
        state.onItsWay = type;
        send(found->second, pdu);
        Pending pending{sessionID, type, {}, orla::monotonicMillis() + timeoutMillis, request};
        pending_[pdu.header.packetID] = std::move(pending);
        armTimeouts();
    }
    waitFor(setTicketOf(request, sessionID, awaited));
    return RemoteAnswer{State::Waiting};
}

void Master::answerSet(const Pending& asked, const Pdu& response) {
    // res.error holds an SNMP error status; AgentX's own errors
    // (processingError, parseError, ...) are a genErr.
    const uint16_t error = response.error;
    const auto status = error <= static_cast<uint16_t>(snmp::ErrorStatus::INCONSISTENT_NAME)
                             ? static_cast<snmp::ErrorStatus>(error)
                             : snmp::ErrorStatus::GEN_ERR;
    if (settle(asked, RemoteAnswer{RemoteAnswer::State::Answered, status, response.index}))
        exchangeAnswered(ticketFor(asked), orla::message{});
}

bool Master::settle(const Pending& asked, RemoteAnswer answer) {
    const auto found = sets_.find({asked.setRequest, asked.sessionID});
    if (found == sets_.end()) return false;  // ended meanwhile
    found->second.onItsWay.reset();
    found->second.answers[static_cast<size_t>(asked.type) - static_cast<size_t>(PduType::TestSet)] =
        answer;
    return true;
}

void Master::endSet(uint32_t sessionID, uint64_t request) {
    const auto found = sets_.find({request, sessionID});
    if (found == sets_.end()) return;
    const SetState state = found->second;
    sets_.erase(found);
    // Its answers still on their way are no longer awaited.
    std::erase_if(pending_, [&](const auto& entry) {
        return isSetPhase(entry.second.type) && entry.second.setRequest == request &&
               entry.second.sessionID == sessionID;
    });
    const auto session = sessions_.find(sessionID);
    if (!state.testSent || session == sessions_.end()) return;
    Pdu cleanup;
    cleanup.header.type = PduType::CleanupSet;
    cleanup.header.flags = session->second.networkOrder ? FLAG_NETWORK_BYTE_ORDER : 0;
    cleanup.header.sessionID = sessionID;
    cleanup.header.transactionID = state.transactionID;
    cleanup.header.packetID = nextPacketID_++;
    send(session->second, cleanup);
}

void Master::answer(Session& session, Pdu& response) {
    const auto found = pending_.find(response.header.packetID);
    if (found == pending_.end() || found->second.sessionID != session.id) return;  // late
    const Pending asked = found->second;
    pending_.erase(found);
    session.timeoutsInARow = 0;
    if (isSetPhase(asked.type)) {
        answerSet(asked, response);
        return;
    }
    const std::string ticket = ticketOf(session.id, asked.type, asked.range);
    if (response.error != 0 || response.bindings.empty() ||
        (asked.type == PduType::Get && response.bindings.size() != 1)) {
        exchangeAnswered(ticket, orla::errorMsg(ERR_SUBAGENT_ERROR, "the subagent answered an error"));
        return;
    }
    orla::message reply = answerOf(response, response.bindings.front());
    // A GetBulk's instances after the first answer the GetNexts from the
    // one before, within the same range: they are kept before the request
    // is served again, which reads them.
    if (asked.type == PduType::GetNext && response.bindings.size() > 1) {
        if (response.bindings.size() > MAX_PREFETCH) response.bindings.resize(MAX_PREFETCH);
        prefetched_.keep(session.id, asked.range, std::move(response.bindings), coarseMillis());
    }
    exchangeAnswered(ticket, std::move(reply));
}

const VarBind* Master::prefetched(uint32_t sessionID, const SearchRange& range) const {
    return prefetched_.after(sessionID, range, coarseMillis());
}

void Master::checkTimeouts() {
    timeoutsArmed_ = false;
    const uint64_t now = orla::monotonicMillis();
    std::vector<std::string> expired;
    for (auto entry = pending_.begin(); entry != pending_.end();) {
        if (entry->second.deadline > now) {
            ++entry;
            continue;
        }
        const auto session = sessions_.find(entry->second.sessionID);
        if (session != sessions_.end() &&
            ++session->second.timeoutsInARow >= limits_.timeoutsToClose)
            toClose_.emplace(session->first, CloseReason::Timeouts);
        expired.push_back(ticketFor(entry->second));
        if (isSetPhase(entry->second.type)) settle(entry->second, RemoteAnswer{});
        entry = pending_.erase(entry);
    }
    // Each answers its request genErr (mib/platform_exchange.h: a time-out).
    for (const std::string& ticket : expired)
        exchangeAnswered(ticket, orla::errorMsg(orla::ERR_TIMEOUT, "no answer from the subagent"));
    closeScheduled();
    if (!pending_.empty()) armTimeouts();
}

void Master::scheduleClose(uint32_t sessionID, CloseReason reason) {
    if (!toClose_.emplace(sessionID, reason).second) return;
    orla::addTimer(this, &Master::closeScheduled, 0);
}

void Master::closeScheduled() {
    while (!toClose_.empty()) {
        const auto [id, reason] = *toClose_.begin();
        toClose_.erase(toClose_.begin());
        if (sessions_.count(id) != 0) closeSession(id, reason);
    }
}

void Master::closeSession(uint32_t sessionID, std::optional<CloseReason> reason) {
    const auto found = sessions_.find(sessionID);
    if (found == sessions_.end()) return;
    Session& session = found->second;
    if (reason && session.opened) {
        Pdu close;
        close.header.type = PduType::Close;
        close.header.flags = session.networkOrder ? FLAG_NETWORK_BYTE_ORDER : 0;
        close.header.sessionID = sessionID;
        close.reason = static_cast<uint8_t>(*reason);
        encode(close, session.output);
        ::send(session.fd, session.output.data(), session.output.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    orla::getRunner().removeSocket(session.fd);
    ::close(session.fd);
    // Its capabilities leave sysORTable with it.
    for (const auto& [id, description] : session.capabilities)
        unregisterModule(id, description);
    sessionByFd_.erase(session.fd);
    sessions_.erase(found);
    toClose_.erase(sessionID);
    prefetched_.forget(sessionID);

    // Its subtrees leave the tree at once; another session's registration of
    // the same subtree takes over.
    std::set<OID> touched;
    for (auto& registration : registrations_) {
        if (registration->sessionID != sessionID) continue;
        if (registration->installed) removeRemoteLeaf(registration->subtree, registration->leaf.get());
        touched.insert(registration->subtree);
        registration.reset();
    }
    std::erase(registrations_, nullptr);
    for (const OID& subtree : touched)
        install(subtree);
    registryChanged();
    std::erase_if(indexes_, [sessionID](const auto& entry) {
        return entry.second.sessionID == sessionID;
    });
    // Last, as the requests that waited are served again at once: without
    // the session's subtrees, they go on past them.
    std::vector<std::string> orphaned;
    std::erase_if(pending_, [&](const auto& entry) {
        if (entry.second.sessionID != sessionID) return false;
        orphaned.push_back(ticketFor(entry.second));
        return true;
    });
    // Its Sets end with it: their phases fail (RemoteSet::runPhase).
    std::erase_if(sets_, [sessionID](const auto& entry) { return entry.first.second == sessionID; });
    for (const std::string& ticket : orphaned)
        exchangeAnswered(ticket, orla::errorMsg(orla::ERR_PEER_CLOSED, "the subagent left"));
}

}  // namespace agentx
