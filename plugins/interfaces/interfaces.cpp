// IF-MIB (RFC 2863): the interfaces group and the ifXTable, fed by the
// interface service orla-ifaced (platform/ifaced/interface_object.h), and
// the trap generator link-events (link_events.h).
//
//   1.3.6.1.2.1.2.1.0            ifNumber, the service's interface count
//   1.3.6.1.2.1.2.2.1.C.I        ifTable, I = ifIndex (the kernel's ifindex)
//   1.3.6.1.2.1.31.1.1.1.C.I     ifXTable, the same rows; ifLinkUpDownTrapEnable
//                                and ifAlias are writable
//   1.3.6.1.2.1.31.1.5.0         ifTableLastChange
//
// Without the service both tables are empty and ifNumber is 0.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "link_events.h"
#include "mib/sdk.h"
#include "platform/ifaced/interface_object.h"

namespace {

// RFC 2863 enumerations used as defaults.
constexpr int IF_TYPE_OTHER = 1;
constexpr int ADMIN_STATUS_DOWN = 2;
constexpr int OPER_STATUS_UNKNOWN = 4;
// TruthValue (RFC 2579), and ifLinkUpDownTrapEnable's enabled(1), disabled(2).
constexpr int TRUE_VALUE = 1;
constexpr int FALSE_VALUE = 2;

struct InterfaceRecord : Data {
    int index = 0;  // ifIndex, also the service's OBJ_ID
    std::string name;
    int type = IF_TYPE_OTHER;
    int mtu = 0;
    int speedBits = 0;  // Gauge32, bits/s, saturated
    int speedMbits = 0;
    std::string physAddress;
    int adminStatus = ADMIN_STATUS_DOWN;
    int operStatus = OPER_STATUS_UNKNOWN;
    int lastChange = 0;  // TimeTicks since the agent started
    std::string alias;
    std::string aliasHeld;  // the alias as the service gave it
    int linkTrapEnable = TRUE_VALUE;
    int linkTrapEnableHeld = TRUE_VALUE;
    int promiscuous = FALSE_VALUE;
    int connectorPresent = FALSE_VALUE;
    int discontinuityTime = 0;  // TimeTicks since the agent started
    unsigned long long inOctets = 0;
    unsigned long long inUcastPkts = 0;
    unsigned long long inMulticastPkts = 0;
    unsigned long long inDiscards = 0;
    unsigned long long inErrors = 0;
    unsigned long long inUnknownProtos = 0;
    unsigned long long outOctets = 0;
    unsigned long long outUcastPkts = 0;
    unsigned long long outDiscards = 0;
    unsigned long long outErrors = 0;

    // The writable columns a Set changed, for the interface named by OBJ_ID:
    // what goes back unchanged could undo a change made meanwhile by someone
    // else, and an alias the kernel holds longer than 64 octets would be
    // cut. A Set of the value held sends the trap setting, so that the
    // request is never empty.
    void reverseBuild(orla::message& request) override {
        request.insert(orla::OBJ_ID, static_cast<uint32_t>(index));
        if (alias != aliasHeld) request.insert(ifaced::IF_ALIAS, alias);
        if (linkTrapEnable != linkTrapEnableHeld || alias == aliasHeld)
            request.insert(ifaced::IF_LINK_TRAP_ENABLE, linkTrapEnable == TRUE_VALUE);
    }
};

// A Counter32 column: the low 32 bits of a 64-bit counter, so it wraps as
// RFC 2863 Counter32 objects do while the Counter64 column goes on.
class Counter32Packer : public NumPacker {
  public:
    explicit Counter32Packer(unsigned long long Data::*member)
        : NumPacker(ber::COUNTER32), member(member) {}
    int get(Data const* rec) const override {
        return rec ? static_cast<int>(static_cast<uint32_t>(rec->*member)) : 0;
    }
    void set(Data*, int) const override {}

  private:
    unsigned long long Data::*const member;
};

// The value of an enumerated field, or `def` when absent or out of range.
int enumField(orla::message const& object, orla::U32Key key, uint32_t max, int def) {
    const uint32_t value = object.get(key, 0);
    return value >= 1 && value <= max ? static_cast<int>(value) : def;
}

int truthValue(orla::message const& object, orla::BoolKey key, bool def) {
    return object.get(key, def) ? TRUE_VALUE : FALSE_VALUE;
}

// ifLastChange and ifCounterDiscontinuityTime: sysUpTime at the event, so
// ticks since the agent's start; an event before the start (or none since the
// service started, sent as 0) is 0. Differences are taken modulo 2^32, as the
// tick counter wraps: a change between the start and now is at most the
// agent's uptime after the start.
int ticksSinceAgentStart(uint32_t changedAt) {
    if (changedAt == 0) return 0;
    const uint32_t start = agentState.startTick;
    const uint32_t sinceStart = changedAt - start;
    if (sinceStart > orla::getJiffies() - start) return 0;
    return static_cast<int>(sinceStart);
}

void parseInterface(orla::message const& object, std::vector<Data*>* records) {
    const uint32_t id = object.get(orla::OBJ_ID, 0);
    // ifIndex is 1..2147483647; anything else cannot be a row.
    if (id == 0 || id > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return;

    auto* rec = new InterfaceRecord;
    rec->index = static_cast<int>(id);
    rec->name = object.get(ifaced::IF_NAME);
    rec->type =
        enumField(object, ifaced::IF_TYPE, std::numeric_limits<int32_t>::max(), IF_TYPE_OTHER);
    rec->mtu = saturatedInt32(object.get(ifaced::IF_MTU, 0));
    const uint64_t mbits = object.get(ifaced::IF_SPEED_MBPS, 0);
    // ifSpeed is a Gauge32: it sticks at its maximum, and ifHighSpeed says more.
    const uint64_t bits = mbits * 1000000;
    rec->speedBits = static_cast<int>(static_cast<uint32_t>(
        bits > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : bits));
    rec->speedMbits = static_cast<int>(static_cast<uint32_t>(mbits));
    rec->physAddress = object.get(ifaced::IF_HW_ADDRESS);
    rec->adminStatus = enumField(object, ifaced::IF_ADMIN_STATUS, 3, ADMIN_STATUS_DOWN);
    rec->operStatus = enumField(object, ifaced::IF_OPER_STATUS, 7, OPER_STATUS_UNKNOWN);
    rec->lastChange = ticksSinceAgentStart(object.get(ifaced::IF_LAST_CHANGE, 0));
    rec->alias = object.get(ifaced::IF_ALIAS);
    rec->aliasHeld = rec->alias;
    rec->linkTrapEnable = truthValue(object, ifaced::IF_LINK_TRAP_ENABLE, true);
    rec->linkTrapEnableHeld = rec->linkTrapEnable;
    rec->promiscuous = truthValue(object, ifaced::IF_PROMISCUOUS, false);
    rec->connectorPresent = truthValue(object, ifaced::IF_CONNECTOR_PRESENT, false);
    rec->discontinuityTime = ticksSinceAgentStart(object.get(ifaced::IF_COUNTER_DISCONTINUITY, 0));
    rec->inOctets = ifaced::getCounter(object, ifaced::IF_IN_OCTETS);
    rec->inUcastPkts = ifaced::getCounter(object, ifaced::IF_IN_UCAST_PACKETS);
    rec->inMulticastPkts = ifaced::getCounter(object, ifaced::IF_IN_MULTICAST_PACKETS);
    rec->inDiscards = ifaced::getCounter(object, ifaced::IF_IN_DISCARDS);
    rec->inErrors = ifaced::getCounter(object, ifaced::IF_IN_ERRORS);
    rec->inUnknownProtos = ifaced::getCounter(object, ifaced::IF_IN_UNKNOWN_PROTOS);
    rec->outOctets = ifaced::getCounter(object, ifaced::IF_OUT_OCTETS);
    rec->outUcastPkts = ifaced::getCounter(object, ifaced::IF_OUT_UCAST_PACKETS);
    rec->outDiscards = ifaced::getCounter(object, ifaced::IF_OUT_DISCARDS);
    rec->outErrors = ifaced::getCounter(object, ifaced::IF_OUT_ERRORS);
    records->push_back(rec);
}

struct TableChangeRecord : Data {
    int lastChange = 0;  // TimeTicks since the agent started
};

// ifTableLastChange from the service's get-count reply; null (no instance)
// when the service did not answer: GetProvider hands an empty message then.
Data* makeTableChange(orla::message const& reply) {
    if (!reply.has(ifaced::IF_TABLE_LAST_CHANGE)) return nullptr;
    auto* rec = new TableChangeRecord;
    rec->lastChange = ticksSinceAgentStart(reply.get(ifaced::IF_TABLE_LAST_CHANGE));
    return rec;
}

// ifXTable AUGMENTS ifEntry: its rows are the ifTable's rows, and its columns
// are further fields of the same record.
class InterfaceExtensionTable : public AugmentProxyTable {
  public:
    using AugmentProxyTable::AugmentProxyTable;
    Data* augment(OID const&, Data* baseRecord) override { return baseRecord; }
};

Packer* number(int InterfaceRecord::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
}
Packer* text(std::string InterfaceRecord::*member) {
    return new DataStringPacker(field(member), ber::OCTET_STRING, 0);
}
Packer* counter32(unsigned long long InterfaceRecord::*member) {
    return new Counter32Packer(field(member));
}
Packer* counter64(unsigned long long InterfaceRecord::*member) {
    return new DataBignumPacker(field(member), ber::COUNTER64);
}

const OID INTERFACES("1.3.6.1.2.1.2");
const OID IF_ENTRY("1.3.6.1.2.1.2.2.1");
const OID IF_X_ENTRY("1.3.6.1.2.1.31.1.1.1");
const OID IF_TABLE_LAST_CHANGE("1.3.6.1.2.1.31.1.5");

}  // namespace

extern "C" void autorun() {
    auto* interfaces = new GetAllProvider();
    interfaces->addSource(parseInterface, {ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER});

    auto* ifTable = new MapTable(interfaces);
    Packer* ifIndex = number(&InterfaceRecord::index, ber::INTEGER);
    ifTable->addIndex(ifIndex);

    // ifNumber: CMD_GETCOUNT to the service, not a read of every row.
    addScalarLeaf(INTERFACES + 1,
                  new DataNumPacker(field(&CountProvider::CountData::rowCount), ber::INTEGER),
                  new CountProvider(ifTable), Access::ReadOnly);

    const std::pair<unsigned, Packer*> ifColumns[] = {
        {1, ifIndex},
        {2, text(&InterfaceRecord::name)},  // ifDescr
        {3, number(&InterfaceRecord::type, ber::INTEGER)},
        {4, number(&InterfaceRecord::mtu, ber::INTEGER)},
        {5, number(&InterfaceRecord::speedBits, ber::GAUGE32)},
        {6, text(&InterfaceRecord::physAddress)},
        {7, number(&InterfaceRecord::adminStatus, ber::INTEGER)},
        {8, number(&InterfaceRecord::operStatus, ber::INTEGER)},
        {9, number(&InterfaceRecord::lastChange, ber::TIMETICKS)},
        {10, counter32(&InterfaceRecord::inOctets)},
        {11, counter32(&InterfaceRecord::inUcastPkts)},
        {13, counter32(&InterfaceRecord::inDiscards)},
        {14, counter32(&InterfaceRecord::inErrors)},
        {15, counter32(&InterfaceRecord::inUnknownProtos)},
        {16, counter32(&InterfaceRecord::outOctets)},
        {17, counter32(&InterfaceRecord::outUcastPkts)},
        {19, counter32(&InterfaceRecord::outDiscards)},
        {20, counter32(&InterfaceRecord::outErrors)},
    };
    for (auto const& [column, packer] : ifColumns)
        addColumnarLeaf(IF_ENTRY + column, packer, ifTable, Access::ReadOnly);

    auto* ifXTable = new InterfaceExtensionTable(ifTable);
    const std::pair<unsigned, Packer*> ifXColumns[] = {
        {1, text(&InterfaceRecord::name)},  // ifName
        {2, counter32(&InterfaceRecord::inMulticastPkts)},
        {6, counter64(&InterfaceRecord::inOctets)},
        {7, counter64(&InterfaceRecord::inUcastPkts)},
        {8, counter64(&InterfaceRecord::inMulticastPkts)},
        {10, counter64(&InterfaceRecord::outOctets)},
        {11, counter64(&InterfaceRecord::outUcastPkts)},
        {15, number(&InterfaceRecord::speedMbits, ber::GAUGE32)},
        {16, number(&InterfaceRecord::promiscuous, ber::INTEGER)},  // ifPromiscuousMode
        {17, number(&InterfaceRecord::connectorPresent, ber::INTEGER)},
        {19, number(&InterfaceRecord::discontinuityTime, ber::TIMETICKS)},
    };
    for (auto const& [column, packer] : ifXColumns)
        addColumnarLeaf(IF_X_ENTRY + column, packer, ifXTable, Access::ReadOnly);

    // The writable columns are served over ifTable itself, not over
    // ifXTable: an AugmentProxyTable takes no writes. The rows are the same
    // records under the same indexes either way, so reads agree with the
    // other ifXTable columns, and a Set goes from the ifTable's record to
    // GetAllProvider::setData -> reverseBuild -> CMD_SETOBJ to orla-ifaced;
    // when the service refuses it, the Set is commitFailed and the record
    // keeps the value it had. ifLinkUpDownTrapEnable: enabled(1),
    // disabled(2); ifAlias: SIZE (0..64), RFC 2863.
    addColumnarLeaf(IF_X_ENTRY + 14,
                    (new DataNumPacker(field(&InterfaceRecord::linkTrapEnable), ber::INTEGER))
                        ->setRange(TRUE_VALUE, FALSE_VALUE),
                    ifTable);
    addColumnarLeaf(IF_X_ENTRY + 18,
                    (new DataStringPacker(field(&InterfaceRecord::alias), ber::OCTET_STRING, 0))
                        ->setMaxLength(64),
                    ifTable);

    // Read-only: no write command is ever sent.
    addScalarLeaf(
        IF_TABLE_LAST_CHANGE,
        new DataNumPacker(field(&TableChangeRecord::lastChange), ber::TIMETICKS),
        new GetProvider(makeTableChange, {ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER},
                        orla::CMD_GETCOUNT, 0),
        Access::ReadOnly);

    registerLinkEvents();
    registerModule(OID("1.3.6.1.2.1.31"), "IF-MIB: network interfaces (RFC 2863)");
}
