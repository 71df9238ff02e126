#include "platform/orla/ipc_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orla {

namespace {

std::string& runDirectoryStorage() {
    static std::string directory = DEFAULT_RUN_DIRECTORY;
    return directory;
}

bool makeAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// mkdir -p with mode 0700 for every directory it creates.
bool makeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

int connectPath(const std::string& path) {
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int reason = errno;
        close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Only root, the service's own user and, when the directory lets it search
// (0710), the directory's group may reach its socket, so the run directory
// must be 0700 or 0710. One of ours with a wider mode (an older set-up
// script made it 0755) is tightened to 0700, and `notice` says so; one of a
// user other than us or root is refused, as that user could replace our
// socket with theirs. Root's is root's choice. `clientGroup`: the group let
// in, if any.
bool checkRunDirectory(const std::string& directory, std::string& error, std::string& notice,
                       std::optional<gid_t>& clientGroup) {
    struct stat info;
    if (stat(directory.c_str(), &info) != 0) {
        error = "cannot inspect " + directory + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = directory + " is not a directory";
        return false;
    }
    const mode_t mode = info.st_mode & 07777;
    if (mode == 0710) clientGroup = info.st_gid;
    if (info.st_uid != geteuid()) {
        if (info.st_uid == 0) return true;
        error = directory + " belongs to uid " + std::to_string(info.st_uid) + ", not to us";
        return false;
    }
    if (mode == 0700 || mode == 0710) return true;
    if (chmod(directory.c_str(), 0700) != 0) {
        error = "cannot set " + directory + " to mode 0700: " + std::strerror(errno);
        return false;
    }
    notice = "run directory " + directory + " had mode " + octal(info.st_mode) + ", set it to 0700";
    return true;
}

}  // namespace

void setRunDirectory(const std::string& path) {
    runDirectoryStorage() = path;
}

const std::string& runDirectory() {
    return runDirectoryStorage();
}

std::string servicePath(uint32_t serviceId) {
    return runDirectory() + "/" + std::to_string(serviceId) + ".sock";
}

bool setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int listenService(uint32_t serviceId, int backlog, std::string& error, std::string& notice,
                  std::optional<gid_t>& clientGroup) {
    clientGroup.reset();
    if (!makeDirectories(runDirectory())) {
        error = "cannot create " + runDirectory() + ": " + std::strerror(errno);
        return -1;
    }
    if (!checkRunDirectory(runDirectory(), error, notice, clientGroup)) return -1;
    std::string path = servicePath(serviceId);
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        error = "socket path too long: " + path;
        return -1;
    }
    int live = connectPath(path);
    if (live >= 0) {
        close(live);
        error = "service " + std::to_string(serviceId) + " is already running";
        return -1;
    }
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    // bind() creates the socket file with the umask's mode, and fchmod() on
    // the descriptor does not reach the file; so chmod() the path before
    // listen(). Until listen() every connect() is refused, so the moment the
    // file's mode is wider gives nobody a connection.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    const bool groupSet =
        !clientGroup || chown(path.c_str(), static_cast<uid_t>(-1), *clientGroup) == 0;
    if (!groupSet || chmod(path.c_str(), clientGroup ? 0660 : 0600) != 0 ||
        listen(fd, backlog) != 0) {
        error = path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

int connectService(uint32_t serviceId) {
    return connectPath(servicePath(serviceId));
}

}  // namespace orla
