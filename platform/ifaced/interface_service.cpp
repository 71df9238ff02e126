#include "platform/ifaced/interface_service.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/ifaced/interface_object.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"

namespace ifaced {

namespace {

constexpr uint32_t FROM_THE_START = 0xffffffff;  // the handler's startId without OBJ_NEXT

// A counter the kernel reports lower than before has started over (a driver
// reset); in-unicast is left out, being a difference of two reads.
bool countersWentBack(const InterfaceCounters& before, const InterfaceCounters& now) {
    static constexpr uint64_t InterfaceCounters::*kernelCounters[] = {
        &InterfaceCounters::inOctets,    &InterfaceCounters::inMulticastPackets,
        &InterfaceCounters::inDiscards,  &InterfaceCounters::inErrors,
        &InterfaceCounters::outOctets,   &InterfaceCounters::outUcastPackets,
        &InterfaceCounters::outDiscards, &InterfaceCounters::outErrors,
    };
    return std::any_of(std::begin(kernelCounters), std::end(kernelCounters),
                       [&](auto counter) { return now.*counter < before.*counter; });
}

}  // namespace

InterfaceService::InterfaceService(std::string sysfsRoot, uint32_t pageSize)
    : reader_(std::move(sysfsRoot)), pageSize_(std::clamp<uint32_t>(pageSize, 1, MAX_PAGE_SIZE)) {}

void InterfaceService::refresh() {
    snapshot_ = reader_.readAll();
    snapshotTaken_ = true;
    track(snapshot_, true);
}

void InterfaceService::checkLinks() {
    track(reader_.readLinks(), false);
}

void InterfaceService::track(const std::vector<InterfaceInfo>& seen, bool full) {
    const uint32_t now = orla::getJiffies();
    std::map<uint32_t, Tracked> next;
    std::vector<uint32_t> changed;
    for (const InterfaceInfo& info : seen) {
        auto known = tracked_.find(info.index);
        Tracked entry;
        if (known != tracked_.end()) {
            entry = std::move(known->second);
            if (entry.status != info.operStatus) {
                entry.previous = entry.status;
                entry.lastChange = now;
                changed.push_back(info.index);
            }
        } else {
            // RFC 2863 ifLinkUpDownTrapEnable: loopback's status says little.
            entry.linkTrapEnabled = info.type != IANA_SOFTWARE_LOOPBACK;
            // Appeared since the last read: its state and counters are new.
            if (readBefore_) entry.lastChange = entry.discontinuity = now;
        }
        entry.name = info.name;
        entry.status = info.operStatus;
        if (full) {
            if (entry.counters && countersWentBack(*entry.counters, info.counters))
                entry.discontinuity = now;
            entry.counters = info.counters;
        }
        next.emplace(info.index, std::move(entry));
    }
    // Interfaces that went away are forgotten; an index that comes back is new.
    const bool cameOrWent =
        next.size() != tracked_.size() ||
        !std::equal(next.begin(), next.end(), tracked_.begin(),
                    [](const auto& a, const auto& b) { return a.first == b.first; });
    if (readBefore_ && cameOrWent) tableLastChange_ = now;
    tracked_ = std::move(next);
    readBefore_ = true;
    for (uint32_t index : changed)
        notifyChange(index, orla::message());
}

orla::message InterfaceService::toObject(const InterfaceInfo& info) const {
    orla::message object;
    object.insert(orla::OBJ_ID, info.index);
    object.insert(IF_NAME, info.name);
    object.insert(IF_TYPE, info.type);
    object.insert(IF_MTU, info.mtu);
    object.insert(IF_SPEED_MBPS, info.speedMbps);
    object.insert(IF_HW_ADDRESS, info.hwAddress);
    object.insert(IF_ADMIN_STATUS, info.adminUp ? 1u : 2u);
    auto known = tracked_.find(info.index);
    const Tracked* tracked = known == tracked_.end() ? nullptr : &known->second;
    // The status as last tracked, so that a notification's previous and
    // current status are the change it announces.
    object.insert(IF_OPER_STATUS,
                  static_cast<uint32_t>(tracked ? tracked->status : info.operStatus));
    if (tracked && tracked->previous)
        object.insert(IF_PREVIOUS_OPER_STATUS, static_cast<uint32_t>(*tracked->previous));
    object.insert(IF_LAST_CHANGE, tracked ? tracked->lastChange : 0);
    object.insert(IF_ALIAS, info.alias);
    object.insert(IF_PROMISCUOUS, info.promiscuous);
    object.insert(IF_CONNECTOR_PRESENT, info.connectorPresent);
    object.insert(IF_LINK_TRAP_ENABLE,
                  tracked ? tracked->linkTrapEnabled : info.type != IANA_SOFTWARE_LOOPBACK);
    object.insert(IF_COUNTER_DISCONTINUITY, tracked ? tracked->discontinuity : 0);
    const InterfaceCounters& counters = info.counters;
    insertCounter(object, IF_IN_OCTETS, counters.inOctets);
    insertCounter(object, IF_IN_UCAST_PACKETS, counters.inUcastPackets);
    insertCounter(object, IF_IN_MULTICAST_PACKETS, counters.inMulticastPackets);
    insertCounter(object, IF_IN_DISCARDS, counters.inDiscards);
    insertCounter(object, IF_IN_ERRORS, counters.inErrors);
    insertCounter(object, IF_OUT_OCTETS, counters.outOctets);
    insertCounter(object, IF_OUT_UCAST_PACKETS, counters.outUcastPackets);
    insertCounter(object, IF_OUT_DISCARDS, counters.outDiscards);
    insertCounter(object, IF_OUT_ERRORS, counters.outErrors);
    return object;
}

orla::message InterfaceService::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    if (startId == FROM_THE_START || !snapshotTaken_) refresh();
    uint32_t pageSize = count == 0 ? pageSize_ : std::min(count, pageSize_);
    uint32_t firstIndex = startId == FROM_THE_START ? 0 : startId;
    auto first = std::lower_bound(
        snapshot_.begin(), snapshot_.end(), firstIndex,
        [](const InterfaceInfo& info, uint32_t index) { return info.index < index; });

    orla::message reply;
    auto end = first + std::min<ptrdiff_t>(pageSize, snapshot_.end() - first);
    for (auto it = first; it != end; ++it)
        reply.append(orla::OBJ_LIST, toObject(*it));
    if (end != snapshot_.end()) reply.insert(orla::OBJ_NEXT, end->index);
    return reply;
}

orla::message InterfaceService::cmdGetCount(const orla::message&) {
    orla::message reply;
    reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(reader_.count()));
    reply.insert(IF_TABLE_LAST_CHANGE, tableLastChange_);
    return reply;
}

orla::message InterfaceService::cmdSetObj(const orla::message& request, uint32_t id) {
    std::string name = id == 0 ? std::string() : reader_.nameOf(id);
    if (name.empty()) {
        return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "no interface " + std::to_string(id));
    }
    const bool setsAlias = request.has(IF_ALIAS);
    if (!setsAlias && !request.has(IF_LINK_TRAP_ENABLE))
        return orla::errorMsg(orla::ERR_MISSING_VALUE, "no alias or link trap setting");
    std::string alias = request.get(IF_ALIAS);
    if (alias.size() > MAX_ALIAS_OCTETS) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "alias longer than 64 octets");
    }
    if (alias.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "alias with a newline or NUL");
    }
    // An interface newer than the last read is remembered first.
    if (!tracked_.count(id)) checkLinks();
    auto known = tracked_.find(id);
    if (known == tracked_.end()) {
        return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "no interface " + std::to_string(id));
    }
    if (setsAlias) {
        int error = reader_.writeAlias(name, alias);
        if (error != 0) {
            // ENOENT, ENODEV: the interface went away after the look-up.
            uint32_t code =
                error == ENOENT || error == ENODEV ? orla::ERR_NO_SUCH_OBJECT : orla::ERR_BAD_VALUE;
            return orla::errorMsg(code, "cannot write " + reader_.attributePath(name, "ifalias") +
                                            ": " + std::strerror(error));
        }
        for (InterfaceInfo& info : snapshot_) {
            if (info.index == id) info.alias = alias;
        }
    }
    if (request.has(IF_LINK_TRAP_ENABLE))
        known->second.linkTrapEnabled = request.get(IF_LINK_TRAP_ENABLE);
    return orla::message();
}

orla::message InterfaceService::getObject(uint32_t id) {
    auto known = tracked_.find(id);
    if (known == tracked_.end()) return orla::message();
    std::optional<InterfaceInfo> info = reader_.readOne(known->second.name, id);
    return info ? toObject(*info) : orla::message();
}

}  // namespace ifaced
