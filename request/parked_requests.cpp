#include "request/parked_requests.h"

#include <algorithm>
#include <utility>

#include "mib/platform_exchange.h"
#include "request/dispatch.h"

namespace {

ParkedRequests* listening = nullptr;

// The counters a request moves. A request counts once, when it arrived: its
// serving again leaves them as they were.
struct Counters {
    explicit Counters(const V3ServerInfo& engine)
        : inPackets(engine.inPackets), dropped(engine.dropped) {
        std::copy(std::begin(engine.usmStats), std::end(engine.usmStats), usmStats);
    }
    void restore(V3ServerInfo& engine) const {
        engine.inPackets = inPackets;
        engine.dropped = dropped;
        std::copy(std::begin(usmStats), std::end(usmStats), engine.usmStats);
    }
    uint32_t inPackets;
    MessageDrops dropped;
    uint32_t usmStats[usm::REPORT_REASONS];
};

}  // namespace

ParkedRequests::ParkedRequests(const CommunityKeep& communities, V3ServerInfo& engine,
                               const RequestRules& rules, Send send)
    : communities_(communities), engine_(engine), rules_(rules), send_(std::move(send)) {
    listening = this;
    setAnswerListener(&ParkedRequests::answerCame);
}

ParkedRequests::~ParkedRequests() {
    if (listening != this) return;
    listening = nullptr;
    setAnswerListener(nullptr);
    forgetAnswers();
}

bool ParkedRequests::serve(Context& ctx, std::span<const unsigned char> datagram,
                           SourceAddress source, std::span<const unsigned char> peer,
                           std::span<const unsigned char> control) {
    const AnswerShape shape = answerShape(datagram, engine_.engineID);
    if (shape != AnswerShape::NotAnAnswer) {
        if (takeResponse_ && takeResponse_(datagram, peer)) {
            ++engine_.inPackets;
            return false;
        }
        if (shape == AnswerShape::CommunityResponse) {
            ++engine_.inPackets;
            ++engine_.dropped.unknownPduHandlers;
            return false;
        }
    }
    bool replied = false;
    std::vector<std::string> waitsFor;
    ctx.reset(datagram.data(), static_cast<unsigned>(datagram.size()));
    const uint64_t request = ++requestsServed_;
    {
        WaitingServe serving(false, request);
        replied = createReply(ctx, source, communities_, engine_, rules_);
        if (serving.waitsFor().empty()) return replied;
        waitsFor = serving.waitsFor();
    }
    if (parked_.size() >= MAX_PARKED) {
        serveAgain(parked_.front(), true);
        parked_.pop_front();
    }
    parked_.push_back(Parked{{datagram.begin(), datagram.end()},
                             source,
                             {{peer.begin(), peer.end()}, {control.begin(), control.end()}},
                             {waitsFor.begin(), waitsFor.end()},
                             0,
                             request});
    return false;
}

bool ParkedRequests::serveAgain(Parked& parked, bool fail) {
    const Counters counted(engine_);
    bool replied = false;
    std::vector<std::string> waitsFor;
    {
        WaitingServe serving(fail || parked.rounds >= MAX_ROUNDS, parked.request);
        again_.reset(parked.datagram.data(), static_cast<unsigned>(parked.datagram.size()));
        replied = createReply(again_, parked.source, communities_, engine_, rules_);
        waitsFor = serving.waitsFor();
    }
    counted.restore(engine_);
    if (!waitsFor.empty()) {
        parked.waitsFor = {waitsFor.begin(), waitsFor.end()};
        ++parked.rounds;
        return false;
    }
    if (replied) send_(parked.replyTo, {again_.out.data(), again_.out.size()});
    return true;
}

void ParkedRequests::answerCame(const std::string& ticket) {
    if (!listening) return;
    ParkedRequests& self = *listening;
    for (Parked& parked : self.parked_)
        parked.waitsFor.erase(ticket);
    // Served in the order they came; one that waits again stays in its place.
    std::erase_if(self.parked_, [&self](Parked& parked) {
        return parked.waitsFor.empty() && self.serveAgain(parked, false);
    });
    if (self.parked_.empty()) forgetAnswers();
}
