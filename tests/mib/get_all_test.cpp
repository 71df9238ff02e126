#include "mib/get_all.h"

#include <gtest/gtest.h>

#include "tests/mib/service_fixture.h"

using namespace providertest;

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

class GetAll : public ServiceTest {
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
    loop->addHandler(9, &endless);
    loop->addHandler(10, &repeating);
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
