#include "platform/orla/looper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/runner.h"

namespace {

using orla::message;

constexpr orla::U32Key VALUE{5};

message request(std::vector<uint32_t> to, uint32_t cmd) {
    message msg;
    msg.insert(orla::MSG_TO, std::move(to));
    msg.insert(orla::MSG_CMD, cmd);
    return msg;
}

// A looper that keeps the notifications sent to it.
class Watcher : public orla::Looper {
  public:
    std::vector<message> notes;
    message cmdUnknown(const message& request, uint32_t cmd) override {
        if (cmd == orla::CMD_NOTIFY) notes.push_back(request);
        return message();
    }
};

// A handler keeping one value, with notification and undo like a settings handler.
class ValueHandler : public orla::Handler {
  public:
    uint32_t value = 0;

    message cmdGet(const message&) override {
        message reply;
        reply.insert(VALUE, value);
        return reply;
    }
    message cmdSet(const message& request) override {
        message undo;
        undo.insert(VALUE, value);
        undo.insert(orla::MSG_CMD, orla::CMD_SET);
        value = request.get(VALUE);
        sendUndo(request, undo, "value " + std::to_string(value));
        notifyChange(7, request);
        return message();
    }
    message getObject(uint32_t) override { return cmdGet(message()); }
};

// Object commands reaching a handler are the end-to-end command line tests';
// here the requests no handler takes.
TEST(Looper, UnroutableRequestsAreErrors) {
    orla::Looper looper;
    ValueHandler handler;
    looper.addHandler(1, &handler);
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(request({0, 2}, orla::CMD_GET), 6000)),
              orla::ERR_NO_HANDLER);
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(request({0, 1, 1}, orla::CMD_GET), 6000)),
              orla::ERR_NO_HANDLER);
    message noCommand;
    noCommand.insert(orla::MSG_TO, std::vector<uint32_t>{0, 1});
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(noCommand, 6000)), orla::ERR_BAD_REQUEST);
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(request({}, orla::CMD_GET), 6000)),
              orla::ERR_BAD_REQUEST);
}

// Undo of settings and communities through the command line is the
// end-to-end tests'; here the bound on the history and the listing order.
TEST(Looper, UndoHistoryKeepsTheMostRecentStepsAndRecordsNoUndo) {
    orla::Looper looper(0, 0, 0, 2);
    ValueHandler handler;
    EXPECT_TRUE(looper.addHandler(1, &handler));
    EXPECT_FALSE(looper.addHandler(1, &handler));
    EXPECT_EQ(orla::getErrorCode(looper.exchangeMessage(request({0}, orla::CMD_UNDO), 6000)),
              orla::ERR_NOTHING_TO_UNDO);
    for (uint32_t value : {1u, 2u, 3u}) {
        message set = request({0, 1}, orla::CMD_SET);
        set.insert(VALUE, value);
        looper.exchangeMessage(set, 6000);
    }
    message list = looper.exchangeMessage(request({0}, orla::CMD_UNDO_LIST), 6000);
    std::vector<orla::flat_message> entries = list.get(orla::OBJ_LIST);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(message(entries[0]).get(orla::OBJ_NAME), "value 3");
    EXPECT_EQ(message(entries[1]).get(orla::OBJ_NAME), "value 2");
    for (uint32_t expected : {2u, 1u}) {
        looper.exchangeMessage(request({0}, orla::CMD_UNDO), 6000);
        EXPECT_EQ(handler.value, expected);
    }
    EXPECT_EQ(looper.undoCount(), 0u);  // applying an undo records nothing
}

// Nothing in the agent subscribes: notifications are for other processes.
TEST(Looper, InProcessSubscriberGetsNotificationWithObjectUntilItUnsubscribes) {
    Watcher looper;
    ValueHandler handler;
    looper.addHandler(1, &handler);
    EXPECT_FALSE(orla::isError(looper.exchangeMessage(request({0, 1}, orla::CMD_SUBSCRIBE), 6000)));
    message set = request({0, 1}, orla::CMD_SET);
    set.insert(VALUE, 42);
    looper.exchangeMessage(set, 6000);
    for (int pass = 0; pass < 100 && looper.notes.empty(); ++pass)
        orla::getRunner().runOnce(10);
    ASSERT_EQ(looper.notes.size(), 1u);
    EXPECT_EQ(looper.notes[0].get(orla::OBJ_ID), 7u);
    EXPECT_EQ(looper.notes[0].get(VALUE), 42u);
    EXPECT_EQ(looper.notes[0].get(orla::MSG_FROM), (std::vector<uint32_t>{0, 1}));

    looper.exchangeMessage(request({0, 1}, orla::CMD_UNSUBSCRIBE), 6000);
    looper.exchangeMessage(set, 6000);
    for (int pass = 0; pass < 5; ++pass)
        orla::getRunner().runOnce(0);
    EXPECT_EQ(looper.notes.size(), 1u);
}

}  // namespace
