#include "mib/context.h"

namespace {

// Most replies fit: they are then written without growing the buffer. Small
// enough to come from the allocator's per-thread cache.
constexpr size_t REPLY_RESERVE = 1000;

}  // namespace

Context::Context(unsigned char* buf, unsigned int len) : in(buf, len) {
    out.reserve(REPLY_RESERVE);
}
