// The community table: SNMPv1/v2c communities that double as SNMPv3 users
// (RFC 3414 usmUser: the user name is the community name), with their access
// rights, source-address filters, security levels and protocols, and the
// platform handler through which the table is listed, read, added to,
// changed and removed from, and kept in its persistent store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/orla/allocator.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"
#include "platform/orla/store.h"

namespace snmp {

// Handler id of the community table in the agent's looper.
inline constexpr uint32_t ID_COMMUNITIES = 1;

// Fields of a community's configuration message (OBJ_ID carries its id).
inline constexpr orla::StringKey COMM_NAME{5};
inline constexpr orla::BoolKey COMM_READ_ACCESS{6};
inline constexpr orla::BoolKey COMM_WRITE_ACCESS{7};
inline constexpr orla::Be32Key COMM_ADDRESS{8};
inline constexpr orla::Be32Key COMM_NETMASK{9};
// A password given by an add or set becomes the user's keys and is never
// stored, kept or sent back (RFC 3414 11.2). An empty one clears its keys.
inline constexpr orla::StringKey COMM_AUTH_PASSWORD{11};
inline constexpr orla::StringKey COMM_PRIV_PASSWORD{12};
inline constexpr orla::U32Key COMM_SECURITY{15};
inline constexpr orla::U32Key COMM_AUTH_PROTOCOL{20};
inline constexpr orla::U32Key COMM_PRIV_PROTOCOL{21};

// The views a community or user is limited to when no group names it
// (community/access_keep.h): empty, or absent as in stores from before
// views, is the whole tree.
inline constexpr orla::StringKey COMM_READ_VIEW{31};
inline constexpr orla::StringKey COMM_WRITE_VIEW{32};
inline constexpr orla::StringKey COMM_NOTIFY_VIEW{33};

// The keys, as stored (octets): Ku, the password's key, which lets the keys
// be localised to a new engine ID (RFC 3414 A.2), absent for a key set over
// SNMP (KeyChange); Kul, localised to COMM_KEY_ENGINE (RFC 3414 2.6).
inline constexpr orla::StringKey COMM_AUTH_KU{34};
inline constexpr orla::StringKey COMM_PRIV_KU{35};
inline constexpr orla::StringKey COMM_AUTH_KUL{36};
inline constexpr orla::StringKey COMM_PRIV_KUL{37};
inline constexpr orla::StringKey COMM_KEY_ENGINE{38};

// A user made over SNMP (usmUserTable, RFC 3414 5): its row status
// (RFC 2579: 1 active, 2 notInService, 3 notReady; absent: active) and
// usmUserPublic. A record that is not active serves no request.
inline constexpr orla::U32Key COMM_USM_STATUS{39};
inline constexpr orla::StringKey COMM_USM_PUBLIC{40};
inline constexpr uint32_t USM_ACTIVE = 1;
inline constexpr uint32_t USM_NOT_IN_SERVICE = 2;
inline constexpr uint32_t USM_NOT_READY = 3;

// The table is closed (see CommunityKeep::closedBy): the file that holds the
// damaged store. In the get reply, and in the store's record of the state.
inline constexpr orla::StringKey COMM_CLOSED{30};

// Restores the default community: DEFAULT_COMMUNITY, read-only, every
// source, no security. Replies OBJ_ID.
inline constexpr uint32_t CMD_RESET_DEFAULT = 100;

// RFC 3414 11.2: the shortest password the security level in use may rest on.
inline constexpr size_t PASSWORD_MIN_LENGTH = 8;

// Get-all pages hold at most this many communities.
inline constexpr uint32_t COMMUNITY_PAGE_MAX = 20;

inline constexpr const char* COMMUNITY_STORE_PATH = "/orla/store/snmp-communities";
inline constexpr const char* DEFAULT_COMMUNITY = "morvel";

}  // namespace snmp

class View;  // community/view.h

// A request's sender as the source filters see it: its IPv4 address in
// network byte order (also for an IPv4-mapped IPv6 sender, RFC 4291 2.5.5.2),
// or none for any other IPv6 sender.
using SourceAddress = std::optional<uint32_t>;

class CommunityKeep : public orla::Handler {
  public:
    // One community record.
    struct Item {
        uint32_t id = 0xffffffff;
        std::string name;
        uint32_t address = 0;  // source filter address, network byte order
        uint32_t netmask = 0;  // source filter mask, network byte order
        bool readAccess = false;
        bool writeAccess = false;
        uint32_t security = 0;  // usm::NO_AUTH_NO_PRIV, AUTH_NO_PRIV or AUTH_PRIV
        uint32_t authProtocol = 0;
        uint32_t privProtocol = 0;
        // The keys (COMM_AUTH_KU ...): Ku and Kul of authentication and
        // privacy, and the engine ID the Kul are localised to. The privacy
        // keys use the authentication protocol's hash too (RFC 3414 2.6).
        std::vector<unsigned char> authKu;
        std::vector<unsigned char> privKu;
        std::vector<unsigned char> authKul;
        std::vector<unsigned char> privKul;
        std::string keyEngineID;
        // What requests use, derived from the Kul for the agent's engine ID:
        // the signing form of the authentication key and the cipher's key;
        // never stored or sent. Empty while the Kul are another engine's.
        std::vector<unsigned char> authKey;
        std::vector<unsigned char> privKey;
        uint32_t usmStatus = snmp::USM_ACTIVE;
        std::string usmPublic;
        bool active() const { return usmStatus == snmp::USM_ACTIVE; }
        // Names of views (community/access_keep.h) that narrow the rights
        // above; empty: the whole tree.
        std::string readView;
        std::string writeView;
        std::string notifyView;
        // The three views found by name, for the access table of that
        // generation (AccessKeep::rights): requests need not look them up
        // again. setCfg forgets them.
        mutable uint64_t viewsGeneration = 0;
        mutable const View* views[3] = {};

        Item() = default;
        Item(const Item&) = default;
        Item& operator=(const Item&) = default;
        // The keys are wiped: no copy of them stays in freed memory.
        ~Item();

        // The configuration message: every field, OBJ_ID first; the keys,
        // never a password.
        orla::message getCfg() const;
        // Applies the fields present in `cfg`; absent fields keep their value
        // and OBJ_ID is ignored. A password becomes the Ku of its key (with
        // the authentication protocol the record has then) and empties its
        // Kul, which regenerateKeys localises; the password is not kept.
        void setCfg(const orla::message& cfg);
        // Whether the record has a key for authentication or privacy.
        bool hasAuthKey() const { return !authKu.empty() || !authKul.empty(); }
        bool hasPrivKey() const { return !privKu.empty() || !privKul.empty(); }
        // True when `source` passes the source filter. The filter is IPv4,
        // so an IPv6 sender passes only one that admits every source.
        bool admits(SourceAddress source) const {
            return source ? (*source & netmask) == (address & netmask) : netmask == 0;
        }
        // Localises the keys to `engineID` (RFC 3414 2.6) and derives the
        // forms requests use. A Kul of another engine ID is localised again
        // from its Ku; without a Ku (a key set by KeyChange) it is dropped:
        // such a user needs new keys after an engine ID change.
        void regenerateKeys(const std::string& engineID);
    };
    using Items = std::vector<Item*>;

    // The agent opens the table on COMMUNITY_STORE_PATH; tests give their own path.
    explicit CommunityKeep(const std::string& storePath = snmp::COMMUNITY_STORE_PATH);
    ~CommunityKeep() override;

    // Loads the stored communities. Only a first start (no store of the
    // agent's existed: `agentStarted` false, and none of this table) gets
    // the default community; a store that exists without records stays
    // empty. A damaged store, or one missing after earlier starts, closes
    // the table.
    void init(bool agentStarted = false);

    // While the table is closed: the file that holds the damaged store, else
    // empty. The table then starts without communities, so no community or
    // user is served, and it stays so over restarts until a community is
    // added or the default restored. One line on stderr says so at start.
    const std::string& closedBy() const { return closedBy_; }

    // Lookups: the first record from the front of the table.
    const Item* findItem(uint32_t id) const;
    const Item* findItem(const std::string& name) const;

    // The SNMPv3 keys are localised to this engine ID (RFC 3414 2.6): every
    // record's keys are derived again, front to back, and those of records
    // added or changed later follow it. No keys are derived while it is empty.
    void setEngineID(const std::string& engineID);

    const Items& items() const { return table_; }

    // Platform commands.
    orla::message cmdGetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdAddObj(const orla::message& request) override;
    orla::message cmdRemoveObj(const orla::message& request, uint32_t id) override;
    orla::message getObject(uint32_t id) override;
    // The table's state: COMM_CLOSED while it is closed.
    orla::message cmdGet(const orla::message& request) override;
    // CMD_RESET_DEFAULT.
    orla::message cmdUnknown(const orla::message& request, uint32_t cmd) override;

  private:
    Items::iterator find(uint32_t id);
    void regenerateKeys(Item& item) const;
    void addDefault();
    orla::message resetDefault();
    void reopen();

    std::string engineID_;
    std::string closedBy_;
    orla::Store store_;
    orla::Allocator ids_;
    Items table_;
};
