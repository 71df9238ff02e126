// CacheUpdateTimeout: the lifetime of a provider's cache.
//
// A provider deriving from it calls accessData() before every read. The
// first access fills the cache (updateCache) and arms a check that runs
// every `idleTimeout` clock ticks while the cache is filled. A check drops the
// cache (clearCache) once it finds the last access `idleTimeout` ticks back or
// the fill `maxAge` ticks back; otherwise it arms itself again. So a burst of
// requests (a walk, a bulk request) costs one fetch per `maxAge` at most, and
// a cache nobody reads goes away after about `idleTimeout`.
//
// Times are clock ticks of orla::getJiffies() (100 per second), the unit of the
// runner's timer delays too.
#pragma once

#include <cstdint>

class CacheUpdateTimeout {
  public:
    CacheUpdateTimeout(unsigned idleTimeout, unsigned maxAge)
        : idleTimeout(idleTimeout), maxAge(maxAge) {}
    // Fills the cache.
    virtual void updateCache() = 0;
    // Drops the cache.
    virtual void clearCache() = 0;
    // Cancels a pending check, so that a provider may also be destroyed
    // before the process ends. It does not drop the cache: the derived
    // class's destructor has released it already.
    virtual ~CacheUpdateTimeout();

    // Notes an access and fills the cache when it is not valid.
    void accessData();
    // Drops the cache now and cancels the pending check; for plug-ins that
    // know their data has changed.
    void invalidateData();
    // The periodic check, run by the timer.
    void invalidateDataTimer();
    // New limits; a check already armed keeps its delay, later ones use these.
    void setTimeouts(unsigned idleTimeout, unsigned maxAge);

    // The clock of the checks, orla::getJiffies by default. Tests replace it
    // to step time without sleeping and call invalidateDataTimer() themselves.
    static uint32_t (*tickClock)();

    uint32_t lastAccess = 0;
    uint32_t filledAt = 0;
    bool valid = false;
    bool timerArmed = false;
    uint32_t idleTimeout;
    uint32_t maxAge;

  private:
    void armCheck();
};
