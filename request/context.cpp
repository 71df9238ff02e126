#include "request/context.h"

#include "request/error_status.h"

uint32_t Context::v3counters[6] = {};

namespace {

// Most replies fit: they are then written without growing the buffer. Small
// enough to come from the allocator's per-thread cache.
constexpr size_t REPLY_RESERVE = 1000;

}  // namespace

Context::Context(unsigned char* buf, unsigned int len) : in(buf, len) {
    out.reserve(REPLY_RESERVE);
}

void AccessError::apply(Context&) const {}

void PathNotExists::apply(Context& ctx) const {
    ctx.out.addErrorStatus(snmp::NO_SUCH_NAME);
    ctx.notFound = 1;
}

void MiscError::apply(Context& ctx) const {
    ctx.out.addErrorStatus(snmp::GEN_ERR);
}

void InvalidOID::apply(Context& ctx) const {
    ctx.out.addErrorStatus(snmp::GEN_ERR);
}
