// The data providers: paged reads of platform handlers that fail or never
// end, cache lifetime on a clock the tests step (the check is run by calling
// invalidateDataTimer() as the timer would), and the provider no shipped
// plug-in uses.
#include <gtest/gtest.h>

#include "mib/get_all.h"
#include "mib/get_all_provider.h"
#include "mib/get_first_provider.h"
#include "mib/single_provider.h"
#include "platform/orla/runner.h"
#include "tests/fixture.h"

using namespace fixture;

namespace {

// Answers every get-all page with one object and the same or an ever new
// OBJ_NEXT: a handler that never finishes.
class EndlessHandler : public orla::Handler {
  public:
    explicit EndlessHandler(bool repeat) : repeat(repeat) {}
    orla::message cmdGetAll(const orla::message&, uint32_t startId, uint32_t) override {
        ++pages;
        orla::message object;
        object.insert(orla::OBJ_ID, startId);
        orla::message reply;
        reply.append(orla::OBJ_LIST, object);
        reply.insert(orla::OBJ_NEXT, repeat ? 42u : pages);
        return reply;
    }
    bool repeat;
    uint32_t pages = 0;
};

class GetAll : public Platform {
  protected:
    orla::message request(std::vector<uint32_t> const& path) {
        orla::message req;
        req.insert(orla::MSG_CMD, orla::CMD_GETALL);
        req.insert(orla::MSG_TO, path);
        return req;
    }
    static std::vector<std::string> names(std::vector<orla::message> const& objects) {
        std::vector<std::string> result;
        for (auto const& object : objects)
            result.push_back(object.get(orla::OBJ_NAME));
        return result;
    }
};

// Walks of many pages are the end-to-end interfaces test's (pages of two).
TEST_F(GetAll, FailedPageKeepsTheEarlierPagesSilently) {
    for (uint32_t id = 0; id < 5; ++id)
        first.addObject(id, "o" + std::to_string(id));
    first.pageSize = 2;
    first.failPage = 2;
    orla::message req = request(firstPath);
    orla::message nowhere = request({0, 99});

    testing::internal::CaptureStderr();
    EXPECT_EQ(names(getAll(req)), (std::vector<std::string>{"o0", "o1"}));
    EXPECT_EQ(first.requests.size(), 2u);
    first.requests.clear();
    first.failPage = 1;
    EXPECT_TRUE(getAll(req).empty());
    EXPECT_TRUE(getAll(nowhere).empty());  // no such handler
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(GetAll, EndlessOrRepeatingPagingIsCutOffWithOneLine) {
    EndlessHandler endless(false);
    EndlessHandler repeating(true);
    looper.addHandler(9, &endless);
    looper.addHandler(10, &repeating);
    struct Case {
        uint32_t handlerId;
        const EndlessHandler* handler;
        uint32_t pages;
        std::string line;
    };
    const Case cases[] = {
        {9, &endless, GET_ALL_MAX_PAGES,
         "getAll: paging stopped after " + std::to_string(GET_ALL_MAX_PAGES) + " pages\n"},
        {10, &repeating, 2, "getAll: handler repeated next id 42\n"},
    };
    for (const Case& c : cases) {
        orla::message req = request({0, c.handlerId});
        testing::internal::CaptureStderr();
        std::vector<orla::message> objects = getAll(req);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(c.handler->pages, c.pages);
        EXPECT_EQ(objects.size(), c.pages);
    }
}

}  // namespace

namespace {

struct Counted : Data {
    explicit Counted(int* deletions) : deletions(deletions) {}
    ~Counted() override { ++*deletions; }
    int* deletions;
};

class CountingProvider : public SingleProvider {
  public:
    Data* getData() override {
        ++fetches;
        return new Counted(&deletions);
    }
    int setData(Data*) override { return 7; }
    int fetches = 0;
    int deletions = 0;
};

class CacheLifetime : public ::testing::Test {
  protected:
    // Steps the clock; the tests run the check themselves.
    void advance(uint32_t ticks) { fakeNow += ticks; }
    FakeClock clock_{5000};
    CountingProvider provider;
};

// 25 ticks idle and the check drops the cache; a clock that wraps past zero
// meanwhile does not make a fresh cache look old.
TEST_F(CacheLifetime, IdleCacheIsDroppedAtTheFirstLateCheckNotAtAClockWrap) {
    fakeNow = 0xfffffff0;
    provider.get();
    advance(24);  // wraps past zero
    provider.invalidateDataTimer();
    EXPECT_TRUE(provider.valid);
    EXPECT_EQ(provider.deletions, 0);

    advance(1);
    provider.invalidateDataTimer();
    EXPECT_FALSE(provider.valid);
    EXPECT_FALSE(provider.timerArmed);
    EXPECT_EQ(provider.cached, nullptr);
    EXPECT_EQ(provider.deletions, 1);

    provider.get();
    EXPECT_EQ(provider.fetches, 2);
}

TEST(CacheTimer, DestroyedProviderLeavesNoPendingCheck) {
    auto* provider = new CountingProvider;
    provider->get();
    delete provider;
    orla::getRunner().runOnce(0);  // would call into the freed provider
}

// Accepts only objects named "wanted".
Data* makeIfWanted(orla::message const& object) {
    return object.get(orla::OBJ_NAME) == "wanted" ? makeNamed(object) : nullptr;
}

// No shipped plug-in uses it: the first object the parser takes, across pages.
TEST_F(Platform, GetFirstProviderSkipsRefusedObjectsAcrossPages) {
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

}  // namespace
