#include "platform/ifaced/sysfs_attribute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/orla/decimal.h"
#include "platform/orla/files.h"

namespace ifaced {

namespace {

using orla::FileDescriptor;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> readAttribute(const std::string& path) {
    std::optional<std::string> text = orla::readRegularFile(path, ATTRIBUTE_MAX_BYTES);
    if (!text || text->size() > ATTRIBUTE_MAX_BYTES) return std::nullopt;
    if (!text->empty() && text->back() == '\n') text->pop_back();
    return text;
}

std::optional<int64_t> parseSignedDecimal(std::string_view text) {
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    std::optional<uint64_t> magnitude = orla::parseDecimal(text);
    constexpr uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (!magnitude || *magnitude > max) return std::nullopt;
    int64_t value = static_cast<int64_t>(*magnitude);
    return negative ? -value : value;
}

std::optional<uint32_t> parseHex32(std::string_view text) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text.substr(2)) {
        int digit = hexValue(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

int writeAttribute(const std::string& path, std::string_view text) {
    // No O_CREAT: only an attribute the kernel (or the test tree) provides is written.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return EINVAL;
    ssize_t written;
    do {
        written = ::write(fd.get(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) return errno;
    return static_cast<size_t>(written) == text.size() ? 0 : EIO;
}

}  // namespace ifaced
