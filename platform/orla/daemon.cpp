#include "platform/orla/daemon.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace orla {

const char* buildVersion() {
    return ORLA_VERSION;
}

bool answerInfoOption(int argc, char** argv, const char* program, const char* usage) {
    if (argc != 2) return false;
    const std::string_view option = argv[1];
    if (option == "--version") {
        std::printf("%s %s\n", program, buildVersion());
        return true;
    }
    if (option == "--help") {
        std::printf("%s", usage);
        return true;
    }
    return false;
}

bool notifyReady() {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || path[0] == '\0') return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(path);
    if (length >= sizeof address.sun_path || (path[0] != '/' && path[0] != '@')) return false;
    std::memcpy(address.sun_path, path, length);
    // A leading '@' names a socket in the abstract namespace: a zero octet,
    // and the address length, not a terminator, ends the name.
    if (path[0] == '@') address.sun_path[0] = '\0';
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    static constexpr char READY[] = "READY=1";
    const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    const bool sent = sendto(fd, READY, sizeof READY - 1, MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&address),
                             addressLength) == static_cast<ssize_t>(sizeof READY - 1);
    close(fd);
    return sent;
}

}  // namespace orla
