// The interface service's handler: serves the host's network interfaces as
// the objects of platform/ifaced/interface_object.h.
//
// A get-all that starts at the first page re-reads sysfs; later pages come
// from that snapshot, so one walk sees one consistent set. The handler keeps
// each interface's last operational status to tell when it changed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ifaced/interface_reader.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"

namespace ifaced {

inline constexpr uint32_t DEFAULT_PAGE_SIZE = 32;
// A page of full objects stays far below the library's 1 MiB frame.
inline constexpr uint32_t MAX_PAGE_SIZE = 1024;

class InterfaceService : public orla::Handler {
  public:
    // `pageSize`: objects per get-all page, 1 to MAX_PAGE_SIZE; a request's
    // OBJ_PAGE_SIZE may ask for fewer.
    InterfaceService(std::string sysfsRoot, uint32_t pageSize);

    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override;

  private:
    struct OperHistory {
        OperStatus status;
        uint32_t lastChange;  // jiffies; 0: unchanged since the service started
    };

    void refresh();
    orla::message toObject(const InterfaceInfo& info) const;

    InterfaceReader reader_;
    uint32_t pageSize_;
    bool readBefore_ = false;
    std::vector<InterfaceInfo> snapshot_;      // ascending ifindex
    std::map<uint32_t, OperHistory> history_;  // by ifindex, interfaces of the last read
};

}  // namespace ifaced
