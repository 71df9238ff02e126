// AgentX values (RFC 2741 5.4) as SNMP's BER writes them: the types are the
// same, so a subagent's binding reaches a manager unchanged.
#pragma once

#include <optional>
#include <span>

#include "agentx/pdu.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/varbind.h"

namespace agentx {

// True for the exceptions (noSuchObject, noSuchInstance, endOfMibView),
// which answer no instance.
bool isException(ValueType type);

// Writes the value of `binding` (not its name) into `out`; nothing for an
// exception, which is no value.
void writeValue(OutStream& out, const VarBind& binding);

// Reads a Set's value, its whole BER element `value`, into `binding`:
// NO_ERROR, WRONG_TYPE for a type AgentX does not carry, WRONG_ENCODING for
// content that does not decode.
snmp::ErrorStatus readValue(std::span<const unsigned char> value, VarBind& binding);

// The binding as a notification carries it, or nothing for an exception.
std::optional<VariableBinding> toVariableBinding(const VarBind& binding);

}  // namespace agentx
