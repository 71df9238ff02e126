#include "agentx/prefetched.h"

#include <algorithm>

#include "agentx/values.h"

namespace agentx {

void Prefetched::keep(uint32_t sessionID, const SearchRange& asked,
                      std::vector<VarBind>&& bindings, uint64_t now) {
    // Each instance answers the GetNext after the one before it, so the
    // names asked after must rise (as the binary search needs them to); an
    // instance that goes back and what follows an exception are not kept.
    if (bindings.empty() || isException(bindings.front().type) ||
        bindings.front().name <= asked.start)
        return;
    size_t usable = 1;
    while (usable < bindings.size()) {
        const VarBind& previous = bindings[usable - 1];
        const VarBind& next = bindings[usable];
        if (isException(previous.type) || (!isException(next.type) && next.name <= previous.name))
            break;
        ++usable;
    }
    if (usable < 2 || maxAnswers_ == 0) return;
    bindings.resize(usable);
    lastAnswer_ = nullptr;

    if (answers_.size() >= maxAnswers_) {
        // The stale go first; when none is, the oldest.
        std::erase_if(answers_, [&](const auto& entry) {
            return now - entry.second.cameAt > maxAgeMillis_;
        });
        if (answers_.size() >= maxAnswers_) {
            answers_.erase(std::min_element(answers_.begin(), answers_.end(),
                                            [](const auto& a, const auto& b) {
                                                return a.second.cameAt < b.second.cameAt;
                                            }));
        }
    }
    Key key{sessionID, bindings.front().name};
    answers_.insert_or_assign(std::move(key), Answer{asked.end, std::move(bindings), now});
}

const VarBind* Prefetched::after(uint32_t sessionID, const SearchRange& range,
                                 uint64_t now) const {
    if (range.include || answers_.empty()) return nullptr;
    if (lastAnswer_ != nullptr && lastSession_ == sessionID &&
        lastAnswer_->bindings[lastFound_].name == range.start) {
        if (const VarBind* next = following(*lastAnswer_, lastFound_, range, now)) return next;
    }
    // The answer whose first instance is the closest at or before the start.
    auto found = answers_.upper_bound(Key{sessionID, range.start});
    if (found == answers_.begin()) return nullptr;
    --found;
    if (found->first.first != sessionID) return nullptr;
    const Answer& answer = found->second;
    // The names asked after are every instance's but the last's.
    const auto last = answer.bindings.end() - 1;
    const auto at = std::lower_bound(answer.bindings.begin(), last, range.start,
                                     [](const VarBind& binding, const OID& name) {
                                         return binding.name < name;
                                     });
    if (at == last || at->name != range.start) return nullptr;
    lastSession_ = sessionID;
    return following(answer, static_cast<size_t>(at - answer.bindings.begin()), range, now);
}

const VarBind* Prefetched::following(const Answer& answer, size_t at, const SearchRange& range,
                                     uint64_t now) const {
    if (at + 1 >= answer.bindings.size() || now - answer.cameAt > maxAgeMillis_ ||
        answer.end != range.end)
        return nullptr;
    lastAnswer_ = &answer;
    lastFound_ = at + 1;
    return &answer.bindings[at + 1];
}

bool Prefetched::walkedThrough(uint32_t sessionID, const SearchRange& range,
                               uint64_t now) const {
    if (range.include) return false;
    auto found = answers_.upper_bound(Key{sessionID, range.start});
    if (found == answers_.begin()) return false;
    --found;
    const Answer& answer = found->second;
    return found->first.first == sessionID && answer.bindings.back().name == range.start &&
           now - answer.cameAt <= maxAgeMillis_ && answer.end == range.end;
}

void Prefetched::forget(uint32_t sessionID) {
    lastAnswer_ = nullptr;
    std::erase_if(answers_, [sessionID](const auto& entry) { return entry.first.first == sessionID; });
}

}  // namespace agentx
