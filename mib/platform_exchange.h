// Exchanges with platform services: how providers reach the services whose
// data they serve.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/orla/message.h"

// The time-out of every exchange a provider makes with a platform service.
inline constexpr uint32_t PROVIDER_EXCHANGE_TIMEOUT = 6000;

// How providers reach platform services: sends `request` (MSG_TO and MSG_CMD
// set) and returns the reply, or an error reply, waiting for it at most the
// time-out. The agent installs its own at start-up.
using PlatformExchange = orla::message (*)(orla::message const& request, uint32_t timeout);
void setPlatformExchange(PlatformExchange exchange);

// Sends `request` through the installed exchange with the providers'
// time-out; an error reply while none is installed.
orla::message exchangeWithPlatform(orla::message const& request);

// A request of command `cmd` to the handler at `path`: MSG_CMD and MSG_TO
// set, for the caller to add its fields to.
orla::message platformRequest(uint32_t cmd, std::vector<uint32_t> const& path);

// ---- Requests that wait ----
//
// The agent serves requests on one thread, and a platform service may be slow
// or stopped. So while a request is served under a WaitingServe, an exchange
// whose answer is not at hand does not block: exchangeWithPlatform starts it
// through the installed ExchangeStarter and at once answers an error reply
// with the code ERR_ANSWER_PENDING. What the caller builds of it is not kept
// (CacheUpdateTimeout drops it), the agent puts the request aside with the
// exchanges it waits for and serves others meanwhile; when the answers came
// (exchangeAnswered), it serves the request again, and the same exchanges
// are then answered at once from what came. An answer that is a time-out or
// a closed connection counts as failed (failedAnswers): the request is then
// answered genErr, and no cache keeps what was built of it either.

// The error code of the answer of an exchange that is on its way.
inline constexpr uint32_t ERR_ANSWER_PENDING = 0xfe0100;

// Starts `request` without waiting. Returns the answer when it is at hand
// (a service in this process, or an error); otherwise nothing, and the answer
// comes later through exchangeAnswered(ticket, ...).
using ExchangeStarter = std::optional<orla::message> (*)(orla::message const& request,
                                                         uint32_t timeout,
                                                         std::string const& ticket);
void setExchangeStarter(ExchangeStarter start);

// Told of each answer that came, with its ticket.
using AnswerListener = void (*)(std::string const& ticket);
void setAnswerListener(AnswerListener listen);

// The answer of the exchange started with `ticket`.
void exchangeAnswered(std::string const& ticket, orla::message reply);

// While it lives, the request being served may wait (see above). With
// `failUnanswered`, an exchange not answered yet is not started but fails:
// for a request that waited too long or too often. `request` names the
// request, the same each time it is served again: what it started with
// another process (a Set's transaction) is kept under it.
class WaitingServe {
  public:
    explicit WaitingServe(bool failUnanswered = false, uint64_t request = 0);
    ~WaitingServe();
    WaitingServe(const WaitingServe&) = delete;
    WaitingServe& operator=(const WaitingServe&) = delete;

    // The tickets of the exchanges the request waits for: empty when it was
    // served whole.
    const std::vector<std::string>& waitsFor() const;
};

// While it lives (inside a WaitingServe), exchanges wait for their answer
// again: a Set's commits must reach the service before the reply says so.
class NoWaiting {
  public:
    NoWaiting();
    ~NoWaiting();
    NoWaiting(const NoWaiting&) = delete;
    NoWaiting& operator=(const NoWaiting&) = delete;

  private:
    bool wasWaiting_;
};

// What the request being served came to so far; read on every binding, so
// kept where the reads inline. Changed only by the functions above.
namespace serving_detail {
extern bool mustWait;
extern uint64_t pendingCount;
extern uint64_t failedCount;
}  // namespace serving_detail

// True when the request being served waits for an exchange: what it answers
// from here on is not sent, so a walk may stop.
inline bool servingMustWait() {
    return serving_detail::mustWait;
}
// How many exchanges went pending so far: a cache compares it around its fill.
inline uint64_t pendingExchanges() {
    return serving_detail::pendingCount;
}
// How many failed answers requests took so far: a request compares it around
// a binding, which is genErr when it moved.
inline uint64_t failedAnswers() {
    return serving_detail::failedCount;
}
// The request being served, as its WaitingServe names it; 0 outside one.
uint64_t servingRequest();
// Drops the answers kept for requests that waited; the agent calls it once
// none waits any more.
void forgetAnswers();
