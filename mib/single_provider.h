// SingleProvider: the caching base of the scalar data providers.
//
// A derived class says how to fetch the record (getData) and how to write a
// modified one back (setData); SingleProvider keeps the fetched record for
// the cache lifetime of CacheUpdateTimeout (idle limit 25 ticks, maximum
// age 200 ticks: a quarter of a second and two seconds) and owns it.
#pragma once

#include "mib/cache_update_timeout.h"
#include "mib/provider.h"

class SingleProvider : public DataProvider, public CacheUpdateTimeout {
  public:
    SingleProvider() : CacheUpdateTimeout(25, 200) {}

    // The cached record, fetched first when the cache is empty; may be null.
    Data* get() override;
    // Writes the record back: setData.
    bool commit(Data* rec) override;
    ~SingleProvider() override;
    void clearCache() override;
    void updateCache() override;

    // A new record made from the platform's data, or null.
    virtual Data* getData() = 0;
    // Writes a record the caller has modified in place back to the
    // platform: true when the platform took it.
    virtual bool setData(Data* rec) = 0;

    // Null whenever the cache is not valid.
    Data* cached = nullptr;
};
