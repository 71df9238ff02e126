#include "platform/orla/throttled_line.h"

#include <iostream>

#include "platform/orla/clock.h"

namespace orla {

void ThrottledLine::write() {
    const uint64_t now = monotonicMillis();
    if (written_ && now - lastWritten_ < INTERVAL_MILLIS) {
        ++heldBack_;
        return;
    }
    if (heldBack_ > 0) {
        std::cerr << "held back " << heldBack_ << " lines of \"" << text_ << "\"\n";
        heldBack_ = 0;
    }
    std::cerr << text_ << std::endl;
    written_ = true;
    lastWritten_ = now;
}

}  // namespace orla
