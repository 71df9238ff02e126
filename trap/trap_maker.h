// Trap makers: functions that turn a platform message asking for a trap into
// the trap's identity (SNMPv1 enterprise, generic and specific number) and its
// variable bindings. createTrap asks the makers of `trapMakers` in order; the
// first that returns true builds the trap.
//
// Part of the programming interface of MIB plug-ins: a plug-in may append its
// own makers to `trapMakers` in its autorun. A maker that declines must return
// false; whatever it left in the outputs is seen by the makers after it.
#pragma once

#include <vector>

#include "platform/orla/message.h"
#include "platform/snmp/oid.h"
#include "platform/snmp/varbind.h"

using TrapMaker = bool (*)(std::vector<VariableBinding>& bindings, const orla::message& request,
                           OID& trapOid, int& genericTrap, int& specificTrap);

extern std::vector<TrapMaker> trapMakers;

// RFC 1157 generic trap numbers the agent itself uses.
inline constexpr int GENERIC_WARM_START = 1;
inline constexpr int GENERIC_ENTERPRISE_SPECIFIC = 6;

// Takes every request: the warmStart trap (1.3.6.1.6.3.1.1.5.2), no bindings.
// The agent offers it only while it sends the start trap.
bool startupTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                      OID& trapOid, int& genericTrap, int& specificTrap);

// Takes the requests whose MSG_CMD is snmp::CMD_TRAP_REQUEST: the vendor trap
// 1.3.6.1.4.1.32473.1.1.9, specific number 1, with at most one binding built
// from the fields of trap/trap_request.h. A binding needs a name and a type;
// without a value only a NULL (type 5) binding is carried.
bool halvexTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                     OID& trapOid, int& genericTrap, int& specificTrap);
