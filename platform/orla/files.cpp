#include "platform/orla/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace orla {

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string text(maxBytes + 1, '\0');
    size_t used = 0;
    while (used < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        used += static_cast<size_t>(got);
    }
    text.resize(used);
    return text;
}

}  // namespace orla
