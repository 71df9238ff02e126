#include "community/view.h"

#include <algorithm>

namespace {

// RFC 2578 3.5: a message carries OIDs of at most 128 arcs.
constexpr size_t MAX_ARCS = 128;

bool isWildcard(const View::Family& family, size_t arc) {
    const size_t octet = arc / 8;
    if (octet >= family.mask.size()) return false;
    return (family.mask[octet] & (0x80 >> (arc % 8))) == 0;
}

bool matches(const View::Family& family, const OID& name) {
    if (name.size() < family.subtree.size()) return false;
    for (size_t arc = 0; arc < family.subtree.size(); ++arc) {
        if (name[arc] != family.subtree[arc] && !isWildcard(family, arc)) return false;
    }
    return true;
}

// The subtree every name a family matches lies in: its arcs up to the
// first wildcard.
OID span(const View::Family& family) {
    OID root = family.subtree;
    for (size_t arc = 0; arc < family.subtree.size(); ++arc) {
        if (isWildcard(family, arc)) {
            root.truncate(arc);
            break;
        }
    }
    return root;
}

// The greatest name of the subtree of `root`.
OID lastBelow(const OID& root) {
    OID last = root;
    while (last.size() < MAX_ARCS)
        last += UINT32_MAX;
    return last;
}

// The greatest name before `name` (non-empty), so that the next name after
// it is `name` itself.
OID justBefore(const OID& name) {
    OID before = name;
    if (name.back() == 0) {
        before.popBack();
        return before;
    }
    before.popBack();
    before += name.back() - 1;
    return lastBelow(before);
}

}  // namespace

View::View(std::vector<Family> families) : families_(std::move(families)) {
    for (const Family& family : families_) {
        for (size_t arc = 0; arc < family.subtree.size() && !masked_; ++arc)
            masked_ = isWildcard(family, arc);
    }
}

const View::Family* View::decider(const OID& name) const {
    const Family* best = nullptr;
    for (const Family& family : families_) {
        if (!matches(family, name)) continue;
        if (best == nullptr || family.subtree.size() > best->subtree.size() ||
            (family.subtree.size() == best->subtree.size() && family.subtree > best->subtree))
            best = &family;
    }
    return best;
}

bool View::includes(const OID& name) const {
    const Family* family = decider(name);
    return family != nullptr && family->included;
}

std::optional<OID> View::resumeAfter(const OID& name) const {
    // What decides `name` holds up to the end of the deciding family's
    // subtree, or to where another family's subtree begins: the walk goes on
    // from the first of the two.
    std::optional<OID> resume;
    if (const Family* family = decider(name)) resume = lastBelow(family->subtree);
    for (const Family& family : families_) {
        const OID root = span(family);
        if (masked_ && root.isPrefixOf(name) && root.size() < family.subtree.size())
            return name;  // a wildcard family may match any name here: step by step
        if (root > name && !root.empty()) {
            OID before = justBefore(root);
            if (!resume || before < *resume) resume = std::move(before);
        }
    }
    return resume;
}
