// What the stand-in platform services of the benchmarks (fake_rows,
// fake_routes) share: handlers that each serve a count of objects made when
// listed, and the command line that gives the counts.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/orla/decimal.h"
#include "platform/orla/ids.h"
#include "platform/orla/looper.h"

namespace bench {

// A handler of `count` objects; CMD_GETCOUNT answers that count.
class CountedHandler : public orla::Handler {
  public:
    explicit CountedHandler(uint32_t count) : count_(count) {}

    orla::message cmdGetCount(const orla::message&) override {
        orla::message reply;
        reply.insert(orla::OBJ_COUNT, count_);
        return reply;
    }

  protected:
    const uint32_t count_;
};

// Serves `service` with one Handler per count on the command line, handler
// K (1, 2, ...) the K-th, each count at most `maxCount`. Returns main's exit
// status: 2 for a bad command line, 1 when the service cannot be served.
template <class Handler>
int serveCounts(int argc, char** argv, const char* program, const char* noun,
                unsigned long maxCount, uint32_t service) {
    if (argc < 2) {
        std::string counts;  // "row" gives ROWS
        for (const char* c = noun; *c; ++c)
            counts += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        std::fprintf(stderr, "usage: %s %sS...\n", program, counts.c_str());
        return 2;
    }
    std::vector<std::unique_ptr<Handler>> handlers;
    orla::Looper looper;
    for (int i = 1; i < argc; ++i) {
        const std::optional<uint64_t> count = orla::parseDecimal(argv[i]);
        if (!count || *count > maxCount) {
            std::fprintf(stderr, "%s: %s: a %s count up to %lu\n", program, argv[i], noun,
                         maxCount);
            return 2;
        }
        handlers.push_back(std::make_unique<Handler>(static_cast<uint32_t>(*count)));
        looper.addHandler(static_cast<uint32_t>(i), handlers.back().get());
    }
    if (!looper.serve(service)) return 1;
    looper.run();
    return 0;
}

}  // namespace bench
