// Unsigned decimal numbers in the text the platform services read: sysfs
// and procfs files, and their command lines.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orla {

// The value of `text` when it is one or more decimal digits and nothing
// else, e.g. "1500", below 2^64; nullopt otherwise (empty, a sign, a blank,
// an overflow).
inline std::optional<uint64_t> parseDecimal(std::string_view text) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace orla
