#include "platform/hostd/host_reader.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/orla/decimal.h"
#include "platform/orla/files.h"

namespace hostd {

namespace {

// Larger than any counter the kernel keeps: sums of a few never overflow.
constexpr uint64_t MAX_COUNTER = uint64_t{1} << 56;
constexpr uint64_t MAX_31_BITS = std::numeric_limits<int32_t>::max();
constexpr uint64_t MAX_UNIT_BYTES = uint64_t{1} << 30;
// Directory entries of procfs examined at most: the kernel's largest pid_max
// (2^22) and the other entries.
constexpr size_t MAX_PROC_ENTRIES = (size_t{1} << 22) + 4096;
constexpr size_t MAX_MOUNT_POINT_OCTETS = 4096;  // PATH_MAX

// The file's first PROC_FILE_MAX_BYTES; of a longer file only its whole
// lines. nullopt when it is missing, unreadable or not a regular file.
std::optional<std::string> readProcFile(const std::string& path) {
    std::optional<std::string> text = orla::readRegularFile(path, PROC_FILE_MAX_BYTES);
    if (text && text->size() > PROC_FILE_MAX_BYTES) {
        size_t lastNewline = text->rfind('\n', PROC_FILE_MAX_BYTES - 1);
        text->resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    }
    return text;
}

// Calls `each` with every line of `text`, without its newline.
template <class F>
void forEachLine(std::string_view text, F each) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        each(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// The next word (run of non-blank characters) of `text`, removed from it.
std::string_view nextWord(std::string_view& text) {
    constexpr std::string_view BLANKS = " \t\n";
    size_t start = text.find_first_not_of(BLANKS);
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    size_t end = std::min(text.find_first_of(BLANKS), text.size());
    std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// The text after "name:" on a "name : value" line; nullopt for other lines.
std::optional<std::string_view> valueOf(std::string_view line, std::string_view name) {
    if (line.substr(0, name.size()) != name) return std::nullopt;
    line.remove_prefix(name.size());
    size_t colon = line.find(':');
    if (colon == std::string_view::npos ||
        line.substr(0, colon).find_first_not_of(" \t") != std::string_view::npos) {
        return std::nullopt;
    }
    line.remove_prefix(colon + 1);
    size_t start = line.find_first_not_of(" \t");
    return start == std::string_view::npos ? std::string_view() : line.substr(start);
}

// The mount list escapes space, tab, newline and backslash as \ooo (octal).
std::optional<std::string> decodeMountField(std::string_view field) {
    std::string decoded;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            decoded.push_back(field[i]);
            continue;
        }
        if (i + 3 >= field.size()) return std::nullopt;
        unsigned value = 0;
        for (size_t digit = 1; digit <= 3; ++digit) {
            char c = field[i + digit];
            if (c < '0' || c > '7') return std::nullopt;
            value = value * 8 + static_cast<unsigned>(c - '0');
        }
        if (value > 0xff) return std::nullopt;
        decoded.push_back(static_cast<char>(value));
        i += 3;
    }
    return decoded;
}

std::optional<uint64_t> readNumber(const std::string& path) {
    std::optional<std::string> text = readProcFile(path);
    if (!text) return std::nullopt;
    std::string_view rest = *text;
    std::optional<uint64_t> value = orla::parseDecimal(nextWord(rest));
    if (!nextWord(rest).empty()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<MemoryInfo> parseMeminfo(std::string_view text) {
    constexpr std::string_view NAMES[] = {"MemTotal", "MemAvailable", "MemFree", "Buffers",
                                          "Cached",   "SwapTotal",    "SwapFree"};
    std::map<std::string_view, uint64_t> fields;
    forEachLine(text, [&](std::string_view line) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            std::find(std::begin(NAMES), std::end(NAMES), line.substr(0, colon)) == std::end(NAMES))
            return;
        std::string_view rest = line.substr(colon + 1);
        std::optional<uint64_t> value = orla::parseDecimal(nextWord(rest));
        std::string_view unit = nextWord(rest);
        if (!value || *value > MAX_COUNTER || (unit != "kB" && !unit.empty())) return;
        fields.emplace(line.substr(0, colon), *value);
    });
    auto field = [&](std::string_view name) -> std::optional<uint64_t> {
        auto found = fields.find(name);
        if (found == fields.end()) return std::nullopt;
        return found->second;
    };
    std::optional<uint64_t> total = field("MemTotal");
    if (!total) return std::nullopt;
    MemoryInfo info;
    info.totalKb = *total;
    // Kernels before 3.14 have no MemAvailable.
    info.availableKb = field("MemAvailable")
                           .value_or(field("MemFree").value_or(0) + field("Buffers").value_or(0) +
                                     field("Cached").value_or(0));
    info.availableKb = std::min(info.availableKb, info.totalKb);
    info.swapTotalKb = field("SwapTotal").value_or(0);
    info.swapFreeKb = std::min(field("SwapFree").value_or(0), info.swapTotalKb);
    return info;
}

std::vector<CpuTimes> parseCpuTimes(std::string_view text) {
    std::vector<CpuTimes> cpus;
    forEachLine(text, [&](std::string_view line) {
        std::string_view name = nextWord(line);
        if (cpus.size() >= MAX_CPUS || name.size() <= 3 || name.substr(0, 3) != "cpu") return;
        std::optional<uint64_t> number = orla::parseDecimal(name.substr(3));
        if (!number || *number >= MAX_CPU_NUMBER) return;
        // user nice system idle iowait irq softirq steal (guest time is in user)
        uint64_t fields[8] = {};
        size_t count = 0;
        for (; count < 8; ++count) {
            std::string_view word = nextWord(line);
            if (word.empty()) break;
            std::optional<uint64_t> value = orla::parseDecimal(word);
            if (!value || *value > MAX_COUNTER) return;
            fields[count] = *value;
        }
        if (count < 4) return;
        CpuTimes times;
        times.cpu = static_cast<uint32_t>(*number);
        times.busy = fields[0] + fields[1] + fields[2] + fields[5] + fields[6] + fields[7];
        times.total = times.busy + fields[3] + fields[4];
        cpus.push_back(times);
    });
    std::stable_sort(cpus.begin(), cpus.end(),
                     [](const CpuTimes& a, const CpuTimes& b) { return a.cpu < b.cpu; });
    cpus.erase(std::unique(cpus.begin(), cpus.end(),
                           [](const CpuTimes& a, const CpuTimes& b) { return a.cpu == b.cpu; }),
               cpus.end());
    return cpus;
}

std::optional<uint32_t> parseUptime(std::string_view text) {
    std::string_view seconds = nextWord(text);
    size_t dot = seconds.find('.');
    std::optional<uint64_t> whole = orla::parseDecimal(seconds.substr(0, dot));
    if (!whole || *whole > MAX_COUNTER) return std::nullopt;
    uint64_t hundredths = 0;
    if (dot != std::string_view::npos) {
        std::string_view fraction = seconds.substr(dot + 1, 2);
        std::optional<uint64_t> value = orla::parseDecimal(fraction);
        if (!value) return std::nullopt;
        hundredths = fraction.size() == 1 ? *value * 10 : *value;
    }
    // TimeTicks wrap at 2^32, as the RFC 2790 hrSystemUptime does.
    return static_cast<uint32_t>(*whole * 100 + hundredths);
}

std::map<uint32_t, std::string> parseCpuModels(std::string_view text) {
    constexpr size_t MAX_MODEL_OCTETS = 255;
    std::map<uint32_t, std::string> models;
    std::optional<uint32_t> processor;
    forEachLine(text, [&](std::string_view line) {
        if (std::optional<std::string_view> value = valueOf(line, "processor")) {
            std::optional<uint64_t> number = orla::parseDecimal(*value);
            processor.reset();
            if (number && *number < MAX_CPU_NUMBER) processor = static_cast<uint32_t>(*number);
            return;
        }
        std::optional<std::string_view> model = valueOf(line, "model name");
        if (!model) model = valueOf(line, "cpu model");
        if (model && processor && models.size() < MAX_CPUS && !model->empty())
            models.emplace(*processor, std::string(model->substr(0, MAX_MODEL_OCTETS)));
    });
    return models;
}

std::set<std::string> parseStorageFilesystems(std::string_view text) {
    std::set<std::string> types = {"overlay", "ubifs", "jffs2"};
    forEachLine(text, [&](std::string_view line) {
        std::string_view first = nextWord(line);
        if (first.empty() || first == "nodev" || !nextWord(line).empty()) return;
        if (types.size() < 1024) types.emplace(first);
    });
    return types;
}

std::vector<Mount> parseMounts(std::string_view text, const std::set<std::string>& storageTypes) {
    std::vector<Mount> mounts;
    forEachLine(text, [&](std::string_view line) {
        if (mounts.size() >= MAX_FILESYSTEMS) return;
        nextWord(line);  // the device
        std::optional<std::string> point = decodeMountField(nextWord(line));
        std::string_view type = nextWord(line);
        if (!point || point->empty() || point->front() != '/' ||
            point->size() > MAX_MOUNT_POINT_OCTETS || point->find('\0') != std::string::npos ||
            storageTypes.count(std::string(type)) == 0) {
            return;
        }
        // The options: "ro" or "rw" first, as the kernel lists them.
        const std::string_view options = nextWord(line);
        const bool readOnly = options == "ro" || options.starts_with("ro,");
        mounts.push_back(Mount{std::move(*point), std::string(type), readOnly});
    });
    return mounts;
}

StorageSize scaleStorage(uint64_t unitBytes, uint64_t totalUnits, uint64_t usedUnits) {
    if (unitBytes == 0) return {};
    usedUnits = std::min(usedUnits, totalUnits);
    while (totalUnits > MAX_31_BITS && unitBytes < MAX_UNIT_BYTES) {
        unitBytes *= 2;
        totalUnits /= 2;
        usedUnits /= 2;
    }
    // Units beyond 2^30 bytes would be exabyte filesystems: they stay saturated.
    unitBytes = std::min(unitBytes, MAX_UNIT_BYTES);
    return StorageSize{static_cast<uint32_t>(unitBytes),
                       static_cast<uint32_t>(std::min(totalUnits, MAX_31_BITS)),
                       static_cast<uint32_t>(std::min(usedUnits, MAX_31_BITS))};
}

HostReader::HostReader(std::string procRoot, std::string mountsPath, std::string utmpPath)
    : procRoot_(std::move(procRoot)),
      mountsPath_(std::move(mountsPath)),
      utmpPath_(std::move(utmpPath)) {}

uint32_t parseUserSessions(std::string_view bytes) {
    uint32_t sessions = 0;
    for (size_t at = 0; bytes.size() - at >= sizeof(utmp); at += sizeof(utmp)) {
        decltype(utmp::ut_type) type;
        std::memcpy(&type, bytes.data() + at + offsetof(utmp, ut_type), sizeof type);
        if (type == USER_PROCESS) ++sessions;
    }
    return sessions;
}

std::optional<uint32_t> HostReader::userSessions() const {
    const std::optional<std::string> bytes = readProcFile(utmpPath_);
    if (!bytes) return std::nullopt;
    return parseUserSessions(*bytes);
}

std::optional<ProcessStat> parseProcessStat(std::string_view text) {
    const size_t open = text.find(" (");
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcessStat stat;
    stat.name = std::string(text.substr(open + 2, std::min(close - open - 2, MAX_RUN_NAME)));
    // The fields after the name, from field 3 (state) on (proc(5)).
    std::string_view rest = text.substr(close + 1);
    std::vector<std::string_view> fields;
    for (std::string_view word = nextWord(rest); !word.empty() && fields.size() < 22;
         word = nextWord(rest)) {
        fields.push_back(word);
    }
    if (fields.size() < 22 || fields[0].size() != 1) return std::nullopt;
    constexpr uint64_t PF_KTHREAD = 0x00200000;
    const std::optional<uint64_t> flags = orla::parseDecimal(fields[6]);   // field 9
    const std::optional<uint64_t> utime = orla::parseDecimal(fields[11]);  // field 14
    const std::optional<uint64_t> stime = orla::parseDecimal(fields[12]);  // field 15
    const std::optional<uint64_t> rss = orla::parseDecimal(fields[21]);    // field 24
    if (!flags || !utime || !stime || !rss) return std::nullopt;
    stat.state = fields[0][0];
    stat.kernelThread = *flags & PF_KTHREAD;
    stat.cpuTicks = *utime + *stime;
    stat.rssPages = *rss;
    return stat;
}

std::string parseParameters(std::string_view cmdline) {
    const size_t first = cmdline.find('\0');
    if (first == std::string_view::npos) return {};
    std::string parameters(cmdline.substr(first + 1, MAX_RUN_PATH));
    while (!parameters.empty() && parameters.back() == '\0')
        parameters.pop_back();
    std::replace(parameters.begin(), parameters.end(), '\0', ' ');
    return parameters;
}

std::vector<ProcessInfo> HostReader::processes() const {
    std::vector<uint32_t> pids;
    if (DIR* dir = ::opendir(procRoot_.c_str())) {
        for (size_t examined = 0; examined < MAX_PROC_ENTRIES; ++examined) {
            const dirent* entry = ::readdir(dir);
            if (!entry) break;
            const std::optional<uint64_t> pid = orla::parseDecimal(entry->d_name);
            if (pid && *pid > 0 && *pid <= 0x7fffffff && pids.size() < MAX_PROCESSES) {
                pids.push_back(static_cast<uint32_t>(*pid));
            }
        }
        ::closedir(dir);
    }
    std::sort(pids.begin(), pids.end());
    std::vector<ProcessInfo> processes;
    processes.reserve(pids.size());
    for (uint32_t pid : pids) {
        const std::string dir = path(std::to_string(pid));
        constexpr size_t STAT_MAX_BYTES = 4096;
        const std::optional<std::string> statText =
            orla::readRegularFile(dir + "/stat", STAT_MAX_BYTES);
        // A process that ended since the directory was read is left out.
        std::optional<ProcessStat> stat = statText && statText->size() <= STAT_MAX_BYTES
                                              ? parseProcessStat(*statText)
                                              : std::nullopt;
        if (!stat) continue;
        ProcessInfo info;
        info.pid = pid;
        info.stat = std::move(*stat);
        char exe[MAX_RUN_PATH + 1];
        const ssize_t length = ::readlink((dir + "/exe").c_str(), exe, sizeof exe);
        if (length > 0) info.path.assign(exe, std::min<size_t>(length, MAX_RUN_PATH));
        const std::optional<std::string> cmdline =
            orla::readRegularFile(dir + "/cmdline", 2 * MAX_RUN_PATH);
        if (cmdline) info.parameters = parseParameters(*cmdline);
        processes.push_back(std::move(info));
    }
    return processes;
}

std::string HostReader::path(std::string_view name) const {
    std::string full = procRoot_;
    full += '/';
    full += name;
    return full;
}

std::optional<MemoryInfo> HostReader::memory() const {
    std::optional<std::string> text = readProcFile(path("meminfo"));
    if (!text) return std::nullopt;
    return parseMeminfo(*text);
}

std::optional<std::string> HostReader::bootParameters() const {
    std::optional<std::string> text = orla::readRegularFile(path("cmdline"), MAX_RUN_PATH + 1);
    if (!text) return std::nullopt;
    if (!text->empty() && text->back() == '\n') text->pop_back();
    text->resize(std::min(text->size(), MAX_RUN_PATH));
    return text;
}

std::optional<uint32_t> HostReader::uptimeCentiseconds() const {
    std::optional<std::string> text = readProcFile(path("uptime"));
    if (!text) return std::nullopt;
    return parseUptime(*text);
}

uint32_t HostReader::processCount() const {
    DIR* dir = ::opendir(procRoot_.c_str());
    if (!dir) return 0;
    uint32_t processes = 0;
    for (size_t examined = 0; examined < MAX_PROC_ENTRIES; ++examined) {
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        std::string_view name = entry->d_name;
        if (entry->d_type == DT_DIR && orla::parseDecimal(name) && name.front() != '0') ++processes;
    }
    ::closedir(dir);
    return processes;
}

uint32_t HostReader::maxProcesses() const {
    uint64_t limit = 0;
    for (const char* name : {"sys/kernel/pid_max", "sys/kernel/threads-max"}) {
        std::optional<uint64_t> value = readNumber(path(name));
        if (value && *value > 0 && (limit == 0 || *value < limit)) limit = *value;
    }
    return static_cast<uint32_t>(std::min(limit, MAX_31_BITS));
}

std::vector<CpuTimes> HostReader::cpuTimes() const {
    std::optional<std::string> text = readProcFile(path("stat"));
    if (!text) return {};
    return parseCpuTimes(*text);
}

std::map<uint32_t, std::string> HostReader::cpuModels() const {
    std::optional<std::string> text = readProcFile(path("cpuinfo"));
    if (!text) return {};
    return parseCpuModels(*text);
}

std::vector<Mount> HostReader::storageMounts() const {
    std::optional<std::string> filesystems = readProcFile(path("filesystems"));
    std::optional<std::string> list = readProcFile(mountsPath_);
    if (!filesystems || !list) return {};
    std::vector<Mount> mounts;
    std::set<dev_t> devices;
    std::set<std::string> points;
    for (Mount& mount : parseMounts(*list, parseStorageFilesystems(*filesystems))) {
        // A mount over another at the same point: statvfs sees only one.
        if (!points.insert(mount.point).second) continue;
        struct stat st;
        if (::stat(mount.point.c_str(), &st) != 0 || !devices.insert(st.st_dev).second) continue;
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::optional<StorageSize> HostReader::filesystemSize(const std::string& point) const {
    struct statvfs fs;
    if (::statvfs(point.c_str(), &fs) != 0) return std::nullopt;
    uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    if (unit == 0) return std::nullopt;
    uint64_t blocks = fs.f_blocks;
    uint64_t free = std::min<uint64_t>(fs.f_bfree, blocks);
    return scaleStorage(unit, blocks, blocks - free);
}

}  // namespace hostd
