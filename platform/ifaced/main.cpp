// orla-ifaced: the interface service. It serves the network interfaces of
// its network namespace, read over rtnetlink, as platform service 40
// (handler 1): their
// names, types, statuses and 64-bit counters in pages of get-all objects,
// their count, the interface alias and the link trap setting as writable
// fields, and a change notification when an operational status changes
// (platform/ifaced/interface_object.h; docs/interfaces.md).
//
//   orla-ifaced [--store PATH] [--page-size N] [--run-dir DIR]
//
// --store PATH     the settings' store instead of /orla/store/ifaced
// --page-size N    objects per get-all page, 1 to 1024 (default 32)
// --run-dir DIR    service socket directory instead of /orla/run
// --version        print the version and exit; --help prints the options
//
// Started by systemd (Type=notify), it reports itself ready once its socket
// listens.
//
// Exit status: 0 stopped by SIGTERM or SIGINT; 1 the service socket or the
// rtnetlink socket could not be set up; 2 bad arguments.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ifaced/interface_object.h"
#include "platform/ifaced/interface_service.h"
#include "platform/ifaced/link_watch.h"
#include "platform/orla/daemon.h"
#include "platform/orla/decimal.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/looper.h"

namespace {

constexpr const char* PROGRAM = "orla-ifaced";
constexpr const char* USAGE =
    "usage: orla-ifaced [--store PATH] [--page-size N] [--run-dir DIR]\n"
    "  --store PATH     the settings' store instead of /orla/store/ifaced\n"
    "  --page-size N    objects per get-all page, 1 to 1024 (default 32)\n"
    "  --run-dir DIR    service socket directory instead of /orla/run\n"
    "  --version        print the version and exit\n";

int usage(const char* problem, const char* argument) {
    std::fprintf(stderr,
                 "orla-ifaced: %s%s (usage: orla-ifaced [--store PATH] [--page-size N] "
                 "[--run-dir DIR])\n",
                 problem, argument);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (orla::answerInfoOption(argc, argv, PROGRAM, USAGE)) return 0;
    std::string storePath = ifaced::DEFAULT_STORE_PATH;
    uint32_t pageSize = ifaced::DEFAULT_PAGE_SIZE;
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option != "--store" && option != "--page-size" && option != "--run-dir") {
            return usage("unknown argument ", argv[i]);
        }
        if (i + 1 >= argc) return usage("missing value after ", argv[i]);
        const char* value = argv[++i];
        if (option == "--store") {
            storePath = value;
        } else if (option == "--run-dir") {
            orla::setRunDirectory(value);
        } else {
            std::optional<uint64_t> number = orla::parseDecimal(value);
            if (!number || *number == 0 || *number > ifaced::MAX_PAGE_SIZE) {
                return usage("page size must be 1 to 1024: ", value);
            }
            pageSize = static_cast<uint32_t>(*number);
        }
    }

    ifaced::KernelInterfaces kernel;
    if (kernel.openError() != 0) {
        std::fprintf(stderr, "orla-ifaced: no rtnetlink socket: %s\n",
                     std::strerror(kernel.openError()));
        return 1;
    }
    ifaced::InterfaceService service(kernel, storePath, pageSize);
    orla::Looper looper;
    looper.addHandler(ifaced::INTERFACE_HANDLER, &service);
    if (!looper.serve(ifaced::INTERFACE_SERVICE)) return 1;
    ifaced::LinkWatch links(service);
    links.start();
    if (!orla::notifyReady())
        std::fprintf(stderr, "%s: cannot tell systemd it is ready\n", PROGRAM);
    looper.run();
    return 0;
}
