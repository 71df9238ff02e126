// Community records: configuration message form, lookups and source filter.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "community/community_keep.h"
#include "platform/orla/ids.h"

using namespace snmp;
using Item = CommunityKeep::Item;

namespace {

uint32_t ip(const char* dotted) {
    return inet_addr(dotted);
}

Item sampleItem() {
    Item item;
    item.id = 7;
    item.name = "ops";
    item.address = ip("10.0.0.7");
    item.netmask = ip("255.255.255.0");
    item.readAccess = true;
    item.writeAccess = true;
    item.security = 2;
    item.authProtocol = 3;
    item.privProtocol = 4;
    item.authPassword = "authpass1";
    item.privPassword = "privpass1";
    return item;
}

}  // namespace

TEST(CommunityItem, ConfigurationListsEveryFieldObjIdFirst) {
    const orla::message cfg = sampleItem().getCfg();
    std::vector<uint32_t> keys;
    for (const auto& field : cfg.fields())
        keys.push_back(field.key);
    const std::vector<uint32_t> expected{
        orla::OBJ_ID.raw(),       COMM_NAME.raw(),          COMM_ADDRESS.raw(),
        COMM_NETMASK.raw(),       COMM_READ_ACCESS.raw(),   COMM_WRITE_ACCESS.raw(),
        COMM_AUTH_PASSWORD.raw(), COMM_PRIV_PASSWORD.raw(), COMM_AUTH_PROTOCOL.raw(),
        COMM_PRIV_PROTOCOL.raw(), COMM_SECURITY.raw()};
    EXPECT_EQ(keys, expected);
}

TEST(CommunityItem, SetAllCfgOfConfigurationRebuildsTheRecord) {
    Item copy;
    copy.setAllCfg(sampleItem().getCfg());
    EXPECT_EQ(copy.getCfg(), sampleItem().getCfg());
}

TEST(CommunityItem, SetCfgWithOnlySecurityChangesOnlySecurity) {
    Item item = sampleItem();
    orla::message cfg;
    cfg.insert(COMM_SECURITY, 1u);
    item.setCfg(cfg);
    Item expected = sampleItem();
    expected.security = 1;
    EXPECT_EQ(item.getCfg(), expected.getCfg());
}

TEST(CommunityItem, ObjIdChangesIdOnlyThroughSetAllCfg) {
    orla::message cfg;
    cfg.insert(orla::OBJ_ID, 99u);
    Item item = sampleItem();
    item.setCfg(cfg);
    EXPECT_EQ(item.id, 7u);
    item.setAllCfg(cfg);
    EXPECT_EQ(item.id, 99u);
    EXPECT_EQ(item.name, "ops");
}

class CommunityLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/community-lookup-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir_ = dirTemplate;
        keep_ = std::make_unique<CommunityKeep>(dir_ + "/communities");
        keep_->init();
        addCommunity("ops", "10.0.0.7", "255.255.255.0");
        addCommunity("host", "192.168.1.1", "255.255.255.255");
        addCommunity("wide", "10.99.0.7", "255.0.0.0");  // address bits outside the mask
    }
    void TearDown() override {
        keep_.reset();
        std::filesystem::remove_all(dir_);
    }
    void addCommunity(const char* name, const char* address, const char* mask) {
        orla::message request;
        request.insert(COMM_NAME, std::string(name));
        request.insert(COMM_ADDRESS, ip(address));
        request.insert(COMM_NETMASK, ip(mask));
        request.insert(COMM_WRITE_ACCESS, true);
        request.insert(COMM_SECURITY, 1u);
        ASSERT_FALSE(orla::isError(keep_->cmdAddObj(request)));
    }
    std::string dir_;
    std::unique_ptr<CommunityKeep> keep_;
};

TEST_F(CommunityLookup, SourceFilterAndExactNames) {
    struct Case {
        const char* name;
        const char* source;
        bool admitted;
    };
    const Case cases[] = {
        {"ops", "10.0.0.200", true},    {"ops", "10.0.0.7", true},
        {"ops", "10.0.1.7", false},     {"host", "192.168.1.1", true},
        {"host", "192.168.1.2", false}, {"wide", "10.1.2.3", true},
        {"wide", "11.0.0.7", false},    {"morvel", "203.0.113.9", true},
        {"morvel", "0.0.0.0", true},    {"Morvel", "10.0.0.7", false},
        {"morvel ", "10.0.0.7", false}, {"morve", "10.0.0.7", false},
        {"", "10.0.0.7", false},        {"nobody", "10.0.0.7", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keep_->check(c.name, ip(c.source)), c.admitted) << c.name << " " << c.source;
    }
}

TEST_F(CommunityLookup, RightsAndSecurityOfKnownAndUnknownNames) {
    EXPECT_TRUE(keep_->canRead("morvel"));
    EXPECT_FALSE(keep_->canWrite("morvel"));
    EXPECT_FALSE(keep_->canRead("ops"));
    EXPECT_TRUE(keep_->canWrite("ops"));
    EXPECT_EQ(keep_->getSecurity("ops"), 1u);
    EXPECT_EQ(keep_->getSecurity("morvel"), 0u);
    EXPECT_EQ(keep_->getSecurity("nobody"), 0u);
    EXPECT_FALSE(keep_->canRead("nobody"));
    EXPECT_FALSE(keep_->canWrite("nobody"));
    EXPECT_EQ(keep_->findItem("nobody"), nullptr);
    EXPECT_EQ(keep_->findItem(12345u), nullptr);
    EXPECT_EQ(keep_->find("nobody"), keep_->items().end());
    ASSERT_NE(keep_->findItem("host"), nullptr);
    EXPECT_EQ(keep_->findItem(keep_->findItem("host")->id), keep_->findItem("host"));
}
