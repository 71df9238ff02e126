// Whether a reply being written stays within a size limit.
#pragma once

#include <cstddef>

#include "platform/snmp/ber_out.h"

// True when `out`, once every open SEQUENCE is closed, stays within `limit`
// octets. A length slot grows to at most three octets for contents below
// 65536 (X.690 8.1.3.5), and the error-index may still grow by two octets.
bool replyFits(const OutStream& out, size_t limit);
