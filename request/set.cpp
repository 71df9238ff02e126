#include "request/set.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "mib/platform_exchange.h"
#include "mib/registry.h"
#include "mib/remote_set.h"
#include "platform/orla/throttled_line.h"
#include "platform/snmp/ber.h"
#include "request/reply_size.h"

namespace {

// One line per binding of a Set: throttled, or a manager's Sets of
// thousands of bindings would fill the log.
orla::ThrottledLine setFoundLine("snmpSet found ");

// One binding of a SetRequest between its phases.
struct SetBinding {
    OID name;
    std::vector<unsigned char> value;  // the value's whole BER element
    Leaf* leaf = nullptr;
    RemoteSet* remote = nullptr;  // the leaf, when another process sets it
    OID suffix;        // the name below the leaf's OID
    std::string undo;  // what the leaf kept at commit
};

// The leaf that answers for the binding's name, as for a Get.
bool findLeaf(SetBinding& binding) {
    const auto found = findRegistration(binding.name);
    if (found == leafs.end()) return false;
    setFoundLine.write(found->first);
    binding.leaf = found->second;
    binding.remote = dynamic_cast<RemoteSet*>(found->second);
    binding.suffix = binding.name.suffix(found->first.size());
    return true;
}

// The context one phase of a binding runs in: the value alone to read, and a
// scratch output that nobody reads.
Context phaseContext(SetBinding& binding, const Context& request) {
    Context phase(binding.value.data(), static_cast<unsigned int>(binding.value.size()));
    phase.community = request.community;
    phase.oid = binding.name;
    phase.setPrefix.assign(binding.name.data(), binding.name.size() - binding.suffix.size());
    phase.setSuffix = binding.suffix;
    return phase;
}

// Reads the bindings and writes them into the reply as they came.
bool readBindings(Context& ctx, std::vector<SetBinding>& bindings) {
    while (!ctx.in.isSeqEnd()) {
        SetBinding binding;
        BerElement value;
        if (!ctx.in.enterSeq() || !ctx.in.getOID(binding.name) || !ctx.in.peekElement(value))
            return false;
        const unsigned char* element = ctx.in.data() + value.headerOffset;
        binding.value.assign(element, ctx.in.data() + value.endOffset());
        ctx.in.exitSeq();
        ctx.out.startSeq(ber::SEQUENCE);
        ctx.out.addOID(binding.name);
        ctx.out.add(ctx.in.data() + value.contentOffset, static_cast<unsigned>(value.contentLength),
                    value.tag);
        ctx.out.endSeq();
        bindings.push_back(std::move(binding));
    }
    return true;
}

// The bindings another process sets, by process (mib/remote_set.h).
struct RemoteGroup {
    RemoteSet* set = nullptr;
    std::vector<RemoteBinding> bindings;
    std::vector<unsigned> indexes;  // each binding's index in the request
};

// Where a Set with remote groups stands between its servings: the request
// is served again after each phase's answers, and what it did before is not
// done again.
struct SetProgress {
    enum class Stage { Testing, Committing, Undoing } stage = Stage::Testing;
    PduOutcome failure;  // why it is undone
};
std::map<uint64_t, SetProgress> progressByRequest;
// Requests that wait are bounded (request/parked_requests.h); so is this,
// should a request never be served to its end.
constexpr size_t MAX_SETS_IN_PROGRESS = 128;

// Tests the bindings this process sets, in order: NO_ERROR, a refusal, or
// waiting (servingMustWait) for a platform service.
std::optional<PduOutcome> testLocal(Context& ctx, std::vector<SetBinding>& bindings) {
    for (size_t i = 0; i < bindings.size(); ++i) {
        SetBinding& binding = bindings[i];
        if (binding.remote) continue;
        const unsigned index = static_cast<unsigned>(i + 1);
        Context phase = phaseContext(binding, ctx);
        const uint64_t failuresBefore = failedAnswers();
        const snmp::ErrorStatus status = binding.leaf->testSet(phase);
        if (failedAnswers() != failuresBefore) return PduOutcome{snmp::ErrorStatus::GEN_ERR, index};
        // Tested again, whole, once the answer came: nothing is committed now.
        if (servingMustWait()) return std::nullopt;
        if (status != snmp::ErrorStatus::NO_ERROR) return PduOutcome{status, index};
    }
    return PduOutcome{};
}

// Commits the bindings this process sets, in order; when one fails, puts
// back those before it, newest first.
PduOutcome commitLocal(Context& ctx, std::vector<SetBinding>& bindings) {
    // A commit reaches its service before the reply says it was made.
    const NoWaiting commitsWait;
    for (size_t i = 0; i < bindings.size(); ++i) {
        if (bindings[i].remote) continue;
        Context phase = phaseContext(bindings[i], ctx);
        const snmp::ErrorStatus status = bindings[i].leaf->commitSet(phase, bindings[i].undo);
        if (status == snmp::ErrorStatus::NO_ERROR) continue;
        bool undone = true;
        for (size_t j = i; j-- > 0;) {
            if (bindings[j].remote) continue;
            Context undoPhase = phaseContext(bindings[j], ctx);
            undone = bindings[j].leaf->undoSet(undoPhase, bindings[j].undo) && undone;
        }
        if (!undone) return PduOutcome{snmp::ErrorStatus::UNDO_FAILED, 0};
        return PduOutcome{status, static_cast<unsigned>(i + 1)};
    }
    return PduOutcome{};
}

// Runs `phase` in every group at once. Waiting while any answer is on its
// way; otherwise the refusal of the lowest index, where a group that gave
// no answer refuses with `unanswered` at its first binding.
std::optional<PduOutcome> runRemote(std::vector<RemoteGroup>& groups, uint64_t request,
                                    RemotePhase phase, snmp::ErrorStatus unanswered) {
    bool waiting = false;
    PduOutcome first;
    for (RemoteGroup& group : groups) {
        const RemoteAnswer answer = group.set->runPhase(request, phase, group.bindings);
        PduOutcome refusal;
        if (answer.state == RemoteAnswer::State::Waiting) {
            waiting = true;
        } else if (answer.state == RemoteAnswer::State::Failed) {
            refusal = PduOutcome{unanswered, group.indexes.front()};
        } else if (answer.status != snmp::ErrorStatus::NO_ERROR) {
            const bool named = answer.index >= 1 && answer.index <= group.indexes.size();
            refusal = PduOutcome{answer.status, group.indexes[named ? answer.index - 1 : 0]};
        }
        if (refusal.status != snmp::ErrorStatus::NO_ERROR &&
            (first.status == snmp::ErrorStatus::NO_ERROR || refusal.index < first.index))
            first = refusal;
    }
    if (waiting) return std::nullopt;
    return first;
}

// A Set whose bindings other processes set too: every binding is tested
// (here, then in each process), each process commits, then this one; a
// failure after a process committed undoes it there (RFC 2741 7.2.4).
std::optional<PduOutcome> serveRemoteSet(Context& ctx, std::vector<SetBinding>& bindings,
                                         std::vector<RemoteGroup>& groups) {
    const uint64_t request = servingRequest();
    if (progressByRequest.size() >= MAX_SETS_IN_PROGRESS && !progressByRequest.count(request))
        progressByRequest.erase(progressByRequest.begin());
    SetProgress& progress = progressByRequest[request];
    using Stage = SetProgress::Stage;
    auto finish = [&](PduOutcome outcome) {
        for (RemoteGroup& group : groups)
            group.set->endSet(request);
        progressByRequest.erase(request);
        return outcome;
    };
    auto undo = [&](PduOutcome failure) -> std::optional<PduOutcome> {
        progress.stage = Stage::Undoing;
        progress.failure = failure;
        const std::optional<PduOutcome> undone =
            runRemote(groups, request, RemotePhase::Undo, snmp::ErrorStatus::UNDO_FAILED);
        if (!undone) return PduOutcome{};  // waits
        if (undone->status != snmp::ErrorStatus::NO_ERROR)
            return finish(PduOutcome{snmp::ErrorStatus::UNDO_FAILED, 0});
        return finish(progress.failure);
    };
    if (progress.stage == Stage::Undoing) return undo(progress.failure);

    // Tested again each time, so that what is committed was tested last.
    const std::optional<PduOutcome> tested = testLocal(ctx, bindings);
    if (!tested) return PduOutcome{};  // waits
    if (tested->status != snmp::ErrorStatus::NO_ERROR) {
        if (progress.stage == Stage::Committing) return undo(*tested);
        return finish(*tested);
    }
    if (progress.stage == Stage::Testing) {
        const std::optional<PduOutcome> remoteTested =
            runRemote(groups, request, RemotePhase::Test, snmp::ErrorStatus::GEN_ERR);
        if (!remoteTested) return PduOutcome{};
        if (remoteTested->status != snmp::ErrorStatus::NO_ERROR) return finish(*remoteTested);
        progress.stage = Stage::Committing;
    }
    const std::optional<PduOutcome> committed =
        runRemote(groups, request, RemotePhase::Commit, snmp::ErrorStatus::COMMIT_FAILED);
    if (!committed) return PduOutcome{};
    // RFC 3416 4.2.5: an assignment that fails after every test passed.
    if (committed->status != snmp::ErrorStatus::NO_ERROR)
        return undo(PduOutcome{snmp::ErrorStatus::COMMIT_FAILED, committed->index});
    const PduOutcome local = commitLocal(ctx, bindings);
    if (local.status != snmp::ErrorStatus::NO_ERROR) return undo(local);
    return finish(PduOutcome{});
}

}  // namespace

std::optional<PduOutcome> serveSet(Context& ctx, bool allowed, size_t replyLimit,
                                   const View* view) {
    std::vector<SetBinding> bindings;
    if (!readBindings(ctx, bindings)) return std::nullopt;
    if (!replyFits(ctx.out, replyLimit)) return PduOutcome{snmp::ErrorStatus::TOO_BIG, 0};
    if (bindings.empty()) return PduOutcome{};
    if (!allowed) return PduOutcome{snmp::ErrorStatus::NO_ACCESS, 1};
    for (size_t i = 0; view != nullptr && i < bindings.size(); ++i) {
        if (!view->includes(bindings[i].name))
            return PduOutcome{snmp::ErrorStatus::NO_ACCESS, static_cast<unsigned>(i + 1)};
    }

    std::vector<RemoteGroup> groups;
    for (size_t i = 0; i < bindings.size(); ++i) {
        const unsigned index = static_cast<unsigned>(i + 1);
        if (!findLeaf(bindings[i])) return PduOutcome{snmp::ErrorStatus::NOT_WRITABLE, index};
        RemoteSet* remote = bindings[i].remote;
        if (remote == nullptr) continue;
        auto group = std::find_if(groups.begin(), groups.end(), [remote](const RemoteGroup& g) {
            return g.set->setGroup() == remote->setGroup();
        });
        if (group == groups.end()) group = groups.insert(groups.end(), RemoteGroup{remote, {}, {}});
        group->bindings.push_back(RemoteBinding{bindings[i].name, bindings[i].value});
        group->indexes.push_back(index);
    }
    if (!groups.empty()) return serveRemoteSet(ctx, bindings, groups);

    const std::optional<PduOutcome> tested = testLocal(ctx, bindings);
    if (!tested) return PduOutcome{};
    if (tested->status != snmp::ErrorStatus::NO_ERROR) return tested;
    return commitLocal(ctx, bindings);
}
