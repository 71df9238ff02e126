// Cache lifetime of the caching providers, on a clock the tests step: the
// check is run by calling invalidateDataTimer() as the timer would.
#include "mib/single_provider.h"

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

}  // namespace
