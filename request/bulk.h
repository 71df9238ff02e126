// The GetBulk operation on the object tree.
#pragma once

#include <cstddef>
#include <optional>

#include "mib/context.h"
#include "request/outcome.h"

// Serves a GetBulkRequest (RFC 3416 4.2.3): the non-repeaters as GetNext
// would, then the repeaters interleaved repetition by repetition, each going
// on from the instance it answered last; past the end of the tree a binding
// is endOfMibView under the name it went on from. The reply ends after the
// first repetition in which every repeater is at the end, or where the next
// binding would exceed `replyLimit` (tooBig when not even one fits). Empty
// when a binding cannot be decoded.
std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit);
