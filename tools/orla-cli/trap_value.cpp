#include "tools/orla-cli/trap_value.h"

#include <cstdlib>

#include "platform/snmp/ber.h"
#include "platform/snmp/ber_content.h"
#include "platform/snmp/oid.h"

namespace orla::cli {

namespace {

bool isDecimal(const std::string& text, bool allowSign) {
    size_t first = allowSign && !text.empty() && text[0] == '-' ? 1 : 0;
    if (first >= text.size() || text.size() - first > 10) return false;
    return text.find_first_not_of("0123456789", first) == std::string::npos;
}

bool parseArcs(const std::string& text, OID& oid) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t dot = text.find('.', pos);
        std::string arc =
            text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        if (!isDecimal(arc, false) || oid.size() == ber::MAX_OID_ARCS) return false;
        unsigned long long value = std::strtoull(arc.c_str(), nullptr, 10);
        if (value > 0xffffffffull) return false;
        oid += static_cast<uint32_t>(value);
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return true;
}

// X.690 8.19.4: the first two arcs share one subidentifier, which holds
// only a first arc of 0, 1 or 2, and under 0 and 1 a second below 40.
bool encodeOidText(const std::string& text, std::string& content) {
    OID oid;
    if (!parseArcs(text, oid) || oid.size() < 2) return false;
    if (oid[0] > 2 || (oid[0] < 2 && oid[1] >= 40)) return false;
    content = ber::oidContent(oid);
    return true;
}

}  // namespace

bool encodeTrapValue(uint32_t type, const std::string& text, std::string& content) {
    switch (type) {
        case ber::INTEGER: {
            if (!isDecimal(text, true)) return false;
            long long value = std::strtoll(text.c_str(), nullptr, 10);
            if (value < INT32_MIN || value > INT32_MAX) return false;
            content = ber::integerContent(value);
            return true;
        }
        case ber::COUNTER32:
        case ber::GAUGE32:
        case ber::TIMETICKS: {
            if (!isDecimal(text, false)) return false;
            unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
            if (value > 0xffffffffull) return false;
            content = ber::unsignedContent(value);
            return true;
        }
        case ber::IP_ADDRESS: {
            uint32_t address;
            if (!parseIPv4(text, address)) return false;
            content.assign(reinterpret_cast<const char*>(&address), sizeof address);
            return true;
        }
        case ber::OBJECT_IDENTIFIER:
            return encodeOidText(text, content);
        case ber::NULL_VALUE:
            content.clear();
            return text.empty();
        default:
            content = text;
            return true;
    }
}

}  // namespace orla::cli
