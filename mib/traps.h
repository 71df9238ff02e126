// What plug-ins add to the agent's traps: trap makers, which turn a platform
// message asking for a trap into the trap's identity and bindings, and trap
// generators, which send trap requests of their own while an operator has
// them selected in the settings.
#pragma once

#include <string>
#include <vector>

#include "platform/orla/message.h"
#include "platform/snmp/oid.h"
#include "platform/snmp/varbind.h"

// A trap maker gives the trap's SNMPv1 identity (enterprise, generic and
// specific number; RFC 3584 3.1 derives the SNMPv2 trap OID from them) and
// its variable bindings. The agent asks the makers of `trapMakers` in order;
// the first that returns true builds the trap. A plug-in may append its own
// makers in its autorun. A maker that declines must return false; whatever
// it left in the outputs is seen by the makers after it.
using TrapMaker = bool (*)(std::vector<VariableBinding>& bindings, const orla::message& request,
                           OID& trapOid, int& genericTrap, int& specificTrap);

extern std::vector<TrapMaker> trapMakers;

// RFC 1157 generic trap numbers.
inline constexpr int GENERIC_WARM_START = 1;
inline constexpr int GENERIC_AUTHENTICATION_FAILURE = 4;
inline constexpr int GENERIC_ENTERPRISE_SPECIFIC = 6;

// One trap generator offered by a plug-in; its id is its position in
// `scribers`, the id that the settings' trap generator list selects.
struct Scribers {
    std::string name;
    void (*subscribe)();    // called when the generator becomes selected
    void (*unsubscribe)();  // called when the selection is replaced
};
extern std::vector<Scribers> scribers;

namespace snmp {

// In a trap request that a trap generator sends: its name, as in its
// Scribers entry. The agent sends the trap only to the notification targets
// that receive that generator; a request without it reaches every target.
inline constexpr orla::StringKey TRAP_GENERATOR{1004};

}  // namespace snmp
