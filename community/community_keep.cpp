// The community table: loading from its store, lookups and access checks, and
// the platform commands that list, read, add, change and remove communities.
#include "community/community_keep.h"

#include <algorithm>
#include <iostream>

#include "platform/orla/ids.h"
#include "platform/orla/printable.h"
#include "platform/snmp/usm.h"

using namespace snmp;

namespace {

constexpr uint32_t LOWEST_ID = 0;
constexpr uint32_t HIGHEST_ID = 0xfffffffe;
// 0xffffffff means "no community" in the trap settings and "from the first" in get-all.
constexpr uint32_t NO_ID = 0xffffffff;
// The store's record that the table is closed, under a key no community has.
constexpr uint32_t CLOSED_KEY = NO_ID;
// The closed record comes from the store: what of it is shown is bounded.
constexpr size_t CLOSED_TEXT_MAX = 4096;

const char* const STORE_FAILED = "cannot write the community store";
const char* const EMPTY_NAME = "empty script name";
const char* const INVALID_SECURITY = "security level must be 0, 1 or 2";
const char* const SHORT_AUTH_PASSWORD = "auth password must have at least 8 characters";
const char* const SHORT_PRIV_PASSWORD = "priv password must have at least 8 characters";

}  // namespace

CommunityKeep::CommunityKeep(const std::string& storePath)
    : store_(storePath, 5), ids_(LOWEST_ID, HIGHEST_ID) {}

CommunityKeep::~CommunityKeep() {
    for (Item* item : table_)
        delete item;
}

void CommunityKeep::init(bool agentStarted) {
    using Opened = orla::Store::Opened;
    const bool missing = store_.opened() == Opened::Missing && store_.setAside().empty();
    if (missing && !agentStarted) {
        addDefault();
        return;
    }
    // A lost table must not turn into the default community, open to every
    // source, nor drop the users that locked the agent down: serve none.
    if (store_.opened() != Opened::Loaded) {
        closedBy_ = store_.setAside().empty() ? store_.path() : store_.setAside();
        // Recorded, so that restarts stay closed. Not while the damaged file
        // is still at the store's path, which a write would replace; the next
        // start finds it damaged again.
        if (missing || !store_.setAside().empty()) {
            orla::message closed;
            closed.insert(COMM_CLOSED, closedBy_);
            store_.set(CLOSED_KEY, closed);
        }
    }
    std::vector<const Item*> withPasswords;
    for (const auto& [key, stored] : store_) {
        if (key == CLOSED_KEY) {
            closedBy_ = stored.get(COMM_CLOSED).substr(0, CLOSED_TEXT_MAX);
            if (closedBy_.empty()) closedBy_ = "(not recorded)";
            continue;
        }
        // Never a community id: such an entry was not written by this table.
        if (key > HIGHEST_ID) continue;
        // The key is the record's id, whatever OBJ_ID the message holds. A
        // message that lacks fields still gives a record (no name, no rights
        // by default) so that it is listed and can be removed, and its id is
        // not handed out a second time.
        Item* item = new Item;
        item->id = key;
        item->setCfg(stored);
        ids_.allocate(key);
        table_.push_back(item);
        if (!stored.get(COMM_AUTH_PASSWORD).empty() || !stored.get(COMM_PRIV_PASSWORD).empty())
            withPasswords.push_back(item);
    }
    // Records of an agent that kept passwords: from now on their keys are
    // stored instead (RFC 3414 11.2), and the passwords are gone.
    for (const Item* item : withPasswords)
        store_.set(item->id, item->getCfg());
    if (!closedBy_.empty()) {
        std::cerr << "communities closed, no community or user served: "
                  << (closedBy_ == store_.path() ? "store missing after earlier starts: "
                                                  : "damaged store kept as ")
                  << orla::printable(closedBy_)
                  << "; add a community or run orla-cli snmp community reset-default" << std::endl;
    }
}

void CommunityKeep::addDefault() {
    Item* item = new Item;
    item->id = 0;
    ids_.allocate(item->id);
    item->name = DEFAULT_COMMUNITY;
    item->readAccess = true;
    item->security = 0;
    // A failed write is reported by the store; the table still serves the
    // default, and the next start creates it again.
    store_.set(item->id, item->getCfg());
    table_.push_back(item);
}

// After an operator's add: the table serves what was configured anew.
void CommunityKeep::reopen() {
    if (closedBy_.empty()) return;
    // A record that cannot be removed keeps the table noted as closed; the
    // next add tries again.
    if (store_.find(CLOSED_KEY) != store_.end() && !store_.remove(CLOSED_KEY)) return;
    closedBy_.clear();
}

// ---- Lookups ----

CommunityKeep::Items::iterator CommunityKeep::find(uint32_t id) {
    return std::find_if(table_.begin(), table_.end(),
                        [id](const Item* item) { return item->id == id; });
}

const CommunityKeep::Item* CommunityKeep::findItem(uint32_t id) const {
    auto it = std::find_if(table_.begin(), table_.end(),
                           [id](const Item* item) { return item->id == id; });
    return it == table_.end() ? nullptr : *it;
}

const CommunityKeep::Item* CommunityKeep::findItem(const std::string& name) const {
    auto it = std::find_if(table_.begin(), table_.end(),
                           [&name](const Item* item) { return item->name == name; });
    return it == table_.end() ? nullptr : *it;
}

void CommunityKeep::setEngineID(const std::string& engineID) {
    engineID_ = engineID;
    for (Item* item : table_) {
        const std::string before = item->keyEngineID;
        regenerateKeys(*item);
        // The keys localised to the engine ID in force are stored with it.
        if (item->keyEngineID != before) store_.set(item->id, item->getCfg());
    }
}

void CommunityKeep::regenerateKeys(Item& item) const {
    if (!engineID_.empty()) item.regenerateKeys(engineID_);
}

namespace {

// Why a command may not leave a record as `item`, or null. Stored records
// load as they are: users made before these rules keep working.
const char* refusal(const CommunityKeep::Item& item) {
    // Levels above authPriv do not exist (RFC 3411 SecurityLevel).
    if (item.security > static_cast<uint32_t>(usm::AUTH_PRIV)) return INVALID_SECURITY;
    // Keys are made with the protocol's hash: one the agent does not know
    // makes none.
    if (item.security >= static_cast<uint32_t>(usm::AUTH_NO_PRIV) &&
        usm::digestLength(item.authProtocol) == 0)
        return "unknown auth protocol";
    // The keys the level uses (RFC 3414 11.2: from passwords of at least 8
    // characters, see passwordRefusal).
    if (item.security >= static_cast<uint32_t>(usm::AUTH_NO_PRIV) && !item.hasAuthKey())
        return SHORT_AUTH_PASSWORD;
    if (item.security == static_cast<uint32_t>(usm::AUTH_PRIV) && !item.hasPrivKey())
        return SHORT_PRIV_PASSWORD;
    // View names are SnmpAdminStrings (RFC 3415 5).
    for (const std::string* view : {&item.readView, &item.writeView, &item.notifyView}) {
        if (view->size() > 32) return "view name longer than 32 characters";
    }
    return nullptr;
}

// Why the passwords of a request may not become keys, or null. Empty
// passwords clear the keys, for a level that needs none.
const char* passwordRefusal(const orla::message& request) {
    const size_t auth = request.get(COMM_AUTH_PASSWORD).size();
    const size_t priv = request.get(COMM_PRIV_PASSWORD).size();
    if (auth > 0 && auth < PASSWORD_MIN_LENGTH) return SHORT_AUTH_PASSWORD;
    if (priv > 0 && priv < PASSWORD_MIN_LENGTH) return SHORT_PRIV_PASSWORD;
    return nullptr;
}

}  // namespace

// ---- Platform commands ----

orla::message CommunityKeep::cmdGetObj(const orla::message&, uint32_t id) {
    const Item* item = findItem(id);
    if (!item) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    return item->getCfg();
}

orla::message CommunityKeep::cmdSetObj(const orla::message& request, uint32_t id) {
    auto found = find(id);
    if (found == table_.end()) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    Item* item = *found;
    if (request.has(COMM_NAME)) {
        const std::string name = request.get(COMM_NAME);
        // Refused as at an add: an empty community would match an empty one
        // in a request.
        if (name.empty()) return orla::errorMsg(orla::ERR_BAD_VALUE, EMPTY_NAME);
        bool taken = std::any_of(table_.begin(), table_.end(), [&](const Item* other) {
            return other != item && other->name == name;
        });
        if (taken) {
            return orla::errorMsg(orla::ERR_BAD_VALUE, "community with such name already exists");
        }
    }
    if (const char* refused = passwordRefusal(request))
        return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    // The keys were made with the old protocol's hash; without the
    // passwords they cannot be made again.
    if (request.has(COMM_AUTH_PROTOCOL) && request.get(COMM_AUTH_PROTOCOL) != item->authProtocol &&
        ((item->hasAuthKey() && !request.has(COMM_AUTH_PASSWORD)) ||
         (item->hasPrivKey() && !request.has(COMM_PRIV_PASSWORD)))) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "a new auth protocol needs the passwords again");
    }
    const Item previous = *item;
    item->setCfg(request);
    if (const char* refused = refusal(*item)) {
        *item = previous;
        return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    }
    orla::message undo = previous.getCfg();
    regenerateKeys(*item);
    if (!store_.set(id, item->getCfg())) {
        *item = previous;
        store_.restore(id, &undo);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    notifyChange(id, request);
    undo.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
    sendUndo(request, undo, "changed snmp community settings");
    return orla::message();
}

orla::message CommunityKeep::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    return orla::listPage(
        table_, startId, count, COMMUNITY_PAGE_MAX, [](const Item* item) { return item->id; },
        [](const Item* item) { return item->getCfg(); });
}

orla::message CommunityKeep::cmdAddObj(const orla::message& request) {
    if (!request.has(COMM_NAME)) {
        return orla::errorMsg(orla::ERR_MISSING_VALUE, "missing community name");
    }
    const std::string name = request.get(COMM_NAME);
    if (name.empty()) return orla::errorMsg(orla::ERR_BAD_VALUE, EMPTY_NAME);
    if (findItem(name)) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "community with such name already exists");
    }
    if (const char* refused = passwordRefusal(request))
        return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    Item record;
    record.setCfg(request);
    if (const char* refused = refusal(record)) return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    // An add with OBJ_ID is the undo of a remove and brings the community back
    // under its old id. An id still in use is refused: two records under one
    // key would lose one of them from the store. 0xffffffff is never an id.
    uint32_t id = NO_ID;
    if (request.has(orla::OBJ_ID)) {
        id = request.get(orla::OBJ_ID);
        if (id > HIGHEST_ID) return orla::errorMsg(orla::ERR_BAD_VALUE, "invalid community id");
        if (findItem(id)) return orla::errorMsg(orla::ERR_BAD_VALUE, "community id already in use");
        ids_.allocate(id);
    } else {
        id = ids_.allocate();
        if (id > HIGHEST_ID) return orla::errorMsg(orla::ERR_BAD_VALUE, "no free community id");
    }
    Item* item = new Item(record);
    item->id = id;
    regenerateKeys(*item);
    if (!store_.set(id, item->getCfg())) {
        store_.restore(id, nullptr);
        ids_.free(id);
        delete item;
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    table_.push_back(item);
    reopen();
    return added(request, id, "new snmp community created");
}

orla::message CommunityKeep::cmdRemoveObj(const orla::message& request, uint32_t id) {
    auto it = find(id);
    if (it == table_.end()) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    const orla::message stored = (*it)->getCfg();
    if (store_.find(id) != store_.end() && !store_.remove(id)) {
        store_.restore(id, &stored);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    // The old OBJ_ID travels along, so the undo brings the community back under its id.
    orla::message undo = stored;
    undo.insert(orla::MSG_CMD, orla::CMD_ADDOBJ);
    Item* item = *it;
    table_.erase(it);
    ids_.free(id);
    delete item;
    notifyChange(id, request);
    sendUndo(request, undo, "snmp community removed");
    return orla::message();
}

orla::message CommunityKeep::getObject(uint32_t id) {
    const Item* item = findItem(id);
    if (item) return item->getCfg();
    orla::message removed;
    removed.insert(orla::OBJ_ID, id);
    removed.insert(orla::OBJ_REMOVED, 1u);
    return removed;
}

orla::message CommunityKeep::cmdGet(const orla::message&) {
    orla::message state;
    if (!closedBy_.empty()) state.insert(COMM_CLOSED, closedBy_);
    return state;
}

orla::message CommunityKeep::cmdUnknown(const orla::message& request, uint32_t cmd) {
    if (cmd == CMD_RESET_DEFAULT) return resetDefault();
    return orla::Handler::cmdUnknown(request, cmd);
}

// Through add or set, so that it is stored, notified and can be undone like
// any other change.
orla::message CommunityKeep::resetDefault() {
    orla::message cfg;
    cfg.insert(COMM_NAME, std::string(DEFAULT_COMMUNITY));
    cfg.insert(COMM_READ_ACCESS, true);
    cfg.insert(COMM_WRITE_ACCESS, false);
    cfg.insert(COMM_ADDRESS, 0u);
    cfg.insert(COMM_NETMASK, 0u);
    cfg.insert(COMM_SECURITY, 0u);
    cfg.insert(COMM_AUTH_PROTOCOL, 0u);
    cfg.insert(COMM_PRIV_PROTOCOL, 0u);
    cfg.insert(COMM_AUTH_PASSWORD, std::string());
    cfg.insert(COMM_PRIV_PASSWORD, std::string());
    cfg.insert(COMM_READ_VIEW, std::string());
    cfg.insert(COMM_WRITE_VIEW, std::string());
    cfg.insert(COMM_NOTIFY_VIEW, std::string());
    if (const Item* existing = findItem(DEFAULT_COMMUNITY)) {
        const uint32_t id = existing->id;
        orla::message reply = cmdSetObj(cfg, id);
        if (orla::isError(reply)) return reply;
        reopen();
        reply.insert(orla::OBJ_ID, id);
        return reply;
    }
    // Under its first-start id when that is free.
    if (!findItem(0u)) cfg.insert(orla::OBJ_ID, 0u);
    return cmdAddObj(cfg);
}
