// Cache lifetime of the caching providers, on a clock the tests step: the
// check is run by calling invalidateDataTimer() as the timer would.
#include "mib/single_provider.h"

#include "mib/get_provider.h"

#include <gtest/gtest.h>

#include "platform/orla/runner.h"
#include "tests/mib/service_fixture.h"

using namespace providertest;

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
        return returnNull ? nullptr : new Counted(&deletions);
    }
    int setData(Data*) override { return 7; }
    int fetches = 0;
    int deletions = 0;
    bool returnNull = false;
};

class CacheLifetime : public ::testing::Test {
  protected:
    // Steps the clock; the tests run the check themselves.
    void advance(uint32_t ticks) { fakeNow += ticks; }
    FakeClock clock_{5000};
    CountingProvider provider;
};

TEST_F(CacheLifetime, SteadyReadsRefetchOnceTheRecordIsOld) {
    // Reads every 10 ticks; a check every 25. The check at 200 ticks after the
    // fill drops the record, the next read fetches again.
    provider.get();
    uint32_t sinceCheck = 0;
    uint32_t servedAge = 0;
    uint32_t filledAt = fakeNow;
    for (uint32_t t = 10; t <= 300; t += 10) {
        advance(10);
        sinceCheck += 10;
        if (sinceCheck >= 25) {
            provider.invalidateDataTimer();
            sinceCheck -= 25;
        }
        bool wasValid = provider.valid;
        provider.get();
        if (!wasValid) filledAt = fakeNow;
        servedAge = std::max(servedAge, fakeNow - filledAt);
    }
    EXPECT_EQ(provider.fetches, 2);
    EXPECT_LT(servedAge, 200u + 25u);
}

TEST_F(CacheLifetime, IdleCacheIsDroppedAtTheFirstLateCheck) {
    provider.get();
    advance(24);
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

TEST_F(CacheLifetime, NullRecordIsCachedWithoutRetrying) {
    provider.returnNull = true;
    EXPECT_EQ(provider.get(), nullptr);
    EXPECT_EQ(provider.get(), nullptr);
    EXPECT_EQ(provider.fetches, 1);
    EXPECT_TRUE(provider.valid);
}

TEST_F(CacheLifetime, InvalidateDropsAndCancelsTheCheck) {
    provider.get();
    provider.invalidateData();
    EXPECT_EQ(provider.deletions, 1);
    EXPECT_FALSE(provider.timerArmed);
    // Nothing is left for the runner to call.
    EXPECT_EQ(orla::removeTimer(static_cast<CacheUpdateTimeout*>(&provider),
                                &CacheUpdateTimeout::invalidateDataTimer),
              0u);
}

TEST_F(CacheLifetime, ClockWrapDoesNotDropAFreshCache) {
    fakeNow = 0xfffffff0;
    provider.get();
    advance(0x20);  // wraps past zero
    provider.get();
    provider.invalidateDataTimer();
    EXPECT_TRUE(provider.valid);
}

TEST(CacheTimer, DestroyedProviderLeavesNoPendingCheck) {
    auto* provider = new CountingProvider;
    provider->get();
    delete provider;
    orla::getRunner().runOnce(0);  // would call into the freed provider
}

// The system plug-in's provider when its service fails: a failed read
// builds a record from the empty reply and says so once per fetch; a refused
// write is silent and keeps the written value cached.
Data* makeFromReply(orla::message const& reply) {
    auto* rec = new NamedRecord;
    rec->name = reply.get(orla::OBJ_NAME, "<none>");
    return rec;
}

class Providers : public ServiceTest {};

TEST_F(Providers, GetProviderReadErrorAndRefusedWrite) {
    first.getError = "no such setting";
    GetProvider provider(makeFromReply, firstPath, orla::CMD_GET, orla::CMD_SET);
    testing::internal::CaptureStderr();
    auto* rec = static_cast<NamedRecord*>(provider.get());
    provider.get();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "GetProvider::getData error: no such setting\n");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->name, "<none>");

    rec->name = "written";
    first.setError = "read-only";
    testing::internal::CaptureStderr();
    EXPECT_EQ(provider.set(rec), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(first.requests.back().get(orla::MSG_CMD), orla::CMD_SET);
    EXPECT_EQ(provider.get(), rec);
    EXPECT_EQ(rec->name, "written");
}

}  // namespace
