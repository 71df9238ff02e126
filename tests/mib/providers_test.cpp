// The data providers: paged reads of platform handlers that fail or never
// end, cache lifetime on a clock the tests step (the check is run by calling
// invalidateDataTimer() as the timer would), the provider no shipped
// plug-in uses, and the windows a WindowTable reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mib/get_all.h"
#include "mib/get_all_provider.h"
#include "mib/get_first_provider.h"
#include "mib/num_packer.h"
#include "mib/platform_exchange.h"
#include "mib/single_provider.h"
#include "mib/window_table.h"
#include "platform/orla/runner.h"
#include "platform/orla/window_rows.h"
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

// While a request may wait, a list of many pages is read on its own, page
// after page, and the requests that wait are told once, when it is whole; a
// page whose answer never came fails the list.
TEST_F(GetAll, ListReadWhileRequestsWaitIsToldOnceWhole) {
    for (uint32_t id = 0; id < 5; ++id)
        first.addObject(id, "o" + std::to_string(id));
    first.pageSize = 2;
    static std::vector<std::pair<orla::message, std::string>> started;
    static std::vector<std::string> told;
    started.clear();
    told.clear();
    setExchangeStarter([](const orla::message& request, uint32_t, const std::string& ticket) {
        started.emplace_back(request, ticket);
        return std::optional<orla::message>();
    });
    setAnswerListener([](const std::string& ticket) { told.push_back(ticket); });
    orla::message req = request(firstPath);
    const auto getAllWaiting = [&req](bool& waits) {
        WaitingServe serving;
        std::vector<orla::message> objects = getAll(req);
        waits = !serving.waitsFor().empty();
        return objects;
    };
    // Answers the page requests started so far, as the service would.
    const auto answerPages = [this](orla::message reply = {}) {
        while (!started.empty()) {
            auto [page, ticket] = started.front();
            started.erase(started.begin());
            exchangeAnswered(ticket, orla::isError(reply) ? reply
                                                           : looper.exchangeMessage(page, 1000));
        }
    };
    bool waits = false;
    EXPECT_TRUE(getAllWaiting(waits).empty());
    EXPECT_TRUE(waits);
    {  // a request that may wait no more fails, also while the list is on its way
        const uint64_t failuresBefore = failedAnswers();
        WaitingServe failing(true);
        EXPECT_TRUE(getAll(req).empty());
        EXPECT_TRUE(failing.waitsFor().empty());
        EXPECT_EQ(failedAnswers(), failuresBefore + 1);
    }
    answerPages();
    EXPECT_EQ(first.requests.size(), 3u);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(names(getAllWaiting(waits)), (std::vector<std::string>{"o0", "o1", "o2", "o3", "o4"}));
    EXPECT_FALSE(waits);

    forgetAnswers();
    const uint64_t failuresBefore = failedAnswers();
    getAllWaiting(waits);
    answerPages(orla::errorMsg(orla::ERR_TIMEOUT, "no reply"));
    EXPECT_TRUE(getAllWaiting(waits).empty());
    EXPECT_EQ(failedAnswers(), failuresBefore + 1);
    forgetAnswers();
    setAnswerListener(nullptr);
    setExchangeStarter(nullptr);
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
    bool setData(Data*) override { return true; }
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
    EXPECT_FALSE(provider.commit(rec));
    EXPECT_EQ(first.requests.size(), 2u);
}

}  // namespace

namespace {

// Rows indexed by one number, listed a window at a time as a windowed
// handler lists them (mib/window_table.h): each row's fields are its name;
// rows named "-" are ones the plug-in's parse function turns away. With
// `raw` set, every window is those bytes.
class WindowHandler : public orla::Handler {
  public:
    orla::message cmdGetAll(const orla::message& request, uint32_t, uint32_t pageSize) override {
        ++reads;
        const bool after = request.has(orla::OBJ_AFTER);
        const std::vector<uint32_t> bound = request.get(after ? orla::OBJ_AFTER : orla::OBJ_FROM);
        const bool bounded = after || request.has(orla::OBJ_FROM);
        std::vector<std::pair<uint32_t, std::string>> listed;
        orla::message reply;
        for (auto const& [id, name] : rows) {
            const std::vector<uint32_t> index{id};
            if (bounded && (after ? index <= bound : index < bound)) continue;
            if (listed.size() == pageSize) {
                reply.insert(orla::OBJ_AFTER, std::vector<uint32_t>{listed.back().first});
                break;
            }
            listed.emplace_back(id, name);
        }
        if (disordered && !listed.empty()) {  // the window's rows backwards, the last one twice
            std::reverse(listed.begin(), listed.end());
            listed.push_back(listed.front());
        }
        std::string bytes;
        orla::RowWriter writer(bytes);
        for (auto const& [id, name] : listed)
            writer.add(&id, 1, name);
        reply.insert(orla::OBJ_ROWS, raw.empty() ? bytes : raw);
        return reply;
    }
    orla::message cmdGetCount(const orla::message&) override {
        orla::message reply;
        reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(rows.size()));
        return reply;
    }
    std::map<uint32_t, std::string> rows{{1, "a"}, {3, "b"}, {5, "-"},
                                         {6, "-"}, {7, "c"}, {9, "d"}};
    int reads = 0;
    bool disordered = false;
    std::string raw;
};

Data* makeNamedRow() {
    return new NamedRecord;
}

bool parseNamedRow(OID const& index, std::string_view fields, Data* rec) {
    if (fields == "-") return false;
    auto* named = static_cast<NamedRecord*>(rec);
    named->id = static_cast<int>(index[0]);
    named->name = fields;
    return true;
}

// Windows of two rows: each step says which row answers and how many windows
// it read.
TEST_F(Platform, WindowTableReadsAWindowOnlyWhenItsRowsDoNotAnswer) {
    WindowHandler handler;
    looper.addHandler(8, &handler);
    WindowTable table(makeNamedRow, parseNamedRow, {0, 8}, 2);
    struct Step {
        const char* what;
        bool next;  // getNext, else get
        OID index;
        const char* answer;  // nullptr: no row
        int reads;
    };
    auto run = [&](std::vector<Step> const& steps) {
        for (const Step& step : steps) {
            handler.reads = 0;
            Data* rec = step.next ? table.getNext(step.index).second : table.get(step.index);
            const auto* named = static_cast<NamedRecord*>(rec);
            EXPECT_EQ(step.answer ? std::string(step.answer) : "-", named ? named->name : "-")
                << step.what;
            EXPECT_EQ(step.reads, handler.reads) << step.what;
        }
    };
    run({
        {"the first window", true, OID(), "a", 1},
        {"within it", true, OID{1}, "b", 0},
        {"past a window the parser turned away", true, OID{3}, "c", 2},
        {"within the last window", true, OID{8}, "d", 0},
        {"after the last row", true, OID{9}, nullptr, 0},
        {"a second walk, in a place of its own", true, OID(), "a", 1},
        {"the first walk where it was", true, OID{7}, "d", 0},
        {"the second walk where it was", true, OID{1}, "b", 0},
        {"a Get within a window", false, OID{7}, "c", 0},
        {"a Get of no row within a window", false, OID{8}, nullptr, 0},
        {"a Get outside the windows", false, OID{5}, nullptr, 1},
    });
    // The windows go with the cache: after its lifetime a row they held is read again.
    fakeNow += 200;
    table.invalidateDataTimer();
    handler.reads = 0;
    EXPECT_EQ(static_cast<NamedRecord*>(table.get(OID{3}))->name, "b");
    EXPECT_EQ(handler.reads, 1);
    EXPECT_EQ(table.count(), 6u);
    // Windows beyond the places there are take the least recently used one's.
    static_assert(WindowTable::MAX_WINDOWS == 2);
    handler.rows.clear();
    for (uint32_t id = 1; id <= 20; ++id)
        handler.rows[id] = std::to_string(id);
    table.invalidateData();
    run({
        {"a first place", false, OID{1}, "1", 1},
        {"a second", false, OID{5}, "5", 1},
        {"in place of the first", false, OID{9}, "9", 1},
        {"the first read again, in place of the second", false, OID{2}, "2", 1},
        {"the third still held", false, OID{10}, "10", 0},
        {"a walk's next window in its own place", true, OID{10}, "11", 1},
        {"the other window still held", false, OID{3}, "3", 0},
    });
    // A window listed out of order, a row twice: the rows in order, once.
    handler.rows = {{1, "a"}, {3, "b"}, {5, "-"}, {6, "-"}, {7, "c"}, {9, "d"}};
    handler.disordered = true;
    table.invalidateData();
    EXPECT_EQ(static_cast<NamedRecord*>(table.getNext(OID()).second)->name, "a");
    EXPECT_EQ(static_cast<NamedRecord*>(table.getNext(OID{1}).second)->name, "b");
    EXPECT_EQ(table.getNext(OID{3}).first, OID{7});
}

// Windows whose rows do not decode: the rows before the fault, nothing after.
TEST_F(Platform, WindowTableEndsAWindowAtARowThatDoesNotFit) {
    using namespace std::string_literals;
    const std::string good = "\x01\x80\x00\x01\x04x"s;  // version 1, row 4 "x"
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> names;
    } cases[] = {
        {"arcs of one octet", good, {"x"}},
        {"arcs of four octets", "\x01\x00\x00\x01\x00\x00\x00\x04x"s, {"x"}},
        {"another version", "\x02" + good.substr(1), {}},
        {"arcs past the end", good + "\x01\x00\x00\x00\x00\x00\x05"s, {"x"}},
        {"fields past the end", good + "\x80\x00\x09\x05yy"s, {"x"}},
        {"a header cut short", good + "\x80\x00"s, {"x"}},
    };
    WindowHandler handler;
    looper.addHandler(8, &handler);
    WindowTable table(makeNamedRow, parseNamedRow, {0, 8}, 4);
    for (const auto& c : cases) {
        handler.raw = c.bytes;
        table.invalidateData();
        std::vector<std::string> names;
        for (auto row = table.getNext(OID()); row.second && names.size() < 4;
             row = table.getNext(row.first))
            names.push_back(static_cast<NamedRecord*>(row.second)->name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}
}  // namespace
