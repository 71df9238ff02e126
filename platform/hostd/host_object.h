// The host service's objects: what orla-hostd serves as platform service
// HOST_SERVICE, and what its clients (the HOST-RESOURCES-MIB plug-in,
// orla-cli) read. Three handlers:
//
// - [HOST_SERVICE, SYSTEM_HANDLER], CMD_GET: one message with the SYS_...
//   fields below, read when asked.
// - [HOST_SERVICE, STORAGE_HANDLER], CMD_GETALL: one object per storage area
//   (RAM, swap when there is any, each mounted real filesystem) in ascending
//   OBJ_ID, the storage index, in pages (OBJ_LIST, with OBJ_NEXT when more
//   follow; OBJ_NEXT is the index to start the next page at).
// - [HOST_SERVICE, PROCESSOR_HANDLER], CMD_GETALL: one object per online CPU
//   in ascending OBJ_ID, the kernel's CPU number, paged the same way.
//
// A get-all that starts at the first page reads the host afresh; later pages
// come from that reading, so one walk sees one consistent set.
#pragma once

#include <cstdint>

#include "platform/orla/message.h"

namespace hostd {

inline constexpr uint32_t HOST_SERVICE = 42;
inline constexpr uint32_t SYSTEM_HANDLER = 1;
inline constexpr uint32_t STORAGE_HANDLER = 2;
inline constexpr uint32_t PROCESSOR_HANDLER = 3;

// System handler fields.
// Hundredths of a second since the host booted, modulo 2^32 (/proc/uptime).
inline constexpr orla::U32Key SYS_UPTIME{1};
// RFC 2579 DateAndTime of the host's local time, 11 octets (with the offset
// from UTC).
inline constexpr orla::StringKey SYS_DATE{2};
inline constexpr orla::U32Key SYS_PROCESSES{3};      // processes now running or waiting
inline constexpr orla::U32Key SYS_MAX_PROCESSES{4};  // 0 when the kernel names no limit
inline constexpr orla::U32Key SYS_MEMORY_KB{5};      // physical memory, KiB, saturated

// Storage objects. OBJ_ID: the storage index, never 0; RAM is 1 and swap 2,
// filesystems have 31 and up, each mount point keeping its index while the
// service runs. Sizes are counted in allocation units, chosen so that each
// count fits in 31 bits.
inline constexpr orla::U32Key STORAGE_TYPE{1};  // StorageType below
inline constexpr orla::StringKey STORAGE_DESCR{
    2};  // "Physical memory", "Swap space", the mount point
inline constexpr orla::U32Key STORAGE_UNIT_BYTES{3};
inline constexpr orla::U32Key STORAGE_SIZE{4};  // in allocation units
inline constexpr orla::U32Key STORAGE_USED{5};  // in allocation units

// The arc of the storage type under hrStorageTypes (RFC 2790).
enum class StorageType : uint32_t {
    Ram = 2,
    VirtualMemory = 3,
    FixedDisk = 4,
};

// Processor objects. OBJ_ID: the kernel's CPU number (cpuN in /proc/stat).
inline constexpr orla::StringKey CPU_DESCR{1};  // the model name, or "cpuN"
// Per cent of the last minute the CPU was busy (not idle nor waiting for
// I/O), 0 to 100, from samples the service takes every few seconds.
inline constexpr orla::U32Key CPU_LOAD{2};

}  // namespace hostd
