// The error-status values of a Response PDU (RFC 3416 3), from the encoding
// of the reply up to the request handlers of plug-ins. SNMPv1 knows only
// the first six (RFC 1157 4.1.1); RFC 3584 4.4 maps the others onto them.
#pragma once

#include <cstdint>

namespace snmp {

enum class ErrorStatus : uint8_t {
    NO_ERROR = 0,
    TOO_BIG = 1,
    NO_SUCH_NAME = 2,
    BAD_VALUE = 3,
    READ_ONLY = 4,
    GEN_ERR = 5,
    NO_ACCESS = 6,
    WRONG_TYPE = 7,
    WRONG_LENGTH = 8,
    WRONG_ENCODING = 9,
    WRONG_VALUE = 10,
    NO_CREATION = 11,
    INCONSISTENT_VALUE = 12,
    RESOURCE_UNAVAILABLE = 13,
    COMMIT_FAILED = 14,
    UNDO_FAILED = 15,
    AUTHORIZATION_ERROR = 16,
    NOT_WRITABLE = 17,
    INCONSISTENT_NAME = 18,
};

}  // namespace snmp
