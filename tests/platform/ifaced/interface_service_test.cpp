#include "platform/ifaced/interface_service.h"

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"
#include "tests/platform/ifaced/fake_sysfs.h"

using namespace std::string_literals;

namespace {

// Walks in pages, ifNumber, the statuses, ifLastChange and an ifAlias write
// reaching the kernel are the end-to-end interfaces test's; here counters
// beyond 32 bits, which no test traffic reaches, and the refused writes,
// which change nothing.
TEST(InterfaceService, CountersTravelAsTwoWordsBadAliasWritesAreErrors) {
    ifacedtest::FakeSysfs sysfs;
    sysfs.addInterface("eth1", 3);
    sysfs.addInterface("eth3", 7);
    sysfs.write("eth1", "statistics/rx_bytes", "4294967301\n");  // 2^32 + 5
    sysfs.write("eth1", "ifalias", "kept\n");
    sysfs.remove("eth3", "ifalias");
    std::filesystem::create_directory(sysfs.path("eth3", "ifalias"));
    ifaced::InterfaceService service(sysfs.root(), 32);
    orla::message getAll;
    getAll.insert(orla::MSG_CMD, orla::CMD_GETALL);
    const orla::message eth1(service.handleRequest(getAll).get(orla::OBJ_LIST).at(0));
    EXPECT_EQ(eth1.get(ifaced::IF_IN_OCTETS), (std::vector<uint32_t>{1, 5}));
    EXPECT_EQ(eth1.size(ifaced::IF_OUT_ERRORS), 2u);

    const std::tuple<uint32_t, std::optional<std::string>, uint32_t> cases[] = {
        {3, std::nullopt, orla::ERR_MISSING_VALUE},  // neither alias nor link trap setting
        {3, std::string(65, 'a'), orla::ERR_BAD_VALUE},
        {3, "two\nlines", orla::ERR_BAD_VALUE},
        {3, "nul\0inside"s, orla::ERR_BAD_VALUE},
        {4, "x", orla::ERR_NO_SUCH_OBJECT},
        {0, "x", orla::ERR_NO_SUCH_OBJECT},
        {7, "x", orla::ERR_BAD_VALUE},  // a directory in the way
    };
    for (const auto& [index, alias, error] : cases) {
        orla::message request;
        request.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
        request.insert(orla::OBJ_ID, index);
        if (alias) request.insert(ifaced::IF_ALIAS, *alias);
        const orla::message reply = service.handleRequest(request);
        EXPECT_EQ(orla::getErrorCode(reply), error) << index << " " << alias.value_or("(none)");
        EXPECT_EQ(orla::getError(reply).find('\n'), std::string::npos);
    }
    EXPECT_EQ(sysfs.read("eth1", "ifalias"), "kept\n");
}

// Subscribed to the service in the same process: keeps each notification.
class Subscriber : public orla::Looper {
  public:
    std::vector<orla::message> notes;
    orla::message cmdUnknown(const orla::message& request, uint32_t cmd) override {
        if (cmd == orla::CMD_NOTIFY) notes.push_back(request);
        return orla::message();
    }
};

orla::message setObj(ifaced::InterfaceService& service, uint32_t id, bool linkTrap) {
    orla::message request;
    request.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
    request.insert(orla::OBJ_ID, id);
    request.insert(ifaced::IF_LINK_TRAP_ENABLE, linkTrap);
    return service.handleRequest(request);
}

// linkDown and linkUp to snmptrapd are the end-to-end interfaces test's;
// here the transitions the service announces, whichever read sees them, and
// what it keeps per interface: the link trap setting, forgotten with the
// interface, and the time its counters started over.
TEST(InterfaceService, StatusChangesAreNotifiedOnceWithTheStatusBefore) {
    ifacedtest::FakeSysfs sysfs;
    sysfs.addInterface("eth1", 3);
    sysfs.addInterface("lo", 1);
    sysfs.write("lo", "type", "772\n");
    ifaced::InterfaceService service(sysfs.root(), 32);
    Subscriber subscriber;
    ASSERT_TRUE(subscriber.addHandler(ifaced::INTERFACE_HANDLER, &service));
    orla::message subscribe;
    subscribe.insert(orla::MSG_TO, std::vector<uint32_t>{0, ifaced::INTERFACE_HANDLER});
    subscribe.insert(orla::MSG_CMD, orla::CMD_SUBSCRIBE);
    ASSERT_FALSE(orla::isError(subscriber.exchangeMessage(subscribe, 1000)));
    service.checkLinks();
    EXPECT_EQ(service.getObject(1).get(ifaced::IF_LINK_TRAP_ENABLE), false);
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_LINK_TRAP_ENABLE), true);
    EXPECT_FALSE(orla::isError(setObj(service, 3, false)));

    orla::message getAll;
    getAll.insert(orla::MSG_CMD, orla::CMD_GETALL);
    // operstate written, read by a link check (or a get-all), the change
    // announced as previous -> current; 0: none.
    const std::tuple<const char*, bool, uint32_t, uint32_t> steps[] = {
        {"up", false, 0, 0},  {"down", false, 1, 2},
        {"down", true, 0, 0}, {"lowerlayerdown", true, 2, 7},
        {"up", false, 7, 1},  {"up", false, 0, 0},
    };
    for (const auto& [operstate, byGetAll, previous, current] : steps) {
        SCOPED_TRACE(operstate);
        sysfs.write("eth1", "operstate", std::string(operstate) + "\n");
        if (byGetAll) {
            service.handleRequest(getAll);
        } else {
            service.checkLinks();
        }
        subscriber.notes.clear();
        orla::getRunner().runOnce(0);
        ASSERT_EQ(subscriber.notes.size(), previous ? 1u : 0u);
        if (!previous) continue;
        const orla::message& note = subscriber.notes.front();
        EXPECT_EQ(note.get(orla::OBJ_ID), 3u);
        EXPECT_EQ(note.get(ifaced::IF_PREVIOUS_OPER_STATUS), previous);
        EXPECT_EQ(note.get(ifaced::IF_OPER_STATUS), current);
        EXPECT_NE(note.get(ifaced::IF_LAST_CHANGE), 0u);
        EXPECT_EQ(note.get(ifaced::IF_LINK_TRAP_ENABLE), false);
    }

    // Counters that go back, and an interface that comes back under its
    // index, start over; the latter with the default link trap setting,
    // having changed the table.
    orla::message getCount;
    getCount.insert(orla::MSG_CMD, orla::CMD_GETCOUNT);
    EXPECT_EQ(service.handleRequest(getCount).get(ifaced::IF_TABLE_LAST_CHANGE, 1), 0u);
    sysfs.write("eth1", "statistics/tx_bytes", "100\n");
    service.handleRequest(getAll);
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    sysfs.write("eth1", "statistics/tx_bytes", "40\n");
    service.handleRequest(getAll);
    EXPECT_NE(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    std::filesystem::remove_all(sysfs.path("eth1", ""));
    service.checkLinks();
    sysfs.addInterface("eth1", 3);
    service.checkLinks();
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_LINK_TRAP_ENABLE), true);
    EXPECT_NE(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    EXPECT_FALSE(service.getObject(3).has(ifaced::IF_PREVIOUS_OPER_STATUS));
    EXPECT_TRUE(service.getObject(4).empty());
    EXPECT_NE(service.handleRequest(getCount).get(ifaced::IF_TABLE_LAST_CHANGE), 0u);
}

}  // namespace
