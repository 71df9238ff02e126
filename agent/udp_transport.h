// The agent's UDP transport: the socket on port 161 (dual-stack IPv6, or
// IPv4 alone where the host has no IPv6), read in batches, gathered under
// load, each reply sent from the address its request was sent to. A request
// that waits for a platform service is put aside (request/parked_requests.h)
// and answered from here once it is served again.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "community/community_keep.h"
#include "platform/snmp/v3_server_info.h"
#include "request/dispatch.h"
#include "request/parked_requests.h"
#include "trap/notify_targets.h"

class UdpTransport {
  public:
    // Each datagram is answered by createReply against `communities`,
    // `engine` and `rules` (whose counters also count the datagrams dropped here);
    // `batchServed` runs after each batch, once its replies are out. The
    // receive buffers and datagram slots are static: one transport is open
    // at a time.
    UdpTransport(const CommunityKeep& communities, V3ServerInfo& engine,
                 const RequestRules& rules, std::function<void()> batchServed);
    ~UdpTransport();
    UdpTransport(const UdpTransport&) = delete;
    UdpTransport& operator=(const UdpTransport&) = delete;

    // Opens and registers the socket with the event loop's runner; does
    // nothing when it is open. When no socket opens (the port is taken, say)
    // it writes one line on the standard error stream and stays closed, and
    // a later call tries again.
    void open();
    // Unregisters and closes the socket; does nothing when it is closed.
    // A held socket stays bound: it is only no longer served.
    void close();
    bool isOpen() const { return open_; }
    // Binds the socket now, served or not, and keeps it bound from then on,
    // so that a process that gives up the right to bind port 161 can still
    // be disabled and enabled again. False when no socket opens.
    bool hold();

    // Sends `message` to `to` from the socket on port 161, where its answer
    // comes back (the agent's informs). False when the socket is closed, or
    // is IPv4 only and `to` is IPv6, or the kernel refuses.
    bool sendTo(const Endpoint& to, std::span<const unsigned char> message);
    // The answers to the agent's own messages received (its informs and
    // their SNMPv3 discovery, request/dispatch.h AnswerShape) go to `taker`.
    void takeResponsesWith(ResponseTaker taker) { parked_.takeResponsesWith(std::move(taker)); }

    static constexpr unsigned REQUEST_BATCH = 16;
    static constexpr long LINGER_MICROSECONDS = 1000;
    static constexpr uint64_t LINGER_BUDGET_MILLIS = 2;
    static constexpr unsigned GATHER_ROUNDS = 32;
    static constexpr unsigned GATHER_MIN = 3;
    static constexpr unsigned GATHER_TARGET = 8;
    static constexpr unsigned GATHER_TRIAL_INTERVAL = 128;
    // A pause lasts GATHER_NANOSECONDS at first; while requests come slowly
    // it doubles, up to GATHER_MAX_NANOSECONDS, plus the kernel's timer
    // slack (up to 50 us by default): the most that gathering adds to a
    // request's latency.
    static constexpr long GATHER_NANOSECONDS = 20000;
    static constexpr long GATHER_MAX_NANOSECONDS = 200000;

  private:
    // The socket-readable callback: serves the datagrams waiting on the
    // socket, each with at most one reply, and waits a moment for more.
    void receive(int fd, int data, unsigned events);
    // Takes up to REQUEST_BATCH waiting datagrams in one read, serves each
    // and sends the replies in one write. Returns how many it took.
    // `readFlags`: MSG_DONTWAIT, or MSG_WAITFORONE to wait for the first
    // datagram as long as the socket's receive timeout.
    unsigned serveBatch(int fd, int readFlags);
    // Sends the reply of a request served again, as serveBatch would have.
    void sendLater(const ParkedRequests::ReplyTo& to, std::span<const unsigned char> reply);
    // Under load: lets requests gather in pauses and serves them together.
    // `served` is how many the read that found the load took.
    void gather(int fd, unsigned served);

    V3ServerInfo& engine_;
    std::function<void()> batchServed_;
    ParkedRequests parked_;
    int fd_ = -1;
    int family_ = 0;  // of the open socket: AF_INET6 (dual-stack) or AF_INET
    bool open_ = false;
    bool held_ = false;
    bool readsLinger_ = false;  // the socket's receive timeout is set
    unsigned wakeupsSinceGathering_ = 0;
};
