#include "platform/orla/looper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/orla/ids.h"

namespace {

using orla::message;
constexpr orla::U32Key VALUE{5};

orla::message request(std::vector<uint32_t> to, uint32_t cmd) {
    orla::message msg;
    msg.insert(orla::MSG_TO, std::move(to));
    msg.insert(orla::MSG_CMD, cmd);
    return msg;
}

// A handler keeping one value, with undo like a settings handler.
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

}  // namespace
