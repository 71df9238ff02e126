#include "tools/orla-cli/snmp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mib/agent_settings.h"
#include "platform/orla/ids.h"

namespace orla::cli {

namespace {

// What an error reply without a text means.
const char* describeError(uint32_t code) {
    switch (code) {
        case ERR_NO_SUCH_OBJECT:
            return "no such object";
        case ERR_MISSING_VALUE:
            return "missing value";
        case ERR_BAD_VALUE:
            return "bad value";
        case ERR_BAD_START_ID:
            return "the listing's start id is gone";
        case ERR_UNSUPPORTED:
            return "command not supported";
        default:
            return "request refused";
    }
}

struct SnmpAction {
    const char* name;
    int (*run)(const Arguments& args);
};

constexpr SnmpAction ACTIONS[] = {
    {"print", runSnmpPrint},           {"set", runSnmpSet},
    {"generators", runSnmpGenerators}, {"trap", runSnmpTrap},
    {"community", runSnmpCommunity},   {"target", runSnmpTarget},
    {"view", runSnmpView},             {"group", runSnmpGroup},
    {"access", runSnmpAccess},
};


}  // namespace

const char* const SNMP_HELP =
    "usage: orla-cli snmp ACTION ...   (orla-cli snmp help: this text)\n"
    "\n"
    "Settings of the SNMP agent (service 161):\n"
    "  snmp print                    show the settings, one \"name: value\" per line,\n"
    "                                and the agent's own engine id (generated-engine-id)\n"
    "                                and \"communities: closed ...\" while a damaged\n"
    "                                community store keeps every community shut\n"
    "  snmp set NAME=VALUE ...       change settings (all in one request)\n"
    "  snmp generators               list the trap generators: id and name\n"
    "  snmp trap [oid=OID type=TYPE [value=TEXT]]\n"
    "                                send the vendor trap now, with one binding if given;\n"
    "                                TYPE: integer string oid ipaddress counter gauge\n"
    "                                timeticks null, or a BER tag number (value as is)\n"
    "\n"
    "Settings names and values:\n"
    "  enabled=yes|no                answer requests on UDP 161 and send traps\n"
    "  engine-id=TEXT                SNMPv3 engine id text (the agent adds its prefix);\n"
    "                                empty: the agent's own engine id\n"
    "  trap-target=A.B.C.D|none      trap sink, traps go to its UDP port 162\n"
    "  trap-community=ID|none        community (by id) used to send traps\n"
    "  trap-version=1|2c|3           trap format (raw codes 0..3 also accepted)\n"
    "  trap-generators=LIST          comma list of generator ids or names, empty or\n"
    "                                none for no trap at all (start-trap: on start)\n"
    "  engine-boots=N                never below the current count\n"
    "  engine-param=N\n"
    "  community-name=TEXT\n"
    "  text2=TEXT (or contact=TEXT)  text3=TEXT (or location=TEXT)\n"
    "  bulk-repetitions=N            at most N repetitions in a GetBulk reply (default 100)\n"
    "  bulk-reply-octets=N           no GetBulk reply beyond N octets but for its first\n"
    "                                binding, 484 to 65507 (default 1472)\n"
    "\n"
    "Communities (handler 161.1); they are the SNMPv3 users as well:\n"
    "  snmp community print          list every community\n"
    "  snmp community get ID         show one community\n"
    "  snmp community add NAME=VALUE ...       add one; prints its id\n"
    "  snmp community set ID NAME=VALUE ...    change one\n"
    "  snmp community remove ID\n"
    "  snmp community reset-default  restore the default community morvel (read-only,\n"
    "                                every source, security none); prints its id\n"
    "\n"
    "Community names and values:\n"
    "  name=TEXT                     community string, SNMPv3 user name\n"
    "  read=yes|no  write=yes|no     Get/GetNext and Set rights\n"
    "  address=A.B.C.D[/PREFIX]      source filter address (/PREFIX sets the netmask);\n"
    "                                address=any admits every source\n"
    "  netmask=A.B.C.D               source filter mask (0.0.0.0: every source)\n"
    "  security=none|auth|priv       SNMPv3 level (v1/v2c only with none)\n"
    "  auth-protocol=N  priv-protocol=N      protocol codes\n"
    "  auth-password=TEXT  priv-password=TEXT\n"
    "                                at least 8 characters, or empty\n"
    "  id=N                          (add only) the id to use\n"
    "  read-view=VIEW  write-view=VIEW  notify-view=VIEW\n"
    "                                narrow the rights to a view; empty: the whole tree\n"
    "Passwords are shown as (set) or (empty), never in clear.\n"
    "\n"
    "Views, groups and access entries (handler 161.4, RFC 3415); a community or\n"
    "user that a group names has the access of that group's entries instead:\n"
    "  snmp view|group|access print\n"
    "  snmp view|group|access add NAME=VALUE ...    add one; prints its id\n"
    "  snmp view|group|access set ID NAME=VALUE ...\n"
    "  snmp view|group|access remove ID\n"
    "  view:   name=VIEW subtree=OID [mask=HEX] [type=included|excluded]\n"
    "  group:  name=GROUP model=v1|v2c|usm security-name=COMMUNITY-OR-USER\n"
    "  access: group=GROUP [context=NAME] [context-match=exact|prefix]\n"
    "          [model=any|v1|v2c|usm] [level=none|auth|priv]\n"
    "          [read-view=VIEW] [write-view=VIEW] [notify-view=VIEW]\n"
    "\n"
    "Notification targets (handler 161.3); target 0 is the trap-target setting:\n"
    "  snmp target print             list every target with its counters: sent,\n"
    "                                informs acknowledged, informs dropped\n"
    "  snmp target get ID            show one target\n"
    "  snmp target add address=ADDR [port=N] version=1|2c|3 community=ID\n"
    "      type=trap|inform [timeout=MS] [retries=N] [generators=LIST]\n"
    "                                add one; prints its id\n"
    "  snmp target set ID NAME=VALUE ...       change one\n"
    "  snmp target remove ID\n"
    "\n"
    "Target names and values:\n"
    "  address=A.B.C.D|[IPv6]        the receiver; port=N its UDP port (162)\n"
    "  version=1|2c|3  community=ID  the community (by id) the messages carry;\n"
    "                                in SNMPv3 the user, at its security level\n"
    "  type=trap|inform              informs (2c, 3) are sent again until answered\n"
    "  timeout=MS  retries=N         of informs: 10 to 600000 ms (1000), 0 to 20 (3)\n"
    "  generators=LIST|all           trap generators (ids or names) whose traps\n"
    "                                it receives; all (the default): every one\n"
    "\n"
    "Every change is recorded: \"orla-cli undo\" reverts the latest one,\n"
    "\"orla-cli undo --list\" shows the history.\n"
    "Exit status: 0 done, 1 the agent refused (reason on stderr), 2 bad arguments.\n"
    "\n"
    "Examples:\n"
    "  orla-cli snmp set enabled=yes contact=noc@example.net location=\"rack 4\"\n"
    "  orla-cli snmp set trap-target=192.0.2.9 trap-version=2c trap-community=0 \\\n"
    "      trap-generators=start-trap\n"
    "  orla-cli snmp community add name=ops read=yes write=yes address=192.0.2.0/24\n"
    "  orla-cli snmp community set 1 write=no\n"
    "  orla-cli snmp community add name=admin read=yes security=priv \\\n"
    "      auth-protocol=1 auth-password=secret1x priv-protocol=1 priv-password=secret2x\n"
    "  orla-cli snmp trap oid=1.3.6.1.2.1.1.5.0 type=string value=edge-1\n"
    "  orla-cli snmp view add name=monitor subtree=1.3.6.1.2.1.1\n"
    "  orla-cli snmp view add name=monitor subtree=1.3.6.1.2.1.2\n"
    "  orla-cli snmp community add name=nms read=yes read-view=monitor\n"
    "  orla-cli snmp community remove 1\n"
    "  orla-cli snmp target add address=[2001:db8::9] version=2c community=0 \\\n"
    "      type=inform generators=start-trap,link-events\n"
    "  orla-cli undo\n";

message AgentClient::exchange(const std::vector<uint32_t>& handler, uint32_t cmd, message request) {
    std::vector<uint32_t> path{snmp::SERVICE_ID};
    path.insert(path.end(), handler.begin(), handler.end());
    request.insert(MSG_TO, path);
    request.insert(MSG_CMD, cmd);
    return looper_.exchangeMessage(request, EXCHANGE_TIMEOUT_MS);
}

bool AgentClient::call(const std::vector<uint32_t>& handler, uint32_t cmd, message request,
                       message& reply) {
    reply = exchange(handler, cmd, std::move(request));
    if (!isError(reply)) return true;
    std::string text = getError(reply);
    uint32_t code = getErrorCode(reply);
    std::fprintf(stderr, "orla-cli snmp: %s (error 0x%x)\n",
                 text.empty() ? describeError(code) : text.c_str(), static_cast<unsigned>(code));
    return false;
}

bool splitAssignment(const std::string& text, std::string& name, std::string& value) {
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    name = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "orla-cli snmp: %s\n", text.c_str());
    return EXIT_USAGE;
}

bool listAll(AgentClient& agent, const std::vector<uint32_t>& handler, uint32_t pageSize,
             std::vector<message>& objects) {
    // Bound of a listing: a misbehaving agent cannot keep the client paging forever.
    constexpr unsigned MAX_PAGES = 10000;
    message request;
    request.insert(OBJ_PAGE_SIZE, pageSize);
    for (unsigned page = 0;; ++page) {
        if (page == MAX_PAGES) {
            std::fprintf(stderr, "orla-cli snmp: the listing does not end\n");
            return false;
        }
        message reply;
        if (!agent.call(handler, CMD_GETALL, request, reply)) return false;
        for (const flat_message& flat : reply.get(OBJ_LIST))
            objects.emplace_back(flat);
        if (!reply.has(OBJ_NEXT)) return true;
        uint32_t next = reply.get(OBJ_NEXT);
        if (request.has(OBJ_NEXT) && request.get(OBJ_NEXT) == next) {
            std::fprintf(stderr, "orla-cli snmp: the listing does not advance\n");
            return false;
        }
        request.insert(OBJ_NEXT, next);
    }
}

void printColumns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size())
                line += std::string(widths[column] - row[column].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

std::optional<int> runRecordCommand(const RecordTable& table, AgentClient& agent,
                                    const Arguments& args) {
    const std::string noun = table.noun;
    const std::string action = args.empty() ? "" : args[0];
    message request, reply;
    std::string error;
    if (action == "print") {
        if (args.size() != 1) return usageError(noun + " print takes no arguments");
        return table.printAll();
    }
    if (action == "add") {
        if (!table.parseFields(args.begin() + 1, args.end(), true, request, error))
            return usageError(noun + " add: " + error);
        if (table.missingForAdd) {
            const std::string missing = table.missingForAdd(request);
            if (!missing.empty()) return usageError(missing);
        }
        if (!agent.call(table.handler, CMD_ADDOBJ, request, reply)) return EXIT_ERROR_REPLY;
        std::printf("%u\n", static_cast<unsigned>(reply.get(OBJ_ID)));
        return 0;
    }
    if (action != "get" && action != "remove" && action != "set") return std::nullopt;
    uint32_t id = 0;
    if (args.size() < 2 || !table.parseId(args[1], id))
        return usageError(noun + " " + action + " needs a " + noun + " ID");
    if (action == "set") {
        if (!table.parseFields(args.begin() + 2, args.end(), false, request, error))
            return usageError(noun + " set: " + error);
    } else if (args.size() != 2) {
        return usageError(noun + " " + action + " takes only the ID");
    }
    request.insert(OBJ_ID, id);
    const uint32_t cmd = action == "get"   ? CMD_GETOBJ
                         : action == "set" ? CMD_SETOBJ
                                           : CMD_REMOVEOBJ;
    if (!agent.call(table.handler, cmd, request, reply)) return EXIT_ERROR_REPLY;
    if (action == "get") table.printRecord(reply);
    return 0;
}

int runSnmp(const Arguments& args) {
    if (args.empty()) {
        std::fputs(SNMP_HELP, stderr);
        return EXIT_USAGE;
    }
    if (args[0] == "help") {
        std::fputs(SNMP_HELP, stdout);
        return 0;
    }
    for (const SnmpAction& action : ACTIONS) {
        if (args[0] == action.name) return action.run(Arguments(args.begin() + 1, args.end()));
    }
    return usageError("unknown action " + args[0] + " (see orla-cli snmp --help)");
}

}  // namespace orla::cli
