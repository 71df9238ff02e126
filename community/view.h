// A MIB view (RFC 3415 5): the set of object names a request may read,
// write or be notified of, as a family of subtrees each included or
// excluded, possibly with a mask of wildcard arcs.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/snmp/oid.h"

class View {
  public:
    // One vacmViewTreeFamilyEntry. `mask` holds one bit per arc of
    // `subtree`, the first arc in the most significant bit of the first
    // octet; a 0 bit makes that arc a wildcard, and arcs past the mask's
    // end must match (RFC 3415 5, vacmViewTreeFamilyMask).
    struct Family {
        OID subtree;
        std::vector<uint8_t> mask;
        bool included = true;
    };

    View() = default;
    explicit View(std::vector<Family> families);

    // RFC 3415 5: of the families whose subtree matches `name`, the one
    // with the most arcs decides (of those as long, the lexicographically
    // greatest); a name no family matches is not in the view.
    bool includes(const OID& name) const;

    // For a name the view does not include: a name to go on from, no
    // greater than the first name after `name` that the view may include,
    // so that a walk can skip what the view leaves out without asking the
    // tree for every instance in it. Empty when nothing after `name` can be
    // in the view.
    std::optional<OID> resumeAfter(const OID& name) const;

    const std::vector<Family>& families() const { return families_; }

  private:
    const Family* decider(const OID& name) const;

    // Longest subtree first, and of those as long the greatest: the first
    // family that matches decides.
    std::vector<Family> families_;
    // Per family, the subtree every name it matches lies in: its arcs up to
    // the first wildcard.
    std::vector<OID> spans_;
    // Whether some family has a wildcard arc: a walk then steps name by
    // name through the subtrees such a family could match.
    bool masked_ = false;
};
