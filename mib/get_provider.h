// GetProvider: a scalar record read with one command from one platform
// handler and written back with another, cached as SingleProvider caches.
//
//     Data* makeContact(orla::message const& reply);  // new record, or null
//     new GetProvider(makeContact, {snmp::SERVICE_ID}, orla::CMD_GET, orla::CMD_SET);
//
// Reading sends {MSG_CMD = getCmd, MSG_TO = path} and hands the reply to
// `build`; when the exchange fails it prints one line and hands `build` an
// empty message, and whatever it makes of that stays cached like any record.
// Writing sends {MSG_CMD = setCmd, MSG_TO = path} plus the fields the
// record's reverseBuild adds; the cached record keeps the written value, or,
// when the handler refuses it, the value the Set puts back.
#pragma once

#include <cstdint>
#include <vector>

#include "mib/single_provider.h"
#include "platform/orla/message.h"

class GetProvider : public SingleProvider {
  public:
    GetProvider(Data* (*build)(orla::message const&), std::vector<unsigned> const& path,
                unsigned getCmd, unsigned setCmd)
        : path(path), getCmd(getCmd), setCmd(setCmd), build(build) {}

    Data* getData() override;
    // True when the handler accepted the record, false when it answered an error.
    bool setData(Data* rec) override;
    ~GetProvider() override = default;

    std::vector<uint32_t> path;
    uint32_t getCmd;
    uint32_t setCmd;
    Data* (*build)(orla::message const&);
};
