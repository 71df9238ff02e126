// DataProvider: the source of the one record a scalar object serves.
//
// A scalar leaf's Get and GetNext call get() and pack the returned record; a
// null record means the object has no value now. A Set calls get(), lets the
// packer write the new value into that record in place, then calls commit()
// with it; when the write is refused it puts the previous value back into
// the record. StaticMuxTable serves each of its rows from a provider the
// same way.
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
    // Whether a Set may write the records at all; false makes every object
    // served from the provider notWritable. The base version: true.
    virtual bool acceptsWrites() const { return true; }
    // Commits as set does, and tells whether the data's owner took the
    // record: false when it refused it. The base version calls set and,
    // since set's status means what each implementation wants, reports true.
    virtual bool commit(Data* rec) {
        set(rec);
        return true;
    }
    virtual ~DataProvider() = default;
};
