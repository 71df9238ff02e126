// The AgentX master (RFC 2741): subagents connect to its Unix stream socket,
// open sessions and register subtrees, which join the object tree as
// SubagentLeaf registrations; requests reach them through the registry's one
// lookup and wait for their answers without blocking the agent.
//
// It runs in the agent's event loop (orla::getRunner()): it reads and writes
// only when the socket is ready, and a subagent that does not answer within
// its time-out costs the request a genErr and, after repeated time-outs,
// its session. A session that closes or whose connection breaks takes its
// registrations with it at once. Bounded: sessions, registrations, index
// allocations, the bytes buffered per session and the answers prefetched.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agentx/pdu.h"
#include "agentx/prefetched.h"
#include "agentx/subagent_leaf.h"

namespace agentx {

// Where subagents find the master, unless told otherwise.
inline constexpr const char* DEFAULT_SOCKET_PATH = "/orla/run/agentx";

struct MasterLimits {
    size_t maxSessions = 32;
    size_t maxRegistrations = 1024;  // over every session, a range counting per subtree
    size_t maxIndexes = 1024;        // index allocations over every session
    size_t maxCapabilities = 64;     // AgentCaps (sysORTable rows) per session
    size_t maxOutputBytes = 1 << 20; // unsent per session, beyond which it is closed
    // Sets in progress, over every session: beyond, the oldest is ended.
    size_t maxSets = 128;
    // RFC 2741 7.1.1: the master's default time-out, for a session that names none.
    uint32_t defaultTimeoutMillis = 1000;
    // Requests unanswered in a row after which a session is closed.
    unsigned timeoutsToClose = 3;
    // A GetBulk's instances beyond the first answer a walk's next GetNexts
    // this long, as a platform service's answers are kept; at most this
    // many answers are kept so, over every session.
    uint32_t prefetchMaxAgeMillis = 2000;
    size_t maxPrefetchedAnswers = 64;
};

class Master : public Forwarder {
  public:
    // What a subagent's Notify hands on: its bindings, snmpTrapOID.0 among them.
    using NotifySink = std::function<void(const std::vector<VarBind>& bindings)>;

    explicit Master(NotifySink notify, MasterLimits limits = {});
    ~Master();
    Master(const Master&) = delete;
    Master& operator=(const Master&) = delete;

    // Listens on `path`, replacing a stale socket file: mode 0600, so only
    // root and the agent's own user may connect, which accept checks again
    // (SO_PEERCRED); with `group`, mode 0660 and that group, whose processes
    // are admitted too (lldpd's subagent runs as its own user and group).
    // False with `error` set when it cannot.
    bool listen(const std::string& path, std::optional<gid_t> group, std::string& error);
    // Closes every session (reason shutdown), their registrations with them,
    // and the socket.
    void close();

    bool forward(uint32_t sessionID, PduType type, const SearchRange& range,
                 uint16_t repetitions, uint32_t timeoutMillis) override;
    RemoteAnswer runSetPhase(uint32_t sessionID, uint64_t request, RemotePhase phase,
                             std::span<const RemoteBinding> bindings,
                             uint32_t timeoutMillis) override;
    void endSet(uint32_t sessionID, uint64_t request) override;
    const VarBind* prefetched(uint32_t sessionID, const SearchRange& range) const override;

    size_t sessionCount() const { return sessions_.size(); }
    size_t registrationCount() const { return registrations_.size(); }

  private:
    struct Session {
        int fd = -1;
        uint32_t id = 0;
        bool opened = false;
        bool networkOrder = true;  // the byte order of its Open, kept for our requests
        uint32_t timeoutMillis = 0;
        unsigned timeoutsInARow = 0;
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        bool waitsToWrite = false;  // the socket was full: written to when writable
        // AddAgentCaps, by sysORID, with their descriptions: rows of sysORTable.
        std::map<OID, std::string> capabilities;
    };
    struct Registration {
        uint32_t sessionID = 0;
        // As registered, for Unregister to name it again.
        OID registered;
        uint8_t rangeSubid = 0;
        uint32_t upperBound = 0;
        uint8_t priority = 0;
        OID subtree;  // the registry key: one subtree of a range
        std::unique_ptr<SubagentLeaf> leaf;
        bool installed = false;
    };
    struct Pending {
        uint32_t sessionID = 0;
        // As the leaf asked it: Get or GetNext, or a phase of a Set.
        PduType type = PduType::Get;
        SearchRange range;
        uint64_t deadline = 0;  // monotonicMillis
        uint64_t setRequest = 0;  // of a Set's phase
    };
    // One request's Set in one session (RFC 2741 7.2.4).
    struct SetState {
        uint32_t transactionID = 0;
        std::optional<RemoteAnswer> answers[3];  // by RemotePhase
        bool testSent = false;
        bool commitSent = false;
        std::optional<PduType> onItsWay;
    };
    struct Index {
        uint32_t sessionID = 0;
    };

    void onListen(int fd, int data, unsigned events);
    void onSession(int fd, int data, unsigned events);
    void checkTimeouts();
    void closeScheduled();
    // Writes what the sessions were sent during this turn of the event loop.
    void flushScheduled();

    // Reads what is there; false when the session is to be closed.
    bool readFrom(Session& session);
    bool flush(Session& session);
    void send(Session& session, const Pdu& pdu);
    void respond(Session& session, const Pdu& request, ResponseError error,
                 uint16_t index = 0, std::vector<VarBind> bindings = {});
    // Serves one frame; false when the session is to be closed.
    bool serve(Session& session, Pdu& pdu);
    ResponseError registerSubtree(Session& session, const Pdu& pdu);
    ResponseError unregisterSubtree(Session& session, const Pdu& pdu);
    ResponseError allocateIndexes(Session& session, const Pdu& pdu, bool allocate,
                                  std::vector<VarBind>& answered);
    void answerSet(const Pending& asked, const Pdu& response);
    // Keeps `answer` as what the Set's phase `asked` came to (a time-out:
    // failed); false when that Set ended meanwhile.
    bool settle(const Pending& asked, RemoteAnswer answer);
    // The ticket under which the request that asked waits for the answer.
    static std::string ticketFor(const Pending& pending);
    void armTimeouts();
    void answer(Session& session, Pdu& response);
    // Puts the best registration of `subtree` into the registry (RFC 2741
    // 7.1.5.1: of equal subtrees, the best priority).
    void install(const OID& subtree);
    // Tells every subagent's leaf that registrations came or went.
    void registryChanged();
    // Closes the session now; `reason` is sent first unless the connection broke.
    void closeSession(uint32_t sessionID, std::optional<CloseReason> reason);
    // Closes it from the event loop, outside the request being served.
    void scheduleClose(uint32_t sessionID, CloseReason reason);

    NotifySink notify_;
    MasterLimits limits_;
    int listenFd_ = -1;
    std::string path_;
    std::optional<gid_t> group_;
    uint32_t nextSessionID_ = 1;
    uint32_t nextPacketID_ = 1;
    std::map<uint32_t, Session> sessions_;
    std::map<int, uint32_t> sessionByFd_;
    std::vector<std::unique_ptr<Registration>> registrations_;
    std::map<uint32_t, Pending> pending_;  // by packet ID
    std::map<std::pair<uint64_t, uint32_t>, SetState> sets_;  // by request and session
    uint32_t nextTransactionID_ = 1;
    Prefetched prefetched_;
    std::map<std::pair<OID, std::string>, Index> indexes_;  // by name and value octets
    std::map<uint32_t, CloseReason> toClose_;
    std::vector<uint32_t> toFlush_;  // sessions with output not written yet
    bool timeoutsArmed_ = false;
};

}  // namespace agentx
