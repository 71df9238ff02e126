// ProxyDataProvider: no cache; every read calls the plug-in's function.
// Suits values that are cheap to compute and change all the time (an uptime,
// a counter of the process). The function's record is never deleted by the
// provider: a function normally fills and returns a static record.
#pragma once

#include "mib/provider.h"

class ProxyDataProvider : public DataProvider {
  public:
    explicit ProxyDataProvider(Data* (*build)()) : build(build) {}

    Data* get() override;
    // Accepts no writes.
    bool acceptsWrites() const override { return false; }
    bool commit(Data*) override { return false; }

    Data* (*build)();
};
