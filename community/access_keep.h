// View-based access control (RFC 3415): MIB views, the groups that
// security names belong to, and the access entries that give each group
// its views per context, security model and level. The table is a platform
// handler with its own persistent store, like the community table, and the
// rights of every request are worked out from it (AccessKeep::rights).
//
// A community or user that no group names keeps the rights of its record
// (read and write over the whole tree, or over the views its record
// names): stores written before views existed mean what they meant.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "community/community_keep.h"
#include "community/view.h"
#include "platform/orla/allocator.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"
#include "platform/orla/store.h"

namespace snmp {

// Handler id of the access table in the agent's looper.
inline constexpr uint32_t ID_ACCESS = 4;
inline constexpr const char* ACCESS_STORE_PATH = "/orla/store/snmp-access";

// What a record of the table is: one family of a view
// (vacmViewTreeFamilyEntry), one member of a group
// (vacmSecurityToGroupEntry) or one access entry (vacmAccessEntry).
inline constexpr orla::U32Key ACCESS_KIND{60};
inline constexpr uint32_t KIND_VIEW = 1;
inline constexpr uint32_t KIND_GROUP = 2;
inline constexpr uint32_t KIND_ACCESS = 3;

// A view family: the view's name, the subtree in dotted decimal, the mask
// octets (empty: every arc must match) and whether the subtree is left out.
inline constexpr orla::StringKey VIEW_NAME{61};
inline constexpr orla::StringKey VIEW_SUBTREE{62};
inline constexpr orla::StringKey VIEW_MASK{63};
inline constexpr orla::BoolKey VIEW_EXCLUDED{64};
// A group member: GROUP_NAME, SECURITY_MODEL (1 SNMPv1, 2 SNMPv2c, 3 USM)
// and SECURITY_NAME (a community's or user's name, RFC 3584 5.2).
// An access entry: GROUP_NAME, CONTEXT_NAME with CONTEXT_PREFIX (the name
// is a prefix of the contexts it covers), SECURITY_MODEL (0: any),
// SECURITY_LEVEL (as COMM_SECURITY: 0 none, 1 auth, 2 priv, the least the
// request must have) and the three views COMM_READ_VIEW, COMM_WRITE_VIEW,
// COMM_NOTIFY_VIEW (empty: that operation is not allowed).
inline constexpr orla::StringKey GROUP_NAME{65};
inline constexpr orla::U32Key SECURITY_MODEL{66};
inline constexpr orla::StringKey SECURITY_NAME{67};
inline constexpr orla::StringKey CONTEXT_NAME{68};
inline constexpr orla::BoolKey CONTEXT_PREFIX{69};
inline constexpr orla::U32Key SECURITY_LEVEL{70};

// RFC 3411 SnmpSecurityModel.
inline constexpr uint32_t MODEL_ANY = 0;
inline constexpr uint32_t MODEL_V1 = 1;
inline constexpr uint32_t MODEL_V2C = 2;
inline constexpr uint32_t MODEL_USM = 3;

// SnmpAdminString names (view, group, security name, context) are at most
// 32 octets (RFC 3415 4 and 5); a view's subtree has at most 128 arcs
// and its mask 16 octets.
inline constexpr size_t ADMIN_NAME_MAX = 32;
inline constexpr size_t VIEW_MASK_MAX = 16;

}  // namespace snmp

// What access is asked for (RFC 3415 3.2 viewType): reading (Get, GetNext,
// GetBulk), writing (Set), or being sent a notification.
enum class Operation { Read, Write, Notify };

// The access a request has, once its community or user, security model,
// level, context and operation are known. The view lives as long as the
// table is not changed: for one request.
struct AccessRights {
    // False: the request gets authorizationError (RFC 3415 3.2: no group,
    // no access entry), whatever it asks.
    bool authorized = true;
    // The view of the operation; null: the operation is not allowed.
    const View* view = nullptr;
    // Whether a null view is refused with authorizationError (the access
    // entry of a group, or a view that does not exist, RFC 3415 3.2) rather
    // than as a community without that right always was.
    bool refusalsUnauthorized = false;
};

class AccessKeep : public orla::Handler {
  public:
    // Everything a community or user without a view may see: the whole
    // tree but the objects that show the communities and the access
    // configuration (SNMP-COMMUNITY-MIB, SNMP-VIEW-BASED-ACM-MIB), which
    // would reveal other communities' names to any reader; a view that
    // includes them shows them. Its writes reach the SNMPv3 users
    // (usmUser) only at authPriv.
    static const View& wholeTree();

    // The agent opens the table on ACCESS_STORE_PATH; tests give their own.
    explicit AccessKeep(const std::string& storePath = snmp::ACCESS_STORE_PATH);
    ~AccessKeep() override = default;

    // Loads the stored records. A record that is not valid is kept (it is
    // listed and can be removed) but plays no part, and one line says so.
    void init();

    // RFC 3415 3.2 for one request: `item` is the community or user the
    // request came with (its name is the security name), `model` one of
    // MODEL_V1, MODEL_V2C, MODEL_USM, `level` the request's security level
    // (0 to 2), `context` its context name, `operation` what it asks.
    AccessRights rights(const CommunityKeep::Item& item, uint32_t model, uint32_t level,
                        std::string_view context, Operation operation) const;

    // The view of that name, or null.
    const View* findView(std::string_view name) const;

    // Every record, by id, as stored.
    const std::map<uint32_t, orla::message>& records() const { return records_; }

    // Platform commands: records of any kind, told apart by ACCESS_KIND.
    orla::message cmdGetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override;
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;
    orla::message cmdAddObj(const orla::message& request) override;
    orla::message cmdRemoveObj(const orla::message& request, uint32_t id) override;
    orla::message getObject(uint32_t id) override;

  private:
    struct Member {
        uint32_t model;
        std::string securityName;
        std::string group;
    };
    struct Entry {
        std::string group;
        std::string context;
        bool prefix;
        uint32_t model;
        uint32_t level;
        std::string read, write, notify;
    };

    // Why `cfg` may not be (or replace) the record `id`, or null.
    const char* refusal(const orla::message& cfg, uint32_t id) const;
    // Builds the views, members and entries from the records.
    void compile();
    const Entry* selectEntry(const std::string& group, uint32_t model, uint32_t level,
                             std::string_view context) const;

    orla::Store store_;
    orla::Allocator ids_;
    // Counts the compilations, from 1: a record's views found in an
    // earlier one are looked up again.
    uint64_t generation_ = 1;
    std::map<uint32_t, orla::message> records_;
    // A handful of views, looked up at every request: a short list whose
    // names are compared length first beats a tree.
    std::vector<std::pair<std::string, View>> views_;
    std::vector<Member> members_;
    std::vector<Entry> entries_;
};
