#include "trap/create_trap.h"

#include <netinet/in.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/orla/clock.h"
#include "platform/snmp/usm.h"
#include "platform/snmp/v3_info.h"
#include "trap/trap_maker.h"

namespace {

// The header of an SNMPv3 trap: the agent is the authoritative engine
// (RFC 3414 1.5.1), the trap community is the user. The stream supplies
// msgMaxSize, msgFlags and the security parameters' placeholders.
V3Info trapHeader(const CommunityKeep::Item& user, const V3ServerInfo& engine) {
    V3Info info;
    info.msgID = static_cast<uint32_t>(rand());
    info.msgSecurityModel = usm::SECURITY_MODEL_USM;
    info.msgAuthoritativeEngineID = engine.engineID;
    info.msgAuthoritativeEngineBoots = engine.engineBoots;
    info.msgAuthoritativeEngineTime = usm::engineTime(engine);
    info.msgUserName = user.name;
    info.authProtocol = user.authProtocol;
    info.contextEngineID = engine.engineID;
    return info;
}

}  // namespace

bool createTrap(Context& ctx, const orla::message& request, uint32_t agentAddress, int version,
                const CommunityKeep::Item& community, const AgentState& agent,
                std::span<const TrapMaker> makers) {
    if (community.security > static_cast<uint32_t>(usm::AUTH_PRIV)) {
        std::cerr << "createTrap: bad community" << std::endl;
        return false;
    }
    OutStream& out = ctx.out;
    out.startSeq(ber::SEQUENCE);
    out.add(version, ber::INTEGER);

    V3Info header;
    if (version == snmp::VERSION_3) {
        std::cout << "snmp v3 trap" << std::endl;
        header = trapHeader(community, agent.engine);
        out.securityLevel = static_cast<int>(community.security);
        out.writeV3Info(&header);
    } else {
        out.add(community.name, ber::OCTET_STRING);
    }

    out.startSeq(version == snmp::VERSION_1 ? ber::TRAP_V1 : ber::TRAP_V2);

    OID trapOid;
    int genericTrap = 0;
    int specificTrap = 0;
    std::vector<VariableBinding> bindings;
    bool taken = false;
    for (TrapMaker maker : makers) {
        if (maker(bindings, request, trapOid, genericTrap, specificTrap)) {
            taken = true;
            break;
        }
    }
    if (!taken) {
        std::cout << "Could not handle trap, msg dump:" << std::endl << request << std::endl;
        return false;
    }

    // sysUpTime of the trap: hundredths of a second since the agent started.
    const uint32_t upTime = orla::getJiffies() - agent.startTick;
    if (version == snmp::VERSION_1) {
        out.addOID(trapOid, ber::OBJECT_IDENTIFIER);
        // The writer puts the value's most significant octet first.
        out.add(static_cast<int>(ntohl(agentAddress)), ber::IP_ADDRESS);
        out.add(genericTrap, ber::INTEGER);
        out.add(specificTrap, ber::INTEGER);
        out.add(upTime, ber::TIMETICKS);
    } else {
        out.add(rand(), ber::INTEGER);
        out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
        out.addErrorIndex(0);
    }

    out.startSeq(ber::SEQUENCE);
    if (version != snmp::VERSION_1) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.2.1.1.3.0"), ber::OBJECT_IDENTIFIER);  // sysUpTime.0
        out.add(upTime, ber::TIMETICKS);
        out.endSeq();
        // RFC 3584 3.1: an enterprise-specific trap becomes enterprise.0.specific.
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.6.3.1.1.4.1.0"), ber::OBJECT_IDENTIFIER);  // snmpTrapOID.0
        if (genericTrap == GENERIC_ENTERPRISE_SPECIFIC) {
            trapOid += 0u;
            trapOid += static_cast<uint32_t>(specificTrap);
        }
        out.addOID(trapOid, ber::OBJECT_IDENTIFIER);
        out.endSeq();
    }
    for (const VariableBinding& binding : bindings)
        out.addVarBind(binding);
    out.endSeq();
    out.endSeq();

    if (version == snmp::VERSION_3) {
        if (!out.cryptPacket(&header, community.privKey, community.privProtocol)) return false;
        out.endSeq();
        return out.signPacket(&header, community.authKey, community.authProtocol);
    }
    out.endSeq();
    return true;
}
