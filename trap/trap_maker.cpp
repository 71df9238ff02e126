#include "trap/trap_maker.h"

#include "mib/agent_settings.h"
#include "platform/orla/ids.h"
#include "trap/trap_request.h"

bool startupTrapMaker(std::vector<VariableBinding>&, const orla::message&, OID& trapOid,
                      int& genericTrap, int& specificTrap) {
    trapOid = OID("1.3.6.1.6.3.1.1.5.2");  // SNMPv2-MIB warmStart
    genericTrap = GENERIC_WARM_START;
    specificTrap = 0;
    return true;
}

bool authenticationFailureTrapMaker(std::vector<VariableBinding>&, const orla::message&,
                                    OID& trapOid, int& genericTrap, int& specificTrap) {
    trapOid = OID("1.3.6.1.6.3.1.1.5.5");  // SNMPv2-MIB authenticationFailure
    genericTrap = GENERIC_AUTHENTICATION_FAILURE;
    specificTrap = 0;
    return true;
}

bool halvexTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                     OID& trapOid, int& genericTrap, int& specificTrap) {
    if (!request.has(orla::MSG_CMD) || request.get(orla::MSG_CMD) != snmp::CMD_TRAP_REQUEST)
        return false;

    trapOid = OID{1, 3, 6, 1, 4, 1, snmp::ENTERPRISE_NUMBER, 1, 1, 9};
    genericTrap = GENERIC_ENTERPRISE_SPECIFIC;
    specificTrap = 1;

    if (!request.has(snmp::TRAP_VAR_OID) || !request.has(snmp::TRAP_VAR_TYPE)) return true;
    VariableBinding binding;
    binding.oid = OID(request.get(snmp::TRAP_VAR_OID));
    binding.type = request.get(snmp::TRAP_VAR_TYPE);
    if (request.has(snmp::TRAP_VAR_VALUE)) {
        binding.value = request.get(snmp::TRAP_VAR_VALUE);
    } else if (binding.type != ber::NULL_VALUE) {
        return true;
    }
    bindings.push_back(std::move(binding));
    return true;
}
