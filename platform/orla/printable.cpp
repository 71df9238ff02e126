#include "platform/orla/printable.h"

#include <cstdio>

namespace orla {

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char byte : text) {
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out.push_back(char(byte));
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace orla
