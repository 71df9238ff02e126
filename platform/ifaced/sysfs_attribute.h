// Reading and parsing the kernel's sysfs attribute files. Every file is
// treated as hostile: reads are bounded, numbers are parsed strictly (digits
// only, one trailing newline allowed, no overflow), and a file that is not a
// regular file (a FIFO, a directory) is refused without blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ifaced {

// Larger than any attribute the kernel writes (ifalias holds at most 256 octets).
inline constexpr size_t ATTRIBUTE_MAX_BYTES = 512;

// The file's contents without its trailing newline; nullopt when it is
// missing, not a regular file, unreadable or longer than ATTRIBUTE_MAX_BYTES.
std::optional<std::string> readAttribute(const std::string& path);

// Decimal with an optional leading '-', e.g. "-1".
std::optional<int64_t> parseSignedDecimal(std::string_view text);
// "0x" and 1 to 8 hex digits, e.g. "0x1003".
std::optional<uint32_t> parseHex32(std::string_view text);

// Writes `text` to an existing regular file in one write: 0 on success, else
// the errno value of the failure (EIO for a short write).
int writeAttribute(const std::string& path, std::string_view text);

}  // namespace ifaced
