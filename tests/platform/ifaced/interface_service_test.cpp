#include "platform/ifaced/interface_service.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "tests/platform/ifaced/fake_sysfs.h"

using namespace std::string_literals;

namespace {

using ifaced::InterfaceService;
using ifacedtest::FakeSysfs;

orla::message getAll(InterfaceService& service, std::optional<uint32_t> start,
                     uint32_t pageSize = 0) {
    orla::message request;
    request.insert(orla::MSG_CMD, orla::CMD_GETALL);
    if (start) request.insert(orla::OBJ_NEXT, *start);
    if (pageSize) request.insert(orla::OBJ_PAGE_SIZE, pageSize);
    return service.handleRequest(request);
}

std::vector<orla::message> objects(const orla::message& reply) {
    std::vector<orla::message> list;
    for (const orla::flat_message& flat : reply.get(orla::OBJ_LIST))
        list.emplace_back(flat);
    return list;
}

std::vector<uint32_t> indexes(const orla::message& reply) {
    std::vector<uint32_t> ids;
    for (const orla::message& object : objects(reply))
        ids.push_back(object.get(orla::OBJ_ID));
    return ids;
}

// The object of one interface, from a fresh walk.
orla::message objectOf(InterfaceService& service, uint32_t index) {
    std::optional<uint32_t> start;
    for (int page = 0; page < 100; ++page) {
        orla::message reply = getAll(service, start);
        for (const orla::message& object : objects(reply)) {
            if (object.get(orla::OBJ_ID) == index) return object;
        }
        if (!reply.has(orla::OBJ_NEXT)) break;
        start = reply.get(orla::OBJ_NEXT);
    }
    return orla::message();
}

orla::message setAlias(InterfaceService& service, uint32_t index,
                       std::optional<std::string> alias) {
    orla::message request;
    request.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
    request.insert(orla::OBJ_ID, index);
    if (alias) request.insert(ifaced::IF_ALIAS, *alias);
    return service.handleRequest(request);
}

class InterfaceServiceTest : public testing::Test {
  protected:
    InterfaceServiceTest() {
        for (auto [name, index] :
             {std::pair{"eth3", 7u}, {"lo", 1u}, {"eth1", 3u}, {"wg0", 10u}, {"eth0", 2u}}) {
            sysfs.addInterface(name, index);
        }
    }
    FakeSysfs sysfs;
};

// Full walks in pages of two, ifNumber and an ifAlias write reaching the
// kernel are the end-to-end interfaces test's.
TEST_F(InterfaceServiceTest, StartIdBetweenIndexesAndSmallerRequestedPages) {
    InterfaceService service(sysfs.root(), 32);
    EXPECT_EQ(indexes(getAll(service, std::nullopt)), (std::vector<uint32_t>{1, 2, 3, 7, 10}));
    orla::message fromFour = getAll(service, 4, 1);
    EXPECT_EQ(indexes(fromFour), (std::vector<uint32_t>{7}));
    EXPECT_EQ(fromFour.get(orla::OBJ_NEXT), 10u);
    orla::message pastTheEnd = getAll(service, 11);
    EXPECT_TRUE(objects(pastTheEnd).empty());
    EXPECT_FALSE(pastTheEnd.has(orla::OBJ_NEXT));
    // A larger page than the service's is not granted.
    InterfaceService small(sysfs.root(), 2);
    EXPECT_EQ(indexes(getAll(small, std::nullopt, 100)).size(), 2u);
}

TEST_F(InterfaceServiceTest, CountersTravelAsTwoWordsAndStatusesAsNumbers) {
    sysfs.write("eth0", "statistics/rx_bytes", "4294967301\n");  // 2^32 + 5
    sysfs.write("eth0", "flags", "0x1002\n");
    sysfs.write("eth0", "operstate", "lowerlayerdown\n");
    InterfaceService service(sysfs.root(), 32);
    orla::message eth0 = objectOf(service, 2);
    EXPECT_EQ(eth0.get(ifaced::IF_ADMIN_STATUS), 2u);
    EXPECT_EQ(eth0.get(ifaced::IF_OPER_STATUS), 7u);
    EXPECT_EQ(eth0.get(ifaced::IF_IN_OCTETS), (std::vector<uint32_t>{1, 5}));
    EXPECT_EQ(eth0.size(ifaced::IF_OUT_ERRORS), 2u);
}

TEST_F(InterfaceServiceTest, SetAliasRejectsBadRequestsWithoutWriting) {
    InterfaceService service(sysfs.root(), 32);
    sysfs.write("eth1", "ifalias", "kept\n");
    struct Case {
        uint32_t index;
        std::optional<std::string> alias;
        uint32_t error;
    };
    for (const Case& c :
         {Case{3, std::nullopt, orla::ERR_MISSING_VALUE},
          Case{3, std::string(65, 'a'), orla::ERR_BAD_VALUE},
          Case{3, "two\nlines", orla::ERR_BAD_VALUE}, Case{3, "nul\0inside"s, orla::ERR_BAD_VALUE},
          Case{4, "x", orla::ERR_NO_SUCH_OBJECT}, Case{0, "x", orla::ERR_NO_SUCH_OBJECT}}) {
        EXPECT_EQ(orla::getErrorCode(setAlias(service, c.index, c.alias)), c.error)
            << c.index << " " << c.alias.value_or("(none)");
    }
    EXPECT_EQ(sysfs.read("eth1", "ifalias"), "kept\n");
}

TEST_F(InterfaceServiceTest, FailedAliasWriteIsAnErrorReply) {
    InterfaceService service(sysfs.root(), 32);
    sysfs.remove("eth1", "ifalias");
    std::filesystem::create_directory(sysfs.path("eth1", "ifalias"));
    orla::message reply = setAlias(service, 3, "x");
    ASSERT_TRUE(orla::isError(reply));
    EXPECT_NE(orla::getError(reply).find("cannot write"), std::string::npos);
    EXPECT_EQ(orla::getError(reply).find('\n'), std::string::npos);
}

TEST_F(InterfaceServiceTest, OperStatusChangeSetsLastChange) {
    InterfaceService service(sysfs.root(), 2);
    EXPECT_EQ(objectOf(service, 3).get(ifaced::IF_LAST_CHANGE, 99), 0u);

    sysfs.write("eth1", "operstate", "down\n");
    uint32_t before = orla::getJiffies();
    orla::message eth1 = objectOf(service, 3);
    uint32_t after = orla::getJiffies();
    uint32_t changed = eth1.get(ifaced::IF_LAST_CHANGE);
    EXPECT_EQ(eth1.get(ifaced::IF_OPER_STATUS), 2u);
    EXPECT_LE(changed - before, after - before);  // modulo 2^32
    // Unchanged since: the time stays; others never changed.
    EXPECT_EQ(objectOf(service, 3).get(ifaced::IF_LAST_CHANGE), changed);
    EXPECT_EQ(objectOf(service, 7).get(ifaced::IF_LAST_CHANGE, 99), 0u);

    // Later pages come from the walk's snapshot; a new walk sees the change.
    getAll(service, std::nullopt);
    sysfs.write("eth3", "operstate", "down\n");
    EXPECT_EQ(objects(getAll(service, 3))[1].get(ifaced::IF_OPER_STATUS), 1u);
    EXPECT_EQ(objectOf(service, 7).get(ifaced::IF_OPER_STATUS), 2u);

    // An interface that appears after the start is a change too.
    sysfs.addInterface("eth9", 12);
    EXPECT_NE(objectOf(service, 12).get(ifaced::IF_LAST_CHANGE), 0u);
}

}  // namespace
