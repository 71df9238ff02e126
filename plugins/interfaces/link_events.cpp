#include "link_events.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mib/sdk.h"
#include "platform/ifaced/interface_object.h"

namespace {

// A link event asks the agent's settings handler for a trap with
// CMD_TRAP_REQUEST_ALT1, OBJ_ID = ifIndex, the interface's IF_ADMIN_STATUS
// and the IF_OPER_STATUS the trap carries, and this field naming the trap:
// the last arc of its OID under snmpTraps.
constexpr orla::U32Key LINK_TRAP{2001};
constexpr uint32_t LINK_DOWN = 3;
constexpr uint32_t LINK_UP = 4;
// The generator's name, which its trap requests carry.
constexpr const char* LINK_EVENTS = "link-events";

const OID SNMP_TRAPS("1.3.6.1.6.3.1.1.5");
const OID IF_INDEX("1.3.6.1.2.1.2.2.1.1");
const OID IF_ADMIN_STATUS("1.3.6.1.2.1.2.2.1.7");
const OID IF_OPER_STATUS("1.3.6.1.2.1.2.2.1.8");

// RFC 2863 ifOperStatus.
constexpr uint32_t OPER_DOWN = 2;
constexpr uint32_t OPER_NOT_PRESENT = 6;
constexpr uint32_t OPER_MAX = 7;
constexpr uint32_t ADMIN_MAX = 3;

// RFC 2863 6: linkDown when ifOperStatus is about to enter down from
// another state but notPresent, linkUp when it left down for another state
// but notPresent. 0: neither.
uint32_t linkTrapFor(uint32_t previous, uint32_t current) {
    if (current == OPER_DOWN && previous != OPER_DOWN && previous != OPER_NOT_PRESENT)
        return LINK_DOWN;
    if (previous == OPER_DOWN && current != OPER_DOWN && current != OPER_NOT_PRESENT)
        return LINK_UP;
    return 0;
}

VariableBinding integerBinding(OID const& column, uint32_t index, uint32_t value) {
    VariableBinding binding;
    binding.oid = column;
    binding.oid += index;
    binding.type = ber::INTEGER;
    binding.value = ber::integerContent(value);
    return binding;
}

bool linkTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                   OID& trapOid, int& genericTrap, int& specificTrap) {
    if (request.get(orla::MSG_CMD, 0) != snmp::CMD_TRAP_REQUEST_ALT1) return false;
    const uint32_t trap = request.get(LINK_TRAP, 0);
    const uint32_t index = request.get(orla::OBJ_ID, 0);
    const uint32_t admin = request.get(ifaced::IF_ADMIN_STATUS, 0);
    const uint32_t oper = request.get(ifaced::IF_OPER_STATUS, 0);
    if ((trap != LINK_DOWN && trap != LINK_UP) || index == 0 ||
        index > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) || admin == 0 ||
        admin > ADMIN_MAX || oper == 0 || oper > OPER_MAX)
        return false;

    trapOid = SNMP_TRAPS;
    trapOid += trap;
    // RFC 1157 4.1.6: linkDown is generic trap 2, linkUp 3.
    genericTrap = static_cast<int>(trap) - 1;
    specificTrap = 0;
    bindings.push_back(integerBinding(IF_INDEX, index, index));
    bindings.push_back(integerBinding(IF_ADMIN_STATUS, index, admin));
    bindings.push_back(integerBinding(IF_OPER_STATUS, index, oper));
    return true;
}

// A notification of an interface whose ifLinkUpDownTrapEnable is enabled(1)
// and whose status enters or leaves down becomes a trap request to the agent.
void requestTrap(const orla::message& note) {
    if (!note.get(ifaced::IF_LINK_TRAP_ENABLE, true) || !note.has(ifaced::IF_PREVIOUS_OPER_STATUS))
        return;
    const uint32_t previous = note.get(ifaced::IF_PREVIOUS_OPER_STATUS);
    const uint32_t current = note.get(ifaced::IF_OPER_STATUS, 0);
    const uint32_t trap = linkTrapFor(previous, current);
    if (trap == 0) return;
    orla::message request;
    request.insert(orla::MSG_TO, std::vector<uint32_t>{snmp::SERVICE_ID});
    request.insert(orla::MSG_CMD, snmp::CMD_TRAP_REQUEST_ALT1);
    request.insert(snmp::TRAP_GENERATOR, std::string(LINK_EVENTS));
    request.insert(LINK_TRAP, trap);
    request.insert(orla::OBJ_ID, note.get(orla::OBJ_ID, 0));
    request.insert(ifaced::IF_ADMIN_STATUS, note.get(ifaced::IF_ADMIN_STATUS, 0));
    // RFC 2863 6: the value carried is the state other than down, the
    // one left (linkDown) or entered (linkUp).
    request.insert(ifaced::IF_OPER_STATUS, trap == LINK_DOWN ? previous : current);
    exchangeWithPlatform(request);
}

// Made when the generator is first selected; gone at exit.
ServiceSubscription& linkEvents() {
    static ServiceSubscription subscription({ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER},
                                            requestTrap);
    return subscription;
}

}  // namespace

void registerLinkEvents() {
    trapMakers.push_back(linkTrapMaker);
    scribers.push_back(
        Scribers{LINK_EVENTS, [] { linkEvents().start(); }, [] { linkEvents().stop(); }});
}
