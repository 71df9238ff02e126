// The agent's own trap makers (see TrapMaker in mib/traps.h).
#pragma once

#include <vector>

#include "mib/traps.h"

// Takes every request: the warmStart trap (1.3.6.1.6.3.1.1.5.2), no bindings.
// The agent offers it only while it sends the start trap.
bool startupTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                      OID& trapOid, int& genericTrap, int& specificTrap);

// Takes every request: the authenticationFailure trap (1.3.6.1.6.3.1.1.5.5,
// RFC 3418), no bindings. The agent offers it only while it sends that trap.
bool authenticationFailureTrapMaker(std::vector<VariableBinding>& bindings,
                                    const orla::message& request, OID& trapOid, int& genericTrap,
                                    int& specificTrap);

// Takes the requests whose MSG_CMD is snmp::CMD_TRAP_REQUEST: the vendor trap
// 1.3.6.1.4.1.32473.1.1.9, specific number 1, with at most one binding built
// from the fields of trap/trap_request.h. A binding needs a name and a type;
// without a value only a NULL (type 5) binding is carried.
bool halvexTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                     OID& trapOid, int& genericTrap, int& specificTrap);
