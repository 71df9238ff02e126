#include <cstdio>
#include <iostream>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/subcommands.h"

namespace orla::cli {

namespace {

// Prints each notification; stops after `limit` of them (0: never).
class Watcher : public Looper {
  public:
    explicit Watcher(uint32_t limit) : limit_(limit) {}
    message cmdUnknown(const message& request, uint32_t cmd) override {
        if (cmd != CMD_NOTIFY) return Looper::cmdUnknown(request, cmd);
        std::cout << request << std::endl;
        if (limit_ && ++seen_ >= limit_) stop();
        return message();
    }

  private:
    uint32_t limit_;
    uint32_t seen_ = 0;
};

}  // namespace

int runWatch(const Arguments& args) {
    std::vector<uint32_t> path;
    uint32_t count = 0;
    bool usable = !args.empty() && parsePath(args[0], path);
    for (size_t i = 1; usable && i < args.size(); ++i) {
        usable = args[i] == "--count" && i + 1 < args.size() && parseNumber(args[++i], count);
    }
    if (!usable) {
        std::fprintf(stderr, "orla-cli watch: usage: watch PATH [--count N]\n");
        return 2;
    }
    Watcher watcher(count);
    message subscribe;
    subscribe.insert(MSG_TO, path);
    subscribe.insert(MSG_CMD, CMD_SUBSCRIBE);
    message reply = watcher.exchangeMessage(subscribe, EXCHANGE_TIMEOUT_MS);
    if (isError(reply)) {
        printReply(reply);
        return 1;
    }
    std::fprintf(stderr, "watching %s\n", args[0].c_str());
    watcher.run();
    return 0;
}

}  // namespace orla::cli
