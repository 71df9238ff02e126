#include "agent/settings.h"

#include "agent/engine_id.h"

orla::message settingsRecord(const AgentSettings& settings, const V3ServerInfo& engine) {
    orla::message cfg;
    cfg.insert(snmp::SNMP_COMMUNITY_NAME, settings.communityName);
    cfg.insert(snmp::SNMP_TEXT2, settings.text2);
    cfg.insert(snmp::SNMP_TEXT3, settings.text3);
    cfg.insert(snmp::SNMP_ENGINE_ID, deformatEngineID(engine.engineID));
    cfg.insert(snmp::SNMP_ENGINE_PARAM, engine.engineParam);
    cfg.insert(snmp::SNMP_TRAP_TARGET, settings.trapTarget);
    cfg.insert(snmp::SNMP_TRAP_VERSION, settings.trapVersion);
    cfg.insert(snmp::SNMP_TRAP_COMMUNITY, settings.trapCommunity);
    cfg.insert(snmp::SNMP_TRAP_GENERATORS, settings.trapGenerators);
    cfg.insert(snmp::SNMP_ENGINE_BOOTS, engine.engineBoots);
    cfg.insert(snmp::SNMP_ENABLED, settings.enabled);
    cfg.insert(snmp::SNMP_GENERATED_ENGINE_ID, settings.generatedEngineID);
    cfg.insert(snmp::SNMP_AUTHEN_TRAPS, settings.authenTraps);
    cfg.insert(snmp::SNMP_BULK_REPETITIONS, settings.requestRules.bulkRepetitions);
    cfg.insert(snmp::SNMP_BULK_REPLY_OCTETS, settings.requestRules.bulkReplyOctets);
    return cfg;
}

std::string readSettingsRecord(const orla::message& record, AgentSettings& settings,
                               V3ServerInfo& engine) {
    settings.communityName = record.get(snmp::SNMP_COMMUNITY_NAME);
    settings.text2 = record.get(snmp::SNMP_TEXT2);
    settings.text3 = record.get(snmp::SNMP_TEXT3);
    engine.engineParam = record.get(snmp::SNMP_ENGINE_PARAM, 0);
    settings.trapTarget = record.get(snmp::SNMP_TRAP_TARGET, 0);
    settings.trapVersion = record.get(snmp::SNMP_TRAP_VERSION, 0);
    settings.trapCommunity = record.get(snmp::SNMP_TRAP_COMMUNITY, snmp::NO_COMMUNITY);
    if (record.has(snmp::SNMP_TRAP_GENERATORS)) {
        settings.trapGenerators = record.get(snmp::SNMP_TRAP_GENERATORS);
    }
    engine.engineBoots = record.get(snmp::SNMP_ENGINE_BOOTS, 0);
    settings.generatedEngineID = record.get(snmp::SNMP_GENERATED_ENGINE_ID);
    settings.enabled = record.get(snmp::SNMP_ENABLED, false);
    settings.authenTraps = record.get(snmp::SNMP_AUTHEN_TRAPS, false);
    // Checked as a set command checks them: a damaged record gets the defaults.
    const uint32_t repetitions = record.get(snmp::SNMP_BULK_REPETITIONS, BULK_REPETITIONS_DEFAULT);
    const uint32_t octets = record.get(snmp::SNMP_BULK_REPLY_OCTETS, BULK_REPLY_OCTETS_DEFAULT);
    settings.requestRules.bulkRepetitions =
        repetitions >= 1 ? repetitions : BULK_REPETITIONS_DEFAULT;
    settings.requestRules.bulkReplyOctets =
        octets >= BULK_REPLY_OCTETS_MIN && octets <= ber::MAX_UDP_PAYLOAD
            ? octets
            : BULK_REPLY_OCTETS_DEFAULT;
    return record.get(snmp::SNMP_ENGINE_ID);
}
