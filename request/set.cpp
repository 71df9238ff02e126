#include "request/set.h"

#include <string>
#include <vector>

#include "mib/platform_exchange.h"
#include "mib/registry.h"
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
    OID suffix;        // the name below the leaf's OID
    std::string undo;  // what the leaf kept at commit
};

// The leaf that answers for the binding's name, as for a Get.
bool findLeaf(SetBinding& binding) {
    const auto found = findRegistration(binding.name);
    if (found == leafs.end()) return false;
    setFoundLine.write(found->first);
    binding.leaf = found->second;
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

    for (size_t i = 0; i < bindings.size(); ++i) {
        const unsigned index = static_cast<unsigned>(i + 1);
        if (!findLeaf(bindings[i])) return PduOutcome{snmp::ErrorStatus::NOT_WRITABLE, index};
        Context phase = phaseContext(bindings[i], ctx);
        const uint64_t failuresBefore = failedAnswers();
        const snmp::ErrorStatus status = bindings[i].leaf->testSet(phase);
        if (failedAnswers() != failuresBefore) return PduOutcome{snmp::ErrorStatus::GEN_ERR, index};
        // Tested again, whole, once the answer came: nothing is committed now.
        if (servingMustWait()) return PduOutcome{};
        if (status != snmp::ErrorStatus::NO_ERROR) return PduOutcome{status, index};
    }
    // A commit reaches its service before the reply says it was made.
    const NoWaiting commitsWait;
    for (size_t i = 0; i < bindings.size(); ++i) {
        Context phase = phaseContext(bindings[i], ctx);
        const snmp::ErrorStatus status = bindings[i].leaf->commitSet(phase, bindings[i].undo);
        if (status == snmp::ErrorStatus::NO_ERROR) continue;
        // Put back what the bindings before this one changed, newest first.
        bool undone = true;
        for (size_t j = i; j-- > 0;) {
            Context undoPhase = phaseContext(bindings[j], ctx);
            undone = bindings[j].leaf->undoSet(undoPhase, bindings[j].undo) && undone;
        }
        if (!undone) return PduOutcome{snmp::ErrorStatus::UNDO_FAILED, 0};
        return PduOutcome{status, static_cast<unsigned>(i + 1)};
    }
    return PduOutcome{};
}
