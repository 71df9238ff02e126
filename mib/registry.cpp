#include "mib/registry.h"

#include <cstdint>
#include <iterator>

#include "mib/modules.h"
#include "mib/ownership.h"
#include "mib/platform_exchange.h"

std::map<OID, Leaf*> leafs;

const OID ZERO_OID("0");

namespace {

using Entry = std::map<OID, Leaf*>::const_iterator;

// Everything handed to the registry.
Ownership registered;

// Registrations are nested when a registered OID is a proper prefix of
// another; then it is a prefix of the key that follows it, since a subtree
// sorts right after its root. Most trees have none, and their lookups skip
// the search for an enclosing registration. Worked out again whenever
// the registry changed.
size_t nestingCheckedAtSize = SIZE_MAX;
uint64_t nestingCheckedAtGeneration = 0;
uint64_t registryGeneration = 1;
bool nested = false;

bool anyNested() {
    if (nestingCheckedAtSize == leafs.size() && nestingCheckedAtGeneration == registryGeneration)
        return nested;
    nested = false;
    for (auto entry = leafs.begin(); entry != leafs.end() && !nested; ++entry) {
        const auto after = std::next(entry);
        nested = after != leafs.end() && entry->first.isPrefixOf(after->first);
    }
    nestingCheckedAtSize = leafs.size();
    nestingCheckedAtGeneration = registryGeneration;
    return nested;
}

// The registration under the longest proper prefix of `oid`, or end.
Entry enclosing(const OID& oid) {
    if (!anyNested()) return leafs.end();
    OID prefix = oid;
    while (!prefix.empty()) {
        prefix.truncate(prefix.size() - 1);
        const Entry found = leafs.find(prefix);
        if (found != leafs.end()) return found;
    }
    return leafs.end();
}

// The greatest OID of the subtree of `root` that a message can carry
// (RFC 2578 3.5: at most 128 arcs): no instance below `root` comes after it.
OID lastBelow(const OID& root) {
    constexpr size_t MAX_ARCS = 128;
    OID last = root;
    while (last.size() < MAX_ARCS)
        last += UINT32_MAX;
    return last;
}

// The registration that answers for `name`, given the first one after it.
Entry registrationOf(const OID& name, Entry after) {
    if (after == leafs.begin()) return leafs.end();
    // The greatest registered OID not after the name is its longest
    // registered prefix, when it is a prefix at all: a longer one would lie
    // between the two.
    const Entry greatest = std::prev(after);
    if (greatest->first.isPrefixOf(name)) return greatest;
    // Otherwise only a registration that encloses that greatest one can.
    for (Entry outer = enclosing(greatest->first); outer != leafs.end();
         outer = enclosing(outer->first)) {
        if (outer->first.isPrefixOf(name)) return outer;
    }
    return leafs.end();
}

}  // namespace

void addLeaf(OID const& oid, Leaf* leaf) {
    leafs[oid] = leaf;
    registered.take(leaf);
    ++registryGeneration;
}

bool addRemoteLeaf(OID const& oid, Leaf* leaf) {
    if (!leafs.emplace(oid, leaf).second) return false;
    ++registryGeneration;
    return true;
}

void removeRemoteLeaf(OID const& oid, Leaf const* leaf) {
    const auto found = leafs.find(oid);
    if (found == leafs.end() || found->second != leaf) return;
    leafs.erase(found);
    ++registryGeneration;
}

Entry findRegistration(OID const& name) {
    return registrationOf(name, leafs.upper_bound(name));
}

bool answerNext(Context& ctx) {
    // The walk goes region by region: `region` answers for `cursor` (its
    // instances after it are candidates), and `ahead` is the first
    // registration after `cursor`. A registration nested in the region ends
    // the region's candidates where it begins; past the end of the region's
    // subtree, the walk goes on in the registration that encloses it.
    OID cursor = ctx.oid;
    Entry ahead = leafs.upper_bound(cursor);
    Entry region = registrationOf(cursor, ahead);
    const bool nesting = anyNested();
    for (;;) {
        if (region == leafs.end()) {
            if (ahead == leafs.end()) return false;
            region = ahead++;
            cursor = region->first;
            continue;
        }
        const OID& root = region->first;
        const bool nestedAhead = nesting && ahead != leafs.end() && root.isPrefixOf(ahead->first);
        if (cursor.size() > root.size()) {
            ctx.oid.assign(cursor.data() + root.size(), cursor.size() - root.size());
        } else {
            ctx.oid.clear();  // the region's first instance
        }
        ctx.name = root;
        const size_t start = ctx.out.mark();
        if (region->second->getNext(ctx) && (!nestedAhead || ctx.name < ahead->first))
            return true;
        ctx.out.rewind(start);  // an answer inside the nested registration is not the region's
        if (servingMustWait()) return false;  // the reply waits: nothing more to find now
        if (nestedAhead) {
            region = ahead++;
            cursor = region->first;
            continue;
        }
        // Nothing of the region's subtree lies ahead: `ahead` comes after it.
        const Entry outer = nesting ? enclosing(root) : leafs.end();
        if (outer != leafs.end()) cursor = lastBelow(root);
        region = outer;
    }
}

void releaseRegistry() {
    leafs.clear();
    registeredModules.clear();
    modulesLastChange = 0;
    ++registryGeneration;
    registered.releaseAll();
}
