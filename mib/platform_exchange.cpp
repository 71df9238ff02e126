#include "mib/platform_exchange.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "mib/exchange_waits.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"

namespace serving_detail {
bool mustWait = false;
uint64_t pendingCount = 0;
uint64_t failedCount = 0;
}  // namespace serving_detail

namespace {

PlatformExchange installedExchange = nullptr;
ExchangeStarter installedStarter = nullptr;
AnswerListener installedListener = nullptr;

// Exchanges on their way at once, over every waiting request: beyond, a
// request's exchange fails rather than pile up.
constexpr size_t MAX_IN_FLIGHT = 256;
// An answer serves the requests that waited for it (and others meanwhile)
// this long; a provider's cache lives about as long.
constexpr uint64_t ANSWER_MAX_AGE_MILLIS = 2000;

struct Answer {
    orla::message reply;
    uint64_t cameAt = 0;
};
std::map<std::string, Answer> answers;
std::set<std::string> inFlight;

// The request being served.
bool waiting = false;
bool failing = false;
uint64_t servedRequest = 0;
std::vector<std::string> waitedFor;

using serving_detail::failedCount;
using serving_detail::mustWait;
using serving_detail::pendingCount;

orla::message failure() {
    ++failedCount;
    return orla::errorMsg(orla::ERR_TIMEOUT, "no answer from the platform service");
}

void dropOldAnswers(uint64_t now) {
    std::erase_if(answers, [now](const auto& entry) {
        return now - entry.second.cameAt > ANSWER_MAX_AGE_MILLIS;
    });
}

// The answers of the exchanges mib starts for itself (startFor), by ticket.
std::map<std::string, std::function<void(orla::message)>> ownTickets;
uint64_t ownTicketsIssued = 0;

// The answer of an exchange during a WaitingServe: at hand, failed, or on its way.
orla::message answerOrWait(orla::message const& request) {
    std::string ticket = request.flatten().bytes;
    if (std::optional<orla::message> kept = keptAnswer(ticket)) return *kept;
    const bool started = onItsWay(ticket);
    if (mustFail(started)) return failure();
    if (!started) {
        if (std::optional<orla::message> atHand =
                installedStarter(request, PROVIDER_EXCHANGE_TIMEOUT, ticket))
            return *atHand;
    }
    waitFor(ticket);
    return orla::errorMsg(ERR_ANSWER_PENDING, "answer on its way");
}

}  // namespace

void setPlatformExchange(PlatformExchange exchange) {
    installedExchange = exchange;
}

orla::message platformRequest(uint32_t cmd, std::vector<uint32_t> const& path) {
    orla::message request;
    request.insert(orla::MSG_CMD, cmd);
    request.insert(orla::MSG_TO, path);
    return request;
}

orla::message exchangeWithPlatform(orla::message const& request) {
    if (waiting && installedStarter) return answerOrWait(request);
    if (!installedExchange) return orla::errorMsg(orla::ERR_NO_SERVICE, "no agent service");
    return installedExchange(request, PROVIDER_EXCHANGE_TIMEOUT);
}

void setExchangeStarter(ExchangeStarter start) {
    installedStarter = start;
}

void setAnswerListener(AnswerListener listen) {
    installedListener = listen;
}

void exchangeAnswered(std::string const& ticket, orla::message reply) {
    const auto own = ownTickets.find(ticket);
    if (own != ownTickets.end()) {
        auto done = std::move(own->second);
        ownTickets.erase(own);
        done(std::move(reply));
        return;
    }
    keepAnswer(ticket, std::move(reply));
}

bool mayWait() {
    return waiting && installedStarter;
}

bool mustFail(bool started) {
    return failing || (!started && inFlight.size() >= MAX_IN_FLIGHT);
}

std::optional<orla::message> keptAnswer(const std::string& ticket) {
    const auto found = answers.find(ticket);
    if (found == answers.end() ||
        orla::monotonicMillis() - found->second.cameAt > ANSWER_MAX_AGE_MILLIS)
        return std::nullopt;
    if (answerFailed(found->second.reply)) ++failedCount;
    return found->second.reply;
}

bool onItsWay(const std::string& ticket) {
    return inFlight.count(ticket) > 0;
}

std::optional<orla::message> startFor(const orla::message& request,
                                      std::function<void(orla::message)> done) {
    const std::string ticket = "own:" + std::to_string(++ownTicketsIssued);
    ownTickets[ticket] = std::move(done);
    std::optional<orla::message> atHand =
        installedStarter(request, PROVIDER_EXCHANGE_TIMEOUT, ticket);
    if (atHand) ownTickets.erase(ticket);
    return atHand;
}

void waitFor(const std::string& ticket) {
    inFlight.insert(ticket);
    if (std::find(waitedFor.begin(), waitedFor.end(), ticket) == waitedFor.end())
        waitedFor.push_back(ticket);
    mustWait = true;
    ++pendingCount;
}

void keepAnswer(const std::string& ticket, orla::message reply) {
    inFlight.erase(ticket);
    const uint64_t now = orla::monotonicMillis();
    dropOldAnswers(now);
    answers[ticket] = Answer{std::move(reply), now};
    if (installedListener) installedListener(ticket);
}

void countFailedAnswer() {
    ++failedCount;
}

bool answerFailed(const orla::message& reply) {
    const uint32_t code = orla::getErrorCode(reply);
    return code == orla::ERR_TIMEOUT || code == orla::ERR_PEER_CLOSED;
}

WaitingServe::WaitingServe(bool failUnanswered, uint64_t request) {
    waiting = true;
    failing = failUnanswered;
    servedRequest = request;
    waitedFor.clear();
    mustWait = false;
}

WaitingServe::~WaitingServe() {
    waiting = false;
    failing = false;
    servedRequest = 0;
    mustWait = false;
}

const std::vector<std::string>& WaitingServe::waitsFor() const {
    return waitedFor;
}

NoWaiting::NoWaiting() : wasWaiting_(waiting) {
    waiting = false;
}

NoWaiting::~NoWaiting() {
    waiting = wasWaiting_;
}

uint64_t servingRequest() {
    return servedRequest;
}

void forgetAnswers() {
    answers.clear();
}
