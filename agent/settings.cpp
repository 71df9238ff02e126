// The settings handler of the agent: get, set, the trap generator list.
#include <algorithm>
#include <iostream>

#include "agent/engine_id.h"
#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "community/community_keep.h"
#include "mib/traps.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"

namespace {

void logSender(const char* what, const orla::message& request) {
    if (!request.has(orla::MSG_FROM)) return;
    std::vector<uint32_t> from = request.get(orla::MSG_FROM);
    if (!from.empty()) std::cerr << what << from.front() << std::endl;
}

}  // namespace

void SnmpLooper::useEngineID(const std::string& text) {
    // An empty text stands for the agent's own ID; the shared prefix alone
    // only when the kernel could give no random octets.
    serverInfo.engineID =
        text.empty() && !generatedEngineID.empty() ? generatedEngineID : formatEngineID(text);
    communityKeep->setEngineID(serverInfo.engineID);  // keys are localised to it
}

orla::message SnmpLooper::getConfig() const {
    orla::message cfg;
    cfg.insert(snmp::SNMP_COMMUNITY_NAME, communityName);
    cfg.insert(snmp::SNMP_TEXT2, text2);
    cfg.insert(snmp::SNMP_TEXT3, text3);
    cfg.insert(snmp::SNMP_ENGINE_ID, deformatEngineID(serverInfo.engineID));
    cfg.insert(snmp::SNMP_ENGINE_PARAM, serverInfo.engineParam);
    cfg.insert(snmp::SNMP_TRAP_TARGET, trapTarget);
    cfg.insert(snmp::SNMP_TRAP_VERSION, trapVersion);
    cfg.insert(snmp::SNMP_TRAP_COMMUNITY, trapCommunity);
    cfg.insert(snmp::SNMP_TRAP_GENERATORS, trapGenerators);
    cfg.insert(snmp::SNMP_ENGINE_BOOTS, serverInfo.engineBoots);
    cfg.insert(snmp::SNMP_ENABLED, enabled);
    cfg.insert(snmp::SNMP_GENERATED_ENGINE_ID, generatedEngineID);
    cfg.insert(snmp::SNMP_AUTHEN_TRAPS, authenTraps);
    return cfg;
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
