#include "trap/create_trap.h"

#include <netinet/in.h>

#include <iostream>
#include <string>

#include "platform/orla/clock.h"
#include "platform/snmp/usm.h"
#include "platform/snmp/v3_info.h"

namespace {

// The header of an SNMPv3 notification as `user`, with `authoritative` as
// the authoritative engine and `local` as the context's. The stream
// supplies msgMaxSize, msgFlags and the security parameters' placeholders.
V3Info notificationHeader(uint32_t msgID, const CommunityKeep::Item& user,
                          const V3ServerInfo& authoritative, const V3ServerInfo& local) {
    V3Info info;
    info.msgID = msgID;
    info.msgSecurityModel = usm::SECURITY_MODEL_USM;
    info.msgAuthoritativeEngineID = authoritative.engineID;
    info.msgAuthoritativeEngineBoots = authoritative.engineBoots;
    info.msgAuthoritativeEngineTime = usm::engineTime(authoritative);
    info.msgUserName = user.name;
    info.authProtocol = user.authProtocol;
    // RFC 3413 3.2: a notification's context is the originator's.
    info.contextEngineID = local.engineID;
    return info;
}

}  // namespace

std::optional<Notification> makeNotification(const orla::message& request, const AgentState& agent,
                                             std::span<const TrapMaker> makers) {
    Notification notification;
    for (TrapMaker maker : makers) {
        if (maker(notification.bindings, request, notification.trapOid, notification.genericTrap,
                  notification.specificTrap)) {
            notification.upTime = orla::getJiffies() - agent.startTick;
            return notification;
        }
    }
    std::cout << "Could not handle trap, msg dump:" << std::endl << request << std::endl;
    return std::nullopt;
}

OID notificationOid(const Notification& notification) {
    OID trapOid = notification.trapOid;
    if (notification.genericTrap == GENERIC_ENTERPRISE_SPECIFIC) {
        trapOid += 0u;
        trapOid += static_cast<uint32_t>(notification.specificTrap);
    }
    return trapOid;
}

bool encodeNotification(OutStream& out, const Notification& notification,
                        const NotificationForm& form, const CommunityKeep::Item& user,
                        const V3ServerInfo& engine) {
    if (user.security > static_cast<uint32_t>(usm::AUTH_PRIV)) {
        std::cerr << "createTrap: bad community" << std::endl;
        return false;
    }
    const bool v1 = form.version == snmp::VERSION_1;
    out.startSeq(ber::SEQUENCE);
    out.add(form.version, ber::INTEGER);

    V3Info header;
    if (form.version == snmp::VERSION_3) {
        std::cout << "snmp v3 trap" << std::endl;
        header =
            notificationHeader(form.msgID, user, form.receiver ? *form.receiver : engine, engine);
        out.securityLevel = static_cast<int>(user.security);
        out.reportable = form.inform;
        out.writeV3Info(&header);
    } else {
        out.add(user.name, ber::OCTET_STRING);
    }

    out.startSeq(v1 ? ber::TRAP_V1 : form.inform ? ber::INFORM_REQUEST : ber::TRAP_V2);
    const OID& trapOid = notification.trapOid;
    if (v1) {
        // RFC 3584 3.2 (1): a generic trap's enterprise is snmpTraps.
        const bool generic = notification.genericTrap != GENERIC_ENTERPRISE_SPECIFIC;
        out.addOID(generic ? OID("1.3.6.1.6.3.1.1.5") : trapOid, ber::OBJECT_IDENTIFIER);
        // The writer puts the value's most significant octet first.
        out.add(static_cast<int>(ntohl(form.agentAddress)), ber::IP_ADDRESS);
        out.add(notification.genericTrap, ber::INTEGER);
        out.add(notification.specificTrap, ber::INTEGER);
        out.add(notification.upTime, ber::TIMETICKS);
    } else {
        out.add(form.requestId, ber::INTEGER);
        out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
        out.addErrorIndex(0);
    }

    out.startSeq(ber::SEQUENCE);
    if (!v1) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.2.1.1.3.0"), ber::OBJECT_IDENTIFIER);  // sysUpTime.0
        out.add(notification.upTime, ber::TIMETICKS);
        out.endSeq();
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.6.3.1.1.4.1.0"), ber::OBJECT_IDENTIFIER);  // snmpTrapOID.0
        out.addOID(notificationOid(notification), ber::OBJECT_IDENTIFIER);
        out.endSeq();
    }
    for (const VariableBinding& binding : notification.bindings)
        out.addVarBind(binding);
    out.endSeq();
    out.endSeq();

    if (form.version == snmp::VERSION_3) {
        if (!out.cryptPacket(&header, user.privKey, user.privProtocol)) return false;
        out.endSeq();
        return out.signPacket(&header, user.authKey, user.authProtocol);
    }
    out.endSeq();
    return true;
}
