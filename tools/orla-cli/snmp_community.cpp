// orla-cli snmp community ...: the agent's community table (handler 161.1).
#include <algorithm>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

#include "community/access_keep.h"
#include "mib/agent_settings.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/snmp.h"
#include "tools/orla-cli/snmp_values.h"

namespace orla::cli {

namespace {

const std::vector<uint32_t> COMMUNITIES{snmp::ID_COMMUNITIES};

enum class CommunityKind {
    Bool,
    Text,
    Password,
    Address,
    Netmask,
    Security,
    AuthProtocol,
    PrivProtocol,
    View,
    Id
};

struct CommunityName {
    const char* name;
    CommunityKind kind;
    uint32_t rawKey;
};

constexpr CommunityName COMMUNITY_NAMES[] = {
    {"name", CommunityKind::Text, snmp::COMM_NAME.raw()},
    {"read", CommunityKind::Bool, snmp::COMM_READ_ACCESS.raw()},
    {"write", CommunityKind::Bool, snmp::COMM_WRITE_ACCESS.raw()},
    {"address", CommunityKind::Address, snmp::COMM_ADDRESS.raw()},
    {"netmask", CommunityKind::Netmask, snmp::COMM_NETMASK.raw()},
    {"security", CommunityKind::Security, snmp::COMM_SECURITY.raw()},
    {"auth-protocol", CommunityKind::AuthProtocol, snmp::COMM_AUTH_PROTOCOL.raw()},
    {"priv-protocol", CommunityKind::PrivProtocol, snmp::COMM_PRIV_PROTOCOL.raw()},
    {"auth-password", CommunityKind::Password, snmp::COMM_AUTH_PASSWORD.raw()},
    {"priv-password", CommunityKind::Password, snmp::COMM_PRIV_PASSWORD.raw()},
    {"read-view", CommunityKind::View, snmp::COMM_READ_VIEW.raw()},
    {"write-view", CommunityKind::View, snmp::COMM_WRITE_VIEW.raw()},
    {"notify-view", CommunityKind::View, snmp::COMM_NOTIFY_VIEW.raw()},
    {"id", CommunityKind::Id, OBJ_ID.raw()},
};

// One line of standard input; on a terminal after a prompt on stderr,
// without echo.
bool readSecret(const char* name, std::string& secret) {
    const bool terminal = isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "%s: ", name);
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    secret.clear();
    bool ended = false;
    for (int c; (c = std::getchar()) != EOF;) {
        if (c == '\n') {
            ended = true;
            break;
        }
        secret += static_cast<char>(c);
    }
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    return ended || !secret.empty();
}

bool parseCommunityField(const CommunityName& field, const std::string& value, message& request,
                         std::string& error) {
    std::string bad = std::string(field.name) + ": ";
    uint32_t number = 0;
    switch (field.kind) {
        case CommunityKind::Bool: {
            bool flag;
            if (!parseBool(value, flag)) return error = bad + "say yes or no", false;
            return request.setField(field.rawKey, flag);
        }
        case CommunityKind::Text:
            // The agent refuses it too: an empty community would match a
            // request's empty one.
            if (value.empty()) return error = bad + "must not be empty", false;
            return request.setField(field.rawKey, value);
        case CommunityKind::Password: {
            // "-": from standard input, so that no password is on a command
            // line, where every local user reads it.
            std::string password = value;
            if (value == "-" && !readSecret(field.name, password))
                return error = bad + "no password on standard input", false;
            // RFC 3414 11.2; an empty password clears it, for a level that needs none.
            if (!password.empty() && password.size() < snmp::PASSWORD_MIN_LENGTH) {
                usm::wipe(password);
                return error = bad + "at least 8 characters", false;
            }
            const bool set = request.setField(field.rawKey, password);
            usm::wipe(password);
            return set;
        }
        case CommunityKind::Address: {
            uint32_t netmask = 0;
            if (value == "any" || parseAddressPrefix(value, number, netmask)) {
                request.insert(snmp::COMM_NETMASK, netmask);
            } else if (!parseIPv4(value, number)) {
                return error = bad + "expected A.B.C.D, A.B.C.D/PREFIX or any: " + value, false;
            }
            return request.setField(field.rawKey, number);
        }
        case CommunityKind::Netmask:
            if (!parseIPv4(value, number)) return error = bad + "expected A.B.C.D: " + value, false;
            return request.setField(field.rawKey, number);
        case CommunityKind::Security:
            if (!parseNamedCode(value, SECURITY_LEVELS, number) || number > 2) {
                return error = bad + "say none, auth or priv", false;
            }
            return request.setField(field.rawKey, number);
        case CommunityKind::AuthProtocol:
        case CommunityKind::PrivProtocol: {
            auto names = field.kind == CommunityKind::AuthProtocol
                             ? std::span<const NamedCode>(AUTH_PROTOCOLS)
                             : std::span<const NamedCode>(PRIV_PROTOCOLS);
            if (!parseNamedCode(value, names, number)) {
                return error = bad + "unknown protocol " + value, false;
            }
            return request.setField(field.rawKey, number);
        }
        case CommunityKind::View:
            // Empty: the whole tree again.
            if (value.size() > snmp::ADMIN_NAME_MAX) return error = bad + "at most 32 characters", false;
            return request.setField(field.rawKey, value);
        case CommunityKind::Id:
            // 0xffffffff is no community id: it stands for "none" and "from the start".
            if (!parseNumber(value, number) || number == snmp::NO_COMMUNITY) {
                return error = bad + "not a community id: " + value, false;
            }
            return request.setField(field.rawKey, number);
    }
    return false;
}

// NAME=VALUE arguments into one request; `idAllowed` only for add.
bool parseCommunityFields(Arguments::const_iterator begin, Arguments::const_iterator end,
                          bool idAllowed, message& request, std::string& error) {
    if (begin == end) return error = "give at least one NAME=VALUE", false;
    for (auto arg = begin; arg != end; ++arg) {
        std::string name, value;
        if (!splitAssignment(*arg, name, value))
            return error = "expected NAME=VALUE: " + *arg, false;
        auto field = std::find_if(std::begin(COMMUNITY_NAMES), std::end(COMMUNITY_NAMES),
                                  [&](const CommunityName& named) { return name == named.name; });
        if (field == std::end(COMMUNITY_NAMES)) {
            return error = "unknown community field " + name + " (see orla-cli snmp --help)", false;
        }
        if (field->kind == CommunityKind::Id && !idAllowed) {
            return error = "the id of a community cannot change", false;
        }
        if (!parseCommunityField(*field, value, request, error)) return false;
    }
    return true;
}

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}
// The agent keeps keys, never passwords: whether the user has one.
const char* keyState(const message& cfg, StringKey ku, StringKey kul) {
    return cfg.get(ku).empty() && cfg.get(kul).empty() ? "(none)" : "(key set)";
}

std::string viewName(const std::string& name) {
    return name.empty() ? "(whole tree)" : printable(name);
}

// "any", "A.B.C.D/N", or "A.B.C.D/M.M.M.M" for a mask with holes.
std::string formatSource(uint32_t address, uint32_t netmask) {
    if (netmask == 0) return "any";
    int length = prefixLength(netmask);
    return formatIPv4(address) + "/" + (length < 0 ? formatIPv4(netmask) : std::to_string(length));
}

void printCommunity(const message& cfg) {
    std::printf("id: %u\n", static_cast<unsigned>(cfg.get(OBJ_ID)));
    std::printf("name: %s\n", printable(cfg.get(snmp::COMM_NAME)).c_str());
    std::printf("read: %s\n", yesNo(cfg.get(snmp::COMM_READ_ACCESS)));
    std::printf("write: %s\n", yesNo(cfg.get(snmp::COMM_WRITE_ACCESS)));
    std::printf("address: %s\n", formatIPv4(cfg.get(snmp::COMM_ADDRESS)).c_str());
    std::printf("netmask: %s\n", formatIPv4(cfg.get(snmp::COMM_NETMASK)).c_str());
    std::printf("security: %s\n",
                formatNamedCode(cfg.get(snmp::COMM_SECURITY), SECURITY_LEVELS).c_str());
    std::printf("auth-protocol: %s\n",
                formatNamedCode(cfg.get(snmp::COMM_AUTH_PROTOCOL), AUTH_PROTOCOLS).c_str());
    std::printf("priv-protocol: %s\n",
                formatNamedCode(cfg.get(snmp::COMM_PRIV_PROTOCOL), PRIV_PROTOCOLS).c_str());
    std::printf("auth-key: %s\n", keyState(cfg, snmp::COMM_AUTH_KU, snmp::COMM_AUTH_KUL));
    std::printf("priv-key: %s\n", keyState(cfg, snmp::COMM_PRIV_KU, snmp::COMM_PRIV_KUL));
    std::printf("read-view: %s\n", viewName(cfg.get(snmp::COMM_READ_VIEW)).c_str());
    std::printf("write-view: %s\n", viewName(cfg.get(snmp::COMM_WRITE_VIEW)).c_str());
    std::printf("notify-view: %s\n", viewName(cfg.get(snmp::COMM_NOTIFY_VIEW)).c_str());
}

void printTable(const std::vector<message>& communities) {
    std::vector<std::vector<std::string>> rows{{"ID", "NAME", "READ", "WRITE", "SOURCE", "SECURITY",
                                                "AUTH", "PRIV", "AUTH-KEY", "PRIV-KEY"}};
    for (const message& cfg : communities) {
        rows.push_back({std::to_string(cfg.get(OBJ_ID)), printable(cfg.get(snmp::COMM_NAME)),
                        yesNo(cfg.get(snmp::COMM_READ_ACCESS)),
                        yesNo(cfg.get(snmp::COMM_WRITE_ACCESS)),
                        formatSource(cfg.get(snmp::COMM_ADDRESS), cfg.get(snmp::COMM_NETMASK)),
                        formatNamedCode(cfg.get(snmp::COMM_SECURITY), SECURITY_LEVELS),
                        formatNamedCode(cfg.get(snmp::COMM_AUTH_PROTOCOL), AUTH_PROTOCOLS),
                        formatNamedCode(cfg.get(snmp::COMM_PRIV_PROTOCOL), PRIV_PROTOCOLS),
                        keyState(cfg, snmp::COMM_AUTH_KU, snmp::COMM_AUTH_KUL),
                        keyState(cfg, snmp::COMM_PRIV_KU, snmp::COMM_PRIV_KUL)});
    }
    printColumns(rows);
}

int printAll(AgentClient& agent) {
    std::vector<message> communities;
    if (!listAll(agent, COMMUNITIES, snmp::COMMUNITY_PAGE_MAX, communities))
        return EXIT_ERROR_REPLY;
    printTable(communities);
    return 0;
}

bool parseId(const std::string& text, uint32_t& id) {
    return parseNumber(text, id) && id != snmp::NO_COMMUNITY;
}

}  // namespace

int runSnmpCommunity(const Arguments& args) {
    AgentClient agent;
    const RecordTable communities{
        "community", COMMUNITIES, parseCommunityFields, nullptr, parseId,
        [&agent] { return printAll(agent); }, printCommunity};
    if (const std::optional<int> status = runRecordCommand(communities, agent, args))
        return *status;
    if (!args.empty() && args[0] == "reset-default") {
        message request, reply;
        if (args.size() != 1) return usageError("community reset-default takes no arguments");
        if (!agent.call(COMMUNITIES, snmp::CMD_RESET_DEFAULT, request, reply)) {
            return EXIT_ERROR_REPLY;
        }
        std::printf("%u\n", static_cast<unsigned>(reply.get(OBJ_ID)));
        return 0;
    }
    return usageError(
        "community needs print, get, add, set, remove or reset-default (see orla-cli snmp "
        "--help)");
}

}  // namespace orla::cli
