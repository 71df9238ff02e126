#include "request/reply_size.h"

namespace {

// The length octets of one open SEQUENCE grow from one to at most three.
constexpr size_t LENGTH_GROWTH = 2;
// The error-index INTEGER grows from one content octet to at most three.
constexpr size_t ERROR_INDEX_GROWTH = 2;

}  // namespace

bool replyFits(const OutStream& out, size_t limit) {
    return out.size() + LENGTH_GROWTH * out.openSequences() + ERROR_INDEX_GROWTH <= limit;
}
