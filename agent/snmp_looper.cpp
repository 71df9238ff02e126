#include "agent/snmp_looper.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/engine_id.h"
#include "agent/send_trap.h"
#include "mib/platform_exchange.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
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

// And for requests that must not wait: the answer comes through the looper.
std::optional<orla::message> startThroughAgent(const orla::message& request, uint32_t timeout,
                                               const std::string& ticket) {
    if (!loop) return orla::errorMsg(orla::ERR_NO_SERVICE, "no agent service");
    return loop->requestAsync(request, timeout, [ticket](orla::message reply) {
        exchangeAnswered(ticket, std::move(reply));
    });
}

void logSender(const char* what, const orla::message& request) {
    if (!request.has(orla::MSG_FROM)) return;
    std::vector<uint32_t> from = request.get(orla::MSG_FROM);
    if (!from.empty()) std::cerr << what << from.front() << std::endl;
}

}  // namespace

SnmpLooper::SnmpLooper(const std::string& settingsPath, const std::string& communityPath,
                       const std::string& accessPath, const std::string& targetPath)
    : orla::Looper(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), store(settingsPath, 5) {
    std::cerr << "communityKeep = new CommunityKeep;" << std::endl;
    communities_ = std::make_unique<CommunityKeep>(communityPath);
    communityKeep = communities_.get();
    access_ = std::make_unique<AccessKeep>(accessPath);
    access_->init();
    requestRules.access = access_.get();
    transport_ = std::make_unique<UdpTransport>(*communities_, serverInfo, requestRules,
                                                [this] { trapAuthenticationFailures(); });
    targets_ = std::make_unique<NotifyTargets>([this] { return settingsTarget(); }, targetPath);
    informs_ = std::make_unique<InformQueue>(
        [this](const Endpoint& to, std::span<const unsigned char> message) {
            return transport_->sendTo(to, message);
        },
        [this](uint32_t target) -> NotifyTarget::Counters& { return targets_->counters(target); },
        serverInfo);
    transport_->takeResponsesWith(
        [this](std::span<const unsigned char> message, std::span<const unsigned char> peer) {
            return informs_->takeResponse(message, peer);
        });
    std::cerr << "communityKeep->init();" << std::endl;
    // The settings store exists from the first start on: without it, a
    // missing community store is a first start, with it a lost table.
    const bool started = store.opened() != orla::Store::Opened::Missing || !store.setAside().empty();
    communities_->init(started);
    std::cerr << "addHandler(snmp::ID_COMMUNITIES, communityKeep);" << std::endl;
    addHandler(snmp::ID_COMMUNITIES, communities_.get());
    addHandler(snmp::ID_ACCESS, access_.get());
    addHandler(snmp::ID_TARGETS, targets_.get());
    setPlatformExchange(exchangeThroughAgent);
    setExchangeStarter(startThroughAgent);
    serverInfo.engineTimeBase = orla::getUptime();
    startJiffies = orla::getJiffies();
    serverInfo.engineParam = 15;
}

SnmpLooper::~SnmpLooper() {
    disable();
    setExchangeStarter(nullptr);
    if (communityKeep == communities_.get()) communityKeep = nullptr;
}

void SnmpLooper::init() {
    addPolicy(snmp::CMD_TRAP_REQUEST, POLICY_TRAP_REQUEST);
    addPolicy(snmp::CMD_LIST_GENERATORS, POLICY_LIST_GENERATORS);

    std::string engineText;
    auto stored = store.find(snmp::SETTINGS_RECORD);
    if (stored != store.end()) {
        engineText = readSettingsRecord(stored->second, *this, serverInfo);
        // RFC 3414 2.2.2: latched at its maximum, never wrapped.
        const uint32_t boots = serverInfo.engineBoots;
        serverInfo.engineBoots = boots < usm::MAX_ENGINE_BOOTS ? boots + 1 : usm::MAX_ENGINE_BOOTS;
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
        send_trap(orla::message(), makers, snmp::START_TRAP_ID);
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

void SnmpLooper::send_trap(const orla::message& request, std::span<const TrapMaker> makers,
                           std::optional<uint32_t> generator) {
    if (!generator && request.has(snmp::TRAP_GENERATOR)) {
        const std::string name = request.get(snmp::TRAP_GENERATOR);
        for (uint32_t id = 0; id < scribers.size(); ++id) {
            if (scribers[id].name == name) generator = id;
        }
    }
    sendTrap(request, makers, generator, enabled,
             NotificationRoutes{*communities_, access_.get(), agentState, *targets_, *informs_});
}

std::optional<NotifyTarget> SnmpLooper::settingsTarget() const {
    if (trapTarget == 0 || trapCommunity == snmp::NO_COMMUNITY) return std::nullopt;
    NotifyTarget sink;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &trapTarget, text, sizeof text);
    sink.address = text;
    sink.version = trapVersion;
    sink.community = trapCommunity;
    return sink;
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

void SnmpLooper::useEngineID(const std::string& text) {
    // An empty text stands for the agent's own ID; the shared prefix alone
    // only when the kernel could give no random octets.
    serverInfo.engineID =
        text.empty() && !generatedEngineID.empty() ? generatedEngineID : formatEngineID(text);
    communities_->setEngineID(serverInfo.engineID);  // keys are localised to it
}

orla::message SnmpLooper::getConfig() const {
    return settingsRecord(*this, serverInfo);
}

orla::message SnmpLooper::cmdGet(const orla::message& request) {
    if (request.has(orla::MSG_FROM)) {
        logSender("cmd_get from ", request);
    } else {
        std::cerr << "bogonymous cmd_get request" << std::endl;
    }
    return getConfig();
}

orla::message SnmpLooper::getObject(uint32_t) {
    return getConfig();
}

orla::message SnmpLooper::cmdSet(const orla::message& request) {
    logSender("cmd_set from ", request);
    // RFC 3414 2.2.2: snmpEngineBoots only grows, up to its latch. A lower
    // count would put messages recorded since then back in the time window.
    if (request.has(snmp::SNMP_ENGINE_BOOTS)) {
        const uint32_t boots = request.get(snmp::SNMP_ENGINE_BOOTS);
        if (boots > usm::MAX_ENGINE_BOOTS) {
            return orla::errorMsg(orla::ERR_BAD_VALUE, "engine boots must be at most " +
                                                           std::to_string(usm::MAX_ENGINE_BOOTS));
        }
        if (boots < serverInfo.engineBoots) {
            return orla::errorMsg(orla::ERR_BAD_VALUE,
                                  "engine boots cannot go below " +
                                      std::to_string(serverInfo.engineBoots) +
                                      ": recorded messages would be accepted again");
        }
    }
    if (request.has(snmp::SNMP_BULK_REPETITIONS) && request.get(snmp::SNMP_BULK_REPETITIONS) < 1)
        return orla::errorMsg(orla::ERR_BAD_VALUE, "bulk repetitions must be at least 1");
    if (request.has(snmp::SNMP_BULK_REPLY_OCTETS)) {
        const uint32_t octets = request.get(snmp::SNMP_BULK_REPLY_OCTETS);
        if (octets < BULK_REPLY_OCTETS_MIN || octets > ber::MAX_UDP_PAYLOAD) {
            return orla::errorMsg(orla::ERR_BAD_VALUE,
                                  "bulk reply octets must be from " +
                                      std::to_string(BULK_REPLY_OCTETS_MIN) + " to " +
                                      std::to_string(ber::MAX_UDP_PAYLOAD));
        }
    }
    if (request.get(snmp::SNMP_ENGINE_ID).size() > ENGINE_ID_TEXT_MAX) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "engine ID text must have at most " +
                                                       std::to_string(ENGINE_ID_TEXT_MAX) +
                                                       " characters");
    }
    // Undo leaves the boot count, which never goes back, and the agent's own ID.
    orla::message undo = getConfig();
    undo.erase(snmp::SNMP_ENGINE_BOOTS.raw());
    undo.erase(snmp::SNMP_GENERATED_ENGINE_ID.raw());
    undo.insert(orla::MSG_CMD, orla::CMD_SET);

    communityName = request.get(snmp::SNMP_COMMUNITY_NAME, communityName);
    text2 = request.get(snmp::SNMP_TEXT2, text2);
    text3 = request.get(snmp::SNMP_TEXT3, text3);
    serverInfo.engineParam = request.get(snmp::SNMP_ENGINE_PARAM, serverInfo.engineParam);
    trapTarget = request.get(snmp::SNMP_TRAP_TARGET, trapTarget);
    trapCommunity = request.get(snmp::SNMP_TRAP_COMMUNITY, trapCommunity);
    trapVersion = request.get(snmp::SNMP_TRAP_VERSION, trapVersion);
    authenTraps = request.get(snmp::SNMP_AUTHEN_TRAPS, authenTraps);
    requestRules.bulkRepetitions =
        request.get(snmp::SNMP_BULK_REPETITIONS, requestRules.bulkRepetitions);
    requestRules.bulkReplyOctets =
        request.get(snmp::SNMP_BULK_REPLY_OCTETS, requestRules.bulkReplyOctets);

    if (request.has(snmp::SNMP_TRAP_GENERATORS)) {
        std::vector<uint32_t> requested = request.get(snmp::SNMP_TRAP_GENERATORS);
        trapGenerators = requested;
        for (const Scribers& generator : scribers) {
            generator.unsubscribe();
            std::cout << "unsubscribed from " << generator.name << std::endl;
        }
        std::vector<uint32_t> selected;
        for (uint32_t id : requested) {
            if (std::find(selected.begin(), selected.end(), id) != selected.end()) continue;
            selected.push_back(id);
            if (id < scribers.size()) {
                scribers[id].subscribe();
                std::cout << "subscribed to " << scribers[id].name << std::endl;
            }
        }
        trapGenerators = selected;
    }

    if (request.has(snmp::SNMP_ENGINE_BOOTS)) {
        serverInfo.engineBoots = request.get(snmp::SNMP_ENGINE_BOOTS);
    }
    if (request.has(snmp::SNMP_ENGINE_ID)) useEngineID(request.get(snmp::SNMP_ENGINE_ID));
    if (request.has(snmp::SNMP_ENABLED)) {
        enabled = request.get(snmp::SNMP_ENABLED);
        if (enabled) {
            enable();
        } else {
            disable();
        }
    }

    sendUndo(request, undo, "changed snmp settings");
    notifyChange(0xffffffff, request);
    // The running agent already uses the new settings; a caller told of
    // success would believe they survive a restart.
    if (!store.set(snmp::SETTINGS_RECORD, getConfig())) {
        return orla::errorMsg(orla::ERR_BAD_VALUE,
                              "cannot write the settings store: the change lasts until restart");
    }
    return {};
}

orla::message SnmpLooper::cmdUnknown(const orla::message& request, uint32_t cmd) {
    orla::message reply;
    if (cmd == snmp::CMD_TRAP_REQUEST || cmd == snmp::CMD_TRAP_REQUEST_ALT1 ||
        cmd == snmp::CMD_TRAP_REQUEST_ALT2) {
        send_trap(request);
    } else if (cmd == snmp::CMD_LIST_GENERATORS) {
        orla::message startTrap;
        startTrap.insert(orla::OBJ_ID, snmp::START_TRAP_ID);
        startTrap.insert(orla::OBJ_NAME, std::string("start-trap"));
        reply.append(orla::OBJ_LIST, startTrap);
        for (uint32_t id = 0; id < scribers.size(); ++id) {
            orla::message entry;
            entry.insert(orla::OBJ_ID, id);
            entry.insert(orla::OBJ_NAME, scribers[id].name);
            reply.append(orla::OBJ_LIST, entry);
        }
    }
    return reply;
}

void SnmpLooper::startSubscribers() {
    for (uint32_t id : trapGenerators) {
        if (id < scribers.size()) scribers[id].subscribe();
    }
}
