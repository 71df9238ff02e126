// The target table: its records, the store, and the platform commands.
#include "trap/notify_targets.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "platform/orla/ids.h"

using namespace snmp;

namespace {

constexpr uint32_t LOWEST_ID = 1;  // 0 is the settings' sink
constexpr uint32_t HIGHEST_ID = 0xfffffffe;

const char* const STORE_FAILED = "cannot write the target store";
const char* const SETTINGS_TARGET =
    "target 0 is the trap-target setting: change it with orla-cli snmp set";

// Why a command may not leave a target as `target`, or null. Stored targets
// load as they are; one that does not parse is listed and never sent to.
const char* refusal(const NotifyTarget& target) {
    if (!target.endpoint()) return "address must be an IPv4 or IPv6 address";
    if (target.port == 0 || target.port > 65535) return "port must be 1 to 65535";
    if (target.version != 0 && target.version != 1 && target.version != 3)
        return "version must be 1, 2c or 3";
    if (target.community == 0xffffffff) return "missing community";
    // RFC 3416 4.2.7: the InformRequest-PDU is SNMPv2's.
    if (target.inform && target.version == 0) return "SNMPv1 has no inform";
    if (target.timeoutMs < TARGET_TIMEOUT_MIN_MS || target.timeoutMs > TARGET_TIMEOUT_MAX_MS)
        return "timeout must be 10 to 600000 ms";
    if (target.retries > TARGET_RETRIES_MAX) return "retries must be 0 to 20";
    return nullptr;
}

}  // namespace

bool Endpoint::isIPv4() const {
    in6_addr a;
    std::memcpy(&a, address.data(), sizeof a);
    return IN6_IS_ADDR_V4MAPPED(&a);
}

std::optional<Endpoint> parseEndpoint(const std::string& address, uint16_t port) {
    Endpoint endpoint;
    endpoint.port = port;
    in_addr v4;
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        endpoint.address[10] = 0xff;
        endpoint.address[11] = 0xff;
        std::memcpy(endpoint.address.data() + 12, &v4, sizeof v4);
        return endpoint;
    }
    in6_addr v6;
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return std::nullopt;
    std::memcpy(endpoint.address.data(), &v6, sizeof v6);
    return endpoint;
}

std::optional<Endpoint> endpointOf(std::span<const unsigned char> sockaddrBytes) {
    sa_family_t family;
    if (sockaddrBytes.size() < sizeof family) return std::nullopt;
    std::memcpy(&family, sockaddrBytes.data(), sizeof family);
    Endpoint endpoint;
    if (family == AF_INET && sockaddrBytes.size() >= sizeof(sockaddr_in)) {
        sockaddr_in v4;
        std::memcpy(&v4, sockaddrBytes.data(), sizeof v4);
        endpoint.address[10] = 0xff;
        endpoint.address[11] = 0xff;
        std::memcpy(endpoint.address.data() + 12, &v4.sin_addr, 4);
        endpoint.port = ntohs(v4.sin_port);
        return endpoint;
    }
    if (family == AF_INET6 && sockaddrBytes.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 v6;
        std::memcpy(&v6, sockaddrBytes.data(), sizeof v6);
        std::memcpy(endpoint.address.data(), &v6.sin6_addr, 16);
        endpoint.port = ntohs(v6.sin6_port);
        return endpoint;
    }
    return std::nullopt;
}

bool NotifyTarget::receives(std::optional<uint32_t> generator) const {
    if (!generator || generators.empty()) return true;
    return std::find(generators.begin(), generators.end(), *generator) != generators.end();
}

std::optional<Endpoint> NotifyTarget::endpoint() const {
    if (port == 0 || port > 65535) return std::nullopt;
    return parseEndpoint(address, static_cast<uint16_t>(port));
}

orla::message NotifyTarget::getCfg() const {
    orla::message cfg;
    cfg.insert(orla::OBJ_ID, id);
    cfg.insert(TARGET_ADDRESS, address);
    cfg.insert(TARGET_PORT, port);
    cfg.insert(TARGET_VERSION, version);
    cfg.insert(TARGET_COMMUNITY, community);
    cfg.insert(TARGET_INFORM, inform);
    cfg.insert(TARGET_TIMEOUT_MS, timeoutMs);
    cfg.insert(TARGET_RETRIES, retries);
    cfg.insert(TARGET_GENERATORS, generators);
    return cfg;
}

void NotifyTarget::setCfg(const orla::message& cfg) {
    address = cfg.get(TARGET_ADDRESS, address);
    port = cfg.get(TARGET_PORT, port);
    version = cfg.get(TARGET_VERSION, version);
    community = cfg.get(TARGET_COMMUNITY, community);
    inform = cfg.get(TARGET_INFORM, inform);
    timeoutMs = cfg.get(TARGET_TIMEOUT_MS, timeoutMs);
    retries = cfg.get(TARGET_RETRIES, retries);
    if (cfg.has(TARGET_GENERATORS)) generators = cfg.get(TARGET_GENERATORS);
}

NotifyTargets::NotifyTargets(SettingsTarget settingsTarget, const std::string& storePath)
    : settingsTarget_(std::move(settingsTarget)),
      store_(storePath, 5),
      ids_(LOWEST_ID, HIGHEST_ID) {
    for (const auto& [key, stored] : store_) {
        // Never a table id: not written by this table.
        if (key < LOWEST_ID || key > HIGHEST_ID) continue;
        NotifyTarget target;
        target.setCfg(stored);
        target.id = key;
        ids_.allocate(key);
        table_.push_back(std::move(target));
    }
}

std::vector<NotifyTarget> NotifyTargets::targets() const {
    std::vector<NotifyTarget> all;
    if (std::optional<NotifyTarget> first = settingsTarget_()) {
        first->id = SETTINGS_TARGET_ID;
        all.push_back(std::move(*first));
    }
    all.insert(all.end(), table_.begin(), table_.end());
    return all;
}

NotifyTarget::Counters& NotifyTargets::counters(uint32_t id) {
    return counters_[id];
}

NotifyTarget* NotifyTargets::find(uint32_t id) {
    auto it = std::find_if(table_.begin(), table_.end(),
                           [id](const NotifyTarget& target) { return target.id == id; });
    return it == table_.end() ? nullptr : &*it;
}

orla::message NotifyTargets::shown(const NotifyTarget& target) {
    orla::message cfg = target.getCfg();
    const NotifyTarget::Counters& counted = counters(target.id);
    cfg.insert(TARGET_SENT, counted.sent);
    cfg.insert(TARGET_ACKNOWLEDGED, counted.acknowledged);
    cfg.insert(TARGET_DROPPED, counted.dropped);
    if (target.id == SETTINGS_TARGET_ID) cfg.insert(TARGET_FROM_SETTINGS, true);
    return cfg;
}

orla::message NotifyTargets::cmdGetObj(const orla::message&, uint32_t id) {
    for (const NotifyTarget& target : targets()) {
        if (target.id == id) return shown(target);
    }
    return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
}

orla::message NotifyTargets::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    return orla::listPage(
        targets(), startId, count, TARGET_PAGE_MAX,
        [](const NotifyTarget& target) { return target.id; },
        [this](const NotifyTarget& target) { return shown(target); });
}

orla::message NotifyTargets::cmdAddObj(const orla::message& request) {
    if (!request.has(TARGET_ADDRESS))
        return orla::errorMsg(orla::ERR_MISSING_VALUE, "missing address");
    NotifyTarget target;
    target.setCfg(request);
    if (const char* refused = refusal(target)) return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    // An add with OBJ_ID is the undo of a remove: the target comes back
    // under its old id, which must be free.
    uint32_t id = orla::Allocator::NO_ID;
    if (request.has(orla::OBJ_ID)) {
        id = request.get(orla::OBJ_ID);
        if (id < LOWEST_ID || id > HIGHEST_ID)
            return orla::errorMsg(orla::ERR_BAD_VALUE, "invalid target id");
        if (find(id)) return orla::errorMsg(orla::ERR_BAD_VALUE, "target id already in use");
        ids_.allocate(id);
    } else {
        id = ids_.allocate();
        if (id == orla::Allocator::NO_ID)
            return orla::errorMsg(orla::ERR_BAD_VALUE, "no free target id");
    }
    target.id = id;
    if (!store_.set(id, target.getCfg())) {
        ids_.free(id);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    auto at = std::find_if(table_.begin(), table_.end(),
                           [id](const NotifyTarget& other) { return other.id > id; });
    table_.insert(at, target);
    counters(id) = {};
    return added(request, id, "new snmp notification target created");
}

orla::message NotifyTargets::cmdSetObj(const orla::message& request, uint32_t id) {
    if (id == SETTINGS_TARGET_ID) return orla::errorMsg(orla::ERR_BAD_VALUE, SETTINGS_TARGET);
    NotifyTarget* target = find(id);
    if (!target) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    NotifyTarget changed = *target;
    changed.setCfg(request);
    if (const char* refused = refusal(changed)) return orla::errorMsg(orla::ERR_BAD_VALUE, refused);
    orla::message undo = target->getCfg();
    if (!store_.set(id, changed.getCfg())) {
        store_.set(id, undo);
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    *target = changed;
    notifyChange(id, request);
    undo.insert(orla::MSG_CMD, orla::CMD_SETOBJ);
    sendUndo(request, undo, "changed snmp notification target");
    return orla::message();
}

orla::message NotifyTargets::cmdRemoveObj(const orla::message& request, uint32_t id) {
    if (id == SETTINGS_TARGET_ID) return orla::errorMsg(orla::ERR_BAD_VALUE, SETTINGS_TARGET);
    NotifyTarget* target = find(id);
    if (!target) return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "");
    // The old OBJ_ID travels along, so the undo brings the target back under its id.
    orla::message undo = target->getCfg();
    if (store_.find(id) != store_.end() && !store_.remove(id)) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, STORE_FAILED);
    }
    undo.insert(orla::MSG_CMD, orla::CMD_ADDOBJ);
    table_.erase(table_.begin() + (target - table_.data()));
    ids_.free(id);
    notifyChange(id, request);
    sendUndo(request, undo, "snmp notification target removed");
    return orla::message();
}

orla::message NotifyTargets::getObject(uint32_t id) {
    for (const NotifyTarget& target : targets()) {
        if (target.id == id) return shown(target);
    }
    orla::message removed;
    removed.insert(orla::OBJ_ID, id);
    removed.insert(orla::OBJ_REMOVED, 1u);
    return removed;
}
