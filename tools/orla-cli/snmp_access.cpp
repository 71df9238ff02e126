// orla-cli snmp view|group|access ...: the agent's access table (handler
// 161.4): view families, group members and access entries (RFC 3415).
#include <algorithm>
#include <cstdio>
#include <span>

#include "community/access_keep.h"
#include "platform/orla/ids.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/snmp.h"
#include "tools/orla-cli/snmp_values.h"

namespace orla::cli {

namespace {

const std::vector<uint32_t> ACCESS{snmp::ID_ACCESS};
constexpr uint32_t PAGE_SIZE = 20;

constexpr std::array<NamedCode, 2> VIEW_TYPES{{{"included", 0}, {"excluded", 1}}};
constexpr std::array<NamedCode, 4> MODELS{
    {{"any", snmp::MODEL_ANY}, {"v1", snmp::MODEL_V1}, {"v2c", snmp::MODEL_V2C},
     {"usm", snmp::MODEL_USM}}};
constexpr std::array<NamedCode, 2> CONTEXT_MATCHES{{{"exact", 0}, {"prefix", 1}}};

enum class ValueKind { Name, OptionalName, Oid, Hex, ViewType, Model, Level, ContextMatch };

struct Field {
    const char* name;
    ValueKind kind;
    uint32_t rawKey;
    bool required;  // at an add
};

struct Kind {
    const char* word;  // view, group, access
    uint32_t code;     // ACCESS_KIND
    std::span<const Field> fields;
};

constexpr Field VIEW_FIELDS[] = {
    {"name", ValueKind::Name, snmp::VIEW_NAME.raw(), true},
    {"subtree", ValueKind::Oid, snmp::VIEW_SUBTREE.raw(), true},
    {"mask", ValueKind::Hex, snmp::VIEW_MASK.raw(), false},
    {"type", ValueKind::ViewType, snmp::VIEW_EXCLUDED.raw(), false},
};
constexpr Field GROUP_FIELDS[] = {
    {"name", ValueKind::Name, snmp::GROUP_NAME.raw(), true},
    {"model", ValueKind::Model, snmp::SECURITY_MODEL.raw(), true},
    {"security-name", ValueKind::Name, snmp::SECURITY_NAME.raw(), true},
};
constexpr Field ACCESS_FIELDS[] = {
    {"group", ValueKind::Name, snmp::GROUP_NAME.raw(), true},
    {"context", ValueKind::OptionalName, snmp::CONTEXT_NAME.raw(), false},
    {"context-match", ValueKind::ContextMatch, snmp::CONTEXT_PREFIX.raw(), false},
    {"model", ValueKind::Model, snmp::SECURITY_MODEL.raw(), false},
    {"level", ValueKind::Level, snmp::SECURITY_LEVEL.raw(), false},
    {"read-view", ValueKind::OptionalName, snmp::COMM_READ_VIEW.raw(), false},
    {"write-view", ValueKind::OptionalName, snmp::COMM_WRITE_VIEW.raw(), false},
    {"notify-view", ValueKind::OptionalName, snmp::COMM_NOTIFY_VIEW.raw(), false},
};

constexpr Kind VIEW_KIND{"view", snmp::KIND_VIEW, VIEW_FIELDS};
constexpr Kind GROUP_KIND{"group", snmp::KIND_GROUP, GROUP_FIELDS};
constexpr Kind ACCESS_KIND_{"access", snmp::KIND_ACCESS, ACCESS_FIELDS};

bool parseHex(const std::string& text, std::string& octets) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    octets.clear();
    for (size_t i = 0; i < digits.size(); i += 2)
        octets += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return true;
}

std::string formatHex(const std::string& octets) {
    std::string text;
    char two[3];
    for (unsigned char octet : octets) {
        std::snprintf(two, sizeof two, "%02x", octet);
        text += two;
    }
    return text;
}

bool parseValue(const Field& field, const std::string& value, message& request,
                std::string& error) {
    const std::string bad = std::string(field.name) + ": ";
    uint32_t code = 0;
    switch (field.kind) {
        case ValueKind::Name:
        case ValueKind::OptionalName:
            if (value.size() > snmp::ADMIN_NAME_MAX ||
                (value.empty() && field.kind == ValueKind::Name))
                return error = bad + "1 to 32 characters", false;
            return request.setField(field.rawKey, value);
        case ValueKind::Oid: {
            const OID subtree(value);
            if (subtree.empty()) return error = bad + "expected an OID such as 1.3.6.1.2.1", false;
            return request.setField(field.rawKey, subtree.toString());
        }
        case ValueKind::Hex: {
            std::string octets;
            if (!parseHex(value, octets) || octets.size() > snmp::VIEW_MASK_MAX)
                return error = bad + "expected up to 16 octets in hex, such as ff:a0", false;
            return request.setField(field.rawKey, octets);
        }
        case ValueKind::ViewType:
            if (!parseNamedCode(value, VIEW_TYPES, code) || code > 1)
                return error = bad + "say included or excluded", false;
            return request.setField(field.rawKey, code == 1);
        case ValueKind::ContextMatch:
            if (!parseNamedCode(value, CONTEXT_MATCHES, code) || code > 1)
                return error = bad + "say exact or prefix", false;
            return request.setField(field.rawKey, code == 1);
        case ValueKind::Model:
            if (!parseNamedCode(value, MODELS, code) || code > snmp::MODEL_USM)
                return error = bad + "say any, v1, v2c or usm", false;
            return request.setField(field.rawKey, code);
        case ValueKind::Level:
            if (!parseNamedCode(value, SECURITY_LEVELS, code) || code > 2)
                return error = bad + "say none, auth or priv", false;
            return request.setField(field.rawKey, code);
    }
    return false;
}

std::string formatValue(const Field& field, const message& cfg) {
    switch (field.kind) {
        case ValueKind::Name:
        case ValueKind::Oid:
            return printable(cfg.get(StringKey{field.rawKey}));
        case ValueKind::OptionalName: {
            const std::string text = cfg.get(StringKey{field.rawKey});
            return text.empty() ? "-" : printable(text);
        }
        case ValueKind::Hex: {
            const std::string octets = cfg.get(StringKey{field.rawKey});
            return octets.empty() ? "-" : formatHex(octets);
        }
        case ValueKind::ViewType:
            return cfg.get(BoolKey{field.rawKey}) ? "excluded" : "included";
        case ValueKind::ContextMatch:
            return cfg.get(BoolKey{field.rawKey}) ? "prefix" : "exact";
        case ValueKind::Model:
            return formatNamedCode(cfg.get(U32Key{field.rawKey}), MODELS);
        case ValueKind::Level:
            return formatNamedCode(cfg.get(U32Key{field.rawKey}), SECURITY_LEVELS);
    }
    return "";
}

bool parseFields(const Kind& kind, Arguments::const_iterator begin, Arguments::const_iterator end,
                 bool adding, message& request, std::string& error) {
    if (begin == end) return error = "give at least one NAME=VALUE", false;
    std::vector<std::string> given;
    for (auto arg = begin; arg != end; ++arg) {
        std::string name, value;
        if (!splitAssignment(*arg, name, value))
            return error = "expected NAME=VALUE: " + *arg, false;
        const auto field = std::find_if(kind.fields.begin(), kind.fields.end(),
                                        [&](const Field& f) { return name == f.name; });
        if (field == kind.fields.end())
            return error = "unknown " + std::string(kind.word) + " field " + name, false;
        if (!parseValue(*field, value, request, error)) return false;
        given.push_back(name);
    }
    for (const Field& field : kind.fields) {
        if (adding && field.required &&
            std::find(given.begin(), given.end(), field.name) == given.end())
            return error = std::string(field.name) + "= is needed", false;
    }
    return true;
}

int printKind(AgentClient& agent, const Kind& kind) {
    std::vector<message> records;
    if (!listAll(agent, ACCESS, PAGE_SIZE, records)) return EXIT_ERROR_REPLY;
    std::vector<std::vector<std::string>> rows(1, {"ID"});
    for (const Field& field : kind.fields) {
        std::string heading = field.name;
        std::transform(heading.begin(), heading.end(), heading.begin(), ::toupper);
        rows[0].push_back(heading);
    }
    for (const message& cfg : records) {
        if (cfg.get(snmp::ACCESS_KIND) != kind.code) continue;
        rows.push_back({std::to_string(cfg.get(OBJ_ID))});
        for (const Field& field : kind.fields)
            rows.back().push_back(formatValue(field, cfg));
    }
    printColumns(rows);
    return 0;
}

int run(const Kind& kind, const Arguments& args) {
    const std::string word = kind.word;
    const std::string action = args.empty() ? "" : args[0];
    AgentClient agent;
    message request, reply;
    std::string error;
    if (action == "print") {
        if (args.size() != 1) return usageError(word + " print takes no arguments");
        return printKind(agent, kind);
    }
    if (action == "add") {
        if (!parseFields(kind, args.begin() + 1, args.end(), true, request, error))
            return usageError(word + " add: " + error);
        request.insert(snmp::ACCESS_KIND, kind.code);
        if (!agent.call(ACCESS, CMD_ADDOBJ, request, reply)) return EXIT_ERROR_REPLY;
        std::printf("%u\n", static_cast<unsigned>(reply.get(OBJ_ID)));
        return 0;
    }
    if (action == "set" || action == "remove") {
        uint32_t id = 0;
        if (args.size() < 2 || !parseNumber(args[1], id))
            return usageError(word + " " + action + " needs an ID");
        if (action == "set" && !parseFields(kind, args.begin() + 2, args.end(), false, request, error))
            return usageError(word + " set: " + error);
        if (action == "remove" && args.size() != 2)
            return usageError(word + " remove takes only the ID");
        // The id must be one of this kind: a view id is no group's.
        message current;
        request.insert(OBJ_ID, id);
        if (!agent.call(ACCESS, CMD_GETOBJ, request, current)) return EXIT_ERROR_REPLY;
        if (current.get(snmp::ACCESS_KIND) != kind.code)
            return usageError(word + " " + action + ": " + args[1] + " is no " + word);
        return agent.call(ACCESS, action == "set" ? CMD_SETOBJ : CMD_REMOVEOBJ, request, reply)
                   ? 0
                   : EXIT_ERROR_REPLY;
    }
    return usageError(word + " needs print, add, set or remove (see orla-cli snmp --help)");
}

}  // namespace

int runSnmpView(const Arguments& args) {
    return run(VIEW_KIND, args);
}

int runSnmpGroup(const Arguments& args) {
    return run(GROUP_KIND, args);
}

int runSnmpAccess(const Arguments& args) {
    return run(ACCESS_KIND_, args);
}

}  // namespace orla::cli
