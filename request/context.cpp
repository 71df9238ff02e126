#include "request/context.h"

#include "request/error_status.h"

uint32_t Context::v3counters[6] = {};

Context::Context(unsigned char* buf, unsigned int len) : in(buf, len) {}

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
