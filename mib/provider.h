// DataProvider: the source of the one record a scalar object serves.
//
// A scalar leaf's Get and GetNext call get() and pack the returned record; a
// null record means the object has no value now. A Set calls get(), lets the
// packer write the new value into that record in place, then calls set()
// with it. StaticMuxTable serves each of its rows from a provider the same way.
//
// The record returned by get() belongs to the provider; callers use it at
// once and keep no pointer beyond the request.
#pragma once

#include "mib/data.h"

class DataProvider {
  public:
    // The current record, or null when no data is available.
    virtual Data* get() = 0;
    // Commits a record that the caller has modified in place. The status is
    // the implementation's; the leaves do not read it.
    virtual int set(Data* rec) = 0;
    virtual ~DataProvider() = default;
};
