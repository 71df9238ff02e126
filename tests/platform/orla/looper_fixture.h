// Shared by the looper and inter-process tests: a looper that collects the
// notifications sent to it, and a request builder.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"

namespace orlatest {

class Watcher : public orla::Looper {
  public:
    std::vector<orla::message> notes;
    orla::message cmdUnknown(const orla::message& request, uint32_t cmd) override {
        if (cmd == orla::CMD_NOTIFY) notes.push_back(request);
        return orla::message();
    }
};

inline orla::message request(std::vector<uint32_t> to, uint32_t cmd) {
    orla::message msg;
    msg.insert(orla::MSG_TO, std::move(to));
    msg.insert(orla::MSG_CMD, cmd);
    return msg;
}

}  // namespace orlatest
