// Prefetched: the instances a subagent sent beyond the one it was asked for
// (a GetBulk's further repetitions), kept for the GetNexts that follow.
//
// The instances of one answer follow each other: each is the subagent's
// answer to the GetNext after the one before it, within the range the
// answer was asked for. A walk that asks for the instance after one of them
// is answered from here, without an exchange, as long as the range still
// ends where it did (no registration came or went in between) and the
// answer is younger than the age given. The instances are kept as they
// came, in one vector per answer, and found by a binary search on their
// names: nothing is encoded, copied or named by a string on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "agentx/pdu.h"

namespace agentx {

class Prefetched {
  public:
    // Answers older than `maxAgeMillis` answer nothing; at most
    // `maxAnswers` answers are kept, over every session.
    Prefetched(uint64_t maxAgeMillis, size_t maxAnswers)
        : maxAgeMillis_(maxAgeMillis), maxAnswers_(maxAnswers) {}

    // Keeps `bindings`, the answer of session `sessionID` to the GetNexts
    // from `asked` on (a GetBulk's repetitions of one range), as it came at
    // `now` (monotonicMillis). What follows an exception, and an instance
    // not after the one before it, are not kept.
    void keep(uint32_t sessionID, const SearchRange& asked, std::vector<VarBind>&& bindings,
              uint64_t now);
    // The instance that session `sessionID` sent after `range.start`, when
    // it was asked within the same range and is still fresh at `now`;
    // nothing for a range that includes its start.
    const VarBind* after(uint32_t sessionID, const SearchRange& range, uint64_t now) const;
    // True when `range.start` is the last instance of a fresh answer of
    // session `sessionID` within the same range: a walk went through it.
    bool walkedThrough(uint32_t sessionID, const SearchRange& range, uint64_t now) const;
    // Forgets what session `sessionID` sent: its registrations changed or it left.
    void forget(uint32_t sessionID);

  private:
    struct Answer {
        OID end;  // of the range asked
        std::vector<VarBind> bindings;
        uint64_t cameAt = 0;
    };
    // By session and the name of the answer's first instance.
    using Key = std::pair<uint32_t, OID>;

    // The instance after `range.start` in `answer`, where `at` is where
    // start is, when the answer holds for the range at `now`.
    const VarBind* following(const Answer& answer, size_t at, const SearchRange& range,
                             uint64_t now) const;

    uint64_t maxAgeMillis_;
    size_t maxAnswers_;
    std::map<Key, Answer> answers_;
    // The instance found last: a walk asks for the one after it next, and
    // finds it without a search. Forgotten whenever answers_ changes.
    mutable const Answer* lastAnswer_ = nullptr;
    mutable uint32_t lastSession_ = 0;
    mutable size_t lastFound_ = 0;
};

}  // namespace agentx
