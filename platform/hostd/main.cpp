// orla-hostd: the host service. It serves the host's resources, read from
// procfs and the mount list, as platform service 42: uptime, date, process
// counts and memory size (handler 1), the storage areas with their sizes
// (handler 2) and the processors with their load over the last minute
// (handler 3), and the processes (handler 4) (platform/hostd/host_object.h;
// docs/host.md).
//
//   orla-hostd [--proc DIR] [--mounts FILE] [--utmp FILE] [--page-size N]
//              [--run-dir DIR]
//
// --proc DIR       read DIR/meminfo, DIR/stat ... instead of /proc/...
// --mounts FILE    the mount list, instead of DIR/self/mounts
// --utmp FILE      the login records, instead of /var/run/utmp
// --page-size N    objects per get-all page and processes per window, 1 to
//                  1024 (default 32 a page, 1024 processes a window)
// --run-dir DIR    service socket directory instead of /orla/run
// --version        print the version and exit; --help prints the options
//
// Started by systemd (Type=notify), it reports itself ready once its socket
// listens.
//
// Exit status: 0 stopped by SIGTERM or SIGINT; 1 the service socket could
// not be set up; 2 bad arguments.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/hostd/host_object.h"
#include "platform/hostd/host_reader.h"
#include "platform/hostd/host_service.h"
#include "platform/orla/daemon.h"
#include "platform/orla/decimal.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/looper.h"

namespace {

constexpr const char* PROGRAM = "orla-hostd";
constexpr const char* USAGE =
    "usage: orla-hostd [--proc DIR] [--mounts FILE] [--page-size N] [--run-dir DIR]\n"
    "  --proc DIR       read DIR/meminfo, DIR/stat ... instead of /proc/...\n"
    "  --mounts FILE    the mount list, instead of DIR/self/mounts\n"
    "  --page-size N    objects per get-all page, 1 to 1024 (default 32)\n"
    "  --run-dir DIR    service socket directory instead of /orla/run\n"
    "  --version        print the version and exit\n";

int usage(const char* problem, const char* argument) {
    std::fprintf(stderr,
                 "orla-hostd: %s%s (usage: orla-hostd [--proc DIR] [--mounts FILE] [--utmp FILE] "
                 "[--page-size N] [--run-dir DIR])\n",
                 problem, argument);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (orla::answerInfoOption(argc, argv, PROGRAM, USAGE)) return 0;
    std::string procRoot = "/proc";
    std::optional<std::string> mountsPath;
    std::optional<uint32_t> pageSize;
    std::string utmpPath = "/var/run/utmp";
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option != "--proc" && option != "--mounts" && option != "--utmp" &&
            option != "--page-size" && option != "--run-dir") {
            return usage("unknown argument ", argv[i]);
        }
        if (i + 1 >= argc) return usage("missing value after ", argv[i]);
        const char* value = argv[++i];
        if (option == "--proc") {
            procRoot = value;
        } else if (option == "--utmp") {
            utmpPath = value;
        } else if (option == "--mounts") {
            mountsPath = value;
        } else if (option == "--run-dir") {
            orla::setRunDirectory(value);
        } else {
            const std::optional<uint64_t> number = orla::parseDecimal(value);
            if (!number || *number == 0 || *number > hostd::MAX_PAGE_SIZE) {
                return usage("page size must be 1 to 1024: ", value);
            }
            pageSize = static_cast<uint32_t>(*number);
        }
    }

    hostd::HostReader reader(procRoot, mountsPath.value_or(procRoot + "/self/mounts"), utmpPath);
    hostd::SystemHandler system(reader);
    hostd::StorageHandler storage(reader, pageSize.value_or(hostd::DEFAULT_PAGE_SIZE));
    hostd::ProcessorHandler processors(reader, pageSize.value_or(hostd::DEFAULT_PAGE_SIZE));
    // Process rows are compact, and a walk pays per window: the largest.
    hostd::ProcessHandler processes(reader, pageSize.value_or(hostd::MAX_PAGE_SIZE));
    orla::Looper looper;
    looper.addHandler(hostd::SYSTEM_HANDLER, &system);
    looper.addHandler(hostd::STORAGE_HANDLER, &storage);
    looper.addHandler(hostd::PROCESSOR_HANDLER, &processors);
    looper.addHandler(hostd::PROCESS_HANDLER, &processes);
    if (!looper.serve(hostd::HOST_SERVICE)) return 1;
    processors.sample();
    if (!orla::notifyReady())
        std::fprintf(stderr, "%s: cannot tell systemd it is ready\n", PROGRAM);
    looper.run();
    return 0;
}
