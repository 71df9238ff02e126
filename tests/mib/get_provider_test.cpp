#include "mib/get_provider.h"

#include <gtest/gtest.h>

#include "mib/get_first_provider.h"
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

// A write through the settings command reaching the service is the
// end-to-end system MIB test's; a refused one is silent and keeps the value.
TEST_F(Providers, GetProviderRefusedWriteKeepsTheWrittenValueCached) {
    GetProvider provider(makeFromReply, firstPath, orla::CMD_GET, orla::CMD_SET);
    auto* rec = static_cast<NamedRecord*>(provider.get());
    rec->name = "written";
    first.setError = "read-only";
    testing::internal::CaptureStderr();
    EXPECT_EQ(provider.set(rec), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(first.requests.back().get(orla::MSG_CMD), orla::CMD_SET);
    EXPECT_EQ(provider.get(), rec);
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

}  // namespace
