// GetFirstProvider: a scalar record taken from the first object of a
// handler's object list that the plug-in's function accepts, cached as
// SingleProvider caches. It accepts no writes.
//
//     Data* makeIfWanted(orla::message const& object);  // null: not this one
//     GetFirstProvider* wan = new GetFirstProvider(makeIfWanted, {42});
//     uint32_t id = wan->getFirstObjId();  // to address the object in own commands
#pragma once

#include <cstdint>
#include <vector>

#include "mib/single_provider.h"
#include "platform/orla/message.h"

class GetFirstProvider : public SingleProvider {
  public:
    GetFirstProvider(Data* (*build)(orla::message const&), std::vector<unsigned> const& path)
        : path(path), build(build) {}

    // Reads the whole list (getAll) and returns `build` of the first object
    // it makes a record of; null when none.
    Data* getData() override;
    // Sends nothing: false.
    bool setData(Data* rec) override;
    bool acceptsWrites() const override { return false; }
    ~GetFirstProvider() override = default;

    // The OBJ_ID of the object the record came from (filling the cache
    // first when needed); 0xffffffff until an object was accepted.
    uint32_t getFirstObjId();

    std::vector<uint32_t> path;
    Data* (*build)(orla::message const&);
    uint32_t firstObjId = 0xffffffff;
};
