// The `snmp` subcommand of orla-cli: the SNMP agent's settings (service 161)
// and its community table (handler 161.1) with named fields.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/orla/looper.h"
#include "platform/orla/message.h"
#include "tools/orla-cli/subcommands.h"

namespace orla::cli {

// Exit statuses of the snmp subcommands.
inline constexpr int EXIT_ERROR_REPLY = 1;  // the agent refused, or could not be reached
inline constexpr int EXIT_USAGE = 2;        // bad arguments; nothing was sent

// Requests to the agent. An error reply is printed on stderr as
// "orla-cli snmp: TEXT (error 0xCODE)".
class AgentClient {
  public:
    // Sends `request` with MSG_TO = [161, handler...] and MSG_CMD = `cmd`; false
    // after printing the error when the reply is an error reply.
    bool call(const std::vector<uint32_t>& handler, uint32_t cmd, message request, message& reply);
    // The same without printing: the reply, which may be an error reply.
    message exchange(const std::vector<uint32_t>& handler, uint32_t cmd, message request);

  private:
    Looper looper_;
};

// Splits NAME=VALUE at the first '='; false when there is none or NAME is empty.
bool splitAssignment(const std::string& text, std::string& name, std::string& value);

// Prints "orla-cli snmp: TEXT" on stderr and returns EXIT_USAGE.
int usageError(const std::string& text);

// Trap generator ids or names, comma-separated, into `ids`; "none" or
// nothing for none. Names need the agent's list, fetched on the first name.
bool parseGenerators(const std::string& text, AgentClient& agent, std::vector<uint32_t>& ids,
                     std::string& error);
// "ID (name), ..." as shown; the names when the agent lists them.
std::string describeGenerators(AgentClient& agent, const std::vector<uint32_t>& ids);
// Every object of a handler's get-all listing, page after page of
// `pageSize`; false after printing why when it cannot be had whole.
bool listAll(AgentClient& agent, const std::vector<uint32_t>& handler, uint32_t pageSize,
             std::vector<message>& objects);
// Prints rows as columns two spaces apart, the first row as the heading.
void printColumns(const std::vector<std::vector<std::string>>& rows);

// One of the agent's tables of records (its communities, its notification
// targets) as the snmp subcommands edit it, a record by its id.
struct RecordTable {
    const char* noun;  // "community", as the usage lines say it
    std::vector<uint32_t> handler;
    // NAME=VALUE arguments into `request`, for add when `adding`; false with `error`.
    std::function<bool(Arguments::const_iterator begin, Arguments::const_iterator end,
                       bool adding, message& request, std::string& error)>
        parseFields;
    // The usage line for an add whose `request` lacks a field; empty when none
    // does. Null: add needs no field in particular.
    std::function<std::string(const message& request)> missingForAdd;
    // An id that may name a record.
    bool (*parseId)(const std::string& text, uint32_t& id);
    std::function<int()> printAll;
    std::function<void(const message& record)> printRecord;
};
// Runs print, add, get, set or remove (args[0]) on `table`: the exit
// status; nothing for another action, which the caller answers.
std::optional<int> runRecordCommand(const RecordTable& table, AgentClient& agent,
                                    const Arguments& args);

int runSnmpPrint(const Arguments& args);
int runSnmpSet(const Arguments& args);
int runSnmpGenerators(const Arguments& args);
int runSnmpTrap(const Arguments& args);
// args: what follows "community".
int runSnmpCommunity(const Arguments& args);
// args: what follows "view", "group" or "access".
int runSnmpView(const Arguments& args);
int runSnmpGroup(const Arguments& args);
int runSnmpAccess(const Arguments& args);
// args: what follows "target".
int runSnmpTarget(const Arguments& args);

}  // namespace orla::cli
