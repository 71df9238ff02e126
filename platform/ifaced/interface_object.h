// The interface service's objects: what orla-ifaced serves at handler path
// [INTERFACE_SERVICE, INTERFACE_HANDLER], one object per network interface,
// and what its clients (the IF-MIB plug-in, orla-cli) read.
//
// Commands (platform/orla/ids.h):
// - CMD_GETALL: the objects in ascending interface index, in pages
//   (OBJ_LIST, with OBJ_NEXT when more follow; OBJ_NEXT is the index to
//   start the next page at).
// - CMD_GETCOUNT: OBJ_COUNT, the number of interfaces, and
//   IF_TABLE_LAST_CHANGE.
// - CMD_SETOBJ: OBJ_ID names the interface; IF_ALIAS becomes the kernel's
//   interface alias, IF_LINK_TRAP_ENABLE the service's own setting. The two
//   writable fields; a request carries one or both. Both are stored by
//   interface name before the reply, and applied again to an interface of
//   that name when the service starts or the interface appears.
// - CMD_SUBSCRIBE: a subscriber gets CMD_NOTIFY with the interface's object
//   whenever its operational status changes (IF_PREVIOUS_OPER_STATUS and
//   IF_OPER_STATUS tell from what to what). The service follows the
//   kernel's link notifications for this; it does not wait for a get-all.
//
// Every object carries all fields below. 64-bit counters travel as a U32
// array of two elements, the high 32 bits first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/orla/message.h"

namespace ifaced {

inline constexpr uint32_t INTERFACE_SERVICE = 40;
inline constexpr uint32_t INTERFACE_HANDLER = 1;

// OBJ_ID: the kernel's interface index (ifindex), never 0.
inline constexpr orla::StringKey IF_NAME{1};        // "eth0"
inline constexpr orla::U32Key IF_TYPE{2};           // IANAifType (RFC 2863 ifType)
inline constexpr orla::U32Key IF_MTU{3};            // octets
inline constexpr orla::U32Key IF_SPEED_MBPS{4};     // 0 when the kernel does not know it
inline constexpr orla::StringKey IF_HW_ADDRESS{5};  // raw octets, empty when none
inline constexpr orla::U32Key IF_ADMIN_STATUS{6};   // RFC 2863 ifAdminStatus: 1 up, 2 down
inline constexpr orla::U32Key IF_OPER_STATUS{
    7};  // RFC 2863 ifOperStatus, 1 up ... 7 lowerLayerDown
// orla::getJiffies() when the service saw the operational status change last,
// or 0 when it has not changed since the service started.
inline constexpr orla::U32Key IF_LAST_CHANGE{8};
inline constexpr orla::StringKey IF_ALIAS{9};             // at most 64 octets (RFC 2863 ifAlias)
inline constexpr orla::BoolKey IF_PROMISCUOUS{10};        // IFF_PROMISC
inline constexpr orla::BoolKey IF_CONNECTOR_PRESENT{11};  // hardware behind the interface
// Whether linkUp/linkDown traps are wanted for the interface (RFC 2863
// ifLinkUpDownTrapEnable): true for every interface but loopback unless a
// CMD_SETOBJ stored another for the interface's name.
inline constexpr orla::BoolKey IF_LINK_TRAP_ENABLE{12};
// orla::getJiffies() when the interface's counters last started over (it
// appeared after the service started, or a counter went back), or 0.
inline constexpr orla::U32Key IF_COUNTER_DISCONTINUITY{13};
// The operational status before the last change; absent while there has
// been none since the service started.
inline constexpr orla::U32Key IF_PREVIOUS_OPER_STATUS{14};

// In a get-count reply: orla::getJiffies() when the service last found an
// interface added or removed, or 0 when none was since it started.
inline constexpr orla::U32Key IF_TABLE_LAST_CHANGE{30};

// Kernel statistics, 64-bit, high word first.
inline constexpr orla::U32ArrayKey IF_IN_OCTETS{20};
inline constexpr orla::U32ArrayKey IF_IN_UCAST_PACKETS{21};  // received packets less multicast
inline constexpr orla::U32ArrayKey IF_IN_MULTICAST_PACKETS{22};
inline constexpr orla::U32ArrayKey IF_IN_DISCARDS{23};
inline constexpr orla::U32ArrayKey IF_IN_ERRORS{24};
inline constexpr orla::U32ArrayKey IF_IN_UNKNOWN_PROTOS{29};  // the kernel's rx_nohandler
inline constexpr orla::U32ArrayKey IF_OUT_OCTETS{25};
inline constexpr orla::U32ArrayKey IF_OUT_UCAST_PACKETS{26};  // all transmitted packets
inline constexpr orla::U32ArrayKey IF_OUT_DISCARDS{27};
inline constexpr orla::U32ArrayKey IF_OUT_ERRORS{28};

// Reads a 64-bit counter field; 0 when absent or not two elements.
inline uint64_t getCounter(const orla::message& object, orla::U32ArrayKey key) {
    const std::vector<uint32_t> words = object.get(key);
    if (words.size() != 2) return 0;
    return (static_cast<uint64_t>(words[0]) << 32) | words[1];
}

inline void insertCounter(orla::message& object, orla::U32ArrayKey key, uint64_t value) {
    object.insert(key, {static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)});
}

}  // namespace ifaced
