#include <cstdio>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "tools/orla-cli/fields.h"
#include "tools/orla-cli/subcommands.h"

namespace orla::cli {

int runUndo(const Arguments& args) {
    uint32_t service = DEFAULT_UNDO_SERVICE;
    bool list = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--list") {
            list = true;
        } else if (args[i] == "--service" && i + 1 < args.size() &&
                   parseNumber(args[i + 1], service)) {
            ++i;
        } else {
            std::fprintf(stderr, "orla-cli undo: usage: undo [--service N] [--list]\n");
            return 2;
        }
    }
    message request;
    request.insert(MSG_TO, std::vector<uint32_t>{service});
    request.insert(MSG_CMD, list ? CMD_UNDO_LIST : CMD_UNDO);
    Looper client;
    message reply = client.exchangeMessage(request, EXCHANGE_TIMEOUT_MS);
    if (isError(reply)) {
        printReply(reply);
        return 1;
    }
    if (list) {
        std::vector<flat_message> steps = reply.get(OBJ_LIST);
        if (steps.empty()) std::printf("nothing to undo\n");
        for (const flat_message& flat : steps) {
            message step(flat);
            std::printf("%u %s\n", static_cast<unsigned>(step.get(OBJ_ID)),
                        step.get(OBJ_NAME).c_str());
        }
    } else {
        std::printf("undone: %s\n", reply.get(MSG_UNDO_TEXT).c_str());
    }
    return 0;
}

}  // namespace orla::cli
