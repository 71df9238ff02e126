#include "platform/ifaced/interface_service.h"

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/ids.h"
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
        {3, std::nullopt, orla::ERR_MISSING_VALUE},
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

}  // namespace
