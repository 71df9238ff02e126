// orla-cli: a command-line client of the platform's message services.
#include <cstdio>
#include <cstring>

#include "platform/orla/daemon.h"
#include "platform/orla/ipc_socket.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/subcommands.h"

namespace {

using orla::cli::Subcommand;

const Subcommand SUBCOMMANDS[] = {
    {"send", "PATH CMD [FIELD=VALUE ...]",
     "send one request and print the reply (exit 1 on an error reply or time-out)",
     orla::cli::runSend, nullptr},
    {"watch", "PATH [--count N]", "print the change notifications of a handler as they arrive",
     orla::cli::runWatch, nullptr},
    {"undo", "[--service N] [--list]",
     "revert the latest recorded change of a service (default 161), or list the history",
     orla::cli::runUndo, nullptr},
    {"snmp", "ACTION ...",
     "the SNMP agent: print/set its settings, list trap generators, manage communities\n"
     "      (orla-cli snmp --help for the actions and field names)",
     orla::cli::runSnmp, orla::cli::SNMP_HELP},
};

void printHelp() {
    std::printf(
        "usage: orla-cli [--run-dir DIR] SUBCOMMAND ARGS...\n"
        "       orla-cli --version\n\n");
    for (const Subcommand& sub : SUBCOMMANDS) {
        std::printf("  orla-cli %s %s\n      %s\n", sub.name, sub.usage, sub.summary);
    }
    std::printf(
        "\nPATH is a dotted handler path: the service id, then the handler id\n"
        "(161 = the service's looper itself, 161.1 = its handler 1).\n"
        "--run-dir DIR looks for service sockets in DIR instead of /orla/run.\n"
        "CMD is a number (decimal or 0x hex) or one of: get set getobj setobj addobj\n"
        "removeobj getall getcount subscribe unsubscribe undo undolist.\n\n%s"
        "\nExamples:\n"
        "  orla-cli snmp print\n"
        "  orla-cli snmp set enabled=yes location=\"rack 4\"\n"
        "  orla-cli snmp community add name=ops read=yes address=192.0.2.0/24\n"
        "  orla-cli snmp community print\n"
        "  orla-cli undo\n"
        "  orla-cli send 161 get\n"
        "  orla-cli send 161.1 getobj OBJ_ID=0\n"
        "  orla-cli send 161 set bool:1=yes be32:16=192.168.1.10 u32[]:19=1,2\n"
        "  orla-cli watch 161.1 --count 1\n"
        "  orla-cli undo --list\n",
        orla::cli::FIELD_HELP);
}

}  // namespace

int main(int argc, char** argv) {
    // Global option: where the service sockets are (tests use their own).
    if (argc >= 3 && std::strcmp(argv[1], "--run-dir") == 0) {
        orla::setRunDirectory(argv[2]);
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("orla-cli %s\n", orla::buildVersion());
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        printHelp();
        return argc < 2 ? 2 : 0;
    }
    for (const Subcommand& sub : SUBCOMMANDS) {
        if (std::strcmp(argv[1], sub.name) != 0) continue;
        orla::cli::Arguments args(argv + 2, argv + argc);
        for (const std::string& arg : args) {
            if (arg == "--help") {
                if (sub.help) {
                    std::fputs(sub.help, stdout);
                } else {
                    printHelp();
                }
                return 0;
            }
        }
        return sub.run(args);
    }
    std::fprintf(stderr, "orla-cli: unknown subcommand %s (see orla-cli --help)\n", argv[1]);
    return 2;
}
