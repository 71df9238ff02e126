// Text from outside (a peer's octets, a stored name) made safe for one
// diagnostic or terminal line.
#pragma once

#include <string>

namespace orla {

// The text with bytes outside printable ASCII, and the backslash, as \xNN:
// no line end, escape sequence or look-alike escape can pass through.
std::string printable(const std::string& text);

}  // namespace orla
