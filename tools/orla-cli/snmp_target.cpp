// orla-cli snmp target ...: the agent's notification targets (handler 161.3).
#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "mib/agent_settings.h"
#include "platform/orla/ids.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/snmp.h"
#include "tools/orla-cli/snmp_values.h"
#include "trap/notify_targets.h"

namespace orla::cli {

namespace {

const std::vector<uint32_t> TARGETS{snmp::ID_TARGETS};

enum class TargetKind { Address, Port, Version, Community, Type, Timeout, Retries, Generators };

struct TargetName {
    const char* name;
    TargetKind kind;
};

constexpr TargetName TARGET_NAMES[] = {
    {"address", TargetKind::Address}, {"port", TargetKind::Port},
    {"version", TargetKind::Version}, {"community", TargetKind::Community},
    {"type", TargetKind::Type},       {"timeout", TargetKind::Timeout},
    {"retries", TargetKind::Retries}, {"generators", TargetKind::Generators},
};

// The family of an address text: AF_INET, AF_INET6, or 0 for neither.
int familyOf(const std::string& address) {
    unsigned char octets[sizeof(in6_addr)];
    if (inet_pton(AF_INET, address.c_str(), octets) == 1) return AF_INET;
    if (inet_pton(AF_INET6, address.c_str(), octets) == 1) return AF_INET6;
    return 0;
}

// An IPv4 address, or an IPv6 one in brackets; the agent keeps it without them.
bool parseTargetAddress(const std::string& text, std::string& address) {
    const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
    address = bracketed ? text.substr(1, text.size() - 2) : text;
    return familyOf(address) == (bracketed ? AF_INET6 : AF_INET);
}

bool parseTargetField(const TargetName& field, const std::string& value, AgentClient& agent,
                      message& request, std::string& error) {
    const std::string bad = std::string(field.name) + ": ";
    uint32_t number = 0;
    switch (field.kind) {
        case TargetKind::Address: {
            std::string address;
            if (!parseTargetAddress(value, address)) {
                return error = bad + "expected A.B.C.D or [IPv6]: " + value, false;
            }
            request.insert(snmp::TARGET_ADDRESS, address);
            return true;
        }
        case TargetKind::Port:
            if (!parseNumber(value, number) || number == 0 || number > 65535) {
                return error = bad + "expected 1 to 65535: " + value, false;
            }
            request.insert(snmp::TARGET_PORT, number);
            return true;
        case TargetKind::Version:
            if (!parseNamedCode(value, TRAP_VERSIONS, number) ||
                std::none_of(TRAP_VERSIONS.begin(), TRAP_VERSIONS.end(),
                             [number](const NamedCode& named) { return named.code == number; })) {
                return error = bad + "say 1, 2c or 3", false;
            }
            request.insert(snmp::TARGET_VERSION, number);
            return true;
        case TargetKind::Community:
            if (!parseNumber(value, number) || number == snmp::NO_COMMUNITY) {
                return error = bad + "not a community id: " + value, false;
            }
            request.insert(snmp::TARGET_COMMUNITY, number);
            return true;
        case TargetKind::Type:
            if (value != "trap" && value != "inform")
                return error = bad + "say trap or inform", false;
            request.insert(snmp::TARGET_INFORM, value == "inform");
            return true;
        case TargetKind::Timeout:
            if (!parseNumber(value, number) || number < snmp::TARGET_TIMEOUT_MIN_MS ||
                number > snmp::TARGET_TIMEOUT_MAX_MS) {
                return error = bad + "milliseconds from 10 to 600000: " + value, false;
            }
            request.insert(snmp::TARGET_TIMEOUT_MS, number);
            return true;
        case TargetKind::Retries:
            if (!parseNumber(value, number) || number > snmp::TARGET_RETRIES_MAX) {
                return error = bad + "0 to 20: " + value, false;
            }
            request.insert(snmp::TARGET_RETRIES, number);
            return true;
        case TargetKind::Generators: {
            // "all" is the empty selection, which receives every generator;
            // a target that receives none is one to remove.
            std::vector<uint32_t> ids;
            if (value.empty() || value == "none") {
                return error = bad + "say all or name the generators", false;
            }
            if (value != "all" && !parseGenerators(value, agent, ids, error)) {
                return error = bad + error, false;
            }
            request.insert(snmp::TARGET_GENERATORS, ids);
            return true;
        }
    }
    return false;
}

bool parseTargetFields(Arguments::const_iterator begin, Arguments::const_iterator end,
                       AgentClient& agent, message& request, std::string& error) {
    if (begin == end) return error = "give at least one NAME=VALUE", false;
    for (auto arg = begin; arg != end; ++arg) {
        std::string name, value;
        if (!splitAssignment(*arg, name, value))
            return error = "expected NAME=VALUE: " + *arg, false;
        auto field = std::find_if(std::begin(TARGET_NAMES), std::end(TARGET_NAMES),
                                  [&](const TargetName& named) { return name == named.name; });
        if (field == std::end(TARGET_NAMES)) {
            return error = "unknown target field " + name + " (see orla-cli snmp --help)", false;
        }
        if (!parseTargetField(*field, value, agent, request, error)) return false;
    }
    return true;
}

// The address as the operator writes it: IPv6 in brackets.
std::string formatTargetAddress(const std::string& address) {
    const int family = familyOf(address);
    if (family == 0) return printable(address) + " (invalid)";
    return family == AF_INET ? address : "[" + address + "]";
}

std::string formatGenerators(AgentClient& agent, const message& cfg) {
    const std::vector<uint32_t> ids = cfg.get(snmp::TARGET_GENERATORS);
    return ids.empty() ? "all" : describeGenerators(agent, ids);
}

// What each row and `get` show, in this order.
std::vector<std::pair<const char*, std::string>> describe(AgentClient& agent, const message& cfg) {
    const bool inform = cfg.get(snmp::TARGET_INFORM);
    std::string id = std::to_string(cfg.get(OBJ_ID));
    if (cfg.get(snmp::TARGET_FROM_SETTINGS)) id += " (settings)";
    return {
        {"id", id},
        {"address", formatTargetAddress(cfg.get(snmp::TARGET_ADDRESS))},
        {"port", std::to_string(cfg.get(snmp::TARGET_PORT))},
        {"version", formatNamedCode(cfg.get(snmp::TARGET_VERSION), TRAP_VERSIONS)},
        {"community", std::to_string(cfg.get(snmp::TARGET_COMMUNITY))},
        {"type", inform ? "inform" : "trap"},
        {"timeout", inform ? std::to_string(cfg.get(snmp::TARGET_TIMEOUT_MS)) : "-"},
        {"retries", inform ? std::to_string(cfg.get(snmp::TARGET_RETRIES)) : "-"},
        {"generators", formatGenerators(agent, cfg)},
        {"sent", std::to_string(cfg.get(snmp::TARGET_SENT))},
        {"acknowledged", inform ? std::to_string(cfg.get(snmp::TARGET_ACKNOWLEDGED)) : "-"},
        {"dropped", inform ? std::to_string(cfg.get(snmp::TARGET_DROPPED)) : "-"},
    };
}

int printAll(AgentClient& agent) {
    std::vector<message> targets;
    if (!listAll(agent, TARGETS, snmp::TARGET_PAGE_MAX, targets)) return EXIT_ERROR_REPLY;
    std::vector<std::vector<std::string>> rows(1);
    for (const auto& [name, value] : describe(agent, message())) {
        std::string heading = name;
        std::transform(heading.begin(), heading.end(), heading.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        rows[0].push_back(heading);
    }
    for (const message& cfg : targets) {
        std::vector<std::string> row;
        for (const auto& [name, value] : describe(agent, cfg))
            row.push_back(value);
        rows.push_back(std::move(row));
    }
    printColumns(rows);
    return 0;
}

bool parseId(const std::string& text, uint32_t& id) {
    return parseNumber(text, id) && id != 0xffffffff;
}

}  // namespace

int runSnmpTarget(const Arguments& args) {
    AgentClient agent;
    const RecordTable targets{
        "target",
        TARGETS,
        [&agent](Arguments::const_iterator begin, Arguments::const_iterator end, bool,
                 message& request, std::string& error) {
            return parseTargetFields(begin, end, agent, request, error);
        },
        [](const message& request) -> std::string {
            const bool complete = request.has(snmp::TARGET_ADDRESS) &&
                                  request.has(snmp::TARGET_VERSION) &&
                                  request.has(snmp::TARGET_COMMUNITY) &&
                                  request.has(snmp::TARGET_INFORM);
            return complete ? "" : "target add needs address, version, community and type";
        },
        parseId,
        [&agent] { return printAll(agent); },
        [&agent](const message& record) {
            for (const auto& [name, value] : describe(agent, record))
                std::printf("%s: %s\n", name, value.c_str());
        }};
    if (const std::optional<int> status = runRecordCommand(targets, agent, args)) return *status;
    return usageError("target needs print, get, add, set or remove (see orla-cli snmp --help)");
}

}  // namespace orla::cli
