// The community handler past the end-to-end access, restart and command line
// tests: store entries it did not write, refused commands, failed writes, and
// the SNMPv3 keys of its records; views and the access table.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "community/access_keep.h"
#include "community/community_keep.h"
#include "community/view.h"
#include "platform/orla/ids.h"
#include "platform/orla/store.h"
#include "platform/snmp/usm.h"
#include "tests/fixture.h"

using namespace snmp;
using Bytes = std::vector<unsigned char>;

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

orla::message withSecurity(orla::message msg, uint32_t level) {
    msg.insert(COMM_SECURITY, level);
    return msg;
}

std::vector<orla::message> configurations(const CommunityKeep& keep) {
    std::vector<orla::message> all;
    for (const CommunityKeep::Item* item : keep.items())
        all.push_back(item->getCfg());
    return all;
}

class CommunityKeepTest : public ::testing::Test {
  protected:
    void SetUp() override { restart(); }
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
    fixture::TempDir dir_;
    const std::string path_ = dir_.path + "/snmp-communities";
    std::unique_ptr<CommunityKeep> keep_;
};

TEST_F(CommunityKeepTest, StoredEntryLoadsUnderItsKeyWhateverItsObjId) {
    keep_.reset();
    {
        orla::Store store(path_, 5);
        // A user without the password its level needs: stored before the rule.
        ASSERT_TRUE(store.set(9, withSecurity(named("bare"), 1)));
        ASSERT_TRUE(store.set(12, named("odd", 3)));  // OBJ_ID disagrees with the key
    }
    restart();
    ASSERT_EQ(keep_->items().size(), 3u);  // with the default community
    EXPECT_EQ(keep_->findItem("bare")->id, 9u);
    EXPECT_EQ(keep_->findItem("odd")->id, 12u);
    EXPECT_FALSE(keep_->findItem("bare")->readAccess);
    EXPECT_EQ(keep_->findItem("bare")->security, 1u);
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
        {"rename to the empty name", [](CommunityKeep& k) { return k.cmdSetObj(named(""), 1); },
         orla::ERR_BAD_VALUE, "empty script name"},
        {"rename to another's name",
         [](CommunityKeep& k) { return k.cmdSetObj(named("morvel"), 1); }, orla::ERR_BAD_VALUE,
         "community with such name already exists"},
        {"set unknown id", [](CommunityKeep& k) { return k.cmdSetObj(named("x"), 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
        {"get unknown id", [](CommunityKeep& k) { return k.cmdGetObj({}, 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
        {"remove unknown id", [](CommunityKeep& k) { return k.cmdRemoveObj({}, 77); },
         orla::ERR_NO_SUCH_OBJECT, ""},
        {"add security level 3",
         [](CommunityKeep& k) { return k.cmdAddObj(withSecurity(named("new"), 3)); },
         orla::ERR_BAD_VALUE, "security level must be 0, 1 or 2"},
        {"set security level 3",
         [](CommunityKeep& k) { return k.cmdSetObj(withSecurity({}, 3), 1); }, orla::ERR_BAD_VALUE,
         "security level must be 0, 1 or 2"},
        {"set priv without passwords",
         [](CommunityKeep& k) { return k.cmdSetObj(withSecurity({}, 2), 1); }, orla::ERR_BAD_VALUE,
         "auth password must have at least 8 characters"},
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

// The parts the end-to-end test cannot reach: a store file removed after the
// damage leaves the table closed, and reset-default over an existing default
// community sets its fields back. A store missing after the agent's earlier
// starts is lost too, and so recorded.
TEST_F(CommunityKeepTest, LostStoreStaysClosedUntilTheOperatorActs) {
    keep_.reset();
    std::filesystem::remove(path_);
    for (int start = 0; start < 2; ++start) {
        keep_ = std::make_unique<CommunityKeep>(path_);
        ::testing::internal::CaptureStderr();
        keep_->init(true);
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(keep_->items().empty());
        EXPECT_EQ(keep_->closedBy(), path_);
    }
    keep_.reset();
    std::filesystem::remove(path_);
    restart();
    ASSERT_EQ(keep_->items().size(), 1u);  // a first start after all: the default
    keep_.reset();
    std::filesystem::resize_file(path_, std::filesystem::file_size(path_) - 1);
    ::testing::internal::CaptureStderr();
    restart();
    const std::string aside = keep_->closedBy();
    EXPECT_EQ(aside.rfind(path_ + ".bad-", 0), 0u) << aside;
    std::filesystem::remove(path_);  // the closed record with it
    restart();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(keep_->items().empty());
    EXPECT_EQ(keep_->cmdGet({}).get(COMM_CLOSED), aside);

    EXPECT_EQ(keep_->cmdUnknown({}, CMD_RESET_DEFAULT).get(orla::OBJ_ID, NO_ID), 0u);
    EXPECT_TRUE(keep_->closedBy().empty());
    orla::message open;
    open.insert(COMM_WRITE_ACCESS, true);
    open.insert(COMM_ADDRESS, 0x0a000001u);
    open.insert(COMM_NETMASK, 0xffffffffu);
    ASSERT_FALSE(orla::isError(keep_->cmdSetObj(open, 0)));
    EXPECT_EQ(keep_->cmdUnknown({}, CMD_RESET_DEFAULT).get(orla::OBJ_ID, NO_ID), 0u);
    restart();
    ASSERT_EQ(keep_->items().size(), 1u);
    const CommunityKeep::Item& morvel = *keep_->items()[0];
    EXPECT_TRUE(morvel.readAccess);
    EXPECT_FALSE(morvel.writeAccess);
    EXPECT_EQ(morvel.netmask, 0u);
    EXPECT_TRUE(keep_->closedBy().empty());
}

// RFC 3414 A.3: password "maplesyrup", engine ID 00..02 (12 octets).
const std::string RFC_ENGINE_ID = std::string(11, '\0') + '\x02';
const Bytes RFC_MD5_KUL = {0x52, 0x6f, 0x5e, 0xed, 0x9f, 0xcc, 0xe2, 0x6f,
                           0x89, 0x64, 0xc2, 0x93, 0x07, 0x87, 0xd8, 0x2b};
const Bytes RFC_SHA_KUL = {0x66, 0x95, 0xfe, 0xbc, 0x92, 0x88, 0xe3, 0x62, 0x82, 0x23,
                           0x5f, 0xc7, 0x15, 0x1f, 0x12, 0x84, 0x97, 0xb3, 0x8f, 0x3f};

orla::message maplesyrup(uint32_t authProtocol, uint32_t privProtocol) {
    orla::message cfg = named("ops");
    cfg.insert(COMM_AUTH_PASSWORD, std::string("maplesyrup"));
    cfg.insert(COMM_PRIV_PASSWORD, std::string("maplesyrup"));
    cfg.insert(COMM_AUTH_PROTOCOL, authProtocol);
    cfg.insert(COMM_PRIV_PROTOCOL, privProtocol);
    cfg.insert(COMM_SECURITY, 2u);
    return cfg;
}

// RFC 3414 A.3 through the table: the privacy key is localised with the
// authentication protocol's hash, whatever the privacy protocol; a new auth
// protocol needs the passwords again; the keys follow a new engine ID from
// their Ku and are stored, never the passwords.
TEST_F(CommunityKeepTest, KeysFollowTheEngineIDAndEveryChange) {
    keep_->setEngineID(RFC_ENGINE_ID);
    const uint32_t id =
        keep_->cmdAddObj(maplesyrup(usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES)).get(orla::OBJ_ID);
    const CommunityKeep::Item* item = keep_->findItem(id);
    EXPECT_EQ(item->privKey, RFC_MD5_KUL);
    EXPECT_EQ(item->authKey, bKeyToDKey(RFC_MD5_KUL, usm::AUTH_HMAC_MD5_96));

    keep_->cmdSetObj(withSecurity({}, 1), id);
    EXPECT_EQ(item->privKey, RFC_MD5_KUL);
    orla::message priv;
    priv.insert(COMM_PRIV_PROTOCOL, usm::PRIV_CFB128_AES_128);
    keep_->cmdSetObj(priv, id);
    EXPECT_EQ(item->privKey, RFC_MD5_KUL);
    orla::message auth;
    auth.insert(COMM_AUTH_PROTOCOL, usm::AUTH_HMAC_SHA_96);
    EXPECT_TRUE(orla::isError(keep_->cmdSetObj(auth, id)));
    EXPECT_EQ(item->privKey, RFC_MD5_KUL);
    keep_->cmdSetObj(maplesyrup(usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128), id);
    EXPECT_EQ(item->privKey, RFC_SHA_KUL);
    EXPECT_EQ(item->authKey, bKeyToDKey(RFC_SHA_KUL, usm::AUTH_HMAC_SHA_96));
    EXPECT_FALSE(item->getCfg().has(COMM_AUTH_PASSWORD));

    keep_->setEngineID(std::string(12, '\x01'));
    EXPECT_NE(item->privKey, RFC_SHA_KUL);
    keep_->setEngineID(RFC_ENGINE_ID);
    restart();  // the keys were stored localised: only the forms requests use wait
    EXPECT_EQ(keep_->findItem(id)->privKul, RFC_SHA_KUL);
    EXPECT_TRUE(keep_->findItem(id)->privKey.empty());
    keep_->setEngineID(RFC_ENGINE_ID);
    EXPECT_EQ(keep_->findItem(id)->privKey, RFC_SHA_KUL);
}

// A store of an agent that kept passwords is converted at its first load:
// the passwords gone from the file, the keys in their place, the same once
// localised; a key without Ku (set over SNMP) is dropped for another engine.
TEST_F(CommunityKeepTest, StoredPasswordsBecomeKeys) {
    keep_.reset();
    {
        orla::Store old(path_, 5);
        orla::message cfg = maplesyrup(usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128);
        cfg.insert(orla::OBJ_ID, 4u);
        old.set(4, cfg);
        orla::message keyed = named("keyed", 5);
        keyed.insert(COMM_SECURITY, 1u);
        keyed.insert(COMM_AUTH_KUL, std::string(RFC_SHA_KUL.begin(), RFC_SHA_KUL.end()));
        keyed.insert(COMM_KEY_ENGINE, RFC_ENGINE_ID);
        old.set(5, keyed);
    }
    restart();
    {
        const orla::Store converted(path_, 5);
        EXPECT_FALSE(converted.get(4).has(COMM_AUTH_PASSWORD));
        EXPECT_FALSE(converted.get(4).has(COMM_PRIV_PASSWORD));
        EXPECT_FALSE(converted.get(4).get(COMM_AUTH_KU).empty());
    }
    keep_->setEngineID(RFC_ENGINE_ID);
    EXPECT_EQ(keep_->findItem(4u)->privKey, RFC_SHA_KUL);
    EXPECT_EQ(keep_->findItem(5u)->authKey, bKeyToDKey(RFC_SHA_KUL, usm::AUTH_HMAC_SHA_96));
    restart();
    keep_->setEngineID(std::string(12, '\x01'));
    EXPECT_FALSE(keep_->findItem(4u)->authKey.empty());
    EXPECT_TRUE(keep_->findItem(5u)->authKey.empty());
}

}  // namespace

// ---- Views and access (community/view.h, community/access_keep.h) ----

// RFC 3415 5: the longest matching family decides, a mask's 0 bits are
// wildcards; and a walk's skip never passes a name the view includes.
TEST(View, LongestFamilyDecidesAndSkipsNeverPassAnIncludedName) {
    // Everything left out but two subtrees, one of them deep.
    const View narrow({{OID(), {}, false},
                       {OID("1.3.6.1.2.1.2.2.1.2"), {}, true},
                       {OID("1.3.6.1.4.1.9"), {}, true}});
    const View view({{OID("1.3.6.1.2.1"), {}, true},
                     {OID("1.3.6.1.2.1.2"), {}, false},
                     {OID("1.3.6.1.2.1.2.2.1.2"), {}, true},
                     {OID("1.3.6.1.2.1.2.2.1.0.7"), {0xff, 0xbf}, true},  // arc 9 free
                     {OID("1.3.6.1.4.1.9"), {}, true}});
    const struct {
        const char* name;
        bool included;
    } cases[] = {
        {"1.3.6.1.2.1.1.5.0", true},     {"1.3.6.1.2.1.2.1.0", false},
        {"1.3.6.1.2.1.2.2.1.2.3", true}, {"1.3.6.1.2.1.2.2.1.5.7", true},
        {"1.3.6.1.2.1.2.2.1.5.8", false}, {"1.3.6.1.2.1", true},
        {"1.3.6.1.2", false},            {"1.3.6.1.4.1.9.9.1", true},
        {"1.3.6.1.4.1.10", false},       {"1.3.6.1.2.1.2.2.1.0", false},
    };
    std::vector<OID> universe;
    for (const auto& c : cases) {
        EXPECT_EQ(c.included, view.includes(OID(c.name))) << c.name;
        universe.emplace_back(c.name);
    }
    for (const char* more : {"0.1", "1.3.6.1.2.1.2.2.1.1.7", "1.3.6.1.2.1.2.2.1.3.0",
                             "1.3.6.1.2.1.2.3", "1.3.6.1.3.1", "1.3.6.1.4.1.9", "2.1"})
        universe.emplace_back(more);
    std::sort(universe.begin(), universe.end());
    for (const View* tried : {&view, &narrow}) {
        for (const OID& name : universe) {
            if (tried->includes(name)) continue;
            const std::optional<OID> resume = tried->resumeAfter(name);
            for (const OID& later : universe) {
                if (later <= name || !tried->includes(later)) continue;
                ASSERT_TRUE(resume) << name << " ends the view before " << later;
                EXPECT_LT(*resume, later) << "from " << name;
                EXPECT_GE(*resume, name);
            }
        }
    }
}

// RFC 3415 3.2 and 4: a group's entry by model, context and level; without
// a group, the community's own record at its own level.
TEST_F(CommunityKeepTest, AccessRightsFollowGroupsEntriesAndRecords) {
    AccessKeep access(dir_.path + "/snmp-access");
    access.init();
    auto add = [&](std::initializer_list<std::pair<uint32_t, std::string>> strings,
                   std::initializer_list<std::pair<uint32_t, uint32_t>> numbers) {
        orla::message msg;
        for (const auto& [key, value] : strings) msg.insert(orla::StringKey{key}, value);
        for (const auto& [key, value] : numbers) msg.insert(orla::U32Key{key}, value);
        return access.cmdAddObj(msg);
    };
    const uint32_t VIEW = KIND_VIEW, GROUP = KIND_GROUP, ENTRY = KIND_ACCESS;
    add({{VIEW_NAME.raw(), "a"}, {VIEW_SUBTREE.raw(), "1.3.6"}}, {{ACCESS_KIND.raw(), VIEW}});
    add({{VIEW_NAME.raw(), "b"}, {VIEW_SUBTREE.raw(), "1.3.7"}}, {{ACCESS_KIND.raw(), VIEW}});
    add({{GROUP_NAME.raw(), "g"}, {SECURITY_NAME.raw(), "u"}},
        {{ACCESS_KIND.raw(), GROUP}, {SECURITY_MODEL.raw(), MODEL_USM}});
    add({{GROUP_NAME.raw(), "g"}, {COMM_READ_VIEW.raw(), "a"}},
        {{ACCESS_KIND.raw(), ENTRY}, {SECURITY_LEVEL.raw(), 1}});
    add({{GROUP_NAME.raw(), "g"}, {COMM_READ_VIEW.raw(), "b"}, {COMM_WRITE_VIEW.raw(), "b"}},
        {{ACCESS_KIND.raw(), ENTRY}, {SECURITY_LEVEL.raw(), 2}, {SECURITY_MODEL.raw(), MODEL_USM}});
    // Refused: a second member for the same model and name, an unknown kind, a bad subtree.
    EXPECT_TRUE(orla::isError(add({{GROUP_NAME.raw(), "h"}, {SECURITY_NAME.raw(), "u"}},
                                  {{ACCESS_KIND.raw(), GROUP}, {SECURITY_MODEL.raw(), MODEL_USM}})));
    EXPECT_TRUE(orla::isError(add({}, {{ACCESS_KIND.raw(), 9}})));
    EXPECT_TRUE(orla::isError(
        add({{VIEW_NAME.raw(), "c"}, {VIEW_SUBTREE.raw(), "1..3"}}, {{ACCESS_KIND.raw(), VIEW}})));

    using enum Operation;
    CommunityKeep::Item user;
    user.name = "u";
    user.security = 2;
    EXPECT_FALSE(access.rights(user, MODEL_USM, 0, "", Read).authorized);
    const AccessRights authRead = access.rights(user, MODEL_USM, 1, "", Read);
    EXPECT_TRUE(authRead.authorized && authRead.refusalsUnauthorized);
    EXPECT_EQ(access.findView("a"), authRead.view);
    EXPECT_EQ(nullptr, access.rights(user, MODEL_USM, 1, "", Write).view);
    EXPECT_EQ(access.findView("b"), access.rights(user, MODEL_USM, 2, "", Read).view);
    EXPECT_EQ(access.findView("b"), access.rights(user, MODEL_USM, 2, "", Write).view);
    EXPECT_FALSE(access.rights(user, MODEL_USM, 2, "other", Read).authorized);

    CommunityKeep::Item community;
    community.name = "c";
    community.readAccess = true;
    const AccessRights whole = access.rights(community, MODEL_V2C, 0, "", Read);
    EXPECT_EQ(&AccessKeep::wholeTree(), whole.view);
    EXPECT_TRUE(whole.authorized && !whole.refusalsUnauthorized);
    EXPECT_EQ(nullptr, access.rights(community, MODEL_V2C, 0, "", Write).view);
    EXPECT_FALSE(whole.view->includes(OID("1.3.6.1.6.3.18.1.1.1.2.1")));
    community.readView = "missing";
    EXPECT_TRUE(access.rights(community, MODEL_V2C, 0, "", Read).refusalsUnauthorized);

    // The table loads as it was stored.
    AccessKeep again(dir_.path + "/snmp-access");
    again.init();
    EXPECT_EQ(access.records(), again.records());
}
