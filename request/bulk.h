// The GetBulk operation on the object tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "community/view.h"
#include "mib/context.h"
#include "request/outcome.h"

// Serves a GetBulkRequest (RFC 3416 4.2.3): the non-repeaters as GetNext
// would, then the repeaters interleaved repetition by repetition, each going
// on from the instance it answered last; past the end of the tree a binding
// is endOfMibView under the name it went on from. The reply ends after the
// first repetition in which every repeater is at the end, or where the next
// binding would exceed `replyLimit` (tooBig when not even one fits). Empty
// when a binding cannot be decoded.
//
// Within `view` (null: everything), as GetNext. RFC 3416 4.2.3 lets an
// agent answer fewer repetitions than asked: at most `bounds.repetitions`,
// and no more bindings after the first than keep the reply within
// `bounds.replyOctets`, so that a short request cannot make the agent send
// a long reply to a forged source.
struct BulkBounds {
    uint32_t repetitions = UINT32_MAX;
    size_t replyOctets = SIZE_MAX;
};
std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit, const View* view = nullptr,
                                    BulkBounds bounds = {});
