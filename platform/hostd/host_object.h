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
// - [HOST_SERVICE, PROCESS_HANDLER], CMD_GETALL: the processes, a window
//   at a time (OBJ_ROWS, platform/orla/window_rows.h; the request's
//   OBJ_AFTER or OBJ_FROM is a one-arc index, the pid): each row's index is
//   its pid, its fields processFields(); the reply's OBJ_AFTER names the
//   last pid when more follow.
//
// A get-all that starts at the first page reads the host afresh; later pages
// come from that reading, so one walk sees one consistent set.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/orla/message.h"

namespace hostd {

inline constexpr uint32_t HOST_SERVICE = 42;
inline constexpr uint32_t SYSTEM_HANDLER = 1;
inline constexpr uint32_t STORAGE_HANDLER = 2;
inline constexpr uint32_t PROCESSOR_HANDLER = 3;
inline constexpr uint32_t PROCESS_HANDLER = 4;

// System handler fields.
// Hundredths of a second since the host booted, modulo 2^32 (/proc/uptime).
inline constexpr orla::U32Key SYS_UPTIME{1};
// RFC 2579 DateAndTime of the host's local time, 11 octets (with the offset
// from UTC).
inline constexpr orla::StringKey SYS_DATE{2};
inline constexpr orla::U32Key SYS_PROCESSES{3};      // processes now running or waiting
inline constexpr orla::U32Key SYS_MAX_PROCESSES{4};  // 0 when the kernel names no limit
inline constexpr orla::U32Key SYS_MEMORY_KB{5};      // physical memory, KiB, saturated
// Login sessions (the utmp file's USER_PROCESS records); absent without one.
inline constexpr orla::U32Key SYS_USERS{6};
// The parameters the kernel was booted with (/proc/cmdline), at most 128
// octets; absent when it cannot be read.
inline constexpr orla::StringKey SYS_LOAD_PARAMETERS{7};

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
// A filesystem's only: the kernel's name of its type ("ext4", "vfat" ...)
// and whether it is mounted read-only.
inline constexpr orla::StringKey STORAGE_FS_TYPE{6};
inline constexpr orla::BoolKey STORAGE_READ_ONLY{7};

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

// A process's fields in its row, version 1: RFC 2790 hrSWRunType and
// hrSWRunStatus (1 octet each), hrSWRunPerfCPU (centi-seconds) and
// hrSWRunPerfMem (KiB), 4 octets each, most significant first, each
// saturated at 2^31-1; then hrSWRunName, hrSWRunPath and hrSWRunParameters,
// each as its length (1 octet) and octets. A later version appends fields.
struct ProcessFields {
    uint8_t type = 1;
    uint8_t status = 4;
    uint32_t cpu = 0;
    uint32_t memoryKb = 0;
    std::string name;        // at most 64 octets
    std::string path;        // at most 128 octets
    std::string parameters;  // at most 128 octets
};

inline std::string processFields(const ProcessFields& process) {
    std::string fields{static_cast<char>(process.type), static_cast<char>(process.status)};
    for (uint32_t number : {process.cpu, process.memoryKb}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            fields.push_back(static_cast<char>(number >> shift));
    }
    for (const std::string* text : {&process.name, &process.path, &process.parameters}) {
        const size_t length = std::min<size_t>(text->size(), 255);
        fields.push_back(static_cast<char>(length));
        fields.append(*text, 0, length);
    }
    return fields;
}

// False, leaving `process` alone, when the fields are short.
inline bool readProcessFields(std::string_view fields, ProcessFields& process) {
    constexpr size_t FIXED = 10;
    if (fields.size() < FIXED) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(fields.data());
    ProcessFields read;
    read.type = at[0];
    read.status = at[1];
    read.cpu = uint32_t(at[2]) << 24 | uint32_t(at[3]) << 16 | uint32_t(at[4]) << 8 | at[5];
    read.memoryKb = uint32_t(at[6]) << 24 | uint32_t(at[7]) << 16 | uint32_t(at[8]) << 8 | at[9];
    size_t offset = FIXED;
    for (std::string* text : {&read.name, &read.path, &read.parameters}) {
        if (offset >= fields.size()) return false;
        const size_t length = at[offset];
        if (fields.size() - offset - 1 < length) return false;
        text->assign(fields.substr(offset + 1, length));
        offset += 1 + length;
    }
    process = std::move(read);
    return true;
}

}  // namespace hostd
