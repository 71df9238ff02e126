#include <cstdio>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/subcommands.h"

namespace orla::cli {

int runSend(const Arguments& args) {
    std::vector<uint32_t> path;
    uint32_t cmd;
    if (args.size() < 2 || !parsePath(args[0], path)) {
        std::fprintf(stderr, "orla-cli send: usage: send PATH CMD [FIELD=VALUE ...]\n");
        return 2;
    }
    if (!parseCommand(args[1], cmd)) {
        std::fprintf(stderr, "orla-cli send: unknown command %s\n", args[1].c_str());
        return 2;
    }
    message request;
    for (size_t i = 2; i < args.size(); ++i) {
        std::string error;
        if (!parseField(args[i], request, error)) {
            std::fprintf(stderr, "orla-cli send: %s\n", error.c_str());
            return 2;
        }
    }
    request.insert(MSG_TO, path);
    request.insert(MSG_CMD, cmd);
    Looper client;
    message reply = client.exchangeMessage(request, EXCHANGE_TIMEOUT_MS);
    printReply(reply);
    return isError(reply) ? 1 : 0;
}

}  // namespace orla::cli
