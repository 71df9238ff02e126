#include "agentx/notify.h"

#include <span>

#include "agentx/values.h"
#include "platform/orla/ids.h"

namespace agentx {

namespace {

// The request's command and the field with the Notify's frame.
constexpr uint32_t CMD_SUBAGENT_NOTIFY = 0xa9e701;
constexpr orla::StringKey NOTIFY_FRAME{1};

const OID SYS_UP_TIME_0("1.3.6.1.2.1.1.3.0");
const OID SNMP_TRAP_OID_0("1.3.6.1.6.3.1.1.4.1.0");
// RFC 3584 3.2: snmpTraps, the generic traps' enterprise.
const OID SNMP_TRAPS("1.3.6.1.6.3.1.1.5");

}  // namespace

orla::message notifyRequest(const std::vector<VarBind>& bindings) {
    Pdu notify;
    notify.header.type = PduType::Notify;
    notify.bindings = bindings;
    std::vector<uint8_t> frame;
    encode(notify, frame);
    orla::message request;
    request.insert(orla::MSG_CMD, CMD_SUBAGENT_NOTIFY);
    request.insert(NOTIFY_FRAME, std::string(frame.begin(), frame.end()));
    return request;
}

bool notifyTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                     OID& trapOid, int& genericTrap, int& specificTrap) {
    if (request.get(orla::MSG_CMD) != CMD_SUBAGENT_NOTIFY) return false;
    const std::string frame = request.get(NOTIFY_FRAME);
    Pdu notify;
    size_t used = 0;
    if (decode(std::span(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()), notify,
               used) != DecodeError::None)
        return false;
    std::optional<OID> notification;
    for (const VarBind& binding : notify.bindings) {
        if (binding.name == SYS_UP_TIME_0) continue;
        if (binding.name == SNMP_TRAP_OID_0 && binding.type == ValueType::ObjectIdentifier) {
            notification = binding.oid;
            continue;
        }
        if (std::optional<VariableBinding> variable = toVariableBinding(binding))
            bindings.push_back(std::move(*variable));
    }
    if (!notification || notification->size() < 2) return false;
    // RFC 3584 3.2: a generic trap by its number; any other as its
    // enterprise (without a trailing 0 arc) and its last arc.
    const OID& name = *notification;
    if (SNMP_TRAPS.isPrefixOf(name) && name.size() == SNMP_TRAPS.size() + 1 && name.back() >= 1 &&
        name.back() <= 6) {
        trapOid = name;
        genericTrap = static_cast<int>(name.back()) - 1;
        specificTrap = 0;
        return true;
    }
    trapOid = name;
    trapOid.popBack();
    if (trapOid.size() > 1 && trapOid.back() == 0) trapOid.popBack();
    genericTrap = GENERIC_ENTERPRISE_SPECIFIC;
    specificTrap = static_cast<int>(name.back());
    return true;
}

}  // namespace agentx
