#include "platform/ifaced/interface_service.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"
#include "tests/platform/ifaced/fake_kernel.h"

using namespace std::string_literals;

namespace {

using ifaced::OperStatus;
using ifacedtest::FakeKernel;

// A directory for the service's store, removed with the test.
class StoreDirectory {
  public:
    StoreDirectory() {
        char pattern[] = "/tmp/ifaced-test-XXXXXX";
        root_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~StoreDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::string path(const std::string& name = "store") const { return root_ + "/" + name; }

  private:
    std::string root_;
};

orla::message command(uint32_t cmd) {
    orla::message request;
    request.insert(orla::MSG_CMD, cmd);
    return request;
}

orla::message setObj(ifaced::InterfaceService& service, uint32_t id,
                     std::optional<std::string> alias, std::optional<bool> linkTrap) {
    orla::message request = command(orla::CMD_SETOBJ);
    request.insert(orla::OBJ_ID, id);
    if (alias) request.insert(ifaced::IF_ALIAS, *alias);
    if (linkTrap) request.insert(ifaced::IF_LINK_TRAP_ENABLE, *linkTrap);
    return service.handleRequest(request);
}

// Walks in pages, ifNumber, the statuses, ifLastChange and an ifAlias write
// reaching the kernel are the end-to-end interfaces test's; here counters
// beyond 32 bits, which no test traffic reaches, and the refused writes,
// which change nothing, neither in the kernel nor in the store.
TEST(InterfaceService, CountersTravelAsTwoWordsBadAliasWritesAreErrors) {
    StoreDirectory directory;
    FakeKernel kernel;
    kernel.add("eth1", 3).counters.inOctets = (1ull << 32) + 5;
    kernel.at(3).counters.inUnknownProtos = 9;
    kernel.at(3).alias = "kept";
    kernel.add("eth3", 7);
    ifaced::InterfaceService service(kernel, directory.path(), 32);
    const orla::message eth1(
        service.handleRequest(command(orla::CMD_GETALL)).get(orla::OBJ_LIST).at(0));
    EXPECT_EQ(eth1.get(ifaced::IF_IN_OCTETS), (std::vector<uint32_t>{1, 5}));
    EXPECT_EQ(eth1.get(ifaced::IF_IN_UNKNOWN_PROTOS), (std::vector<uint32_t>{0, 9}));
    EXPECT_EQ(eth1.size(ifaced::IF_OUT_ERRORS), 2u);
    EXPECT_EQ(kernel.dumps, 1);

    const std::tuple<uint32_t, std::optional<std::string>, int, uint32_t> cases[] = {
        {3, std::nullopt, 0, orla::ERR_MISSING_VALUE},  // neither alias nor link trap setting
        {3, std::string(65, 'a'), 0, orla::ERR_BAD_VALUE},
        {3, "two\nlines", 0, orla::ERR_BAD_VALUE},
        {3, "nul\0inside"s, 0, orla::ERR_BAD_VALUE},
        {4, "x", 0, orla::ERR_NO_SUCH_OBJECT},
        {0, "x", 0, orla::ERR_NO_SUCH_OBJECT},
        {7, "x", EPERM, orla::ERR_BAD_VALUE},        // the kernel refuses
        {7, "x", ENODEV, orla::ERR_NO_SUCH_OBJECT},  // gone after the look-up
    };
    for (const auto& [index, alias, kernelError, error] : cases) {
        kernel.aliasError = kernelError;
        const orla::message reply = setObj(service, index, alias, std::nullopt);
        EXPECT_EQ(orla::getErrorCode(reply), error) << index << " " << alias.value_or("(none)");
        EXPECT_EQ(orla::getError(reply).find('\n'), std::string::npos);
    }
    EXPECT_EQ(kernel.at(3).alias, "kept");
    EXPECT_TRUE(kernel.aliasWrites.empty());
    EXPECT_FALSE(std::filesystem::exists(directory.path()));
}

// The alias and the link trap setting are stored by interface name before
// the answer, and given to an interface of that name when the service
// starts and when one appears, whatever its index; a setting that cannot be
// stored is refused and undone in the kernel.
TEST(InterfaceService, SettingsAreStoredByNameAndAppliedAgain) {
    StoreDirectory directory;
    FakeKernel kernel;
    kernel.add("eth1", 3);
    kernel.add("eth2", 4);
    {
        ifaced::InterfaceService service(kernel, directory.path(), 32);
        service.checkLinks();
        EXPECT_FALSE(orla::isError(setObj(service, 3, "uplink", false)));
        EXPECT_FALSE(orla::isError(setObj(service, 4, std::nullopt, false)));
        EXPECT_FALSE(orla::isError(setObj(service, 4, "core", std::nullopt)));
        EXPECT_EQ(kernel.at(3).alias, "uplink");
    }
    // Restarted: eth1 lost its alias meanwhile, and eth2 is gone.
    kernel.at(3).alias = "";
    kernel.links.pop_back();
    kernel.aliasWrites.clear();
    ifaced::InterfaceService service(kernel, directory.path(), 32);
    service.checkLinks();
    EXPECT_EQ(kernel.aliasWrites, (decltype(kernel.aliasWrites){{3, "uplink"}}));
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_ALIAS), "uplink");
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_LINK_TRAP_ENABLE, true), false);
    // eth2 comes back under another index, announced by the kernel.
    ifaced::LinkMessage eth2;
    eth2.info = kernel.add("eth2", 9);
    service.linksAnnounced({eth2});
    EXPECT_EQ(kernel.at(9).alias, "core");
    const orla::message object = service.getObject(9);
    EXPECT_EQ(object.get(ifaced::IF_ALIAS), "core");
    EXPECT_EQ(object.get(ifaced::IF_LINK_TRAP_ENABLE, true), false);
    // An interface with no stored settings has the defaults.
    kernel.add("eth5", 10);
    service.checkLinks();
    EXPECT_EQ(service.getObject(10).get(ifaced::IF_LINK_TRAP_ENABLE), true);

    // A store that cannot be written (its folder is a file).
    std::ofstream(directory.path("file")) << "x";
    ifaced::InterfaceService unstored(kernel, directory.path("file") + "/store", 32);
    unstored.checkLinks();
    const orla::message reply = setObj(unstored, 10, "lost", true);
    EXPECT_EQ(orla::getErrorCode(reply), orla::ERR_BAD_VALUE);
    EXPECT_EQ(kernel.at(10).alias, "");
    EXPECT_EQ(unstored.getObject(10).get(ifaced::IF_ALIAS), "");
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

// linkDown and linkUp to snmptrapd are the end-to-end interfaces test's;
// here the transitions the service announces, whichever way it learns of
// them, and what it keeps per interface: the time its counters started
// over, and a link that comes back under its index as a new one.
TEST(InterfaceService, StatusChangesAreNotifiedOnceWithTheStatusBefore) {
    StoreDirectory directory;
    FakeKernel kernel;
    kernel.add("eth1", 3);
    kernel.add("lo", 1).type = ifaced::IANA_SOFTWARE_LOOPBACK;
    ifaced::InterfaceService service(kernel, directory.path(), 32);
    Subscriber subscriber;
    ASSERT_TRUE(subscriber.addHandler(ifaced::INTERFACE_HANDLER, &service));
    orla::message subscribe = command(orla::CMD_SUBSCRIBE);
    subscribe.insert(orla::MSG_TO, std::vector<uint32_t>{0, ifaced::INTERFACE_HANDLER});
    ASSERT_FALSE(orla::isError(subscriber.exchangeMessage(subscribe, 1000)));
    service.checkLinks();
    EXPECT_EQ(service.getObject(1).get(ifaced::IF_LINK_TRAP_ENABLE), false);
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_LINK_TRAP_ENABLE), true);
    EXPECT_FALSE(orla::isError(setObj(service, 3, std::nullopt, false)));

    enum class By { Notification, Dump, GetAll };
    // The status the kernel reports, how the service learns it, the change
    // announced as previous -> current; 0: none.
    const std::tuple<OperStatus, By, uint32_t, uint32_t> steps[] = {
        {OperStatus::Up, By::Notification, 0, 0}, {OperStatus::Down, By::Notification, 1, 2},
        {OperStatus::Down, By::GetAll, 0, 0},     {OperStatus::LowerLayerDown, By::GetAll, 2, 7},
        {OperStatus::Up, By::Dump, 7, 1},         {OperStatus::Up, By::Notification, 0, 0},
    };
    for (const auto& [status, by, previous, current] : steps) {
        SCOPED_TRACE(static_cast<uint32_t>(status));
        kernel.at(3).operStatus = status;
        if (by == By::GetAll) {
            service.handleRequest(command(orla::CMD_GETALL));
        } else if (by == By::Dump) {
            service.checkLinks();
        } else {
            ifaced::LinkMessage link;
            link.info = kernel.at(3);
            service.linksAnnounced({link});
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
    // index, start over; the latter without a previous status, having
    // changed the table.
    const orla::message getCount = command(orla::CMD_GETCOUNT);
    EXPECT_EQ(service.handleRequest(getCount).get(ifaced::IF_TABLE_LAST_CHANGE, 1), 0u);
    EXPECT_EQ(service.handleRequest(getCount).get(orla::OBJ_COUNT), 2u);
    kernel.at(3).counters.outOctets = 100;
    service.checkLinks();
    EXPECT_EQ(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    kernel.at(3).counters.outOctets = 40;
    service.checkLinks();
    EXPECT_NE(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    ifaced::LinkMessage gone;
    gone.removed = true;
    gone.info = kernel.at(3);
    service.linksAnnounced({gone});
    EXPECT_TRUE(service.getObject(3).empty());
    EXPECT_EQ(service.handleRequest(getCount).get(orla::OBJ_COUNT), 1u);
    service.checkLinks();
    EXPECT_NE(service.getObject(3).get(ifaced::IF_COUNTER_DISCONTINUITY), 0u);
    EXPECT_FALSE(service.getObject(3).has(ifaced::IF_PREVIOUS_OPER_STATUS));
    EXPECT_NE(service.handleRequest(getCount).get(ifaced::IF_TABLE_LAST_CHANGE), 0u);
}

}  // namespace
