#include <gtest/gtest.h>

#include "mib/num_packer.h"
#include "mib/scalar.h"
#include "mib/string_packer.h"
#include "request/get_next.h"
#include "request/get_set.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

const OID SYS_NAME("1.3.6.1.2.1.1.5");
const OID SYS_LOCATION("1.3.6.1.2.1.1.6");

using Bytes = std::vector<unsigned char>;

Bytes octets(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// sysName served from a provider's record, sysLocation a constant after it.
class Scalars : public ::testing::Test {
  protected:
    void SetUp() override {
        releaseRegistered();
        record.str = "router";
        addScalarLeaf(SYS_NAME, &namePacker, &provider);
        addScalarConstStringLeaf(SYS_LOCATION, "attic", ber::OCTET_STRING);
    }
    void TearDown() override { releaseRegistered(); }

    unsigned run(RequestHandler handler, Context& ctx, const OID& name) {
        ctx.oid = name;
        testing::internal::CaptureStderr();
        const unsigned status = handler(ctx);
        diagnostics = testing::internal::GetCapturedStderr();
        return status;
    }

    Rec record;
    FakeProvider provider{&record};
    DataStringPacker namePacker{field(&Rec::str), ber::OCTET_STRING, 0};
    std::string diagnostics;
};

// Reads and walks of scalars are the end-to-end system MIB test's.
TEST_F(Scalars, GetOfAnyNameButInstanceZeroIsNoSuchName) {
    for (const OID& name : {SYS_NAME, SYS_NAME + 1u, SYS_NAME + 0u + 0u}) {
        Context miss(nullptr, 0);
        EXPECT_EQ(run(snmpGet, miss, name), 2u) << name;
        EXPECT_EQ(miss.out.size(), 0u) << name;
    }
}

TEST_F(Scalars, ProviderWithoutRecordFailsGetAndSetAndIsSkippedByGetNext) {
    provider.rec = nullptr;
    Context get(nullptr, 0);
    EXPECT_EQ(run(snmpGet, get, SYS_NAME + 0u), 2u);
    Context set = contextOver(encoded([](OutStream& o) { o.add("x", ber::OCTET_STRING); }));
    EXPECT_EQ(run(snmpSet, set, SYS_NAME + 0u), 2u);
    EXPECT_EQ(set.out.size(), 0u);
    EXPECT_EQ(provider.sets, 0u);
    Context next(nullptr, 0);
    ASSERT_EQ(run(snmpGetNext, next, SYS_NAME), 0u);
    EXPECT_EQ(written(next).name, SYS_LOCATION + 0u);
}

TEST_F(Scalars, SetStoresCommitsAndEchoesRequestedName) {
    // The instance part is not examined: any name under the object is served.
    for (const OID& name : {SYS_NAME + 0u, SYS_NAME, SYS_NAME + 7u}) {
        Context ctx = contextOver(encoded([](OutStream& o) { o.add("core", ber::OCTET_STRING); }));
        record.str = "router";
        ASSERT_EQ(run(snmpSet, ctx, name), 0u) << name;
        EXPECT_EQ(record.str, "core");
        EXPECT_EQ(provider.lastSet, &record);
        const Written w = written(ctx);
        EXPECT_EQ(w.name, name);
        EXPECT_EQ(w.content, octets("core"));
        EXPECT_NE(diagnostics.find("unpacked s = core\n"), std::string::npos);
    }
    EXPECT_EQ(provider.sets, 3u);
}

TEST_F(Scalars, SetOfUndecodableValueCommitsAndEchoesUnchangedRecord) {
    Context ctx = contextOver({0x02, 0x01, 0x05});  // INTEGER for a string object
    ASSERT_EQ(run(snmpSet, ctx, SYS_NAME + 0u), 0u);
    EXPECT_EQ(record.str, "router");
    EXPECT_EQ(provider.sets, 1u);
    EXPECT_EQ(written(ctx).content, octets("router"));
}

}  // namespace
