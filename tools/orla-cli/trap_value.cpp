#include "tools/orla-cli/trap_value.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace orla::cli {

namespace {

constexpr uint32_t TAG_INTEGER = 0x02;
constexpr uint32_t TAG_NULL = 0x05;
constexpr uint32_t TAG_OID = 0x06;
constexpr uint32_t TAG_IP_ADDRESS = 0x40;
constexpr uint32_t TAG_COUNTER32 = 0x41;
constexpr uint32_t TAG_GAUGE32 = 0x42;
constexpr uint32_t TAG_TIMETICKS = 0x43;
// RFC 2578 3.5: at most 128 sub-identifiers.
constexpr size_t MAX_OID_ARCS = 128;

bool isDecimal(const std::string& text, bool allowSign) {
    size_t first = allowSign && !text.empty() && text[0] == '-' ? 1 : 0;
    if (first >= text.size() || text.size() - first > 10) return false;
    return text.find_first_not_of("0123456789", first) == std::string::npos;
}

// X.690 8.3.2: drop leading octets that only repeat the sign of the next one.
std::string minimalTwosComplement(int64_t value) {
    std::string octets;
    for (int shift = 56; shift >= 0; shift -= 8)
        octets.push_back(char((value >> shift) & 0xff));
    size_t start = 0;
    while (start + 1 < octets.size()) {
        unsigned char first = static_cast<unsigned char>(octets[start]);
        bool nextNegative = static_cast<unsigned char>(octets[start + 1]) & 0x80;
        if ((first == 0x00 && !nextNegative) || (first == 0xff && nextNegative)) {
            ++start;
        } else {
            break;
        }
    }
    return octets.substr(start);
}

bool parseArcs(const std::string& text, std::vector<uint32_t>& arcs) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t dot = text.find('.', pos);
        std::string arc =
            text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        if (!isDecimal(arc, false) || arcs.size() == MAX_OID_ARCS) return false;
        unsigned long long value = std::strtoull(arc.c_str(), nullptr, 10);
        if (value > 0xffffffffull) return false;
        arcs.push_back(static_cast<uint32_t>(value));
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return true;
}

// X.690 8.19: the first two arcs share one subidentifier; base 128, high bit
// set on every octet but the last of each subidentifier.
bool encodeOid(const std::string& text, std::string& content) {
    std::vector<uint32_t> arcs;
    if (!parseArcs(text, arcs) || arcs.size() < 2) return false;
    if (arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return false;
    std::vector<uint64_t> subidentifiers{uint64_t(arcs[0]) * 40 + arcs[1]};
    subidentifiers.insert(subidentifiers.end(), arcs.begin() + 2, arcs.end());
    content.clear();
    for (uint64_t sub : subidentifiers) {
        char groups[10];
        int count = 0;
        do {
            groups[count++] = char(sub & 0x7f);
            sub >>= 7;
        } while (sub != 0);
        while (count > 1)
            content.push_back(char(groups[--count] | 0x80));
        content.push_back(groups[0]);
    }
    return true;
}

}  // namespace

bool encodeTrapValue(uint32_t type, const std::string& text, std::string& content) {
    switch (type) {
        case TAG_INTEGER: {
            if (!isDecimal(text, true)) return false;
            long long value = std::strtoll(text.c_str(), nullptr, 10);
            if (value < INT32_MIN || value > INT32_MAX) return false;
            content = minimalTwosComplement(value);
            return true;
        }
        case TAG_COUNTER32:
        case TAG_GAUGE32:
        case TAG_TIMETICKS: {
            if (!isDecimal(text, false)) return false;
            unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
            if (value > 0xffffffffull) return false;
            content = minimalTwosComplement(static_cast<int64_t>(value));
            return true;
        }
        case TAG_IP_ADDRESS: {
            uint32_t address;
            if (!parseIPv4(text, address)) return false;
            content.assign(reinterpret_cast<const char*>(&address), sizeof address);
            return true;
        }
        case TAG_OID:
            return encodeOid(text, content);
        case TAG_NULL:
            content.clear();
            return text.empty();
        default:
            content = text;
            return true;
    }
}

}  // namespace orla::cli
