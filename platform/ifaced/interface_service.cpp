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

}  // namespace

InterfaceService::InterfaceService(std::string sysfsRoot, uint32_t pageSize)
    : reader_(std::move(sysfsRoot)), pageSize_(std::clamp<uint32_t>(pageSize, 1, MAX_PAGE_SIZE)) {}

void InterfaceService::refresh() {
    snapshot_ = reader_.readAll();
    uint32_t now = orla::getJiffies();
    std::map<uint32_t, OperHistory> seen;
    for (const InterfaceInfo& info : snapshot_) {
        auto previous = history_.find(info.index);
        OperHistory entry{info.operStatus, 0};
        if (previous != history_.end()) {
            entry.lastChange =
                previous->second.status == info.operStatus ? previous->second.lastChange : now;
        } else if (readBefore_) {
            // Appeared since the last read: its state is new to this service.
            entry.lastChange = now;
        }
        seen.emplace(info.index, entry);
    }
    // Interfaces that went away are forgotten; an index that comes back is new.
    history_ = std::move(seen);
    readBefore_ = true;
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
    object.insert(IF_OPER_STATUS, static_cast<uint32_t>(info.operStatus));
    auto history = history_.find(info.index);
    object.insert(IF_LAST_CHANGE, history == history_.end() ? 0 : history->second.lastChange);
    object.insert(IF_ALIAS, info.alias);
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
    if (startId == FROM_THE_START || !readBefore_) refresh();
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
    return reply;
}

orla::message InterfaceService::cmdSetObj(const orla::message& request, uint32_t id) {
    std::string name = id == 0 ? std::string() : reader_.nameOf(id);
    if (name.empty()) {
        return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "no interface " + std::to_string(id));
    }
    if (!request.has(IF_ALIAS)) return orla::errorMsg(orla::ERR_MISSING_VALUE, "no alias");
    std::string alias = request.get(IF_ALIAS);
    if (alias.size() > MAX_ALIAS_OCTETS) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "alias longer than 64 octets");
    }
    if (alias.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) {
        return orla::errorMsg(orla::ERR_BAD_VALUE, "alias with a newline or NUL");
    }
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
    return orla::message();
}

}  // namespace ifaced
