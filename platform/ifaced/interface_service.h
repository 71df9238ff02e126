// The interface service's handler: serves the kernel's network interfaces
// as the objects of platform/ifaced/interface_object.h.
//
// A get-all that starts at the first page reads every link in one rtnetlink
// dump; later pages come from that reading, so one walk sees one consistent
// set. Between reads the handler follows the kernel's link notifications
// and remembers of each interface what it last saw, to tell when and from
// what its operational status changed.
//
// The writable settings (the alias, the link trap setting) are kept by
// interface name in the service's durable store, and applied again when
// the service starts and whenever an interface of that name appears; a Set
// is answered once it is stored.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ifaced/interface_reader.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"
#include "platform/orla/store.h"

namespace ifaced {

inline constexpr uint32_t DEFAULT_PAGE_SIZE = 32;
// A page of full objects stays far below the library's 1 MiB frame.
inline constexpr uint32_t MAX_PAGE_SIZE = 1024;
inline constexpr const char* DEFAULT_STORE_PATH = "/orla/store/ifaced";

class InterfaceService : public orla::Handler {
  public:
    // `pageSize`: objects per get-all page, 1 to MAX_PAGE_SIZE; a request's
    // OBJ_PAGE_SIZE may ask for fewer. `storePath`: the settings' store.
    InterfaceService(InterfaceReader& reader, const std::string& storePath, uint32_t pageSize);

    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdGetCount(const orla::message& request) override;
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override;
    // The interface's object as last read or announced; empty for an
    // unknown id.
    orla::message getObject(uint32_t id) override;

    // Reads every link (one dump) and notifies the subscribers of each
    // change of operational status.
    void checkLinks();
    // Takes the kernel's link notifications as they come.
    void linksAnnounced(const std::vector<LinkMessage>& links);

  private:
    struct Tracked {
        InterfaceInfo info;                  // as last read or announced
        std::optional<OperStatus> previous;  // before lastChange
        uint32_t lastChange = 0;             // jiffies; 0: unchanged since the service started
        uint32_t discontinuity = 0;          // jiffies; 0: none seen
        bool linkTrapEnabled = true;
    };

    // Brings the remembered interface up to `info`; the change of status,
    // if any, goes to `changed`. `dumped`: `info` comes from a dump, which
    // alone reads the speed.
    void update(InterfaceInfo info, bool dumped, uint32_t now, std::vector<uint32_t>& changed);
    void forget(uint32_t index, uint32_t now);
    // Gives an interface that appeared (or took a new name) its stored settings.
    void applySettings(Tracked& entry);
    orla::message toObject(const Tracked& entry) const;

    InterfaceReader& reader_;
    orla::Store store_;
    std::map<std::string, uint32_t> settingKeys_;  // interface name -> store key
    uint32_t pageSize_;
    bool readBefore_ = false;
    bool snapshotTaken_ = false;
    uint32_t tableLastChange_ = 0;         // jiffies; 0: no interface came or went
    std::vector<uint32_t> snapshot_;       // the last dump's ifindexes, ascending
    std::map<uint32_t, Tracked> tracked_;  // by ifindex
};

}  // namespace ifaced
