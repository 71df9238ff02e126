// The subcommands of orla-cli. Each takes the arguments after its name and
// returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace orla::cli {

using Arguments = std::vector<std::string>;

struct Subcommand {
    const char* name;
    const char* usage;    // arguments, for the help text
    const char* summary;  // one line
    int (*run)(const Arguments& args);
    const char* help;  // the subcommand's own --help text; null: the general one
};

// Client exchange time-out, milliseconds.
inline constexpr unsigned EXCHANGE_TIMEOUT_MS = 6000;
// Service of the SNMP agent, the default target of undo.
inline constexpr unsigned DEFAULT_UNDO_SERVICE = 161;

int runSend(const Arguments& args);
int runWatch(const Arguments& args);
int runUndo(const Arguments& args);
int runSnmp(const Arguments& args);

extern const char* const SNMP_HELP;

}  // namespace orla::cli
