// DataProvider: the source of the one record a scalar object serves.
//
// A scalar leaf's Get and GetNext call get() and pack the returned record; a
// null record means the object has no value now. A Set asks acceptsWrites()
// when it is tested; when it is committed it calls get(), lets the packer
// write the new value into that record in place, then calls commit() with
// it, and when the write is refused it puts the previous value back into the
// record; an undo commits the previous value again. StaticMuxTable serves
// each of its rows from a provider the same way.
//
// The record returned by get() belongs to the provider; callers use it at
// once and keep no pointer beyond the request.
#pragma once

#include "mib/data.h"

class Ownership;  // mib/ownership.h

class DataProvider {
  public:
    // The current record, or null when no data is available.
    virtual Data* get() = 0;
    // Whether a Set may write the records at all; false makes every object
    // served from the provider notWritable. The base version: true.
    virtual bool acceptsWrites() const { return true; }
    // Commits a record that the caller has modified in place: true when the
    // data's owner took it, false when it refused it (or the provider
    // accepts no writes).
    virtual bool commit(Data* rec) = 0;
    // Hands what the provider refers to and was created for it to the
    // registry (mib/ownership.h). The base version refers to nothing.
    virtual void handParts(Ownership&) {}
    virtual ~DataProvider() = default;
};
