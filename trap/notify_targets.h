// The notification targets: the receivers of the agent's traps and informs
// (the model of SNMP-TARGET-MIB and SNMP-NOTIFICATION-MIB, RFC 3413), each
// with its address (IPv4 or IPv6) and port, its SNMP version, the community
// or SNMPv3 user it sends as, trap or inform, the inform's timeout and
// retries, and the trap generators whose notifications it receives. The
// platform handler lists, reads, adds, changes and removes them, with undo,
// and keeps them in a persistent store of their own.
//
// The agent's settings trap-target, trap-version and trap-community are the
// first target, id 0: listed as such, and changed through the settings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/orla/allocator.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"
#include "platform/orla/store.h"

namespace snmp {

// Handler id of the target table in the agent's looper: [161, 3].
inline constexpr uint32_t ID_TARGETS = 3;
inline constexpr const char* TARGET_STORE_PATH = "/orla/store/snmp-targets";

// Fields of a target's configuration message (OBJ_ID carries its id).
// The address as text: dotted quad or IPv6 without brackets.
inline constexpr orla::StringKey TARGET_ADDRESS{40};
inline constexpr orla::U32Key TARGET_PORT{41};
// 0 SNMPv1, 1 SNMPv2c, 3 SNMPv3: the codes of the trap-version setting.
inline constexpr orla::U32Key TARGET_VERSION{42};
// The community record (for SNMPv3: the user) the target's messages carry.
inline constexpr orla::U32Key TARGET_COMMUNITY{43};
inline constexpr orla::BoolKey TARGET_INFORM{44};
inline constexpr orla::U32Key TARGET_TIMEOUT_MS{45};
inline constexpr orla::U32Key TARGET_RETRIES{46};
// The trap generator ids (those of the settings' list) the target receives;
// empty: every one.
inline constexpr orla::U32ArrayKey TARGET_GENERATORS{47};
// Read only, in get and get-all replies: the counters since the agent
// started, and whether the target is the settings' trap sink.
inline constexpr orla::U32Key TARGET_SENT{50};
inline constexpr orla::U32Key TARGET_ACKNOWLEDGED{51};
inline constexpr orla::U32Key TARGET_DROPPED{52};
inline constexpr orla::BoolKey TARGET_FROM_SETTINGS{53};

inline constexpr uint32_t SETTINGS_TARGET_ID = 0;
inline constexpr uint32_t TARGET_DEFAULT_PORT = 162;
// SNMP-TARGET-MIB's defaults are 15 s and 3 retries; a second suits a
// collector on the same network better, and is what managers use.
inline constexpr uint32_t TARGET_DEFAULT_TIMEOUT_MS = 1000;
inline constexpr uint32_t TARGET_DEFAULT_RETRIES = 3;
inline constexpr uint32_t TARGET_TIMEOUT_MIN_MS = 10;
inline constexpr uint32_t TARGET_TIMEOUT_MAX_MS = 600000;
inline constexpr uint32_t TARGET_RETRIES_MAX = 20;
inline constexpr uint32_t TARGET_PAGE_MAX = 20;

}  // namespace snmp

// A UDP endpoint: an IPv4 address as its IPv4-mapped IPv6 form (RFC 4291
// 2.5.5.2), so that one comparison serves both families.
struct Endpoint {
    std::array<unsigned char, 16> address{};
    uint16_t port = 0;  // host order

    bool isIPv4() const;
    bool operator==(const Endpoint&) const = default;
};

// The address text (dotted quad, or IPv6 without brackets) and port, or
// nullopt when the text is neither.
std::optional<Endpoint> parseEndpoint(const std::string& address, uint16_t port);
// A sockaddr_in or sockaddr_in6 as the kernel gives it; nullopt for another family.
std::optional<Endpoint> endpointOf(std::span<const unsigned char> sockaddrBytes);

struct NotifyTarget {
    uint32_t id = 0;
    std::string address;
    uint32_t port = snmp::TARGET_DEFAULT_PORT;
    uint32_t version = 1;
    uint32_t community = 0xffffffff;
    bool inform = false;
    uint32_t timeoutMs = snmp::TARGET_DEFAULT_TIMEOUT_MS;
    uint32_t retries = snmp::TARGET_DEFAULT_RETRIES;
    std::vector<uint32_t> generators;  // empty: all

    // Since the agent started: notifications sent (an inform once, however
    // often retransmitted), informs acknowledged, informs dropped (retries
    // spent, or pushed out of a full queue).
    struct Counters {
        uint32_t sent = 0;
        uint32_t acknowledged = 0;
        uint32_t dropped = 0;
    };

    // Whether a notification of `generator` (none: not from a generator,
    // the vendor trap on request or authenticationFailure) reaches it.
    bool receives(std::optional<uint32_t> generator) const;
    // Where it is; nullopt when the stored address does not parse.
    std::optional<Endpoint> endpoint() const;

    orla::message getCfg() const;
    // Applies the fields present; OBJ_ID is ignored.
    void setCfg(const orla::message& cfg);
};

class NotifyTargets : public orla::Handler {
  public:
    // The settings' trap sink as target 0, when one is set (trap-target and
    // trap-community): asked each time, so it follows the settings.
    using SettingsTarget = std::function<std::optional<NotifyTarget>()>;

    explicit NotifyTargets(SettingsTarget settingsTarget,
                           const std::string& storePath = snmp::TARGET_STORE_PATH);

    // Every target that sends, the settings' sink first, then the table in
    // the order of its ids.
    std::vector<NotifyTarget> targets() const;
    // The counters of target `id`; created on first use, so the settings
    // sink's survive a change of the settings. The reference stays valid.
    NotifyTarget::Counters& counters(uint32_t id);

    orla::message cmdGetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdAddObj(const orla::message& request) override;
    orla::message cmdRemoveObj(const orla::message& request, uint32_t id) override;
    orla::message getObject(uint32_t id) override;

  private:
    // A target's message with its counters, as get and get-all answer it.
    orla::message shown(const NotifyTarget& target);
    NotifyTarget* find(uint32_t id);

    SettingsTarget settingsTarget_;
    orla::Store store_;
    orla::Allocator ids_;
    std::vector<NotifyTarget> table_;  // ascending ids
    std::map<uint32_t, NotifyTarget::Counters> counters_;
};
