#include "platform/orla/looper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/runner.h"

namespace {

using orla::message;

constexpr orla::U32Key VALUE{5};

// A looper that keeps the notifications sent to it, and one handler keeping
// one value, with notification and undo like a settings handler.
class Watcher : public orla::Looper {
  public:
    using orla::Looper::Looper;
    std::vector<message> notes;
    message cmdUnknown(const message& request, uint32_t cmd) override {
        if (cmd == orla::CMD_NOTIFY) notes.push_back(request);
        return message();
    }
    class ValueHandler : public orla::Handler {
      public:
        uint32_t value = 0;
        message cmdSet(const message& request) override {
            message undo;
            undo.insert(VALUE, value);
            undo.insert(orla::MSG_CMD, orla::CMD_SET);
            value = request.get(VALUE);
            sendUndo(request, undo, "value " + std::to_string(value));
            notifyChange(7, request);
            return message();
        }
        message getObject(uint32_t) override {
            message object;
            object.insert(VALUE, value);
            return object;
        }
    } handler;

    message send(std::vector<uint32_t> to, uint32_t cmd, uint32_t value = 0) {
        message msg;
        msg.insert(orla::MSG_TO, std::move(to));
        msg.insert(orla::MSG_CMD, cmd);
        msg.insert(VALUE, value);
        return exchangeMessage(msg, 6000);
    }
};

// Object commands reaching a handler, and undo through the command line, are
// the end-to-end tests'; here the requests no handler takes, the bound on the
// history and its listing order.
TEST(Looper, UnroutableRequestsAndBoundedUndoHistory) {
    Watcher looper(0, 0, 0, 2);
    EXPECT_TRUE(looper.addHandler(1, &looper.handler));
    EXPECT_FALSE(looper.addHandler(1, &looper.handler));
    for (const auto& to : {std::vector<uint32_t>{0, 2}, std::vector<uint32_t>{0, 1, 1}})
        EXPECT_EQ(orla::getErrorCode(looper.send(to, orla::CMD_GET)), orla::ERR_NO_HANDLER);
    EXPECT_EQ(orla::getErrorCode(looper.send({}, orla::CMD_GET)), orla::ERR_BAD_REQUEST);
    message noCommand;
    noCommand.insert(orla::MSG_TO, std::vector<uint32_t>{0, 1});
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(noCommand, 6000)), orla::ERR_BAD_REQUEST);

    EXPECT_EQ(orla::getErrorCode(looper.send({0}, orla::CMD_UNDO)), orla::ERR_NOTHING_TO_UNDO);
    for (uint32_t value : {1u, 2u, 3u})
        looper.send({0, 1}, orla::CMD_SET, value);
    std::vector<orla::flat_message> entries =
        looper.send({0}, orla::CMD_UNDO_LIST).get(orla::OBJ_LIST);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(message(entries[0]).get(orla::OBJ_NAME), "value 3");
    EXPECT_EQ(message(entries[1]).get(orla::OBJ_NAME), "value 2");
    for (uint32_t expected : {2u, 1u}) {
        looper.send({0}, orla::CMD_UNDO);
        EXPECT_EQ(looper.handler.value, expected);
    }
    EXPECT_EQ(looper.undoCount(), 0u);  // applying an undo records nothing
}

// Nothing in the agent subscribes: notifications are for other processes.
TEST(Looper, InProcessSubscriberGetsNotificationWithObjectUntilItUnsubscribes) {
    Watcher looper;
    looper.addHandler(1, &looper.handler);
    EXPECT_FALSE(orla::isError(looper.send({0, 1}, orla::CMD_SUBSCRIBE)));
    looper.send({0, 1}, orla::CMD_SET, 42);
    for (int pass = 0; pass < 100 && looper.notes.empty(); ++pass)
        orla::getRunner().runOnce(10);
    ASSERT_EQ(looper.notes.size(), 1u);
    EXPECT_EQ(looper.notes[0].get(orla::OBJ_ID), 7u);
    EXPECT_EQ(looper.notes[0].get(VALUE), 42u);
    EXPECT_EQ(looper.notes[0].get(orla::MSG_FROM), (std::vector<uint32_t>{0, 1}));

    looper.send({0, 1}, orla::CMD_UNSUBSCRIBE);
    looper.send({0, 1}, orla::CMD_SET, 43);
    for (int pass = 0; pass < 5; ++pass)
        orla::getRunner().runOnce(0);
    EXPECT_EQ(looper.notes.size(), 1u);
}

}  // namespace
