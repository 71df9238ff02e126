// Diagnostics that the traffic of strangers causes (a wrong community, an
// undecodable datagram): one line per second at most, so that a flood cannot
// fill the log, which on a router lives on flash.
#pragma once

#include <cstdint>
#include <iostream>

namespace orla {

// One diagnostic line, written to the standard error stream at most once per
// second. The lines held back in between are counted, and their count is
// written as one line of its own before the next line that goes out:
//   held back N lines of "TEXT"
class ThrottledLine {
  public:
    explicit ThrottledLine(const char* text) : text_(text) {}

    // Writes the line now, or counts it as held back.
    void write() {
        if (admit()) std::cerr << text_ << std::endl;
    }
    // The same for a line that goes on after the text with `detail` (what
    // the stream's operator<< writes of it); held back lines are counted
    // under the text alone.
    template <typename Detail>
    void write(const Detail& detail) {
        if (admit()) std::cerr << text_ << detail << std::endl;
    }

  private:
    // True when a line may go out now; first writes the count of the lines
    // held back since the last one.
    bool admit();

    static constexpr uint64_t INTERVAL_MILLIS = 1000;

    const char* text_;
    bool written_ = false;
    uint64_t lastWritten_ = 0;
    uint64_t heldBack_ = 0;
};

}  // namespace orla
