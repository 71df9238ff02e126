#include "agent/usm_users.h"

#include <set>
#include <string>

#include "agent/drawn_table.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"

using snmp::ErrorStatus;

namespace {

const OID USM_USER_TABLE("1.3.6.1.6.3.15.1.2.2");

// usmUserEntry's columns (RFC 3414 5).
enum Column : uint32_t {
    SECURITY_NAME = 3,
    CLONE_FROM = 4,
    AUTH_PROTOCOL = 5,
    AUTH_KEY_CHANGE = 6,
    OWN_AUTH_KEY_CHANGE = 7,
    PRIV_PROTOCOL = 8,
    PRIV_KEY_CHANGE = 9,
    OWN_PRIV_KEY_CHANGE = 10,
    PUBLIC = 11,
    STORAGE_TYPE = 12,
    STATUS = 13,
};

// RFC 2579 RowStatus and StorageType.
constexpr int ACTIVE = 1;
constexpr int NOT_IN_SERVICE = 2;
constexpr int CREATE_AND_GO = 4;
constexpr int CREATE_AND_WAIT = 5;
constexpr int DESTROY = 6;
constexpr int NON_VOLATILE = 3;

constexpr size_t PUBLIC_MAX = 32;
// usmUserEngineID (RFC 3411 SnmpEngineID) and usmUserName (SnmpAdminString)
// have at most 32 octets.
constexpr uint32_t INDEX_STRING_MAX = 32;

// RFC 3414 and RFC 7860 protocol identities (snmpAuthProtocols,
// snmpPrivProtocols), and those net-snmp gives the AES-192 and AES-256
// variants of the drafts it implements.
OID authProtocolId(const CommunityKeep::Item& user) {
    if (user.security == 0 || usm::digestLength(user.authProtocol) == 0)
        return OID("1.3.6.1.6.3.10.1.1.1");  // usmNoAuthProtocol
    OID id("1.3.6.1.6.3.10.1.1");
    id += user.authProtocol + 2;  // MD5 .2, SHA .3, then SHA-224 to SHA-512 .4 to .7
    return id;
}

OID privProtocolId(const CommunityKeep::Item& user) {
    if (user.security < 2) return OID("1.3.6.1.6.3.10.1.2.1");  // usmNoPrivProtocol
    switch (user.privProtocol) {
        case usm::PRIV_CBC_DES:
            return OID("1.3.6.1.6.3.10.1.2.2");
        case usm::PRIV_CFB128_AES_128:
            return OID("1.3.6.1.6.3.10.1.2.4");
        case usm::PRIV_CFB128_AES_192:
            return OID("1.3.6.1.4.1.14832.1.3");
        case usm::PRIV_CFB128_AES_256:
            return OID("1.3.6.1.4.1.14832.1.4");
        case usm::PRIV_CFB128_AES_192_C:
            return OID("1.3.6.1.4.1.9.12.6.1.1");
        default:
            return OID("1.3.6.1.4.1.9.12.6.1.2");
    }
}

// The rows: users (a level above none) and the records made here that are
// not active yet.
bool isUserRow(const CommunityKeep::Item& item) {
    return item.security > 0 || !item.active();
}

// A row's name below the table: entry, column, usmUserEngineID,
// usmUserName (both strings with their length, RFC 2578 7.7).
struct RowName {
    uint32_t column = 0;
    std::string engineID;
    std::string user;
};

bool popString(const OID& name, size_t& at, std::string& value) {
    if (at >= name.size() || name[at] > INDEX_STRING_MAX || at + 1 + name[at] > name.size())
        return false;
    value.clear();
    for (size_t i = at + 1; i < at + 1 + name[at]; ++i) {
        if (name[i] > 255) return false;
        value += static_cast<char>(name[i]);
    }
    at += 1 + name[at];
    return true;
}

bool parseRowName(const OID& suffix, RowName& row) {
    if (suffix.size() < 4 || suffix[0] != 1) return false;
    row.column = suffix[1];
    size_t at = 2;
    return popString(suffix, at, row.engineID) && popString(suffix, at, row.user) &&
           at == suffix.size() && !row.user.empty();
}

// What a Set carries: read once, by type.
struct Value {
    uint32_t tag = 0;
    int number = 0;
    std::string octets;
    OID oid;
};

bool readValue(Context& ctx, Value& value) {
    InStream in(ctx.in.data(), ctx.in.size());
    value.tag = in.getType();
    switch (value.tag) {
        case ber::INTEGER:
            return in.getInt(value.number);
        case ber::OCTET_STRING:
            return in.getString(value.octets);
        case ber::OBJECT_IDENTIFIER:
            return in.getOID(value.oid);
        default:
            return true;
    }
}

orla::message keyField(orla::message change, orla::StringKey field,
                       const std::vector<unsigned char>& key) {
    change.insert(field, std::string(key.begin(), key.end()));
    return change;
}

class UsmUserTable : public DrawnTable {
  public:
    UsmUserTable(CommunityKeep& communities, const V3ServerInfo& engine)
        : DrawnTable([&communities, &engine](Cells& cells) { draw(communities, engine, cells); }),
          communities_(communities),
          engine_(engine) {}

    ErrorStatus testSet(Context& ctx) override {
        // Tests come before every commit of a request: a row created by
        // createAndGo is waiting for this request's clone only.
        goPending_.clear();
        RowName row;
        Value value;
        if (!parseRowName(ctx.setSuffix, row)) return ErrorStatus::NO_CREATION;
        if (!readValue(ctx, value)) return ErrorStatus::WRONG_ENCODING;
        const CommunityKeep::Item* user = communities_.findItem(row.user);
        switch (row.column) {
            case STATUS:
                return testStatus(row, value, user);
            case CLONE_FROM:
                if (value.tag != ber::OBJECT_IDENTIFIER) return ErrorStatus::WRONG_TYPE;
                return cloneSource(value.oid) ? ErrorStatus::NO_ERROR
                                              : ErrorStatus::INCONSISTENT_VALUE;
            case AUTH_KEY_CHANGE:
            case OWN_AUTH_KEY_CHANGE:
            case PRIV_KEY_CHANGE:
            case OWN_PRIV_KEY_CHANGE:
                return testKeyChange(ctx, row, value, user);
            case PUBLIC:
                if (value.tag != ber::OCTET_STRING) return ErrorStatus::WRONG_TYPE;
                if (value.octets.size() > PUBLIC_MAX) return ErrorStatus::WRONG_LENGTH;
                return rowOf(row, user) ? ErrorStatus::NO_ERROR : ErrorStatus::INCONSISTENT_NAME;
            default:
                return ErrorStatus::NOT_WRITABLE;
        }
    }

    ErrorStatus commitSet(Context& ctx, std::string& undo) override {
        RowName row;
        Value value;
        if (!parseRowName(ctx.setSuffix, row) || !readValue(ctx, value))
            return ErrorStatus::COMMIT_FAILED;
        const CommunityKeep::Item* user = communities_.findItem(row.user);
        switch (row.column) {
            case STATUS:
                return commitStatus(row, value.number, user, undo);
            case CLONE_FROM:
                return commitClone(row, value.oid, user, undo);
            case PUBLIC: {
                if (!rowOf(row, user)) return ErrorStatus::INCONSISTENT_NAME;
                orla::message change;
                change.insert(snmp::COMM_USM_PUBLIC, value.octets);
                return apply(*user, change, undo);
            }
            default:
                return commitKeyChange(row, value.octets, user, undo);
        }
    }

    bool undoSet(Context&, std::string const& undo) override {
        if (undo.empty()) return true;  // the commit changed nothing
        const orla::message previous(orla::flat_message{undo.substr(1)});
        const uint32_t id = previous.get(orla::OBJ_ID);
        switch (undo[0]) {
            case 'R':
                return !orla::isError(communities_.cmdRemoveObj(orla::message(), id));
            case 'A':
                return !orla::isError(communities_.cmdAddObj(previous));
            default:
                return !orla::isError(communities_.cmdSetObj(previous, id));
        }
    }

  private:
    static void draw(const CommunityKeep& communities, const V3ServerInfo& engine, Cells& cells) {
        for (const CommunityKeep::Item* user : communities.items()) {
            if (!isUserRow(*user)) continue;
            OID index;
            appendString(index, engine.engineID);
            appendString(index, user->name);
            addCell(cells, SECURITY_NAME, index, Cell::octets(user->name));
            addCell(cells, CLONE_FROM, index, Cell::identifier(OID{0, 0}));  // zeroDotZero
            addCell(cells, AUTH_PROTOCOL, index, Cell::identifier(authProtocolId(*user)));
            // RFC 3414 5: the KeyChange columns read as empty strings.
            for (uint32_t column : {AUTH_KEY_CHANGE, OWN_AUTH_KEY_CHANGE})
                addCell(cells, column, index, Cell::octets(""));
            addCell(cells, PRIV_PROTOCOL, index, Cell::identifier(privProtocolId(*user)));
            for (uint32_t column : {PRIV_KEY_CHANGE, OWN_PRIV_KEY_CHANGE})
                addCell(cells, column, index, Cell::octets(""));
            addCell(cells, PUBLIC, index, Cell::octets(user->usmPublic));
            addCell(cells, STORAGE_TYPE, index, Cell::integer(NON_VOLATILE));
            addCell(cells, STATUS, index, Cell::integer(static_cast<int>(user->usmStatus)));
        }
    }

    // The row's user, when the row is one of the agent's engine.
    const CommunityKeep::Item* rowOf(const RowName& row, const CommunityKeep::Item* user) const {
        if (row.engineID != engine_.engineID || user == nullptr || !isUserRow(*user)) return nullptr;
        return user;
    }

    // An active user to clone, from a pointer to any column of its row.
    const CommunityKeep::Item* cloneSource(const OID& pointer) const {
        if (pointer.size() <= USM_USER_TABLE.size() || !USM_USER_TABLE.isPrefixOf(pointer))
            return nullptr;
        RowName source;
        if (!parseRowName(pointer.suffix(USM_USER_TABLE.size()), source)) return nullptr;
        const CommunityKeep::Item* user = rowOf(source, communities_.findItem(source.user));
        return user != nullptr && user->active() && user->security > 0 ? user : nullptr;
    }

    ErrorStatus testStatus(const RowName& row, const Value& value,
                           const CommunityKeep::Item* user) const {
        if (value.tag != ber::INTEGER) return ErrorStatus::WRONG_TYPE;
        switch (value.number) {
            case CREATE_AND_GO:
            case CREATE_AND_WAIT:
                // A name in use, a community's too, is no new row.
                if (row.engineID != engine_.engineID) return ErrorStatus::NO_CREATION;
                return user == nullptr ? ErrorStatus::NO_ERROR : ErrorStatus::INCONSISTENT_VALUE;
            case ACTIVE:
            case NOT_IN_SERVICE:
                if (!rowOf(row, user)) return ErrorStatus::INCONSISTENT_VALUE;
                // A row never cloned has no keys to be used with.
                return user->usmStatus == snmp::USM_NOT_READY ? ErrorStatus::INCONSISTENT_VALUE
                                                              : ErrorStatus::NO_ERROR;
            case DESTROY:
                return user == nullptr || rowOf(row, user) ? ErrorStatus::NO_ERROR
                                                           : ErrorStatus::INCONSISTENT_VALUE;
            default:
                return ErrorStatus::WRONG_VALUE;
        }
    }

    ErrorStatus testKeyChange(const Context& ctx, const RowName& row, const Value& value,
                              const CommunityKeep::Item* user) const {
        if (value.tag != ber::OCTET_STRING) return ErrorStatus::WRONG_TYPE;
        if (!rowOf(row, user)) return ErrorStatus::INCONSISTENT_NAME;
        // RFC 3414 5: the Own columns change only the requester's own keys.
        const bool own = row.column == OWN_AUTH_KEY_CHANGE || row.column == OWN_PRIV_KEY_CHANGE;
        if (own && ctx.community != user->name) return ErrorStatus::NO_ACCESS;
        std::vector<unsigned char> next;
        return newKey(row.column, *user, value.octets, next) ? ErrorStatus::NO_ERROR
                                                              : ErrorStatus::WRONG_LENGTH;
    }

    // RFC 3414 5: the new key from the row's current one. The
    // authentication key is the localised key; the privacy key is the
    // cipher's, as long as the manager's KeyChange value says (at least what
    // the cipher takes).
    static bool newKey(uint32_t column, const CommunityKeep::Item& user, const std::string& value,
                       std::vector<unsigned char>& next) {
        if (column == AUTH_KEY_CHANGE || column == OWN_AUTH_KEY_CHANGE)
            return !user.authKul.empty() && usm::keyChange(user.authProtocol, user.authKul, value, next);
        const size_t length = value.size() / 2;
        if (length < usm::privKeyLength(user.privProtocol) || length > user.privKey.size())
            return false;
        const std::vector<unsigned char> current(user.privKey.begin(),
                                                 user.privKey.begin() + static_cast<long>(length));
        return usm::keyChange(user.authProtocol, current, value, next);
    }

    // Applies `change` to the user's record, keeping what was for undo.
    ErrorStatus apply(const CommunityKeep::Item& user, const orla::message& change,
                        std::string& undo) {
        const orla::message previous = user.getCfg();
        const orla::message reply = communities_.cmdSetObj(change, user.id);
        if (orla::isError(reply)) return ErrorStatus::INCONSISTENT_VALUE;
        undo = 'S' + previous.flatten().bytes;
        return ErrorStatus::NO_ERROR;
    }

    ErrorStatus commitStatus(const RowName& row, int status, const CommunityKeep::Item* user,
                             std::string& undo) {
        if (status == CREATE_AND_GO || status == CREATE_AND_WAIT) {
            // A user made here starts without keys and without rights: a
            // clone gives it the keys, a group or orla-cli its access.
            orla::message created;
            created.insert(snmp::COMM_NAME, row.user);
            created.insert(snmp::COMM_SECURITY, 0u);
            created.insert(snmp::COMM_USM_STATUS, snmp::USM_NOT_READY);
            const orla::message reply = communities_.cmdAddObj(created);
            if (orla::isError(reply)) return ErrorStatus::RESOURCE_UNAVAILABLE;
            orla::message added;
            added.insert(orla::OBJ_ID, reply.get(orla::OBJ_ID));
            undo = 'R' + added.flatten().bytes;
            if (status == CREATE_AND_GO) goPending_.insert(row.user);
            return ErrorStatus::NO_ERROR;
        }
        if (status == DESTROY) {
            if (user == nullptr) return ErrorStatus::NO_ERROR;
            const orla::message previous = user->getCfg();
            if (orla::isError(communities_.cmdRemoveObj(orla::message(), user->id)))
                return ErrorStatus::COMMIT_FAILED;
            undo = 'A' + previous.flatten().bytes;
            return ErrorStatus::NO_ERROR;
        }
        if (!rowOf(row, user)) return ErrorStatus::INCONSISTENT_VALUE;
        orla::message change;
        change.insert(snmp::COMM_USM_STATUS,
                      status == ACTIVE ? snmp::USM_ACTIVE : snmp::USM_NOT_IN_SERVICE);
        return apply(*user, change, undo);
    }

    // RFC 3414 5: a row without keys takes the clone's protocols and keys;
    // one that has keys ignores the clone.
    ErrorStatus commitClone(const RowName& row, const OID& pointer, const CommunityKeep::Item* user,
                            std::string& undo) {
        const CommunityKeep::Item* source = cloneSource(pointer);
        if (source == nullptr || !rowOf(row, user)) return ErrorStatus::INCONSISTENT_VALUE;
        if (user->hasAuthKey()) return ErrorStatus::NO_ERROR;
        orla::message change;
        change.insert(snmp::COMM_SECURITY, source->security);
        change.insert(snmp::COMM_AUTH_PROTOCOL, source->authProtocol);
        change.insert(snmp::COMM_PRIV_PROTOCOL, source->privProtocol);
        change = keyField(change, snmp::COMM_AUTH_KU, source->authKu);
        change = keyField(change, snmp::COMM_PRIV_KU, source->privKu);
        change = keyField(change, snmp::COMM_AUTH_KUL, source->authKul);
        change = keyField(change, snmp::COMM_PRIV_KUL, source->privKul);
        change.insert(snmp::COMM_KEY_ENGINE, source->keyEngineID);
        const bool go = goPending_.erase(row.user) > 0;
        change.insert(snmp::COMM_USM_STATUS, go ? snmp::USM_ACTIVE : snmp::USM_NOT_IN_SERVICE);
        return apply(*user, change, undo);
    }

    // The new key is stored before the Set is answered; it is localised
    // only (no Ku): after an engine ID change the user needs new keys.
    ErrorStatus commitKeyChange(const RowName& row, const std::string& value,
                                const CommunityKeep::Item* user, std::string& undo) {
        if (!rowOf(row, user)) return ErrorStatus::INCONSISTENT_NAME;
        std::vector<unsigned char> next;
        if (!newKey(row.column, *user, value, next)) return ErrorStatus::WRONG_LENGTH;
        const bool auth = row.column == AUTH_KEY_CHANGE || row.column == OWN_AUTH_KEY_CHANGE;
        orla::message change;
        change = keyField(change, auth ? snmp::COMM_AUTH_KUL : snmp::COMM_PRIV_KUL, next);
        change.insert(auth ? snmp::COMM_AUTH_KU : snmp::COMM_PRIV_KU, std::string());
        usm::wipe(next);
        return apply(*user, change, undo);
    }

    CommunityKeep& communities_;
    const V3ServerInfo& engine_;
    std::set<std::string> goPending_;
};

}  // namespace

Leaf* newUsmUserTable(CommunityKeep& communities, const V3ServerInfo& engine) {
    return new UsmUserTable(communities, engine);
}
