// Reads the host's resources from procfs (<proc>/meminfo, stat, uptime,
// cpuinfo, filesystems, sys/kernel/...) and its mount list, into plain
// structs. The procfs root and the mount list are constructor arguments so
// that tests can point them at fake files. Every file is treated as hostile:
// reads are bounded, numbers parsed strictly, malformed lines skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace hostd {

// Bytes read of a procfs file at most; of a longer one the lines that fit.
inline constexpr size_t PROC_FILE_MAX_BYTES = 1 << 20;
// CPUs listed at most; CPU numbers at or above MAX_CPU_NUMBER are ignored.
inline constexpr size_t MAX_CPUS = 1024;
inline constexpr uint32_t MAX_CPU_NUMBER = 65536;
// Filesystems listed at most.
inline constexpr size_t MAX_FILESYSTEMS = 256;

struct MemoryInfo {
    uint64_t totalKb = 0;
    uint64_t availableKb = 0;  // MemAvailable, or free + buffers + page cache on old kernels
    uint64_t swapTotalKb = 0;
    uint64_t swapFreeKb = 0;
};

// One CPU's time counters (clock ticks since boot).
struct CpuTimes {
    uint32_t cpu = 0;
    uint64_t busy = 0;   // user, nice, system, irq, softirq, steal
    uint64_t total = 0;  // busy, idle and iowait
};

struct Mount {
    std::string point;  // decoded: "\040" in the list is a space
    std::string type;
    bool readOnly = false;  // mounted with the option "ro"
};

// Allocation unit and counts of a storage area, each count in 31 bits.
struct StorageSize {
    uint32_t unitBytes = 0;
    uint32_t size = 0;
    uint32_t used = 0;
};

// Processes listed at most.
inline constexpr size_t MAX_PROCESSES = 1'000'000;
// RFC 2790 hrSWRunName, hrSWRunPath and hrSWRunParameters' largest sizes.
inline constexpr size_t MAX_RUN_NAME = 64;
inline constexpr size_t MAX_RUN_PATH = 128;

// What /proc/PID/stat tells of a process.
struct ProcessStat {
    std::string name;           // the command name between the parentheses
    char state = '?';           // R, S, D, Z, T, t, X, I ...
    bool kernelThread = false;  // PF_KTHREAD in the flags
    uint64_t cpuTicks = 0;      // utime + stime, clock ticks
    uint64_t rssPages = 0;
};

struct ProcessInfo {
    uint32_t pid = 0;
    ProcessStat stat;
    std::string path;        // the executable (/proc/PID/exe), at most MAX_RUN_PATH
    std::string parameters;  // the arguments after the first, blank-separated
};

// nullopt without a MemTotal line.
std::optional<MemoryInfo> parseMeminfo(std::string_view text);
// The per-CPU lines ("cpuN ..."), in ascending CPU number, each CPU once.
std::vector<CpuTimes> parseCpuTimes(std::string_view text);
// The first field of /proc/uptime in hundredths of a second, modulo 2^32.
std::optional<uint32_t> parseUptime(std::string_view text);
// The model name of each processor ("model name", MIPS's "cpu model").
std::map<uint32_t, std::string> parseCpuModels(std::string_view text);
// Filesystem types that store files: those /proc/filesystems lists without
// "nodev" (they need a block device), and the flash and union filesystems
// that hold a router's root (overlay, ubifs, jffs2).
std::set<std::string> parseStorageFilesystems(std::string_view text);
// The mounts of a type in `storageTypes`, in list order, at most MAX_FILESYSTEMS.
std::vector<Mount> parseMounts(std::string_view text, const std::set<std::string>& storageTypes);
// "PID (name) S ..." of /proc/PID/stat; nullopt when it does not parse (the
// name may hold blanks and parentheses: it ends at the last ')').
std::optional<ProcessStat> parseProcessStat(std::string_view text);
// The arguments after the first of a NUL-separated /proc/PID/cmdline,
// joined by blanks, cut to MAX_RUN_PATH octets.
std::string parseParameters(std::string_view cmdline);
// The login sessions of a utmp file (struct utmp records, utmp(5)): the
// records of type USER_PROCESS; a record cut short at the end is not read.
uint32_t parseUserSessions(std::string_view bytes);
// Counts of `unitBytes`-sized units, the unit doubled until both fit in 31
// bits (RFC 2790 hrStorageSize is an Integer32); saturated past 2^30-byte units.
StorageSize scaleStorage(uint64_t unitBytes, uint64_t totalUnits, uint64_t usedUnits);

class HostReader {
  public:
    // `procRoot`: "/proc" on a host; `mountsPath`: "/proc/self/mounts";
    // `utmpPath`: the login records, "/var/run/utmp".
    HostReader(std::string procRoot, std::string mountsPath,
               std::string utmpPath = "/var/run/utmp");

    std::optional<MemoryInfo> memory() const;
    std::optional<uint32_t> uptimeCentiseconds() const;
    // The kernel's command line without its newline, at most MAX_RUN_PATH
    // octets (RFC 2790 hrSystemInitialLoadParameters' size).
    std::optional<std::string> bootParameters() const;
    // The numeric directories of procfs.
    uint32_t processCount() const;
    // The smaller of the kernel's pid_max and threads-max; 0 when neither reads.
    uint32_t maxProcesses() const;
    // Every process that can be read, ascending by pid, at most MAX_PROCESSES.
    std::vector<ProcessInfo> processes() const;
    std::vector<CpuTimes> cpuTimes() const;
    // The login sessions of the utmp file; nullopt when it cannot be read.
    std::optional<uint32_t> userSessions() const;
    std::map<uint32_t, std::string> cpuModels() const;
    // Mounted filesystems that store files, each device once (the first
    // mount of it: bind mounts repeat a filesystem).
    std::vector<Mount> storageMounts() const;
    // Size and use of the filesystem mounted at `point` (statvfs); used is
    // what is not free, the root's reserve included, as df counts it.
    std::optional<StorageSize> filesystemSize(const std::string& point) const;

  private:
    std::string path(std::string_view name) const;

    std::string procRoot_;
    std::string mountsPath_;
    std::string utmpPath_;
};

}  // namespace hostd
