#include "platform/ifaced/interface_service.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"

namespace ifaced {

namespace {

constexpr uint32_t FROM_THE_START = 0xffffffff;  // the handler's startId without OBJ_NEXT

// A counter the kernel reports lower than before has started over (a driver
// reset); in-unicast is left out, being a difference of two counters.
bool countersWentBack(const InterfaceCounters& before, const InterfaceCounters& now) {
    static constexpr uint64_t InterfaceCounters::*kernelCounters[] = {
        &InterfaceCounters::inOctets,        &InterfaceCounters::inMulticastPackets,
        &InterfaceCounters::inDiscards,      &InterfaceCounters::inErrors,
        &InterfaceCounters::inUnknownProtos, &InterfaceCounters::outOctets,
        &InterfaceCounters::outUcastPackets, &InterfaceCounters::outDiscards,
        &InterfaceCounters::outErrors,
    };
    return std::any_of(std::begin(kernelCounters), std::end(kernelCounters),
                       [&](auto counter) { return now.*counter < before.*counter; });
}

// RFC 2863 ifAlias: at most 64 octets; the service refuses a newline or a
// NUL, which no display of it could show.
const char* aliasProblem(const std::string& alias) {
    if (alias.size() > MAX_ALIAS_OCTETS) return "alias longer than 64 octets";
    if (alias.find_first_of(std::string_view("\n\0", 2)) != std::string::npos)
        return "alias with a newline or NUL";
    return nullptr;
}

}  // namespace

InterfaceService::InterfaceService(InterfaceReader& reader, const std::string& storePath,
                                   uint32_t pageSize)
    : reader_(reader),
      store_(storePath, 1),
      pageSize_(std::clamp<uint32_t>(pageSize, 1, MAX_PAGE_SIZE)) {
    // The store's records are hostile too: one of no valid name, or with an
    // alias the service would refuse, is left alone; of two for one name
    // the first counts.
    for (const auto& [key, record] : store_) {
        const std::string name = record.get(IF_NAME);
        if (!isInterfaceName(name) || aliasProblem(record.get(IF_ALIAS))) continue;
        settingKeys_.emplace(name, key);
    }
}

void InterfaceService::checkLinks() {
    std::vector<InterfaceInfo> links;
    // A failed dump leaves everything as the last one found it.
    if (!reader_.readAll(links)) return;
    const uint32_t now = orla::getJiffies();
    std::vector<uint32_t> changed;
    std::vector<uint32_t> gone;
    auto seen = links.begin();
    for (const auto& [index, entry] : tracked_) {
        while (seen != links.end() && seen->index < index)
            ++seen;
        if (seen == links.end() || seen->index != index) gone.push_back(index);
    }
    for (uint32_t index : gone)
        forget(index, now);
    snapshot_.clear();
    snapshot_.reserve(links.size());
    for (const InterfaceInfo& info : links)
        snapshot_.push_back(info.index);
    for (InterfaceInfo& info : links)
        update(std::move(info), true, now, changed);
    snapshotTaken_ = true;
    readBefore_ = true;
    for (uint32_t index : changed)
        notifyChange(index, orla::message());
}

void InterfaceService::linksAnnounced(const std::vector<LinkMessage>& links) {
    const uint32_t now = orla::getJiffies();
    std::vector<uint32_t> changed;
    for (const LinkMessage& link : links) {
        if (link.removed) {
            forget(link.info.index, now);
        } else {
            update(link.info, false, now, changed);
        }
    }
    for (uint32_t index : changed)
        notifyChange(index, orla::message());
}

void InterfaceService::forget(uint32_t index, uint32_t now) {
    // An index that comes back is a new interface.
    if (tracked_.erase(index) && readBefore_) tableLastChange_ = now;
}

void InterfaceService::update(InterfaceInfo info, bool dumped, uint32_t now,
                              std::vector<uint32_t>& changed) {
    auto [at, appeared] = tracked_.try_emplace(info.index);
    Tracked& entry = at->second;
    if (appeared) {
        // RFC 2863 ifLinkUpDownTrapEnable: loopback's status says little.
        entry.linkTrapEnabled = info.type != IANA_SOFTWARE_LOOPBACK;
        // Appeared since the first read: its state and counters are new.
        if (readBefore_) entry.lastChange = entry.discontinuity = tableLastChange_ = now;
    } else {
        if (entry.info.operStatus != info.operStatus) {
            entry.previous = entry.info.operStatus;
            entry.lastChange = now;
            changed.push_back(info.index);
        }
        if (countersWentBack(entry.info.counters, info.counters)) entry.discontinuity = now;
        if (!dumped) info.speedMbps = entry.info.speedMbps;
    }
    const bool named = appeared || entry.info.name != info.name;
    entry.info = std::move(info);
    if (named) applySettings(entry);
}

void InterfaceService::applySettings(Tracked& entry) {
    auto key = settingKeys_.find(entry.info.name);
    if (key == settingKeys_.end()) return;
    const orla::message record = store_.get(key->second);
    if (record.has(IF_LINK_TRAP_ENABLE)) entry.linkTrapEnabled = record.get(IF_LINK_TRAP_ENABLE);
    if (!record.has(IF_ALIAS)) return;
    const std::string alias = record.get(IF_ALIAS);
    if (alias == entry.info.alias) return;
    const int error = reader_.writeAlias(entry.info.index, alias);
    if (error == 0) {
        entry.info.alias = alias;
    } else {
        std::cerr << "orla-ifaced: cannot set the stored alias of " << entry.info.name << ": "
                  << std::strerror(error) << std::endl;
    }
}

orla::message InterfaceService::toObject(const Tracked& entry) const {
    const InterfaceInfo& info = entry.info;
    orla::message object;
    object.insert(orla::OBJ_ID, info.index);
    object.insert(IF_NAME, info.name);
    object.insert(IF_TYPE, info.type);
    object.insert(IF_MTU, info.mtu);
    object.insert(IF_SPEED_MBPS, info.speedMbps);
    object.insert(IF_HW_ADDRESS, info.hwAddress);
    object.insert(IF_ADMIN_STATUS, info.adminUp ? 1u : 2u);
    object.insert(IF_OPER_STATUS, static_cast<uint32_t>(info.operStatus));
    if (entry.previous)
        object.insert(IF_PREVIOUS_OPER_STATUS, static_cast<uint32_t>(*entry.previous));
    object.insert(IF_LAST_CHANGE, entry.lastChange);
    object.insert(IF_ALIAS, info.alias);
    object.insert(IF_PROMISCUOUS, info.promiscuous);
    object.insert(IF_CONNECTOR_PRESENT, info.connectorPresent);
    object.insert(IF_LINK_TRAP_ENABLE, entry.linkTrapEnabled);
    object.insert(IF_COUNTER_DISCONTINUITY, entry.discontinuity);
    const InterfaceCounters& counters = info.counters;
    insertCounter(object, IF_IN_OCTETS, counters.inOctets);
    insertCounter(object, IF_IN_UCAST_PACKETS, counters.inUcastPackets);
    insertCounter(object, IF_IN_MULTICAST_PACKETS, counters.inMulticastPackets);
    insertCounter(object, IF_IN_DISCARDS, counters.inDiscards);
    insertCounter(object, IF_IN_ERRORS, counters.inErrors);
    insertCounter(object, IF_IN_UNKNOWN_PROTOS, counters.inUnknownProtos);
    insertCounter(object, IF_OUT_OCTETS, counters.outOctets);
    insertCounter(object, IF_OUT_UCAST_PACKETS, counters.outUcastPackets);
    insertCounter(object, IF_OUT_DISCARDS, counters.outDiscards);
    insertCounter(object, IF_OUT_ERRORS, counters.outErrors);
    return object;
}

orla::message InterfaceService::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    if (startId == FROM_THE_START || !snapshotTaken_) checkLinks();
    uint32_t pageSize = count == 0 ? pageSize_ : std::min(count, pageSize_);
    uint32_t firstIndex = startId == FROM_THE_START ? 0 : startId;
    auto first = std::lower_bound(snapshot_.begin(), snapshot_.end(), firstIndex);

    orla::message reply;
    auto end = first + std::min<ptrdiff_t>(pageSize, snapshot_.end() - first);
    for (auto it = first; it != end; ++it) {
        // As last read or announced; one gone since the dump is left out.
        auto known = tracked_.find(*it);
        if (known != tracked_.end()) reply.append(orla::OBJ_LIST, toObject(known->second));
    }
    if (end != snapshot_.end()) reply.insert(orla::OBJ_NEXT, *end);
    return reply;
}

orla::message InterfaceService::cmdGetCount(const orla::message&) {
    // The notifications keep the interfaces known without a dump.
    if (!readBefore_) checkLinks();
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(tracked_.size()));
    reply.insert(IF_TABLE_LAST_CHANGE, tableLastChange_);
    return reply;
}

orla::message InterfaceService::cmdSetObj(const orla::message& request, uint32_t id) {
    // An interface newer than the last read is read first.
    if (id != 0 && !tracked_.count(id)) checkLinks();
    auto known = tracked_.find(id);
    if (known == tracked_.end()) {
        return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "no interface " + std::to_string(id));
    }
    Tracked& entry = known->second;
    const bool setsAlias = request.has(IF_ALIAS);
    const bool setsLinkTrap = request.has(IF_LINK_TRAP_ENABLE);
    if (!setsAlias && !setsLinkTrap)
        return orla::errorMsg(orla::ERR_MISSING_VALUE, "no alias or link trap setting");
    const std::string alias = request.get(IF_ALIAS);
    if (const char* problem = aliasProblem(alias))
        return orla::errorMsg(orla::ERR_BAD_VALUE, problem);

    const std::string previousAlias = entry.info.alias;
    if (setsAlias) {
        const int error = reader_.writeAlias(id, alias);
        if (error != 0) {
            // ENODEV: the interface went away after the look-up.
            const uint32_t code = error == ENODEV ? orla::ERR_NO_SUCH_OBJECT : orla::ERR_BAD_VALUE;
            return orla::errorMsg(
                code, "cannot set the alias of " + entry.info.name + ": " + std::strerror(error));
        }
    }
    // Stored under the interface's name before the answer, with what was
    // stored for it before.
    auto key = settingKeys_.find(entry.info.name);
    uint32_t storeKey = 1;
    orla::message record;
    if (key != settingKeys_.end()) {
        storeKey = key->second;
        record = store_.get(storeKey);
    } else {
        while (store_.find(storeKey) != store_.end())
            ++storeKey;
        record.insert(IF_NAME, entry.info.name);
    }
    if (setsAlias) record.insert(IF_ALIAS, alias);
    if (setsLinkTrap) record.insert(IF_LINK_TRAP_ENABLE, request.get(IF_LINK_TRAP_ENABLE));
    if (!store_.set(storeKey, record)) {
        if (setsAlias) reader_.writeAlias(id, previousAlias);
        return orla::errorMsg(orla::ERR_BAD_VALUE,
                              "cannot store the settings of " + entry.info.name);
    }
    settingKeys_.emplace(entry.info.name, storeKey);

    if (setsAlias) entry.info.alias = alias;
    if (setsLinkTrap) entry.linkTrapEnabled = request.get(IF_LINK_TRAP_ENABLE);
    return orla::message();
}

orla::message InterfaceService::getObject(uint32_t id) {
    auto known = tracked_.find(id);
    return known == tracked_.end() ? orla::message() : toObject(known->second);
}

}  // namespace ifaced
