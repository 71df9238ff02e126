// The access table: its records and store, the views, groups and access
// entries compiled from them, and the choice of a request's rights.
#include "community/access_keep.h"

#include <algorithm>
#include <iostream>
#include <tuple>

#include "platform/orla/ids.h"
#include "platform/orla/printable.h"

using namespace snmp;

namespace {

constexpr uint32_t LOWEST_ID = 0;
constexpr uint32_t HIGHEST_ID = 0xfffffffe;
constexpr uint32_t NO_ID = 0xffffffff;
constexpr uint32_t PAGE_MAX = 20;
// RFC 2578 3.5.
constexpr size_t MAX_ARCS = 128;
// RFC 3411 SecurityLevel, as COMM_SECURITY counts it.
constexpr uint32_t LEVEL_MAX = 2;

const char* const STORE_FAILED = "cannot write the access store";

bool isAdminName(const std::string& name, bool emptyAllowed) {
    return name.size() <= ADMIN_NAME_MAX && (emptyAllowed || !name.empty());
}

// The subtree of a view family, or empty when the text is none.
OID subtreeOf(const std::string& dotted) {
    OID subtree(dotted);
    return subtree.size() <= MAX_ARCS ? subtree : OID();
}

View::Family familyOf(const orla::message& cfg) {
    const std::string mask = cfg.get(VIEW_MASK);
    return View::Family{subtreeOf(cfg.get(VIEW_SUBTREE)),
                        std::vector<uint8_t>(mask.begin(), mask.end()), !cfg.get(VIEW_EXCLUDED)};
}

// Whether two records of the same kind claim the same index.
bool sameIndex(const orla::message& a, const orla::message& b) {
    const uint32_t kind = a.get(ACCESS_KIND);
    if (kind != b.get(ACCESS_KIND)) return false;
    switch (kind) {
        case KIND_VIEW:
            return a.get(VIEW_NAME) == b.get(VIEW_NAME) &&
                   subtreeOf(a.get(VIEW_SUBTREE)) == subtreeOf(b.get(VIEW_SUBTREE));
        case KIND_GROUP:
            return a.get(SECURITY_MODEL) == b.get(SECURITY_MODEL) &&
                   a.get(SECURITY_NAME) == b.get(SECURITY_NAME);
        default:
            return a.get(GROUP_NAME) == b.get(GROUP_NAME) &&
                   a.get(CONTEXT_NAME) == b.get(CONTEXT_NAME) &&
                   a.get(SECURITY_MODEL) == b.get(SECURITY_MODEL) &&
                   a.get(SECURITY_LEVEL) == b.get(SECURITY_LEVEL);
    }
}

// Why a record may not be as `cfg` says, without looking at the others.
const char* invalidity(const orla::message& cfg) {
    switch (cfg.get(ACCESS_KIND)) {
        case KIND_VIEW:
            if (!isAdminName(cfg.get(VIEW_NAME), false)) return "view name: 1 to 32 characters";
            if (subtreeOf(cfg.get(VIEW_SUBTREE)).empty())
                return "view subtree: an OID of 1 to 128 arcs";
            if (cfg.size(VIEW_MASK) > VIEW_MASK_MAX) return "view mask: at most 16 octets";
            return nullptr;
        case KIND_GROUP:
            if (!isAdminName(cfg.get(GROUP_NAME), false)) return "group name: 1 to 32 characters";
            if (cfg.get(SECURITY_MODEL) < MODEL_V1 || cfg.get(SECURITY_MODEL) > MODEL_USM)
                return "security model: v1, v2c or usm";
            if (!isAdminName(cfg.get(SECURITY_NAME), false))
                return "security name: 1 to 32 characters";
            return nullptr;
        case KIND_ACCESS:
            if (!isAdminName(cfg.get(GROUP_NAME), false)) return "group name: 1 to 32 characters";
            if (!isAdminName(cfg.get(CONTEXT_NAME), true)) return "context: at most 32 characters";
            if (cfg.get(SECURITY_MODEL) > MODEL_USM) return "security model: any, v1, v2c or usm";
            if (cfg.get(SECURITY_LEVEL) > LEVEL_MAX) return "security level must be 0, 1 or 2";
            for (orla::StringKey view : {COMM_READ_VIEW, COMM_WRITE_VIEW, COMM_NOTIFY_VIEW}) {
                if (!isAdminName(cfg.get(view), true)) return "view name: at most 32 characters";
            }
            return nullptr;
        default:
            return "kind must be view, group or access";
    }
}

}  // namespace

namespace {

const View WHOLE_TREE({{OID(), {}, true},
                       {OID("1.3.6.1.6.3.16"), {}, false},
                       {OID("1.3.6.1.6.3.18"), {}, false}});
// What a request below authPriv may write without a view: not the users
// and their keys (SNMP-USER-BASED-SM-MIB usmUser), which only a request that
// cannot be read or forged on the way may change.
const View WHOLE_TREE_BUT_USERS({{OID(), {}, true},
                                 {OID("1.3.6.1.6.3.15.1.2"), {}, false},
                                 {OID("1.3.6.1.6.3.16"), {}, false},
                                 {OID("1.3.6.1.6.3.18"), {}, false}});

}  // namespace

const View& AccessKeep::wholeTree() {
    return WHOLE_TREE;
}

AccessKeep::AccessKeep(const std::string& storePath)
    : store_(storePath, 5), ids_(LOWEST_ID, HIGHEST_ID) {}

void AccessKeep::init() {
    for (const auto& [key, stored] : store_) {
        if (key > HIGHEST_ID) continue;
        if (const char* invalid = invalidity(stored)) {
            std::cerr << "access record " << key << " ignored: " << invalid << std::endl;
        }
        records_[key] = stored;
        ids_.allocate(key);
    }
    compile();
}

void AccessKeep::compile() {
    std::map<std::string, std::vector<View::Family>> families;
    members_.clear();
    entries_.clear();
    for (const auto& [id, cfg] : records_) {
        if (invalidity(cfg)) continue;
        switch (cfg.get(ACCESS_KIND)) {
            case KIND_VIEW:
                families[cfg.get(VIEW_NAME)].push_back(familyOf(cfg));
                break;
            case KIND_GROUP:
                members_.push_back(
                    {cfg.get(SECURITY_MODEL), cfg.get(SECURITY_NAME), cfg.get(GROUP_NAME)});
                break;
            default:
                entries_.push_back({cfg.get(GROUP_NAME), cfg.get(CONTEXT_NAME),
                                    cfg.get(CONTEXT_PREFIX), cfg.get(SECURITY_MODEL),
                                    cfg.get(SECURITY_LEVEL), cfg.get(COMM_READ_VIEW),
                                    cfg.get(COMM_WRITE_VIEW), cfg.get(COMM_NOTIFY_VIEW)});
        }
    }
    ++generation_;
    views_.clear();
    for (auto& [name, list] : families)
        views_.emplace_back(name, View(std::move(list)));
}

const View* AccessKeep::findView(std::string_view name) const {
    for (const auto& [viewName, view] : views_) {
        if (viewName.size() == name.size() && viewName == name) return &view;
    }
    return nullptr;
}

// RFC 3415 4 (vacmAccessTable): of the entries that fit, prefer one for
// this very security model, then one whose context matches exactly, then
// the longest context prefix, then the highest security level.
const AccessKeep::Entry* AccessKeep::selectEntry(const std::string& group, uint32_t model,
                                                 uint32_t level,
                                                 std::string_view context) const {
    const Entry* best = nullptr;
    auto rank = [&](const Entry& entry) {
        return std::make_tuple(entry.model == model, entry.context == context,
                               entry.context.size(), entry.level);
    };
    for (const Entry& entry : entries_) {
        if (entry.group != group || entry.level > level) continue;
        if (entry.model != MODEL_ANY && entry.model != model) continue;
        const bool contextFits = entry.prefix ? context.starts_with(entry.context)
                                              : context == entry.context;
        if (!contextFits) continue;
        if (best == nullptr || rank(entry) > rank(*best)) best = &entry;
    }
    return best;
}

AccessRights AccessKeep::rights(const CommunityKeep::Item& item, uint32_t model, uint32_t level,
                                std::string_view context, Operation operation) const {
    AccessRights rights;
    const Member* member = nullptr;
    for (const Member& candidate : members_) {
        if (candidate.model == model && candidate.securityName == item.name) {
            member = &candidate;
            break;
        }
    }
    std::string_view viewName;
    if (member != nullptr) {
        rights.refusalsUnauthorized = true;
        const Entry* entry = selectEntry(member->group, model, level, context);
        if (entry == nullptr) {
            rights.authorized = false;
            return rights;
        }
        viewName = operation == Operation::Read    ? entry->read
                   : operation == Operation::Write ? entry->write
                                                   : entry->notify;
        if (viewName.empty()) return rights;  // RFC 3415 3.2: noSuchView
    } else {
        // The community's own record is its one access entry: the level it
        // was made for, the context "", its rights over its views.
        if (level < item.security || !context.empty()) {
            rights.authorized = false;
            return rights;
        }
        const bool granted = operation == Operation::Read    ? item.readAccess
                             : operation == Operation::Write ? item.writeAccess
                                                             : true;
        if (!granted) return rights;
        viewName = operation == Operation::Read    ? item.readView
                   : operation == Operation::Write ? item.writeView
                                                   : item.notifyView;
        if (viewName.empty()) {
            const bool usersWritable = operation != Operation::Write || level == 2;
            rights.view = usersWritable ? &WHOLE_TREE : &WHOLE_TREE_BUT_USERS;
            return rights;
        }
        if (item.viewsGeneration != generation_) {
            item.views[0] = findView(item.readView);
            item.views[1] = findView(item.writeView);
            item.views[2] = findView(item.notifyView);
            item.viewsGeneration = generation_;
        }
        rights.view = item.views[static_cast<int>(operation)];
        // A view that does not exist (RFC 3415 3.2: noSuchView).
        if (rights.view == nullptr) rights.refusalsUnauthorized = true;
        return rights;
    }
    rights.view = findView(viewName);
    // A view that does not exist (RFC 3415 3.2: noSuchView).
    if (rights.view == nullptr) rights.refusalsUnauthorized = true;
    return rights;
}

const char* AccessKeep::refusal(const orla::message& cfg, uint32_t id) const {
    if (const char* invalid = invalidity(cfg)) return invalid;
    for (const auto& [otherId, other] : records_) {
        if (otherId != id && sameIndex(cfg, other)) return "such an entry exists already";
    }
    return nullptr;
}

// ---- Platform commands ----

orla::message AccessKeep::cmdGetObj(const orla::message&, uint32_t id) {
    const auto found = records_.find(id);
    if (found == records_.end()) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    orla::message cfg = found->second;
    cfg.insert(orla::OBJ_ID, id);
    return cfg;
}

orla::message AccessKeep::cmdSetObj(const orla::message& request, uint32_t id) {
    const auto found = records_.find(id);
    if (found == records_.end()) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    if (request.has(ACCESS_KIND) && request.get(ACCESS_KIND) != found->second.get(ACCESS_KIND))
        return orla::errorMsg(orla::ERR_BAD_VALUE, "the kind of an entry cannot change");
    orla::message changed = found->second;
    for (orla::StringKey key : {VIEW_NAME, VIEW_SUBTREE, VIEW_MASK, GROUP_NAME, SECURITY_NAME,
                                CONTEXT_NAME, COMM_READ_VIEW, COMM_WRITE_VIEW, COMM_NOTIFY_VIEW}) {
        if (request.has(key)) changed.insert(key, request.get(key));
    }
    for (orla::BoolKey key : {VIEW_EXCLUDED, CONTEXT_PREFIX}) {
        if (request.has(key)) changed.insert(key, request.get(key));
    }
    for (orla::U32Key key : {SECURITY_MODEL, SECURITY_LEVEL}) {
        if (request.has(key)) changed.insert(key, request.get(key));
    }
    if (const char* refused = refusal(changed, id))
        return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    orla::message undo = found->second;
    if (!store_.set(id, changed)) {
        store_.restore(id, &undo);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    found->second = changed;
    compile();
    notifyChange(id, request);
    undo.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
    sendUndo(request, undo, "changed snmp access entry");
    return orla::message();
}

orla::message AccessKeep::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    using Record = std::pair<const uint32_t, orla::message>;
    return orla::listPage(
        records_, startId, count, PAGE_MAX, [](const Record& record) { return record.first; },
        [](const Record& record) {
            orla::message cfg = record.second;
            cfg.insert(orla::OBJ_ID, record.first);
            return cfg;
        });
}

orla::message AccessKeep::cmdAddObj(const orla::message& request) {
    orla::message cfg = request;
    cfg.erase(orla::MSG_CMD.raw());
    cfg.erase(orla::OBJ_ID.raw());
    uint32_t id = NO_ID;
    if (request.has(orla::OBJ_ID)) {
        // The undo of a remove brings the entry back under its old id.
        id = request.get(orla::OBJ_ID);
        if (id > HIGHEST_ID || records_.count(id))
            return orla::errorMsg(orla::ERR_BAD_VALUE, "entry id not free");
    }
    // Only the fields of the record's kind are kept.
    orla::message record;
    record.insert(ACCESS_KIND, cfg.get(ACCESS_KIND));
    if (cfg.get(ACCESS_KIND) == KIND_VIEW) {
        record.insert(VIEW_NAME, cfg.get(VIEW_NAME));
        record.insert(VIEW_SUBTREE, cfg.get(VIEW_SUBTREE));
        record.insert(VIEW_MASK, cfg.get(VIEW_MASK));
        record.insert(VIEW_EXCLUDED, cfg.get(VIEW_EXCLUDED));
    } else if (cfg.get(ACCESS_KIND) == KIND_GROUP) {
        record.insert(GROUP_NAME, cfg.get(GROUP_NAME));
        record.insert(SECURITY_MODEL, cfg.get(SECURITY_MODEL));
        record.insert(SECURITY_NAME, cfg.get(SECURITY_NAME));
    } else {
        record.insert(GROUP_NAME, cfg.get(GROUP_NAME));
        record.insert(CONTEXT_NAME, cfg.get(CONTEXT_NAME));
        record.insert(CONTEXT_PREFIX, cfg.get(CONTEXT_PREFIX));
        record.insert(SECURITY_MODEL, cfg.get(SECURITY_MODEL));
        record.insert(SECURITY_LEVEL, cfg.get(SECURITY_LEVEL));
        record.insert(COMM_READ_VIEW, cfg.get(COMM_READ_VIEW));
        record.insert(COMM_WRITE_VIEW, cfg.get(COMM_WRITE_VIEW));
        record.insert(COMM_NOTIFY_VIEW, cfg.get(COMM_NOTIFY_VIEW));
    }
    if (const char* refused = refusal(record, id))
        return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    if (id == NO_ID) {
        id = ids_.allocate();
        if (id > HIGHEST_ID) return orla::errorMsg(orla::ERR_BAD_VALUE, "no free entry id");
    } else {
        ids_.allocate(id);
    }
    if (!store_.set(id, record)) {
        store_.restore(id, nullptr);
        ids_.free(id);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    records_[id] = record;
    compile();
    return added(request, id, "new snmp access entry created");
}

orla::message AccessKeep::cmdRemoveObj(const orla::message& request, uint32_t id) {
    const auto found = records_.find(id);
    if (found == records_.end()) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    orla::message undo = found->second;
    if (store_.find(id) != store_.end() && !store_.remove(id)) {
        store_.restore(id, &undo);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    records_.erase(found);
    ids_.free(id);
    compile();
    notifyChange(id, request);
    undo.insert(orla::OBJ_ID, id);
    undo.insert(orla::MSG_CMD, orla::CMD_ADDOBJ);
    sendUndo(request, undo, "snmp access entry removed");
    return orla::message();
}

orla::message AccessKeep::getObject(uint32_t id) {
    const auto found = records_.find(id);
    if (found != records_.end()) {
        orla::message cfg = found->second;
        cfg.insert(orla::OBJ_ID, id);
        return cfg;
    }
    orla::message removed;
    removed.insert(orla::OBJ_ID, id);
    removed.insert(orla::OBJ_REMOVED, 1u);
    return removed;
}
