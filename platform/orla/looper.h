// orla::Looper: a service's message loop. It routes requests to its handlers,
// serves them to other processes on its service socket, exchanges messages
// with other services, keeps subscriptions and the undo history, and runs
// the process runner (getRunner()) until it is stopped.
//
// Paths: MSG_TO names a service first (0: this process), then the handler
// inside it (none: the looper itself, which is a Handler too; {1}: the
// handler added with id 1). Deeper paths are answered with ERR_NO_HANDLER.
// The library fills MSG_FROM with the sender's path; a looper that does not
// serve has the service id 0.
//
// The looper answers for every handler CMD_SUBSCRIBE and CMD_UNSUBSCRIBE
// (the subscriber is the request's MSG_FROM, reached through the connection
// the request came on; the subscription ends with that connection), and for
// itself CMD_UNDO and CMD_UNDO_LIST:
//   CMD_UNDO       hands the most recent undo message back to the handler that
//                  recorded it as a request, and answers that handler's reply
//                  with MSG_UNDO_TEXT = the step's description added (an error
//                  reply unchanged). The step leaves the history either way;
//                  ERR_NOTHING_TO_UNDO when the history is empty.
//   CMD_UNDO_LIST  OBJ_LIST of {OBJ_ID = position (0 = most recent), OBJ_NAME = description}.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/orla/handler.h"
#include "platform/orla/ipc_connection.h"
#include "platform/orla/ipc_frame.h"
#include "platform/orla/message.h"

namespace orla {

// The looper's bounds; the constructor takes them in this order, 0 selecting
// the default given in brackets.
struct LooperLimits {
    uint32_t maxConnections;    // clients served at once; more are refused [64]
    uint32_t maxFrameBytes;     // largest frame accepted or sent [1 MiB]
    uint32_t maxOutputBytes;    // unsent bytes per connection before it is dropped [4 MiB]
    uint32_t undoDepth;         // undo history entries; older ones are forgotten [32]
    uint32_t maxSubscribers;    // subscriptions per handler [64]
    uint32_t listenBacklog;     // backlog of the service socket [16]
    uint32_t readChunkBytes;    // bytes read from one connection per event [64 KiB]
    uint32_t acceptsPerEvent;   // clients accepted per event on the service socket [16]
    uint32_t maxOutgoing;       // open connections to other services [32]
    uint32_t maxDeferred;       // queued in-process messages and messages received
                                // during an exchange; more are dropped [1024]
    uint32_t defaultTimeoutMs;  // exchange time-out used when the caller passes 0 [6000]
    uint32_t maxHandlers;       // handlers addHandler accepts [1024]
    uint32_t maxPathLength;     // elements of MSG_TO and MSG_FROM accepted [16]
};

class Looper : public Handler {
  public:
    explicit Looper(uint32_t maxConnections = 0, uint32_t maxFrameBytes = 0,
                    uint32_t maxOutputBytes = 0, uint32_t undoDepth = 0,
                    uint32_t maxSubscribers = 0, uint32_t listenBacklog = 0,
                    uint32_t readChunkBytes = 0, uint32_t acceptsPerEvent = 0,
                    uint32_t maxOutgoing = 0, uint32_t maxDeferred = 0,
                    uint32_t defaultTimeoutMs = 0, uint32_t maxHandlers = 0,
                    uint32_t maxPathLength = 0);
    ~Looper() override;

    const LooperLimits& limits() const { return limits_; }

    // Adds a handler (not owned; it must outlive the looper) under `id`, and
    // tells it its looper and id. False when the id is taken or the limit reached.
    bool addHandler(uint32_t id, Handler* handler);
    Handler* findHandler(uint32_t id) const;

    // Becomes service `serviceId` (not 0), listening on servicePath(serviceId).
    // False, with one line on stderr, when the socket cannot be set up.
    // Only root, this process's effective user and, when the run directory
    // lets its group in (mode 0710, see listenService), a client of that
    // group are served: any other client gets ERR_ACCESS_DENIED and its
    // connection is closed, with one line on stderr naming its uid.
    bool serve(uint32_t serviceId);
    uint32_t serviceId() const { return serviceId_; }

    // Runs the process runner until stop(), SIGTERM or SIGINT (both are blocked
    // and taken through a signalfd while run() lasts; outside run() they keep
    // their usual effect).
    void run();
    void stop() { stopping_ = true; }

    // Recorded for inspection only; the library does not act on it.
    void setupLeave(uint32_t value) { leaveValue_ = value; }
    uint32_t leaveValue() const { return leaveValue_; }

    // Sends the request to MSG_TO and returns the reply, or an error reply:
    // ERR_BAD_REQUEST (no MSG_TO or MSG_CMD, or too large), ERR_NO_SERVICE,
    // ERR_ACCESS_DENIED (the service does not serve this user),
    // ERR_NO_HANDLER, ERR_PEER_CLOSED, ERR_TIMEOUT after timeoutMs (0: the
    // default). Nothing else is served while it waits: messages other than
    // the reply that arrive meanwhile are queued and handled afterwards by the
    // runner. A request for this process is handled at once, in-process.
    message exchangeMessage(const message& request, uint32_t timeoutMs);
    // Sends the request to MSG_TO without waiting for the reply. Answered at
    // once (the reply) when the request is for this process or cannot be
    // sent (the error reply exchangeMessage would give). Otherwise empty, and
    // `done` gets the reply later, from the runner: the service's reply,
    // ERR_TIMEOUT after timeoutMs (0: the default), or ERR_PEER_CLOSED when
    // the connection closes first; exactly once, unless the looper ends first.
    using ReplyHandler = std::function<void(message reply)>;
    std::optional<message> requestAsync(const message& request, uint32_t timeoutMs,
                                        ReplyHandler done);
    // Fire and forget to MSG_TO. Dropped when the service is absent; for this
    // process, delivered later by the runner.
    void sendMessage(const message& request);

    size_t undoCount() const { return undo_.size(); }
    // The path of this looper's handler `localPath` as seen from outside.
    std::vector<uint32_t> fullPath(const std::vector<uint32_t>& localPath) const;

  private:
    friend class Handler;
    struct Peer {
        std::unique_ptr<Connection> connection;
        bool inbound = false;
        uint32_t service = 0;  // outgoing: the service connected to
    };
    struct Subscriber {
        uint64_t connection = 0;  // 0: in this process
        std::vector<uint32_t> path;
    };
    struct UndoStep {
        std::vector<uint32_t> localPath;
        message undo;
        std::string text;
    };
    struct Deferred {
        uint64_t connection = 0;  // 0: sent in this process
        FrameKind kind = FrameKind::Message;
        message msg;
    };
    // A request sent by requestAsync, by its MSG_SEQ.
    struct Awaited {
        uint64_t serial = 0;    // the connection it went out on
        uint64_t deadline = 0;  // monotonicMillis
        ReplyHandler done;
    };
    // How often the time-outs of awaited replies are checked, in clock ticks.
    static constexpr uint32_t EXPIRY_CHECK_TICKS = 5;

    // Called by Handler.
    void notifySubscribers(Handler& handler, uint32_t id);
    void recordUndo(Handler& handler, const message& undo, const std::string& text);
    void route(const message& msg, const std::vector<uint32_t>& fromLocalPath);
    message exchange(const message& request, const std::vector<uint32_t>& fromLocalPath,
                     uint32_t timeoutMs);
    // Sends a request from `fromLocalPath`: empty when it went out on
    // connection `serial` with MSG_SEQ `seq`; otherwise the reply at hand
    // (for this process) or the error reply.
    std::optional<message> startRequest(const message& request,
                                        const std::vector<uint32_t>& fromLocalPath,
                                        uint64_t& serial, uint32_t& seq);
    void answerAwaited(uint64_t serial, message reply);
    void expireAwaited();
    // A frame of connection `serial` read outside the runner's connection
    // callback (by a waiting exchange, or the check of a cached connection):
    // a request or message is served later, an awaited reply handed on from
    // the runner, any other reply dropped.
    void handOnLater(uint64_t serial, FrameKind kind, message frame);
    // The awaited replies of a closed connection fail, from the runner.
    void failAwaitedLater(uint64_t serial);
    void completeLater(ReplyHandler done, message reply);
    void deliverCompleted();

    bool isThisProcess(uint32_t service) const;
    bool validPath(const message& msg) const;
    message deliver(const message& msg, uint64_t origin);
    message subscribe(const std::vector<uint32_t>& target, uint64_t origin, const message& msg,
                      bool add);
    message applyUndo();
    message listUndo() const;

    Peer* findPeer(uint64_t serial);
    // The connection to `service`, opened when there is none; 0 when it
    // cannot be, with connect()'s errno in `connectError` when that failed.
    uint64_t outgoingTo(uint32_t service, int* connectError = nullptr);
    uint64_t adopt(int fd, bool inbound, uint32_t service);
    void closePeer(uint64_t serial, const std::string& diagnostic);
    bool sendOn(uint64_t serial, FrameKind kind, const message& msg);
    void receiveFrame(uint64_t serial, FrameKind kind, message msg);
    void defer(uint64_t origin, FrameKind kind, message msg);
    void deliverDeferred();
    std::string describe(const Peer& peer) const;

    // Runner callbacks.
    void onListen(int fd, int data, unsigned events);
    void onConnection(int fd, int data, unsigned events);
    void onSignal(int fd, int data, unsigned events);

    LooperLimits limits_;
    uint32_t serviceId_ = 0;
    int listenFd_ = -1;
    // Admitted besides root and our own user (see listenService).
    std::optional<gid_t> clientGroup_;
    uint32_t leaveValue_ = 0;
    bool stopping_ = false;
    bool applyingUndo_ = false;
    bool deferredArmed_ = false;
    uint64_t nextSerial_ = 1;
    uint32_t nextSeq_ = 0;
    size_t inboundCount_ = 0;
    std::map<uint32_t, Handler*> handlers_;
    std::map<uint64_t, Peer> peers_;
    std::unordered_map<int, uint64_t> peerByFd_;
    std::map<uint32_t, uint64_t> outgoing_;
    std::map<std::vector<uint32_t>, std::vector<Subscriber>> subscribers_;
    std::deque<UndoStep> undo_;  // most recent first
    std::deque<Deferred> deferred_;
    std::map<uint32_t, Awaited> awaiting_;
    std::vector<std::pair<ReplyHandler, message>> completed_;
    bool expiryArmed_ = false;
};

}  // namespace orla
