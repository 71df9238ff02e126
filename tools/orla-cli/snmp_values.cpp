#include "tools/orla-cli/snmp_values.h"

#include <arpa/inet.h>

#include <cstring>

#include "tools/orla-cli/fields.h"

namespace orla::cli {

bool parseNamedCode(const std::string& text, std::span<const NamedCode> names, uint32_t& code) {
    for (const NamedCode& named : names) {
        if (text == named.name) {
            code = named.code;
            return true;
        }
    }
    return parseNumber(text, code);
}

std::string formatNamedCode(uint32_t code, std::span<const NamedCode> names) {
    for (const NamedCode& named : names) {
        if (code == named.code) return named.name;
    }
    return std::to_string(code);
}

bool parseIPv4(const std::string& text, uint32_t& networkOrder) {
    in_addr address;
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    std::memcpy(&networkOrder, &address, sizeof networkOrder);
    return true;
}

std::string formatIPv4(uint32_t networkOrder) {
    in_addr address;
    std::memcpy(&address, &networkOrder, sizeof networkOrder);
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "?";
}

bool parseAddressPrefix(const std::string& text, uint32_t& address, uint32_t& netmask) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    std::string lengthText = text.substr(slash + 1);
    uint32_t length;
    // Plain decimal only: "/0x18" or "/+8" are typing errors, not prefixes.
    if (lengthText.empty() || lengthText.size() > 2 ||
        lengthText.find_first_not_of("0123456789") != std::string::npos ||
        !parseNumber(lengthText, length) || length > 32) {
        return false;
    }
    if (!parseIPv4(text.substr(0, slash), address)) return false;
    uint32_t hostMask = length == 0 ? 0 : 0xffffffffu << (32 - length);
    netmask = htonl(hostMask);
    return true;
}

int prefixLength(uint32_t netmask) {
    uint32_t hostMask = ntohl(netmask);
    int length = 0;
    while (length < 32 && (hostMask & (0x80000000u >> length)))
        ++length;
    uint32_t contiguous = length == 0 ? 0 : 0xffffffffu << (32 - length);
    return hostMask == contiguous ? length : -1;
}

}  // namespace orla::cli
