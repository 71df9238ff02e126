#include "platform/orla/throttled_line.h"

#include "platform/orla/clock.h"

namespace orla {

bool ThrottledLine::admit() {
    const uint64_t now = monotonicMillis();
    if (written_ && now - lastWritten_ < INTERVAL_MILLIS) {
        ++heldBack_;
        return false;
    }
    if (heldBack_ > 0) {
        std::cerr << "held back " << heldBack_ << " lines of \"" << text_ << "\"\n";
        heldBack_ = 0;
    }
    written_ = true;
    lastWritten_ = now;
    return true;
}

}  // namespace orla
