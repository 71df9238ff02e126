#include "platform/orla/looper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/orla/ids.h"

namespace {

using orla::message;

constexpr orla::U32Key VALUE{5};

// Keeps one value; each set records the step that restores the old one.
class ValueHandler : public orla::Handler {
  public:
    uint32_t value = 0;
    message cmdSet(const message& request) override {
        message undo;
        undo.insert(VALUE, value);
        undo.insert(orla::MSG_CMD, orla::CMD_SET);
        value = request.get(VALUE);
        sendUndo(request, undo, "value " + std::to_string(value));
        return message();
    }
};

message send(orla::Looper& looper, std::vector<uint32_t> to, uint32_t cmd, uint32_t value = 0) {
    message msg;
    msg.insert(orla::MSG_TO, std::move(to));
    msg.insert(orla::MSG_CMD, cmd);
    msg.insert(VALUE, value);
    return looper.exchangeMessage(msg, 6000);
}

// Handlers' commands, undo, its listing and notifications through the
// command line are the end-to-end tests'; here the requests no handler
// takes and the bound on the history.
TEST(Looper, UnroutableRequestsAndBoundedUndoHistory) {
    orla::Looper looper(0, 0, 0, 2);
    ValueHandler handler;
    EXPECT_TRUE(looper.addHandler(1, &handler));
    EXPECT_FALSE(looper.addHandler(1, &handler));
    for (const auto& to : {std::vector<uint32_t>{0, 2}, std::vector<uint32_t>{0, 1, 1}})
        EXPECT_EQ(orla::getErrorCode(send(looper, to, orla::CMD_GET)), orla::ERR_NO_HANDLER);
    EXPECT_EQ(orla::getErrorCode(send(looper, {}, orla::CMD_GET)), orla::ERR_BAD_REQUEST);
    message noCommand;
    noCommand.insert(orla::MSG_TO, std::vector<uint32_t>{0, 1});
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(noCommand, 6000)), orla::ERR_BAD_REQUEST);

    EXPECT_EQ(orla::getErrorCode(send(looper, {0}, orla::CMD_UNDO)), orla::ERR_NOTHING_TO_UNDO);
    for (uint32_t value : {1u, 2u, 3u})
        send(looper, {0, 1}, orla::CMD_SET, value);
    EXPECT_EQ(send(looper, {0}, orla::CMD_UNDO_LIST).get(orla::OBJ_LIST).size(), 2u);
    for (uint32_t expected : {2u, 1u}) {
        send(looper, {0}, orla::CMD_UNDO);
        EXPECT_EQ(handler.value, expected);
    }
    EXPECT_EQ(looper.undoCount(), 0u);  // applying an undo records nothing
}

}  // namespace
