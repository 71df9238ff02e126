// The fields of a vendor trap request (command snmp::CMD_TRAP_REQUEST to the
// agent's settings handler): the one variable binding the trap carries.
// Shared by the agent's halvexTrapMaker and the orla-cli that sends requests.
#pragma once

#include "platform/orla/message.h"

namespace snmp {

// The binding's name as dotted decimal text.
inline constexpr orla::StringKey TRAP_VAR_OID{1001};
// The BER tag of the binding's value (5: NULL).
inline constexpr orla::U32Key TRAP_VAR_TYPE{1002};
// The value's content octets, without tag and length.
inline constexpr orla::StringKey TRAP_VAR_VALUE{1003};

}  // namespace snmp
