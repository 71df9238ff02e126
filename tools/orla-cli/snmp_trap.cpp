// orla-cli snmp trap: asks the agent to send its vendor trap, optionally
// with one variable binding.
#include <cstdio>

#include "mib/agent_settings.h"
#include "tools/orla-cli/snmp.h"
#include "tools/orla-cli/trap_value.h"
#include "trap/trap_request.h"

namespace orla::cli {

namespace {

// "1.3.6.1" or ".1.3.6.1", as the agent reads the binding's name.
bool isDottedDecimal(std::string text) {
    if (!text.empty() && text.front() == '.') text.erase(0, 1);
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    if (text.find("..") != std::string::npos) return false;
    return text.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

int runSnmpTrap(const Arguments& args) {
    std::string oid;
    std::string typeText;
    std::string valueText;
    bool hasOid = false;
    bool hasType = false;
    bool hasValue = false;
    for (const std::string& arg : args) {
        std::string name;
        std::string value;
        if (!splitAssignment(arg, name, value)) return usageError("expected NAME=VALUE: " + arg);
        if (name == "oid") {
            oid = value;
            hasOid = true;
        } else if (name == "type") {
            typeText = value;
            hasType = true;
        } else if (name == "value") {
            valueText = value;
            hasValue = true;
        } else {
            return usageError("unknown trap field " + name + " (oid, type, value)");
        }
    }

    message request;
    if (hasOid || hasType || hasValue) {
        if (!hasOid || !hasType) return usageError("a binding needs oid= and type=");
        if (!isDottedDecimal(oid)) return usageError("bad oid " + oid);
        uint32_t type;
        if (!parseNamedCode(typeText, TRAP_VALUE_TYPES, type) || type > 0xff)
            return usageError("bad type " + typeText);
        std::string content;
        if (!encodeTrapValue(type, valueText, content))
            return usageError("bad value for type " + typeText + ": " + valueText);
        // The agent sends a value-less binding only as NULL.
        if (!hasValue && type != 0x05) return usageError("type " + typeText + " needs value=");
        request.insert(snmp::TRAP_VAR_OID, oid);
        request.insert(snmp::TRAP_VAR_TYPE, type);
        if (type != 0x05) request.insert(snmp::TRAP_VAR_VALUE, content);
    }

    AgentClient agent;
    message reply;
    if (!agent.call({}, snmp::CMD_TRAP_REQUEST, request, reply)) return EXIT_ERROR_REPLY;
    return 0;
}

}  // namespace orla::cli
