// The community handler: store, default community, commands, paging,
// change notifications and undo steps.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"
#include "platform/orla/store.h"
#include "tests/platform/orla/looper_fixture.h"

using namespace snmp;

namespace {

constexpr uint32_t NO_ID = 0xffffffff;

orla::message withId(uint32_t id) {
    orla::message msg;
    msg.insert(orla::OBJ_ID, id);
    return msg;
}

orla::message named(const std::string& name, std::optional<uint32_t> id = {}) {
    orla::message msg = id ? withId(*id) : orla::message();
    msg.insert(COMM_NAME, name);
    return msg;
}

orla::message command(uint32_t cmd, orla::message msg = {}) {
    msg.insert(orla::MSG_TO, std::vector<uint32_t>{0, ID_COMMUNITIES});
    msg.insert(orla::MSG_CMD, cmd);
    return msg;
}

std::vector<orla::message> configurations(const CommunityKeep& keep) {
    std::vector<orla::message> all;
    for (const CommunityKeep::Item* item : keep.items())
        all.push_back(item->getCfg());
    return all;
}

// Records the change notifications it receives.
struct Subscriber : orla::Handler {
    orla::message cmdUnknown(const orla::message& request, uint32_t cmd) override {
        if (cmd == orla::CMD_NOTIFY) notes.push_back(request);
        return {};
    }
    std::vector<orla::message> notes;
};

class CommunityKeepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/community-keep-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir_ = dirTemplate;
        path_ = dir_ + "/snmp-communities";
        restart();
    }
    void TearDown() override {
        keep_.reset();
        std::filesystem::remove_all(dir_);
    }
    // A new table over the same store, as after a restart of the agent.
    void restart() {
        keep_.reset();
        keep_ = std::make_unique<CommunityKeep>(path_);
        keep_->init();
    }
    uint32_t add(const std::string& name) {
        orla::message reply = keep_->cmdAddObj(named(name));
        EXPECT_FALSE(orla::isError(reply)) << reply;
        return reply.get(orla::OBJ_ID, NO_ID);
    }
    std::string dir_;
    std::string path_;
    std::unique_ptr<CommunityKeep> keep_;
};

TEST_F(CommunityKeepTest, RestartLoadsStoredCommunitiesAndReservesTheirIds) {
    orla::message ops = named("ops", 40);
    ops.insert(COMM_WRITE_ACCESS, true);
    ops.insert(COMM_AUTH_PASSWORD, std::string("secret12"));
    ASSERT_FALSE(orla::isError(keep_->cmdAddObj(ops)));
    const uint32_t spare = add("spare");
    ASSERT_FALSE(orla::isError(keep_->cmdRemoveObj({}, 0)));  // even the default stays removed
    const auto before = configurations(*keep_);
    restart();
    std::vector<orla::message> reloaded = configurations(*keep_);
    ASSERT_EQ(reloaded.size(), 2u);
    EXPECT_EQ(reloaded[0], before[1]);  // ascending ids: "spare" (1) before "ops" (40)
    EXPECT_EQ(reloaded[1], before[0]);
    EXPECT_EQ(keep_->findItem("spare")->id, spare);
    // Loaded ids are reserved: the next add gets a fresh one.
    const uint32_t next = add("next");
    EXPECT_NE(next, spare);
    EXPECT_NE(next, 40u);
}

TEST_F(CommunityKeepTest, StoredEntryLoadsUnderItsKeyWhateverItsObjId) {
    keep_.reset();
    {
        orla::Store store(path_, 5);
        ASSERT_TRUE(store.set(9, named("bare")));
        ASSERT_TRUE(store.set(12, named("odd", 3)));  // OBJ_ID disagrees with the key
    }
    restart();
    ASSERT_EQ(keep_->items().size(), 3u);  // with the default community
    EXPECT_EQ(keep_->findItem("bare")->id, 9u);
    EXPECT_EQ(keep_->findItem("odd")->id, 12u);
    EXPECT_FALSE(keep_->canRead("bare"));
    EXPECT_EQ(orla::getErrorCode(keep_->cmdAddObj(named("again", 9))), orla::ERR_BAD_VALUE);
}

TEST_F(CommunityKeepTest, RefusedCommandsChangeNothing) {
    add("ops");
    struct Case {
        const char* what;
        orla::message (*run)(CommunityKeep&);
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"add without name", [](CommunityKeep& k) { return k.cmdAddObj({}); },
         orla::ERR_MISSING_VALUE, "missing community name"},
        {"add empty name", [](CommunityKeep& k) { return k.cmdAddObj(named("")); },
         orla::ERR_BAD_VALUE, "empty script name"},
        {"add existing name", [](CommunityKeep& k) { return k.cmdAddObj(named("morvel")); },
         orla::ERR_BAD_VALUE, "community with such name already exists"},
        {"add id in use", [](CommunityKeep& k) { return k.cmdAddObj(named("new", 0)); },
         orla::ERR_BAD_VALUE, "community id already in use"},
        {"add id out of range", [](CommunityKeep& k) { return k.cmdAddObj(named("new", NO_ID)); },
         orla::ERR_BAD_VALUE, "invalid community id"},
        {"rename to another's name",
         [](CommunityKeep& k) { return k.cmdSetObj(named("morvel"), 1); }, orla::ERR_BAD_VALUE,
         "community with such name already exists"},
        {"set unknown id", [](CommunityKeep& k) { return k.cmdSetObj(named("x"), 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
        {"get unknown id", [](CommunityKeep& k) { return k.cmdGetObj({}, 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
        {"remove unknown id", [](CommunityKeep& k) { return k.cmdRemoveObj({}, 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
    };
    const auto before = configurations(*keep_);
    for (const Case& c : cases) {
        orla::message reply = c.run(*keep_);
        EXPECT_EQ(orla::getErrorCode(reply), c.code) << c.what;
        EXPECT_EQ(orla::getError(reply), c.text) << c.what;
        EXPECT_EQ(configurations(*keep_), before) << c.what;
    }
    // Nothing was reserved or freed: the next id is still 2, and the store is as it was.
    EXPECT_EQ(add("next"), 2u);
    keep_->cmdRemoveObj({}, 2);
    restart();
    EXPECT_EQ(configurations(*keep_), before);
}

TEST_F(CommunityKeepTest, StoreWriteFailureRefusesTheChange) {
    const uint32_t id = add("ops");
    const auto before = configurations(*keep_);
    // A directory where the store writes its new content makes every write fail.
    ASSERT_TRUE(std::filesystem::create_directory(path_ + ".new"));
    const orla::message replies[] = {
        keep_->cmdAddObj(named("new")), keep_->cmdAddObj(named("chosen", 7)),
        keep_->cmdSetObj(named("renamed"), id), keep_->cmdRemoveObj({}, id)};
    for (const orla::message& reply : replies) {
        EXPECT_EQ(orla::getErrorCode(reply), orla::ERR_BAD_VALUE) << reply;
    }
    EXPECT_EQ(configurations(*keep_), before);
    std::filesystem::remove(path_ + ".new");
    EXPECT_EQ(add("new"), 2u);  // the ids of the failed adds were given back
    EXPECT_EQ(keep_->cmdAddObj(named("chosen", 7)).get(orla::OBJ_ID), 7u);
}

TEST_F(CommunityKeepTest, SetChangesPresentFieldsOnly) {
    const uint32_t id = add("ops");
    orla::message change = withId(99);  // ignored
    change.insert(COMM_READ_ACCESS, true);
    orla::message expected = keep_->findItem(id)->getCfg();
    expected.insert(COMM_READ_ACCESS, true);
    EXPECT_EQ(keep_->cmdSetObj(change, id), orla::message());
    EXPECT_EQ(keep_->findItem(id)->getCfg(), expected);
    // Its own name again is no conflict; an empty name is accepted.
    EXPECT_EQ(keep_->cmdSetObj(named("ops"), id), orla::message());
    EXPECT_EQ(keep_->cmdSetObj(named(""), id), orla::message());
    EXPECT_EQ(keep_->findItem(id)->name, "");
    EXPECT_EQ(orla::Store(path_, 5).get(id), keep_->findItem(id)->getCfg());
}

// Listing in pages of twenty is the end-to-end command line test's.
TEST_F(CommunityKeepTest, GetAllFromARemovedIdIsABadStartId) {
    const uint32_t id = add("a");
    ASSERT_FALSE(orla::isError(keep_->cmdRemoveObj({}, id)));
    EXPECT_EQ(orla::getErrorCode(keep_->cmdGetAll({}, id, 2)), orla::ERR_BAD_START_ID);
}

class CommunityKeepLooperTest : public CommunityKeepTest {
  protected:
    void SetUp() override {
        CommunityKeepTest::SetUp();
        looper_ = std::make_unique<orla::Looper>();
        ASSERT_TRUE(looper_->addHandler(ID_COMMUNITIES, keep_.get()));
    }
    void TearDown() override {
        looper_.reset();  // before the handler it routes to
        CommunityKeepTest::TearDown();
    }
    orla::message send(uint32_t cmd, orla::message msg = {}) {
        return looper_->exchangeMessage(command(cmd, std::move(msg)), 0);
    }
    orla::message toLooper(uint32_t cmd) {
        return looper_->exchangeMessage(orlatest::request({0}, cmd), 0);
    }
    std::vector<std::string> undoTexts() {
        std::vector<std::string> texts;
        for (const auto& flat : toLooper(orla::CMD_UNDO_LIST).get(orla::OBJ_LIST))
            texts.push_back(orla::message(flat).get(orla::OBJ_NAME));
        return texts;
    }
    std::unique_ptr<orla::Looper> looper_;
};

// Undo of a removal and of an addition through the command line is the
// end-to-end access test's; here what each change records, and the restored
// community's store entry.
TEST_F(CommunityKeepLooperTest, EveryChangeRecordsItsUndoStep) {
    const uint32_t id = send(orla::CMD_ADDOBJ, named("ops", 5)).get(orla::OBJ_ID);
    orla::message change = withId(id);
    change.insert(COMM_WRITE_ACCESS, true);
    send(orla::CMD_SETOBJ, change);
    const orla::message beforeRemove = keep_->findItem(id)->getCfg();
    send(orla::CMD_REMOVEOBJ, withId(id));
    send(orla::CMD_ADDOBJ, named("morvel"));  // refused: no step
    EXPECT_EQ(undoTexts(),
              (std::vector<std::string>{"snmp community removed", "changed snmp community settings",
                                        "new snmp community created"}));
    EXPECT_EQ(toLooper(orla::CMD_UNDO).get(orla::OBJ_ID), id);
    EXPECT_EQ(orla::Store(path_, 5).get(id), beforeRemove);
    EXPECT_FALSE(orla::isError(toLooper(orla::CMD_UNDO)));
    EXPECT_FALSE(keep_->canWrite("ops"));
}

TEST_F(CommunityKeepLooperTest, SubscribersLearnOfEveryChange) {
    Subscriber subscriber;
    ASSERT_TRUE(looper_->addHandler(2, &subscriber));
    subscriber.sendCmd(command(orla::CMD_SUBSCRIBE), orla::CMD_SUBSCRIBE);
    orla::getRunner().runOnce(0);
    const uint32_t id = send(orla::CMD_ADDOBJ, named("ops")).get(orla::OBJ_ID);
    send(orla::CMD_REMOVEOBJ, withId(id));
    orla::getRunner().runOnce(0);
    ASSERT_EQ(subscriber.notes.size(), 2u);
    EXPECT_EQ(subscriber.notes[0].get(orla::OBJ_ID), id);
    EXPECT_EQ(subscriber.notes[0].get(COMM_NAME), "ops");
    EXPECT_EQ(subscriber.notes[1].get(orla::OBJ_ID), id);
    EXPECT_EQ(subscriber.notes[1].get(orla::OBJ_REMOVED), 1u);
}

}  // namespace
