#include "mib/context.h"

namespace {

// Most replies fit: they are then written without growing the buffer. Small
// enough to come from the allocator's per-thread cache.
constexpr size_t REPLY_RESERVE = 1000;
// What reset keeps of a larger reply's buffer.
constexpr size_t REPLY_KEPT = 4096;

}  // namespace

Context::Context(unsigned char* buf, unsigned int len) : in(buf, len) {
    out.reserve(REPLY_RESERVE);
}

void Context::reset(const unsigned char* buf, unsigned int len) {
    oid = OID();
    setPrefix = OID();
    setSuffix = OID();
    name = OID();
    community.clear();
    in.reset(buf, len);
    out.reset(REPLY_KEPT);
    nonRepeaters = 0;
    maxRepetitions = 0;
}
