#include "platform/orla/looper.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/runner.h"

namespace orla {

namespace {

uint32_t orDefault(uint32_t value, uint32_t fallback) {
    return value ? value : fallback;
}

void diagnose(const std::string& line) {
    std::cerr << "orla: " << line << std::endl;
}

std::string pathText(const std::vector<uint32_t>& path) {
    std::string text;
    for (uint32_t element : path) {
        if (!text.empty()) text += '.';
        text += std::to_string(element);
    }
    return text;
}

// A service that does not serve a client's user sends it this before closing
// the connection: a reply to no request (no MSG_SEQ) with ERR_ACCESS_DENIED.
bool isRefusal(FrameKind kind, const message& frame) {
    return kind == FrameKind::Reply && !frame.has(MSG_SEQ) &&
           getErrorCode(frame) == ERR_ACCESS_DENIED;
}

// Reads what the connection holds and looks for a refusal in it; other
// frames are dropped (the connection is closing).
bool takeRefusal(Connection& connection, size_t limit, message& refusal) {
    connection.readSome(limit);
    FrameKind kind;
    std::string error;
    while (connection.nextFrame(kind, refusal, error) == Connection::Next::Frame) {
        if (isRefusal(kind, refusal)) return true;
    }
    return false;
}

void refuse(int client, uint32_t serviceId, uid_t uid) {
    std::string frame;
    appendFrame(frame, FrameKind::Reply,
                errorMsg(ERR_ACCESS_DENIED, "access to service " + std::to_string(serviceId) +
                                                " refused for uid " + std::to_string(uid))
                    .flatten()
                    .bytes);
    // A fresh connection's buffer takes this small frame; if not, the client
    // sees the connection closed.
    ssize_t ignored = send(client, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)ignored;
    close(client);
}

}  // namespace

Looper::Looper(uint32_t maxConnections, uint32_t maxFrameBytes, uint32_t maxOutputBytes,
               uint32_t undoDepth, uint32_t maxSubscribers, uint32_t listenBacklog,
               uint32_t readChunkBytes, uint32_t acceptsPerEvent, uint32_t maxOutgoing,
               uint32_t maxDeferred, uint32_t defaultTimeoutMs, uint32_t maxHandlers,
               uint32_t maxPathLength)
    : limits_{orDefault(maxConnections, 64),      orDefault(maxFrameBytes, 1 << 20),
              orDefault(maxOutputBytes, 4 << 20), orDefault(undoDepth, 32),
              orDefault(maxSubscribers, 64),      orDefault(listenBacklog, 16),
              orDefault(readChunkBytes, 65536),   orDefault(acceptsPerEvent, 16),
              orDefault(maxOutgoing, 32),         orDefault(maxDeferred, 1024),
              orDefault(defaultTimeoutMs, 6000),  orDefault(maxHandlers, 1024),
              orDefault(maxPathLength, 16)} {
    attach(this, {});
}

Looper::~Looper() {
    // Nobody is told about the requests still awaited: the looper ends first.
    awaiting_.clear();
    getRunner().removeTimer(this, &Looper::deliverDeferred);
    getRunner().removeTimer(this, &Looper::expireAwaited);
    getRunner().removeTimer(this, &Looper::deliverCompleted);
    while (!peers_.empty())
        closePeer(peers_.begin()->first, "");
    if (listenFd_ >= 0) {
        getRunner().removeSocket(listenFd_);
        close(listenFd_);
        unlink(servicePath(serviceId_).c_str());
    }
}

bool Looper::addHandler(uint32_t id, Handler* handler) {
    if (!handler || handler == this || handlers_.count(id) ||
        handlers_.size() >= limits_.maxHandlers) {
        return false;
    }
    handlers_[id] = handler;
    handler->attach(this, {id});
    return true;
}

Handler* Looper::findHandler(uint32_t id) const {
    auto found = handlers_.find(id);
    return found == handlers_.end() ? nullptr : found->second;
}

std::vector<uint32_t> Looper::fullPath(const std::vector<uint32_t>& localPath) const {
    std::vector<uint32_t> path{serviceId_};
    path.insert(path.end(), localPath.begin(), localPath.end());
    return path;
}

bool Looper::serve(uint32_t serviceId) {
    if (serviceId == 0 || listenFd_ >= 0) {
        diagnose("serve: invalid service id or already serving");
        return false;
    }
    std::string error, notice;
    int fd = listenService(serviceId, static_cast<int>(limits_.listenBacklog), error, notice,
                           clientGroup_);
    if (!notice.empty()) diagnose("serve: " + notice);
    if (fd < 0) {
        diagnose("serve: " + error);
        return false;
    }
    if (!getRunner().addSocket(fd, this, &Looper::onListen, SOCKET_READABLE)) {
        close(fd);
        unlink(servicePath(serviceId).c_str());
        diagnose("serve: cannot watch the service socket");
        return false;
    }
    listenFd_ = fd;
    serviceId_ = serviceId;
    return true;
}

void Looper::run() {
    sigset_t signals, previous;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, &previous);
    int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd >= 0) getRunner().addSocket(signalFd, this, &Looper::onSignal, SOCKET_READABLE);
    stopping_ = false;
    while (!stopping_)
        getRunner().runOnce(-1);
    stopping_ = false;
    if (signalFd >= 0) {
        getRunner().removeSocket(signalFd);
        close(signalFd);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void Looper::onSignal(int fd, int, unsigned) {
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == ssize_t(sizeof info))
        stopping_ = true;
}

bool Looper::isThisProcess(uint32_t service) const {
    return service == 0 || service == serviceId_;
}

bool Looper::validPath(const message& msg) const {
    size_t length = msg.size(MSG_TO);
    return length > 0 && length <= limits_.maxPathLength &&
           msg.size(MSG_FROM) <= limits_.maxPathLength;
}

// ---- Local delivery ----

message Looper::deliver(const message& msg, uint64_t origin) {
    if (!validPath(msg)) return errorMsg(ERR_BAD_REQUEST, "missing or overlong destination path");
    if (!msg.has(MSG_CMD)) return errorMsg(ERR_BAD_REQUEST, "request without command");
    std::vector<uint32_t> to = msg.get(MSG_TO);
    std::vector<uint32_t> local(to.begin() + 1, to.end());
    Handler* handler = nullptr;
    if (local.empty()) {
        handler = this;
    } else if (local.size() == 1) {
        handler = findHandler(local[0]);
    }
    if (!handler) return errorMsg(ERR_NO_HANDLER, "no handler " + pathText(to));
    uint32_t cmd = msg.get(MSG_CMD);
    if (cmd == CMD_SUBSCRIBE || cmd == CMD_UNSUBSCRIBE) {
        return subscribe(local, origin, msg, cmd == CMD_SUBSCRIBE);
    }
    if (handler == this && cmd == CMD_UNDO) return applyUndo();
    if (handler == this && cmd == CMD_UNDO_LIST) return listUndo();
    return handler->handleRequest(msg);
}

message Looper::subscribe(const std::vector<uint32_t>& target, uint64_t origin, const message& msg,
                          bool add) {
    std::vector<uint32_t> from = msg.get(MSG_FROM);
    if (from.empty()) return errorMsg(ERR_BAD_REQUEST, "subscription without sender path");
    auto& list = subscribers_[target];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->connection == origin && it->path == from) {
            if (!add) list.erase(it);
            return message();
        }
    }
    if (!add) return message();
    if (list.size() >= limits_.maxSubscribers) {
        return errorMsg(ERR_BAD_REQUEST, "too many subscribers");
    }
    list.push_back(Subscriber{origin, from});
    return message();
}

void Looper::notifySubscribers(Handler& handler, uint32_t id) {
    auto found = subscribers_.find(handler.localPath());
    if (found == subscribers_.end() || found->second.empty()) return;
    message note = handler.getObject(id);
    note.insert(MSG_CMD, CMD_NOTIFY);
    note.insert(OBJ_ID, id);
    note.insert(MSG_FROM, fullPath(handler.localPath()));
    // Sending may drop a connection and with it its subscriptions: walk a copy.
    std::vector<Subscriber> subscribers = found->second;
    for (const Subscriber& subscriber : subscribers) {
        note.insert(MSG_TO, subscriber.path);
        if (subscriber.connection == 0) {
            defer(0, FrameKind::Message, note);
        } else {
            sendOn(subscriber.connection, FrameKind::Message, note);
        }
    }
}

// ---- Undo history ----

void Looper::recordUndo(Handler& handler, const message& undo, const std::string& text) {
    if (applyingUndo_) return;
    undo_.push_front(UndoStep{handler.localPath(), undo, text});
    while (undo_.size() > limits_.undoDepth)
        undo_.pop_back();
}

message Looper::applyUndo() {
    if (undo_.empty()) return errorMsg(ERR_NOTHING_TO_UNDO, "nothing to undo");
    UndoStep step = std::move(undo_.front());
    undo_.pop_front();
    Handler* handler = step.localPath.empty() ? this : findHandler(step.localPath.front());
    if (!handler) return errorMsg(ERR_NO_HANDLER, "the handler of this undo step is gone");
    message request = step.undo;
    request.insert(MSG_TO, fullPath(step.localPath));
    request.insert(MSG_FROM, fullPath({}));
    bool wasApplying = applyingUndo_;
    applyingUndo_ = true;
    message reply = handler->handleRequest(request);
    applyingUndo_ = wasApplying;
    if (!isError(reply)) reply.insert(MSG_UNDO_TEXT, step.text);
    return reply;
}

message Looper::listUndo() const {
    message reply;
    reply.insert(OBJ_LIST, std::vector<flat_message>{});
    uint32_t position = 0;
    for (const UndoStep& step : undo_) {
        message entry;
        entry.insert(OBJ_ID, position++);
        entry.insert(OBJ_NAME, step.text);
        reply.append(OBJ_LIST, entry);
    }
    return reply;
}

// ---- Sending ----

void Looper::sendMessage(const message& request) {
    route(request, {});
}

message Looper::exchangeMessage(const message& request, uint32_t timeoutMs) {
    return exchange(request, {}, timeoutMs);
}

void Looper::route(const message& msg, const std::vector<uint32_t>& fromLocalPath) {
    message out = msg;
    out.insert(MSG_FROM, fullPath(fromLocalPath));
    if (!validPath(out)) return;
    uint32_t service = out.get(MSG_TO).front();
    if (isThisProcess(service)) {
        defer(0, FrameKind::Message, std::move(out));
        return;
    }
    uint64_t serial = outgoingTo(service);
    if (serial) sendOn(serial, FrameKind::Message, out);
}

std::optional<message> Looper::startRequest(const message& request,
                                            const std::vector<uint32_t>& fromLocalPath,
                                            uint64_t& serial, uint32_t& seq) {
    message out = request;
    out.insert(MSG_FROM, fullPath(fromLocalPath));
    if (!validPath(out) || !out.has(MSG_CMD)) {
        return errorMsg(ERR_BAD_REQUEST, "request without destination or command");
    }
    uint32_t service = out.get(MSG_TO).front();
    if (isThisProcess(service)) return deliver(out, 0);
    // With room for the sequence number the library adds.
    if (out.flatten().bytes.size() + 16 > limits_.maxFrameBytes) {
        return errorMsg(ERR_BAD_REQUEST, "request too large");
    }

    int connectError = 0;
    serial = outgoingTo(service, &connectError);
    if (!serial && (connectError == EACCES || connectError == EPERM)) {
        return errorMsg(ERR_ACCESS_DENIED, "access to service " + std::to_string(service) +
                                               " refused: no permission on " +
                                               servicePath(service));
    }
    if (!serial) return errorMsg(ERR_NO_SERVICE, "no service " + std::to_string(service));
    seq = ++nextSeq_;
    if (seq == 0) seq = ++nextSeq_;  // MSG_SEQ 0 would read as absent
    out.insert(MSG_SEQ, seq);
    Connection* connection = findPeer(serial)->connection.get();
    if (!connection->send(FrameKind::Request, out)) {
        // The service may have refused us and closed before the request left.
        message refusal;
        if (takeRefusal(*connection, limits_.readChunkBytes, refusal)) {
            closePeer(serial, "");
            return refusal;
        }
        closePeer(serial, "service " + std::to_string(service) + " is not reading, dropped");
        return errorMsg(ERR_PEER_CLOSED, "service " + std::to_string(service) + " not reading");
    }
    // A request larger than the socket takes at once leaves with the runner.
    if (connection->hasOutput()) {
        getRunner().setSocketMask(connection->fd(), SOCKET_READABLE | SOCKET_WRITABLE);
    }
    return std::nullopt;
}

std::optional<message> Looper::requestAsync(const message& request, uint32_t timeoutMs,
                                            ReplyHandler done) {
    uint64_t serial = 0;
    uint32_t seq = 0;
    if (std::optional<message> now = startRequest(request, {}, serial, seq)) return now;
    awaiting_[seq] = Awaited{serial, monotonicMillis() + orDefault(timeoutMs, limits_.defaultTimeoutMs),
                             std::move(done)};
    if (!expiryArmed_) {
        expiryArmed_ = true;
        getRunner().addTimer(this, &Looper::expireAwaited, EXPIRY_CHECK_TICKS);
    }
    return std::nullopt;
}

void Looper::answerAwaited(uint64_t serial, message reply) {
    auto found = awaiting_.find(reply.get(MSG_SEQ));
    if (found == awaiting_.end() || found->second.serial != serial) return;  // late or foreign
    ReplyHandler done = std::move(found->second.done);
    awaiting_.erase(found);
    reply.erase(MSG_SEQ.raw());
    done(std::move(reply));
}

void Looper::expireAwaited() {
    expiryArmed_ = false;
    const uint64_t now = monotonicMillis();
    std::vector<ReplyHandler> expired;
    for (auto it = awaiting_.begin(); it != awaiting_.end();) {
        if (it->second.deadline > now) {
            ++it;
            continue;
        }
        expired.push_back(std::move(it->second.done));
        it = awaiting_.erase(it);
    }
    if (!awaiting_.empty()) {
        expiryArmed_ = true;
        getRunner().addTimer(this, &Looper::expireAwaited, EXPIRY_CHECK_TICKS);
    }
    for (ReplyHandler& done : expired)
        done(errorMsg(ERR_TIMEOUT, "no reply within the time-out"));
}

void Looper::handOnLater(uint64_t serial, FrameKind kind, message frame) {
    if (kind != FrameKind::Reply) {
        defer(serial, kind, std::move(frame));
        return;
    }
    // The answer of a request that does not wait is delivered from the
    // runner; the late reply of an exchange that timed out is not.
    auto found = awaiting_.find(frame.get(MSG_SEQ));
    if (found == awaiting_.end() || found->second.serial != serial) return;
    frame.erase(MSG_SEQ.raw());
    completeLater(std::move(found->second.done), std::move(frame));
    awaiting_.erase(found);
}

void Looper::failAwaitedLater(uint64_t serial) {
    for (auto it = awaiting_.begin(); it != awaiting_.end();) {
        if (it->second.serial != serial) {
            ++it;
            continue;
        }
        completeLater(std::move(it->second.done),
                      errorMsg(ERR_PEER_CLOSED, "the service closed the connection"));
        it = awaiting_.erase(it);
    }
}

void Looper::completeLater(ReplyHandler done, message reply) {
    if (completed_.empty()) getRunner().addTimer(this, &Looper::deliverCompleted, 0);
    completed_.emplace_back(std::move(done), std::move(reply));
}

void Looper::deliverCompleted() {
    std::vector<std::pair<ReplyHandler, message>> batch;
    batch.swap(completed_);
    for (auto& [done, reply] : batch)
        done(std::move(reply));
}

message Looper::exchange(const message& request, const std::vector<uint32_t>& fromLocalPath,
                         uint32_t timeoutMs) {
    uint64_t serial = 0;
    uint32_t seq = 0;
    if (std::optional<message> now = startRequest(request, fromLocalPath, serial, seq)) return *now;
    const uint32_t service = request.get(MSG_TO).front();
    Connection* connection = findPeer(serial)->connection.get();

    uint64_t deadline = monotonicMillis() + orDefault(timeoutMs, limits_.defaultTimeoutMs);
    for (;;) {
        // Frames already buffered first: a reply may have come with earlier input.
        FrameKind kind;
        message frame;
        std::string error;
        Connection::Next next;
        while ((next = connection->nextFrame(kind, frame, error)) == Connection::Next::Frame) {
            if (isRefusal(kind, frame)) {
                closePeer(serial, "");
                return frame;
            }
            if (kind == FrameKind::Reply && frame.get(MSG_SEQ) == seq) {
                frame.erase(MSG_SEQ.raw());
                return frame;
            }
            handOnLater(serial, kind, std::move(frame));
        }
        if (next == Connection::Next::Malformed) {
            closePeer(serial, "malformed frame from service " + std::to_string(service) +
                                  ", closing: " + error);
            return errorMsg(ERR_PEER_CLOSED, "malformed reply");
        }
        uint64_t now = monotonicMillis();
        if (now >= deadline) return errorMsg(ERR_TIMEOUT, "no reply within the time-out");
        pollfd wait{connection->fd(), POLLIN, 0};
        if (connection->hasOutput()) wait.events |= POLLOUT;
        int ready = poll(&wait, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 60000)));
        if (ready < 0 && errno != EINTR) {
            closePeer(serial, "");
            return errorMsg(ERR_PEER_CLOSED, "connection failed");
        }
        if (ready <= 0) continue;
        if ((wait.revents & POLLOUT) && !connection->flush()) {
            closePeer(serial, "");
            return errorMsg(ERR_PEER_CLOSED, "service " + std::to_string(service) + " closed");
        }
        if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
            if (connection->readSome(limits_.readChunkBytes) == Connection::ReadResult::Closed) {
                // Whatever arrived before the close still counts.
                while ((next = connection->nextFrame(kind, frame, error)) ==
                       Connection::Next::Frame) {
                    if (isRefusal(kind, frame) ||
                        (kind == FrameKind::Reply && frame.get(MSG_SEQ) == seq)) {
                        frame.erase(MSG_SEQ.raw());
                        closePeer(serial, "");
                        return frame;
                    }
                    handOnLater(serial, kind, std::move(frame));
                }
                closePeer(serial, "");
                return errorMsg(ERR_PEER_CLOSED,
                                "service " + std::to_string(service) + " closed the connection");
            }
        }
    }
}

// ---- Connections ----

Looper::Peer* Looper::findPeer(uint64_t serial) {
    auto found = peers_.find(serial);
    return found == peers_.end() ? nullptr : &found->second;
}

uint64_t Looper::outgoingTo(uint32_t service, int* connectError) {
    auto found = outgoing_.find(service);
    if (found != outgoing_.end()) {
        // A cached connection whose peer went away since is replaced.
        Peer* peer = findPeer(found->second);
        uint64_t serial = found->second;
        if (peer) {
            const bool closed =
                peer->connection->readSome(limits_.readChunkBytes) == Connection::ReadResult::Closed;
            FrameKind kind;
            message frame;
            std::string error;
            Connection::Next next;
            while ((next = peer->connection->nextFrame(kind, frame, error)) ==
                   Connection::Next::Frame) {
                handOnLater(serial, kind, std::move(frame));
            }
            if (!closed && next != Connection::Next::Malformed) return serial;
        }
        closePeer(serial, "");
    }
    int fd = connectService(service);
    if (fd < 0) {
        if (connectError) *connectError = errno;
        return 0;
    }
    if (outgoing_.size() >= limits_.maxOutgoing) closePeer(outgoing_.begin()->second, "");
    return adopt(fd, false, service);
}

uint64_t Looper::adopt(int fd, bool inbound, uint32_t service) {
    uint64_t serial = nextSerial_++;
    Peer peer;
    peer.connection =
        std::make_unique<Connection>(fd, serial, limits_.maxFrameBytes, limits_.maxOutputBytes);
    peer.inbound = inbound;
    peer.service = service;
    if (!getRunner().addSocket(fd, this, &Looper::onConnection, SOCKET_READABLE)) return 0;
    peers_[serial] = std::move(peer);
    peerByFd_[fd] = serial;
    if (inbound) {
        ++inboundCount_;
    } else {
        outgoing_[service] = serial;
    }
    return serial;
}

std::string Looper::describe(const Peer& peer) const {
    if (peer.inbound) return "a client of service " + std::to_string(serviceId_);
    return "service " + std::to_string(peer.service);
}

void Looper::closePeer(uint64_t serial, const std::string& diagnostic) {
    auto found = peers_.find(serial);
    if (found == peers_.end()) return;
    if (!diagnostic.empty()) diagnose(diagnostic);
    Peer& peer = found->second;
    int fd = peer.connection->fd();
    getRunner().removeSocket(fd);
    peerByFd_.erase(fd);
    if (peer.inbound) {
        --inboundCount_;
    } else {
        auto out = outgoing_.find(peer.service);
        if (out != outgoing_.end() && out->second == serial) outgoing_.erase(out);
    }
    for (auto& [target, list] : subscribers_) {
        std::erase_if(list, [serial](const Subscriber& s) { return s.connection == serial; });
    }
    peers_.erase(found);
    failAwaitedLater(serial);
}

bool Looper::sendOn(uint64_t serial, FrameKind kind, const message& msg) {
    Peer* peer = findPeer(serial);
    if (!peer) return false;
    if (!peer->connection->send(kind, msg)) {
        closePeer(serial, describe(*peer) + " is not reading or failed, closing its connection");
        return false;
    }
    if (peer->connection->hasOutput()) {
        getRunner().setSocketMask(peer->connection->fd(), SOCKET_READABLE | SOCKET_WRITABLE);
    }
    return true;
}

void Looper::receiveFrame(uint64_t serial, FrameKind kind, message msg) {
    if (kind == FrameKind::Reply) {
        answerAwaited(serial, std::move(msg));
        return;
    }
    if (!validPath(msg)) {
        if (kind == FrameKind::Request) {
            message reply = errorMsg(ERR_BAD_REQUEST, "missing or overlong path");
            reply.insert(MSG_SEQ, msg.get(MSG_SEQ));
            sendOn(serial, FrameKind::Reply, reply);
        }
        return;
    }
    message reply = deliver(msg, serial);
    if (kind != FrameKind::Request) return;
    reply.insert(MSG_SEQ, msg.get(MSG_SEQ));
    sendOn(serial, FrameKind::Reply, reply);
}

void Looper::onListen(int fd, int, unsigned) {
    for (uint32_t accepted = 0; accepted < limits_.acceptsPerEvent; ++accepted) {
        int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) return;
        // Served: root, this service's own user and a client of the group
        // the run directory lets in; anyone else gets a refusal and the
        // connection closed.
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            length != sizeof peer) {
            close(client);
            diagnose("service " + std::to_string(serviceId_) +
                     ": cannot tell a client's user, refusing it");
            continue;
        }
        const bool ofClientGroup = clientGroup_ && peer.gid == *clientGroup_;
        if (peer.uid != 0 && peer.uid != geteuid() && !ofClientGroup) {
            refuse(client, serviceId_, peer.uid);
            diagnose("service " + std::to_string(serviceId_) +
                     ": refused a connection from uid " + std::to_string(peer.uid));
            continue;
        }
        if (inboundCount_ >= limits_.maxConnections) {
            close(client);
            diagnose("service " + std::to_string(serviceId_) +
                     ": connection limit reached, refusing a client");
            continue;
        }
        if (!adopt(client, true, 0)) close(client);
    }
}

void Looper::onConnection(int fd, int, unsigned events) {
    auto bySerial = peerByFd_.find(fd);
    if (bySerial == peerByFd_.end()) return;
    uint64_t serial = bySerial->second;
    Peer* peer = findPeer(serial);
    Connection* connection = peer->connection.get();
    if (events & SOCKET_WRITABLE) {
        if (!connection->flush()) {
            closePeer(serial, "");
            return;
        }
        if (!connection->hasOutput()) getRunner().setSocketMask(fd, SOCKET_READABLE);
    }
    if (!(events & (SOCKET_READABLE | SOCKET_HANGUP))) return;
    Connection::ReadResult result = connection->readSome(limits_.readChunkBytes);
    FrameKind kind;
    message frame;
    std::string error;
    for (;;) {
        Connection::Next next = connection->nextFrame(kind, frame, error);
        if (next == Connection::Next::NeedMore) break;
        if (next == Connection::Next::Malformed) {
            closePeer(serial, "malformed frame from " + describe(*peer) + ", closing: " + error);
            return;
        }
        receiveFrame(serial, kind, std::move(frame));
        // A handler may have closed this connection (or others) meanwhile.
        peer = findPeer(serial);
        if (!peer) return;
        connection = peer->connection.get();
    }
    if (result == Connection::ReadResult::Closed) closePeer(serial, "");
}

// ---- Deferred delivery ----

void Looper::defer(uint64_t origin, FrameKind kind, message msg) {
    if (deferred_.size() >= limits_.maxDeferred) {
        diagnose("message queue full, dropping a message");
        return;
    }
    deferred_.push_back(Deferred{origin, kind, std::move(msg)});
    if (!deferredArmed_) {
        deferredArmed_ = true;
        getRunner().addTimer(this, &Looper::deliverDeferred, 0);
    }
}

void Looper::deliverDeferred() {
    deferredArmed_ = false;
    std::deque<Deferred> batch;
    batch.swap(deferred_);
    for (Deferred& item : batch) {
        if (item.connection == 0) {
            deliver(item.msg, 0);
        } else if (findPeer(item.connection)) {
            receiveFrame(item.connection, item.kind, std::move(item.msg));
        }
    }
}

}  // namespace orla
