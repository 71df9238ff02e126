#include "agent/snmp_looper.h"

#include <iostream>
#include <optional>
#include <vector>

#include "agent/engine_id.h"
#include "agent/settings.h"
#include "community/community_keep.h"
#include "mib/get_all.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "platform/snmp/usm.h"
#include "trap/trap_maker.h"

SnmpLooper* loop = nullptr;
CommunityKeep* communityKeep = nullptr;

namespace {

constexpr uint32_t POLICY_TRAP_REQUEST = 128;
constexpr uint32_t POLICY_LIST_GENERATORS = 704;
// What the looper is told while the agent serves requests, and while it does not.
constexpr uint32_t LEAVE_SERVING = 0;
constexpr uint32_t LEAVE_IDLE = 1000;

// The providers' way to platform services: the agent's own looper.
orla::message exchangeThroughAgent(const orla::message& request, uint32_t timeout) {
    if (!loop) return orla::errorMsg(orla::ERR_NO_SERVICE, "no agent service");
    return loop->exchangeMessage(request, timeout);
}

}  // namespace

SnmpLooper::SnmpLooper(const std::string& settingsPath, const std::string& communityPath)
    : orla::Looper(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), store(settingsPath, 5) {
    std::cerr << "communityKeep = new CommunityKeep;" << std::endl;
    communities_ = std::make_unique<CommunityKeep>(communityPath);
    communityKeep = communities_.get();
    transport_ = std::make_unique<UdpTransport>(*communities_, serverInfo,
                                                [this] { trapAuthenticationFailures(); });
    std::cerr << "communityKeep->init();" << std::endl;
    // The settings store exists from the first start on: without it, a
    // missing community store is a first start, with it a lost table.
    const bool started = store.opened() != orla::Store::Opened::Missing || !store.setAside().empty();
    communityKeep->init(started);
    std::cerr << "addHandler(snmp::ID_COMMUNITIES, communityKeep);" << std::endl;
    addHandler(snmp::ID_COMMUNITIES, communityKeep);
    setPlatformExchange(exchangeThroughAgent);
    serverInfo.engineTimeBase = orla::getUptime();
    startJiffies = orla::getJiffies();
    trapCommunity = snmp::NO_COMMUNITY;
    serverInfo.engineParam = 15;
    trapTarget = 0;
    trapVersion = 0;
}

SnmpLooper::~SnmpLooper() {
    disable();
    if (communityKeep == communities_.get()) communityKeep = nullptr;
}

void SnmpLooper::init() {
    addPolicy(snmp::CMD_TRAP_REQUEST, POLICY_TRAP_REQUEST);
    addPolicy(snmp::CMD_LIST_GENERATORS, POLICY_LIST_GENERATORS);

    std::string engineText;
    auto stored = store.find(snmp::SETTINGS_RECORD);
    if (stored != store.end()) {
        const orla::message& cfg = stored->second;
        communityName = cfg.get(snmp::SNMP_COMMUNITY_NAME);
        text2 = cfg.get(snmp::SNMP_TEXT2);
        text3 = cfg.get(snmp::SNMP_TEXT3);
        serverInfo.engineParam = cfg.get(snmp::SNMP_ENGINE_PARAM, 0);
        trapTarget = cfg.get(snmp::SNMP_TRAP_TARGET, 0);
        trapVersion = cfg.get(snmp::SNMP_TRAP_VERSION, 0);
        trapCommunity = cfg.get(snmp::SNMP_TRAP_COMMUNITY, snmp::NO_COMMUNITY);
        if (cfg.has(snmp::SNMP_TRAP_GENERATORS)) {
            trapGenerators = cfg.get(snmp::SNMP_TRAP_GENERATORS);
        }
        // RFC 3414 2.2.2: latched at its maximum, never wrapped.
        const uint32_t boots = cfg.get(snmp::SNMP_ENGINE_BOOTS, 0);
        serverInfo.engineBoots = boots < usm::MAX_ENGINE_BOOTS ? boots + 1 : usm::MAX_ENGINE_BOOTS;
        engineText = cfg.get(snmp::SNMP_ENGINE_ID);
        generatedEngineID = cfg.get(snmp::SNMP_GENERATED_ENGINE_ID);
        enabled = cfg.get(snmp::SNMP_ENABLED, false);
        authenTraps = cfg.get(snmp::SNMP_AUTHEN_TRAPS, false);
    }
    std::cout << "engineBoots = " << serverInfo.engineBoots << std::endl;
    if (!isGeneratedEngineID(generatedEngineID)) generatedEngineID = generateEngineID();
    // The table was loaded before the engine ID was known (RFC 3414 2.6).
    useEngineID(engineText);
    // The boot count and the agent's own engine ID are on disk before the
    // first request is served.
    store.set(snmp::SETTINGS_RECORD, getConfig());

    if (enabled) {
        enable();
    } else {
        setupLeave(LEAVE_IDLE);
    }
}

void SnmpLooper::startup() {
    for (uint32_t generator : trapGenerators) {
        if (generator != snmp::START_TRAP_ID) continue;
        // Offered only for this one trap, after the registered makers: the
        // start trap takes every request.
        std::vector<TrapMaker> makers = trapMakers;
        makers.push_back(startupTrapMaker);
        send_trap(orla::message(), makers);
        return;
    }
}

void SnmpLooper::enable() {
    if (transport_->isOpen()) return;
    setupLeave(LEAVE_SERVING);
    transport_->open();
}

void SnmpLooper::disable() {
    if (!transport_->isOpen()) return;
    transport_->close();
    setupLeave(LEAVE_IDLE);
}

void SnmpLooper::trapAuthenticationFailures() {
    const uint32_t failures =
        serverInfo.dropped.badCommunityNames + serverInfo.usmStats[usm::WRONG_DIGEST];
    if (failures == authFailuresSeen) return;
    authFailuresSeen = failures;
    if (!authenTraps) return;
    const uint64_t now = orla::monotonicMillis();
    if (lastAuthTrapMillis && now - *lastAuthTrapMillis < AUTH_TRAP_INTERVAL_MILLIS) return;
    lastAuthTrapMillis = now;
    // The only maker asked: it takes every request.
    const TrapMaker makers[] = {authenticationFailureTrapMaker};
    send_trap(orla::message(), makers);
}
