#include "mib/get_provider.h"

#include <gtest/gtest.h>

#include "mib/count_provider.h"
#include "mib/get_first_provider.h"
#include "mib/proxy_data_provider.h"
#include "tests/mib/service_fixture.h"

using namespace providertest;

namespace {

// Builds a record from a reply; an empty reply (failed read) still makes one.
Data* makeFromReply(orla::message const& reply) {
    auto* rec = new NamedRecord;
    rec->name = reply.get(orla::OBJ_NAME, "<none>");
    return rec;
}

class Providers : public ServiceTest {};

TEST_F(Providers, GetProviderReadsWithItsCommandAndCachesTheRecord) {
    first.getReply.insert(orla::OBJ_NAME, std::string("ops@example.net"));
    GetProvider provider(makeFromReply, firstPath, orla::CMD_GET, orla::CMD_SET);

    auto* rec = static_cast<NamedRecord*>(provider.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->name, "ops@example.net");
    EXPECT_EQ(provider.get(), rec);
    ASSERT_EQ(first.requests.size(), 1u);
    EXPECT_EQ(first.requests[0].get(orla::MSG_CMD), orla::CMD_GET);
}

TEST_F(Providers, GetProviderErrorPrintsOncePerFetchAndBuildsFromEmpty) {
    first.getError = "no such setting";
    GetProvider provider(makeFromReply, firstPath, orla::CMD_GET, orla::CMD_SET);

    testing::internal::CaptureStderr();
    auto* rec = static_cast<NamedRecord*>(provider.get());
    provider.get();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "GetProvider::getData error: no such setting\n");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->name, "<none>");
}

TEST_F(Providers, GetProviderWritesTheRecordsFieldsWithItsSetCommand) {
    GetProvider provider(makeFromReply, firstPath, orla::CMD_GET, orla::CMD_SET);
    auto* rec = static_cast<NamedRecord*>(provider.get());
    rec->name = "written";

    EXPECT_EQ(provider.set(rec), 1);
    ASSERT_EQ(first.requests.size(), 2u);
    EXPECT_EQ(first.requests[1].get(orla::MSG_CMD), orla::CMD_SET);
    EXPECT_EQ(first.requests[1].get(orla::OBJ_NAME), "written");

    first.setError = "read-only";
    testing::internal::CaptureStderr();
    EXPECT_EQ(provider.set(rec), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(provider.get(), rec);  // the written value stays cached
    EXPECT_EQ(rec->name, "written");
}

// Accepts only objects named "wanted".
Data* makeIfWanted(orla::message const& object) {
    return object.get(orla::OBJ_NAME) == "wanted" ? makeNamed(object) : nullptr;
}

TEST_F(Providers, GetFirstProviderSkipsRefusedObjectsAcrossPages) {
    first.addObject(10, "no");
    first.addObject(11, "no");
    first.addObject(12, "wanted");
    first.addObject(13, "wanted");
    first.pageSize = 2;
    GetFirstProvider provider(makeIfWanted, firstPath);

    auto* rec = static_cast<NamedRecord*>(provider.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->id, 12);
    EXPECT_EQ(provider.getFirstObjId(), 12u);
    EXPECT_EQ(first.requests.size(), 2u);
    EXPECT_EQ(first.requests[0].get(orla::MSG_CMD), orla::CMD_GETALL);

    EXPECT_EQ(provider.set(rec), 0);
    EXPECT_EQ(first.requests.size(), 2u);
}

TEST_F(Providers, GetFirstProviderOverEmptyListHasNoRecord) {
    GetFirstProvider provider(makeIfWanted, firstPath);
    EXPECT_EQ(provider.getFirstObjId(), 0xffffffffu);
    EXPECT_EQ(provider.get(), nullptr);
}

TEST_F(Providers, GetFirstProviderKeepsTheEarlierIdWhenNothingMatchesLater) {
    first.addObject(12, "wanted");
    GetFirstProvider provider(makeIfWanted, firstPath);
    EXPECT_EQ(provider.getFirstObjId(), 12u);
    provider.invalidateData();
    first.objects.clear();
    EXPECT_EQ(provider.get(), nullptr);
    EXPECT_EQ(provider.getFirstObjId(), 12u);
}

int proxyCalls = 0;
NamedRecord proxyRecord;
Data* buildProxy() {
    ++proxyCalls;
    return &proxyRecord;
}

TEST(ProxyProvider, EveryReadCallsTheFunction) {
    proxyCalls = 0;
    ProxyDataProvider provider(buildProxy);
    EXPECT_EQ(provider.get(), &proxyRecord);
    EXPECT_EQ(provider.get(), &proxyRecord);
    EXPECT_EQ(proxyCalls, 2);
    EXPECT_EQ(provider.set(&proxyRecord), 0);
}

class FixedTable : public Table {
  public:
    Data* get(OID const&) override { return nullptr; }
    std::pair<OID, Data*> getNext(OID const&) override { return {OID(), nullptr}; }
    int set(OID const&, Data*) override { return 0; }
    unsigned count() override { return rows; }
    unsigned rows = 0;
};

TEST(CountProviderTest, RecordFollowsTheTablesCount) {
    FixedTable table;
    CountProvider provider(&table);
    table.rows = 3;
    EXPECT_EQ(static_cast<CountProvider::CountData*>(provider.get())->rowCount, 3);
    table.rows = 9;
    EXPECT_EQ(static_cast<CountProvider::CountData*>(provider.get())->rowCount, 9);
    EXPECT_EQ(provider.set(provider.get()), 0);
}

}  // namespace
