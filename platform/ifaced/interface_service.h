// The interface service's handler: serves the host's network interfaces as
// the objects of platform/ifaced/interface_object.h.
//
// A get-all that starts at the first page re-reads sysfs; later pages come
// from that snapshot, so one walk sees one consistent set. Between reads the
// handler remembers of each interface its operational status, to tell when
// and from what it changed, and its link trap setting.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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
    // The interface's object as read now; empty for an unknown id.
    orla::message getObject(uint32_t id) override;

    // Reads every interface's operational status (a few small files each)
    // and notifies the subscribers of each change.
    void checkLinks();

  private:
    struct Tracked {
        std::string name;
        OperStatus status = OperStatus::Unknown;
        std::optional<OperStatus> previous;  // before lastChange
        uint32_t lastChange = 0;             // jiffies; 0: unchanged since the service started
        uint32_t discontinuity = 0;          // jiffies; 0: none seen
        bool linkTrapEnabled = true;
        std::optional<InterfaceCounters> counters;  // of the last full read
    };

    void refresh();
    // Brings the remembered interfaces up to `seen`, every interface there
    // is now; `full`: `seen` holds their counters too.
    void track(const std::vector<InterfaceInfo>& seen, bool full);
    orla::message toObject(const InterfaceInfo& info) const;

    InterfaceReader reader_;
    uint32_t pageSize_;
    bool readBefore_ = false;
    bool snapshotTaken_ = false;
    uint32_t tableLastChange_ = 0;         // jiffies; 0: no interface came or went
    std::vector<InterfaceInfo> snapshot_;  // ascending ifindex
    std::map<uint32_t, Tracked> tracked_;  // by ifindex, interfaces of the last read
};

}  // namespace ifaced
