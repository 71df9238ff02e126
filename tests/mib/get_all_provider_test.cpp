#include "mib/get_all_provider.h"

#include <gtest/gtest.h>

#include "mib/get_first_provider.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "platform/snmp/ber.h"
#include "tests/mib/service_fixture.h"

using namespace providertest;

namespace {

// Every announcement as "client: event name".
std::vector<std::string> events;

struct LoggedRecord : NamedRecord {
    ~LoggedRecord() override { events.push_back("delete " + name); }
};

void parseOne(orla::message const& object, std::vector<Data*>* records) {
    auto* rec = new LoggedRecord;
    rec->id = static_cast<int>(object.get(orla::OBJ_ID));
    rec->name = object.get(orla::OBJ_NAME);
    records->push_back(rec);
}

class LoggingClient : public TableProviderClient {
  public:
    explicit LoggingClient(std::string name) : name(std::move(name)) {}
    void clear() override { events.push_back(name + ": clear"); }
    void change(Data* rec) override {
        events.push_back(name + ": " + static_cast<NamedRecord*>(rec)->name);
    }
    void remove(Data*) override { events.push_back(name + ": remove"); }
    std::string name;
};

class TableProviders : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        events.clear();
    }
};

TEST_F(TableProviders, TwoSourcesAnnounceTheWholeListToEachClientInTurn) {
    first.addObject(1, "A1");
    first.addObject(2, "A2");
    second.addObject(1, "B1");
    second.addObject(2, "B2");
    GetAllProvider provider;
    provider.addSource(parseOne, firstPath);
    provider.addSource(parseOne, secondPath, 9);
    LoggingClient c1("c1"), c2("c2");
    provider.subscribe(&c1);
    provider.subscribe(&c2);

    provider.updateTables();

    EXPECT_EQ(events, (std::vector<std::string>{"c1: A1", "c1: A2", "c2: A1", "c2: A2",  //
                                                "c1: A1", "c1: A2", "c1: B1", "c1: B2",  //
                                                "c2: A1", "c2: A2", "c2: B1", "c2: B2"}));
    EXPECT_EQ(provider.records.size(), 4u);
    ASSERT_EQ(first.requests.size(), 1u);
    EXPECT_EQ(first.requests[0].get(orla::MSG_CMD), orla::CMD_GETALL);
    EXPECT_EQ(first.requests[0].get(orla::OBJ_GETALL_PARAM), 5u);
    EXPECT_EQ(second.requests[0].get(orla::OBJ_GETALL_PARAM), 9u);

    events.clear();
    provider.updateTables();  // cached: no exchange, no announcement
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(first.requests.size(), 1u);
}

TEST_F(TableProviders, DropClearsEveryClientBeforeDeletingARecord) {
    first.addObject(1, "r1");
    first.addObject(2, "r2");
    GetAllProvider provider;
    provider.addSource(parseOne, firstPath);
    LoggingClient c1("c1"), c2("c2");
    provider.subscribe(&c1);
    provider.subscribe(&c2);
    provider.updateTables();
    events.clear();

    provider.invalidateData();

    EXPECT_EQ(events,
              (std::vector<std::string>{"c1: clear", "c2: clear", "delete r1", "delete r2"}));
    EXPECT_TRUE(provider.records.empty());
}

TEST_F(TableProviders, SetObjectGoesToEverySourceAndOneAcceptanceSuffices) {
    GetAllProvider provider;
    provider.addSource(parseOne, firstPath);
    provider.addSource(parseOne, secondPath);
    first.setError = "not mine";
    NamedRecord rec;
    rec.id = 4;
    rec.name = "new";

    testing::internal::CaptureStderr();
    EXPECT_TRUE(provider.setData(&rec));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "not mine\n");
    ASSERT_EQ(second.requests.size(), 1u);
    EXPECT_EQ(second.requests[0].get(orla::MSG_CMD), orla::CMD_SETOBJ);
    EXPECT_EQ(second.requests[0].get(orla::OBJ_NAME), "new");

    second.setError = "nor mine";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(provider.setData(&rec));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "not mine\nnor mine\n");
}

TEST_F(TableProviders, CountIsTheSumOfTheSourcesAnswersOrFails) {
    const uint32_t three = 3, four = 4;
    GetAllProvider provider;
    provider.addSource(parseOne, firstPath);
    provider.addSource(parseOne, secondPath);
    first.count = &three;
    second.count = &four;
    unsigned count = 99;
    EXPECT_TRUE(provider.getCountCMD(count));
    EXPECT_EQ(count, 7u);
    EXPECT_FALSE(provider.valid);  // counting fills nothing

    second.count = nullptr;
    EXPECT_FALSE(provider.getCountCMD(count));
}

// Accepts only objects named "wanted".
Data* makeIfWanted(orla::message const& object) {
    return object.get(orla::OBJ_NAME) == "wanted" ? makeNamed(object) : nullptr;
}

// No shipped plug-in uses it: the first object the parser takes, across pages.
TEST_F(TableProviders, GetFirstProviderSkipsRefusedObjectsAcrossPages) {
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
    EXPECT_EQ(provider.set(rec), 0);
    EXPECT_EQ(first.requests.size(), 2u);
}

TEST_F(TableProviders, WalkOfTenThousandRowsFetchesOnce) {
    for (uint32_t id = 1; id <= 10000; ++id)
        first.addObject(id, "r");
    first.pageSize = 500;
    GetAllProvider provider;
    provider.addSource(parseOne, firstPath);
    DataNumPacker index(field(&NamedRecord::id), ber::INTEGER);
    MapTable table(&provider);
    table.addIndex(&index);

    // A tick every 100 requests, the check every 25 ticks: the walk takes
    // 100 ticks, under the maximum age.
    auto walk = [&] {
        size_t rows = 0;
        OID at;
        for (auto next = table.getNext(at); next.second && rows <= 10000;
             next = table.getNext(at)) {
            at = next.first;
            if (++rows % 100 == 0) ++fakeNow;
            if (rows % 2500 == 0) provider.invalidateDataTimer();
        }
        return rows;
    };
    EXPECT_EQ(walk(), 10000u);
    EXPECT_EQ(first.requests.size(), 20u);  // one get-all of 20 pages

    fakeNow += 100;  // 200 ticks after the fill: the next check drops the rows
    provider.invalidateDataTimer();
    EXPECT_EQ(walk(), 10000u);
    EXPECT_EQ(first.requests.size(), 40u);
}

}  // namespace
