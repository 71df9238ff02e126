// SNMPv1 has no Counter64 (RFC 1155), and a strict v1 manager discards a
// whole response that carries one. RFC 3584 4.2.2.1: an agent answering an
// SNMPv1 request treats objects whose value would be a Counter64 as if they
// did not exist. These handlers wrap Get and GetNext with that rule; they
// are the version 1 forms of the handlers in request/lookup.h.
#pragma once

#include "community/view.h"
#include "mib/context.h"
#include "request/outcome.h"

// As snmpGet, but an instance whose value is a Counter64 is NoSuchInstance
// and leaves nothing written.
Lookup snmpGetV1(Context& ctx, const View* view);

// As snmpGetNext, but instances whose value is a Counter64 are skipped: the
// answer is the first later instance with a value that SNMPv1 can carry.
Lookup snmpGetNextV1(Context& ctx, const View* view);
