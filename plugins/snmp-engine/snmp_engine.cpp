// The agent's own SNMP engine, as SNMPv3 managers see it:
//   SNMP-FRAMEWORK-MIB snmpEngine (RFC 3411 5, 1.3.6.1.6.3.10.2.1)
//     .1.0 snmpEngineID              OCTET STRING
//     .2.0 snmpEngineBoots           INTEGER
//     .3.0 snmpEngineTime            INTEGER, seconds
//     .4.0 snmpEngineMaxMessageSize  INTEGER, octets
//   SNMP-USER-BASED-SM-MIB usmStats (RFC 3414 5, 1.3.6.1.6.3.15.1.1)
//     .1.0 to .6.0, Counter32: the report reasons' counters
//   SNMP-MPD-MIB snmpMPDStats (RFC 3412 5, 1.3.6.1.6.3.11.2.1), Counter32
//     .1.0 snmpUnknownSecurityModels, .2.0 snmpInvalidMsgs,
//     .3.0 snmpUnknownPDUHandlers
//   SNMPv2-MIB snmp group (RFC 3418, 1.3.6.1.2.1.11), Counter32 but .30:
//     .1.0 snmpInPkts, .3.0 snmpInBadVersions, .4.0 snmpInBadCommunityNames,
//     .5.0 snmpInBadCommunityUses, .6.0 snmpInASNParseErrs,
//     .30.0 snmpEnableAuthenTraps (INTEGER, read-write: a setting),
//     .31.0 snmpSilentDrops, .32.0 snmpProxyDrops
//   SNMPv2-MIB snmpSetSerialNo (1.3.6.1.6.3.1.1.6.1.0), TestAndIncr
//   SNMP-USER-BASED-SM-MIB usmUser (RFC 3414 5, 1.3.6.1.6.3.15.1.2):
//     .1.0 usmUserSpinLock, TestAndIncr; .2 usmUserTable, the agent's
//
// All read-only but snmpEnableAuthenTraps, snmpSetSerialNo and usmUser. Every value
// is read from the agent on each request, from the same state
// the SNMPv3 message header is built from, so a manager reads here exactly
// the engine ID, boots and time that discovery gave it.
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "mib/sdk.h"

namespace {

OID engineObject(unsigned arc) {
    return OID("1.3.6.1.6.3.10.2.1") + arc;
}

OID usmStatsObject(unsigned arc) {
    return OID("1.3.6.1.6.3.15.1.1") + arc;
}

struct EngineRecord : Data {
    std::string engineID;
    int boots = 0;
    int time = 0;
};

Data* currentEngine() {
    static EngineRecord rec;
    const V3ServerInfo& engine = agentState.engine;
    if (engine.engineID.empty()) return nullptr;
    rec.engineID = engine.engineID;
    // Both stay below 2^31: boots latch at 2^31 - 1 (RFC 3414 2.2.2), the
    // time counts seconds since the boot.
    rec.boots = static_cast<int>(engine.engineBoots);
    rec.time = static_cast<int>(agentEngineTime());
    return &rec;
}

struct CounterRecord : Data {
    int count = 0;
};

// Counter32: the packer sends the bits unsigned.
template <int REASON>
Data* currentUsmStat() {
    static CounterRecord rec;
    rec.count = static_cast<int>(agentState.engine.usmStats[REASON]);
    return &rec;
}

template <uint32_t MessageDrops::*COUNTER>
Data* currentDrops() {
    static CounterRecord rec;
    rec.count = static_cast<int>(agentState.engine.dropped.*COUNTER);
    return &rec;
}

Data* currentInPackets() {
    static CounterRecord rec;
    rec.count = static_cast<int>(agentState.engine.inPackets);
    return &rec;
}

// snmpEnableAuthenTraps, enabled(1) or disabled(2): the agent's setting.
struct AuthenTrapsRecord : Data {
    int enabled = 2;
    void reverseBuild(orla::message& request) override {
        request.insert(snmp::SNMP_AUTHEN_TRAPS, enabled == 1);
    }
};

Data* makeAuthenTraps(orla::message const& settings) {
    auto* rec = new AuthenTrapsRecord;
    rec->enabled = settings.get(snmp::SNMP_AUTHEN_TRAPS, false) ? 1 : 2;
    return rec;
}

}  // namespace

extern "C" void autorun() {
    DataProvider* engine = new ProxyDataProvider(currentEngine);
    addScalarLeaf(engineObject(1),
                  new DataStringPacker(field(&EngineRecord::engineID), ber::OCTET_STRING, 0),
                  engine, Access::ReadOnly);
    addScalarLeaf(engineObject(2), new DataNumPacker(field(&EngineRecord::boots), ber::INTEGER),
                  engine, Access::ReadOnly);
    addScalarLeaf(engineObject(3), new DataNumPacker(field(&EngineRecord::time), ber::INTEGER),
                  engine, Access::ReadOnly);
    // The msgMaxSize of every SNMPv3 message the agent sends, and the bound
    // of every reply: the largest UDP payload over IPv4. Nothing larger can
    // arrive either.
    addScalarConstNumLeaf(engineObject(4), static_cast<int>(ber::MAX_UDP_PAYLOAD), ber::INTEGER);

    Packer* counter = new DataNumPacker(field(&CounterRecord::count), ber::COUNTER32);
    addScalarLeaf(usmStatsObject(1), counter,
                  new ProxyDataProvider(currentUsmStat<usm::UNSUPPORTED_SEC_LEVEL>),
                  Access::ReadOnly);
    addScalarLeaf(usmStatsObject(2), counter,
                  new ProxyDataProvider(currentUsmStat<usm::NOT_IN_TIME_WINDOW>), Access::ReadOnly);
    addScalarLeaf(usmStatsObject(3), counter,
                  new ProxyDataProvider(currentUsmStat<usm::UNKNOWN_USER_NAME>), Access::ReadOnly);
    addScalarLeaf(usmStatsObject(4), counter,
                  new ProxyDataProvider(currentUsmStat<usm::UNKNOWN_ENGINE_ID>), Access::ReadOnly);
    addScalarLeaf(usmStatsObject(5), counter,
                  new ProxyDataProvider(currentUsmStat<usm::WRONG_DIGEST>), Access::ReadOnly);
    addScalarLeaf(usmStatsObject(6), counter,
                  new ProxyDataProvider(currentUsmStat<usm::DECRYPTION_ERROR>), Access::ReadOnly);

    const std::pair<OID, DataProvider*> drops[] = {
        {OID("1.3.6.1.6.3.11.2.1.1"),
         new ProxyDataProvider(currentDrops<&MessageDrops::unknownSecurityModels>)},
        {OID("1.3.6.1.6.3.11.2.1.2"),
         new ProxyDataProvider(currentDrops<&MessageDrops::invalidMessages>)},
        {OID("1.3.6.1.6.3.11.2.1.3"),
         new ProxyDataProvider(currentDrops<&MessageDrops::unknownPduHandlers>)},
        // SNMP-TARGET-MIB snmpUnknownContexts (RFC 3413 4.1.2).
        {OID("1.3.6.1.6.3.12.1.5"),
         new ProxyDataProvider(currentDrops<&MessageDrops::unknownContexts>)},
        {OID("1.3.6.1.2.1.11.3"), new ProxyDataProvider(currentDrops<&MessageDrops::badVersions>)},
        {OID("1.3.6.1.2.1.11.6"),
         new ProxyDataProvider(currentDrops<&MessageDrops::asnParseErrors>)},
    };
    for (const auto& [name, provider] : drops)
        addScalarLeaf(name, counter, provider, Access::ReadOnly);

    const OID snmpGroup("1.3.6.1.2.1.11");
    addScalarLeaf(snmpGroup + 1, counter, new ProxyDataProvider(currentInPackets),
                  Access::ReadOnly);
    addScalarLeaf(snmpGroup + 4, counter,
                  new ProxyDataProvider(currentDrops<&MessageDrops::badCommunityNames>),
                  Access::ReadOnly);
    addScalarLeaf(snmpGroup + 5, counter,
                  new ProxyDataProvider(currentDrops<&MessageDrops::badCommunityUses>),
                  Access::ReadOnly);
    addScalarLeaf(
        snmpGroup + 30,
        (new DataNumPacker(field(&AuthenTrapsRecord::enabled), ber::INTEGER))->setRange(1, 2),
        new GetProvider(makeAuthenTraps, {snmp::SERVICE_ID}, orla::CMD_GET, orla::CMD_SET));
    // Every reply fits the requester's limit: one that would not becomes
    // tooBig, which is smaller than the request was. And the agent is no
    // proxy. So neither drop ever happens.
    addScalarConstNumLeaf(snmpGroup + 31, 0, ber::COUNTER32);
    addScalarConstNumLeaf(snmpGroup + 32, 0, ber::COUNTER32);
    // The one context served is always available: snmpUnavailableContexts.
    addScalarConstNumLeaf(OID("1.3.6.1.6.3.12.1.4"), 0, ber::COUNTER32);
    addLeaf(OID("1.3.6.1.6.3.1.1.6.1"), new TestAndIncrLeaf);
    // usmUser (RFC 3414 5): the spin lock, and the users' table the agent
    // serves from its own table of users.
    addLeaf(OID("1.3.6.1.6.3.15.1.2.1"), new TestAndIncrLeaf);
    if (agentState.makeUserTable) addLeaf(OID("1.3.6.1.6.3.15.1.2.2"), agentState.makeUserTable());

    registerModule(OID("1.3.6.1.6.3.10"), "SNMP-FRAMEWORK-MIB: the SNMP engine (RFC 3411)");
    registerModule(OID("1.3.6.1.6.3.11"),
                   "SNMP-MPD-MIB: message processing and dispatching (RFC 3412)");
    registerModule(OID("1.3.6.1.6.3.15"),
                   "SNMP-USER-BASED-SM-MIB: the user-based security model (RFC 3414)");
}
