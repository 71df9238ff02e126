// Community records: their configuration message form.
#include <arpa/inet.h>
#include <gtest/gtest.h>

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
    Item copy;
    copy.setAllCfg(sampleItem().getCfg());
    EXPECT_EQ(copy.getCfg(), sampleItem().getCfg());
}
