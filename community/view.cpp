#include "community/view.h"

#include <algorithm>
#include <cstring>

namespace {

bool isWildcard(const View::Family& family, size_t arc) {
    const size_t octet = arc / 8;
    if (octet >= family.mask.size()) return false;
    return (family.mask[octet] & (0x80 >> (arc % 8))) == 0;
}

bool matches(const View::Family& family, const OID& name) {
    const size_t length = family.subtree.size();
    if (name.size() < length) return false;
    if (family.mask.empty()) {
        // Names of the same subtree differ mostly in their last arcs: the
        // last is compared first.
        if (length == 0) return true;
        const uint32_t* subtree = family.subtree.data();
        const uint32_t* arcs = name.data();
        return arcs[length - 1] == subtree[length - 1] &&
               std::memcmp(arcs, subtree, (length - 1) * sizeof(uint32_t)) == 0;
    }
    for (size_t arc = 0; arc < family.subtree.size(); ++arc) {
        if (name[arc] != family.subtree[arc] && !isWildcard(family, arc)) return false;
    }
    return true;
}

OID spanOf(const View::Family& family) {
    OID root = family.subtree;
    for (size_t arc = 0; arc < family.subtree.size(); ++arc) {
        if (isWildcard(family, arc)) {
            root.truncate(arc);
            break;
        }
    }
    return root;
}

// Where a walk may go on from to leave the subtree of `root` (non-empty):
// the next name after it lies outside, unless it has a last arc of
// 4294967295 and more arcs below, which a caller that never goes back
// steps through.
OID pastSubtree(const OID& root) {
    OID past = root;
    past += UINT32_MAX;
    return past;
}

// A name before `name` (non-empty) with none of the view's names between
// them that do not also lie before `name`: its parent, or the subtree of
// its previous sibling left as above.
OID before(const OID& name) {
    OID previous = name;
    previous.popBack();
    if (name.back() == 0) return previous;
    previous += name.back() - 1;
    return pastSubtree(previous);
}

}  // namespace

View::View(std::vector<Family> families) : families_(std::move(families)) {
    std::sort(families_.begin(), families_.end(), [](const Family& a, const Family& b) {
        if (a.subtree.size() != b.subtree.size()) return a.subtree.size() > b.subtree.size();
        return a.subtree > b.subtree;
    });
    for (const Family& family : families_) {
        spans_.push_back(spanOf(family));
        masked_ = masked_ || spans_.back().size() < family.subtree.size();
    }
}

const View::Family* View::decider(const OID& name) const {
    for (const Family& family : families_) {
        if (matches(family, name)) return &family;
    }
    return nullptr;
}

bool View::includes(const OID& name) const {
    const Family* family = decider(name);
    return family != nullptr && family->included;
}

std::optional<OID> View::resumeAfter(const OID& name) const {
    // What decides `name` holds up to the end of the deciding family's
    // subtree, or to where another family's subtree begins: the walk goes on
    // from the first of the two, or from `name` itself, never from before it.
    std::optional<OID> resume;
    // A family of the whole tree ends nowhere: only another family's
    // subtree can.
    const Family* family = decider(name);
    if (family != nullptr && !family->subtree.empty()) resume = pastSubtree(family->subtree);
    for (size_t i = 0; i < families_.size(); ++i) {
        const OID& root = spans_[i];
        if (masked_ && root.isPrefixOf(name) && root.size() < families_[i].subtree.size())
            return name;  // a wildcard family may match any name here: step by step
        if (root > name) {
            OID previous = before(root);
            if (!resume || previous < *resume) resume = std::move(previous);
        }
    }
    if (resume && *resume < name) return name;
    return resume;
}
