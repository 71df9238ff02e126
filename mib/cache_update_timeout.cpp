#include "mib/cache_update_timeout.h"

#include "mib/platform_exchange.h"
#include "platform/orla/clock.h"
#include "platform/orla/runner.h"

uint32_t (*CacheUpdateTimeout::tickClock)() = orla::getJiffies;

CacheUpdateTimeout::~CacheUpdateTimeout() {
    orla::removeTimer(this, &CacheUpdateTimeout::invalidateDataTimer);
}

void CacheUpdateTimeout::accessData() {
    uint32_t now = tickClock();
    lastAccess = now;
    if (valid) return;
    // Valid before the fill, so that a read from inside the fill does not
    // start a second one.
    filledAt = now;
    valid = true;
    const uint64_t pendingBefore = pendingExchanges();
    const uint64_t failedBefore = failedAnswers();
    updateCache();
    if (pendingExchanges() != pendingBefore || failedAnswers() != failedBefore) {
        // Filled without an answer that is on its way, or that never came:
        // nothing of it is kept, and the next read fills again.
        clearCache();
        valid = false;
        return;
    }
    armCheck();
}

void CacheUpdateTimeout::invalidateDataTimer() {
    uint32_t now = tickClock();
    // Unsigned differences: a wrap of the tick counter does no harm.
    if (now - lastAccess < idleTimeout && now - filledAt < maxAge) {
        armCheck();
        return;
    }
    clearCache();
    timerArmed = false;
    valid = false;
}

void CacheUpdateTimeout::invalidateData() {
    if (timerArmed) orla::removeTimer(this, &CacheUpdateTimeout::invalidateDataTimer);
    clearCache();
    timerArmed = false;
    valid = false;
}

void CacheUpdateTimeout::setTimeouts(unsigned newIdleTimeout, unsigned newMaxAge) {
    idleTimeout = newIdleTimeout;
    maxAge = newMaxAge;
}

void CacheUpdateTimeout::armCheck() {
    orla::addTimer(this, &CacheUpdateTimeout::invalidateDataTimer, idleTimeout);
    timerArmed = true;
}
