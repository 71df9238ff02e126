#include "link_events.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mib/sdk.h"
#include "platform/ifaced/interface_object.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"

namespace {

// A link event asks the agent's settings handler for a trap with
// CMD_TRAP_REQUEST_ALT1, OBJ_ID = ifIndex, the interface's IF_ADMIN_STATUS
// and the IF_OPER_STATUS the trap carries, and this field naming the trap:
// the last arc of its OID under snmpTraps.
constexpr orla::U32Key LINK_TRAP{2001};
constexpr uint32_t LINK_DOWN = 3;
constexpr uint32_t LINK_UP = 4;

const OID SNMP_TRAPS("1.3.6.1.6.3.1.1.5");
const OID IF_INDEX("1.3.6.1.2.1.2.2.1.1");
const OID IF_ADMIN_STATUS("1.3.6.1.2.1.2.2.1.7");
const OID IF_OPER_STATUS("1.3.6.1.2.1.2.2.1.8");

// RFC 2863 ifOperStatus.
constexpr uint32_t OPER_DOWN = 2;
constexpr uint32_t OPER_NOT_PRESENT = 6;
constexpr uint32_t OPER_MAX = 7;
constexpr uint32_t ADMIN_MAX = 3;

// Subscribing again is how a subscription outlives a restart of the
// service (or an agent that started first): the service keeps one
// subscription per connection and sender, so a renewal changes nothing
// while the first holds.
constexpr uint32_t RENEW_TICKS = 300;

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

// The generator's own looper: it is not served, and talks only to the
// interface service, whose notifications come back on that connection.
class LinkEvents : public orla::Looper {
  public:
    ~LinkEvents() override { orla::removeTimer(this, &LinkEvents::renew); }

    void start() {
        if (active_) return;
        active_ = true;
        renew();
    }
    void stop() {
        if (!active_) return;
        active_ = false;
        orla::removeTimer(this, &LinkEvents::renew);
        sendMessage(toService(orla::CMD_UNSUBSCRIBE));
    }

    orla::message cmdUnknown(const orla::message& note, uint32_t cmd) override {
        if (cmd != orla::CMD_NOTIFY || note.get(orla::MSG_FROM) != servicePath())
            return Looper::cmdUnknown(note, cmd);
        if (active_ && note.get(ifaced::IF_LINK_TRAP_ENABLE, true) &&
            note.has(ifaced::IF_PREVIOUS_OPER_STATUS))
            requestTrap(note);
        return orla::message();
    }

  private:
    static std::vector<uint32_t> servicePath() {
        return {ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER};
    }
    static orla::message toService(uint32_t cmd) {
        orla::message request;
        request.insert(orla::MSG_TO, servicePath());
        request.insert(orla::MSG_CMD, cmd);
        return request;
    }

    // Fire and forget: an absent service costs a failed connect, and never
    // holds up the agent.
    void renew() {
        sendMessage(toService(orla::CMD_SUBSCRIBE));
        orla::addTimer(this, &LinkEvents::renew, RENEW_TICKS);
    }

    static void requestTrap(const orla::message& note) {
        const uint32_t previous = note.get(ifaced::IF_PREVIOUS_OPER_STATUS);
        const uint32_t current = note.get(ifaced::IF_OPER_STATUS, 0);
        const uint32_t trap = linkTrapFor(previous, current);
        if (trap == 0) return;
        orla::message request;
        request.insert(orla::MSG_TO, std::vector<uint32_t>{snmp::SERVICE_ID});
        request.insert(orla::MSG_CMD, snmp::CMD_TRAP_REQUEST_ALT1);
        request.insert(LINK_TRAP, trap);
        request.insert(orla::OBJ_ID, note.get(orla::OBJ_ID, 0));
        request.insert(ifaced::IF_ADMIN_STATUS, note.get(ifaced::IF_ADMIN_STATUS, 0));
        // RFC 2863 6: the value carried is the state other than down, the
        // one left (linkDown) or entered (linkUp).
        request.insert(ifaced::IF_OPER_STATUS, trap == LINK_DOWN ? previous : current);
        exchangeWithPlatform(request);
    }

    bool active_ = false;
};

// Made when first selected, after the agent's own looper; gone at exit.
LinkEvents& linkEvents() {
    static LinkEvents events;
    return events;
}

}  // namespace

void registerLinkEvents() {
    trapMakers.push_back(linkTrapMaker);
    scribers.push_back(
        Scribers{"link-events", [] { linkEvents().start(); }, [] { linkEvents().stop(); }});
}
