// orla-cli snmp print / set / generators: the agent's own settings.
#include <cstdio>
#include <map>

#include "community/community_keep.h"
#include "mib/agent_settings.h"
#include "platform/orla/ids.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/snmp.h"
#include "tools/orla-cli/snmp_values.h"

namespace orla::cli {

namespace {

// RFC 3411: an snmpEngineID has at most 32 octets; the agent puts a 5-octet
// prefix before the text.
constexpr size_t ENGINE_ID_TEXT_MAX = 32 - 5;

enum class SettingKind {
    Bool,
    Text,
    EngineId,
    Number,
    Address,
    Community,
    TrapVersion,
    Generators
};

struct SettingName {
    const char* name;
    SettingKind kind;
    uint32_t rawKey;
};

constexpr SettingName SETTING_NAMES[] = {
    {"enabled", SettingKind::Bool, snmp::SNMP_ENABLED.raw()},
    {"auth-traps", SettingKind::Bool, snmp::SNMP_AUTHEN_TRAPS.raw()},
    {"engine-id", SettingKind::EngineId, snmp::SNMP_ENGINE_ID.raw()},
    {"trap-target", SettingKind::Address, snmp::SNMP_TRAP_TARGET.raw()},
    {"trap-community", SettingKind::Community, snmp::SNMP_TRAP_COMMUNITY.raw()},
    {"trap-version", SettingKind::TrapVersion, snmp::SNMP_TRAP_VERSION.raw()},
    {"trap-generators", SettingKind::Generators, snmp::SNMP_TRAP_GENERATORS.raw()},
    {"engine-boots", SettingKind::Number, snmp::SNMP_ENGINE_BOOTS.raw()},
    {"engine-param", SettingKind::Number, snmp::SNMP_ENGINE_PARAM.raw()},
    {"community-name", SettingKind::Text, snmp::SNMP_COMMUNITY_NAME.raw()},
    {"text2", SettingKind::Text, snmp::SNMP_TEXT2.raw()},
    {"contact", SettingKind::Text, snmp::SNMP_TEXT2.raw()},
    {"text3", SettingKind::Text, snmp::SNMP_TEXT3.raw()},
    {"location", SettingKind::Text, snmp::SNMP_TEXT3.raw()},
    {"bulk-repetitions", SettingKind::Number, snmp::SNMP_BULK_REPETITIONS.raw()},
    {"bulk-reply-octets", SettingKind::Number, snmp::SNMP_BULK_REPLY_OCTETS.raw()},
};

// Trap generator ids from the start trap's up print in hex, as the agent lists them.
std::string formatGeneratorId(uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, id >= 0x10000 ? "0x%x" : "%u", static_cast<unsigned>(id));
    return text;
}

// Generator names by id, from the agent's list; false when it cannot be had.
bool fetchGenerators(AgentClient& agent, bool reportError, std::map<uint32_t, std::string>& names) {
    message reply;
    if (reportError) {
        if (!agent.call({}, snmp::CMD_LIST_GENERATORS, message(), reply)) return false;
    } else {
        reply = agent.exchange({}, snmp::CMD_LIST_GENERATORS, message());
        if (isError(reply)) return false;
    }
    for (const flat_message& flat : reply.get(OBJ_LIST)) {
        message entry(flat);
        names.emplace(entry.get(OBJ_ID), entry.get(OBJ_NAME));
    }
    return true;
}

// "0x" and two hex digits an octet, as managers take an engine ID (snmpget -e).
std::string formatOctets(const std::string& octets) {
    if (octets.empty()) return "none";
    std::string text = "0x";
    for (unsigned char octet : octets) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", octet);
        text += digits;
    }
    return text;
}

std::string formatTrapVersion(uint32_t code) {
    for (const NamedCode& named : TRAP_VERSIONS) {
        if (code == named.code) return named.name;
    }
    return "2c (code " + std::to_string(code) + ")";
}

}  // namespace

// Ids or names, comma-separated; "none" or nothing for an empty selection.
// Names need the agent's list, fetched on the first name.
bool parseGenerators(const std::string& text, AgentClient& agent, std::vector<uint32_t>& ids,
                     std::string& error) {
    ids.clear();
    if (text.empty() || text == "none") return true;
    std::map<uint32_t, std::string> names;
    bool fetched = false;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        uint32_t id;
        if (!parseNumber(item, id)) {
            if (!fetched && !fetchGenerators(agent, true, names)) {
                error = "cannot read the trap generator list";
                return false;
            }
            fetched = true;
            bool found = false;
            for (const auto& [listedId, name] : names) {
                if (name == item) {
                    id = listedId;
                    found = true;
                    break;
                }
            }
            if (!found) {
                error = "unknown trap generator \"" + printable(item) +
                        "\" (see orla-cli snmp generators)";
                return false;
            }
        }
        ids.push_back(id);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

std::string describeGenerators(AgentClient& agent, const std::vector<uint32_t>& ids) {
    std::map<uint32_t, std::string> names;
    if (!ids.empty()) fetchGenerators(agent, false, names);
    std::string text;
    for (uint32_t id : ids) {
        if (!text.empty()) text += ", ";
        text += formatGeneratorId(id);
        auto named = names.find(id);
        if (named != names.end()) text += " (" + printable(named->second) + ")";
    }
    return text;
}

namespace {

bool parseSetting(const SettingName& setting, const std::string& value, AgentClient& agent,
                  message& request, std::string& error) {
    std::string bad = std::string(setting.name) + ": ";
    uint32_t number = 0;
    switch (setting.kind) {
        case SettingKind::Bool: {
            bool flag;
            if (!parseBool(value, flag)) return error = bad + "say yes or no", false;
            return request.setField(setting.rawKey, flag);
        }
        case SettingKind::EngineId:
            if (value.size() > ENGINE_ID_TEXT_MAX) {
                return error = bad + "at most 27 characters", false;
            }
            return request.setField(setting.rawKey, value);
        case SettingKind::Text:
            return request.setField(setting.rawKey, value);
        case SettingKind::Number:
            if (!parseNumber(value, number)) return error = bad + "not a number: " + value, false;
            return request.setField(setting.rawKey, number);
        case SettingKind::Address:
            if (value != "none" && !parseIPv4(value, number)) {
                return error = bad + "not an IPv4 address (or none): " + value, false;
            }
            return request.setField(setting.rawKey, number);
        case SettingKind::Community:
            number = snmp::NO_COMMUNITY;
            if (value != "none" && !parseNumber(value, number)) {
                return error = bad + "not a community id (or none): " + value, false;
            }
            return request.setField(setting.rawKey, number);
        case SettingKind::TrapVersion:
            if (!parseNamedCode(value, TRAP_VERSIONS, number) || number > 3) {
                return error = bad + "say 1, 2c or 3", false;
            }
            return request.setField(setting.rawKey, number);
        case SettingKind::Generators: {
            std::vector<uint32_t> ids;
            if (!parseGenerators(value, agent, ids, error)) {
                error = bad + error;
                return false;
            }
            return request.setField(setting.rawKey, std::move(ids));
        }
    }
    return false;
}

}  // namespace

int runSnmpPrint(const Arguments& args) {
    if (!args.empty()) return usageError("print takes no arguments");
    AgentClient agent;
    message cfg;
    if (!agent.call({}, CMD_GET, message(), cfg)) return EXIT_ERROR_REPLY;

    std::vector<uint32_t> generators = cfg.get(snmp::SNMP_TRAP_GENERATORS);

    uint32_t target = cfg.get(snmp::SNMP_TRAP_TARGET);
    uint32_t community = cfg.get(snmp::SNMP_TRAP_COMMUNITY, snmp::NO_COMMUNITY);
    std::printf("enabled: %s\n", cfg.get(snmp::SNMP_ENABLED) ? "yes" : "no");
    std::printf("engine-id: %s\n", printable(cfg.get(snmp::SNMP_ENGINE_ID)).c_str());
    std::printf("generated-engine-id: %s\n",
                formatOctets(cfg.get(snmp::SNMP_GENERATED_ENGINE_ID)).c_str());
    std::printf("trap-target: %s\n", target == 0 ? "none" : formatIPv4(target).c_str());
    std::printf("trap-community: %s\n",
                community == snmp::NO_COMMUNITY ? "none" : std::to_string(community).c_str());
    std::printf("trap-version: %s\n", formatTrapVersion(cfg.get(snmp::SNMP_TRAP_VERSION)).c_str());
    std::printf("trap-generators: %s\n",
                generators.empty() ? "none" : describeGenerators(agent, generators).c_str());
    std::printf("auth-traps: %s\n", cfg.get(snmp::SNMP_AUTHEN_TRAPS) ? "yes" : "no");
    std::printf("engine-boots: %u\n", static_cast<unsigned>(cfg.get(snmp::SNMP_ENGINE_BOOTS)));
    std::printf("engine-param: %u\n", static_cast<unsigned>(cfg.get(snmp::SNMP_ENGINE_PARAM)));
    std::printf("community-name: %s\n", printable(cfg.get(snmp::SNMP_COMMUNITY_NAME)).c_str());
    std::printf("text2: %s\n", printable(cfg.get(snmp::SNMP_TEXT2)).c_str());
    std::printf("text3: %s\n", printable(cfg.get(snmp::SNMP_TEXT3)).c_str());
    std::printf("bulk-repetitions: %u\n",
                static_cast<unsigned>(cfg.get(snmp::SNMP_BULK_REPETITIONS)));
    std::printf("bulk-reply-octets: %u\n",
                static_cast<unsigned>(cfg.get(snmp::SNMP_BULK_REPLY_OCTETS)));
    // Only a closed table says so; an agent that cannot tell says nothing.
    const message communities = agent.exchange({snmp::ID_COMMUNITIES}, CMD_GET, message());
    if (communities.has(snmp::COMM_CLOSED)) {
        // The record names the set-aside file, or the store itself when it
        // was missing after earlier starts.
        const std::string closedBy = communities.get(snmp::COMM_CLOSED);
        std::printf(closedBy == snmp::COMMUNITY_STORE_PATH
                        ? "communities: closed, store %s missing after earlier starts\n"
                        : "communities: closed, damaged store set aside as %s\n",
                    printable(closedBy).c_str());
    }
    return 0;
}

int runSnmpSet(const Arguments& args) {
    if (args.empty())
        return usageError("set needs NAME=VALUE arguments (see orla-cli snmp --help)");
    AgentClient agent;
    message request;
    for (const std::string& arg : args) {
        std::string name, value, error;
        if (!splitAssignment(arg, name, value)) return usageError("expected NAME=VALUE: " + arg);
        const SettingName* setting = nullptr;
        for (const SettingName& candidate : SETTING_NAMES) {
            if (name == candidate.name) setting = &candidate;
        }
        if (!setting) return usageError("unknown setting " + name + " (see orla-cli snmp --help)");
        if (!parseSetting(*setting, value, agent, request, error)) return usageError(error);
    }
    message reply;
    return agent.call({}, CMD_SET, request, reply) ? 0 : EXIT_ERROR_REPLY;
}

int runSnmpGenerators(const Arguments& args) {
    if (!args.empty()) return usageError("generators takes no arguments");
    AgentClient agent;
    message reply;
    if (!agent.call({}, snmp::CMD_LIST_GENERATORS, message(), reply)) return EXIT_ERROR_REPLY;
    for (const flat_message& flat : reply.get(OBJ_LIST)) {
        message entry(flat);
        std::printf("%s %s\n", formatGeneratorId(entry.get(OBJ_ID)).c_str(),
                    printable(entry.get(OBJ_NAME)).c_str());
    }
    return 0;
}

}  // namespace orla::cli
