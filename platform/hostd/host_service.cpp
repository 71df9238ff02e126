#include "platform/hostd/host_service.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/hostd/host_object.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "platform/orla/window_reply.h"

namespace hostd {

namespace {

constexpr uint32_t FROM_THE_START = 0xffffffff;  // the handler's startId without OBJ_NEXT
constexpr size_t MAX_DESCR_OCTETS = 255;         // RFC 2790 DisplayString columns

orla::message storageObject(uint32_t index, StorageType type, const std::string& descr,
                            const StorageSize& size) {
    orla::message object;
    object.insert(orla::OBJ_ID, index);
    object.insert(STORAGE_TYPE, static_cast<uint32_t>(type));
    object.insert(STORAGE_DESCR, descr.substr(0, MAX_DESCR_OCTETS));
    object.insert(STORAGE_UNIT_BYTES, size.unitBytes);
    object.insert(STORAGE_SIZE, size.size);
    object.insert(STORAGE_USED, size.used);
    return object;
}

}  // namespace

std::string encodeDateAndTime(const std::tm& local, long utcOffsetSeconds, int deciseconds) {
    const int year = local.tm_year + 1900;
    const long offsetMinutes = std::labs(utcOffsetSeconds) / 60;
    const char octets[] = {
        static_cast<char>(year >> 8), static_cast<char>(year & 0xff),
        static_cast<char>(local.tm_mon + 1), static_cast<char>(local.tm_mday),
        static_cast<char>(local.tm_hour), static_cast<char>(local.tm_min),
        // A leap second is 60; DateAndTime allows it.
        static_cast<char>(local.tm_sec), static_cast<char>(std::clamp(deciseconds, 0, 9)),
        // RFC 2579 allows 0 to 13 hours from UTC; +14:00 zones are cut to 13.
        utcOffsetSeconds < 0 ? '-' : '+', static_cast<char>(std::min(offsetMinutes / 60, 13L)),
        static_cast<char>(offsetMinutes % 60)};
    return std::string(octets, sizeof octets);
}

orla::message SystemHandler::cmdGet(const orla::message&) {
    orla::message reply;
    if (std::optional<uint32_t> uptime = reader_.uptimeCentiseconds())
        reply.insert(SYS_UPTIME, *uptime);
    timespec now{};
    std::tm local{};
    if (::clock_gettime(CLOCK_REALTIME, &now) == 0 && ::localtime_r(&now.tv_sec, &local)) {
        reply.insert(SYS_DATE, encodeDateAndTime(local, local.tm_gmtoff,
                                                 static_cast<int>(now.tv_nsec / 100000000)));
    }
    reply.insert(SYS_PROCESSES, reader_.processCount());
    reply.insert(SYS_MAX_PROCESSES, reader_.maxProcesses());
    if (std::optional<MemoryInfo> memory = reader_.memory()) {
        reply.insert(SYS_MEMORY_KB,
                     static_cast<uint32_t>(std::min<uint64_t>(memory->totalKb, UINT32_MAX)));
    }
    if (std::optional<uint32_t> users = reader_.userSessions()) reply.insert(SYS_USERS, *users);
    if (std::optional<std::string> boot = reader_.bootParameters()) {
        reply.insert(SYS_LOAD_PARAMETERS, std::move(*boot));
    }
    return reply;
}

PagedHandler::PagedHandler(uint32_t pageSize)
    : pageSize_(std::clamp<uint32_t>(pageSize, 1, MAX_PAGE_SIZE)) {}

orla::message PagedHandler::cmdGetAll(const orla::message&, uint32_t startId, uint32_t count) {
    if (startId == FROM_THE_START || !readBefore_) {
        snapshot_ = read();
        readBefore_ = true;
    }
    uint32_t pageSize = count == 0 ? pageSize_ : std::min(count, pageSize_);
    uint32_t firstId = startId == FROM_THE_START ? 0 : startId;
    auto first = std::lower_bound(snapshot_.begin(), snapshot_.end(), firstId,
                                  [](const std::pair<uint32_t, orla::message>& object,
                                     uint32_t id) { return object.first < id; });
    orla::message reply;
    auto end = first + std::min<ptrdiff_t>(pageSize, snapshot_.end() - first);
    for (auto it = first; it != end; ++it)
        reply.append(orla::OBJ_LIST, it->second);
    if (end != snapshot_.end()) reply.insert(orla::OBJ_NEXT, end->first);
    return reply;
}

uint32_t StorageHandler::indexOf(const std::string& mountPoint, const std::vector<Mount>& mounted) {
    auto known = indexes_.find(mountPoint);
    if (known != indexes_.end()) return known->second;
    if (indexes_.size() >= MAX_REMEMBERED) {
        std::erase_if(indexes_, [&](const auto& entry) {
            return std::none_of(mounted.begin(), mounted.end(),
                                [&](const Mount& mount) { return mount.point == entry.first; });
        });
    }
    indexes_.emplace(mountPoint, nextIndex_);
    return nextIndex_++;
}

std::vector<std::pair<uint32_t, orla::message>> StorageHandler::read() {
    std::vector<std::pair<uint32_t, orla::message>> objects;
    if (std::optional<MemoryInfo> memory = reader_.memory()) {
        constexpr uint32_t RAM_INDEX = 1;
        constexpr uint32_t SWAP_INDEX = 2;
        objects.emplace_back(RAM_INDEX,
                             storageObject(RAM_INDEX, StorageType::Ram, "Physical memory",
                                           scaleStorage(1024, memory->totalKb,
                                                        memory->totalKb - memory->availableKb)));
        if (memory->swapTotalKb > 0) {
            objects.emplace_back(
                SWAP_INDEX, storageObject(SWAP_INDEX, StorageType::VirtualMemory, "Swap space",
                                          scaleStorage(1024, memory->swapTotalKb,
                                                       memory->swapTotalKb - memory->swapFreeKb)));
        }
    }
    const std::vector<Mount> mounts = reader_.storageMounts();
    for (const Mount& mount : mounts) {
        std::optional<StorageSize> size = reader_.filesystemSize(mount.point);
        if (!size) continue;
        uint32_t index = indexOf(mount.point, mounts);
        orla::message object = storageObject(index, StorageType::FixedDisk, mount.point, *size);
        object.insert(STORAGE_FS_TYPE, mount.type);
        object.insert(STORAGE_READ_ONLY, mount.readOnly);
        objects.emplace_back(index, std::move(object));
    }
    std::sort(objects.begin(), objects.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return objects;
}

void ProcessorHandler::sample() {
    loads_.add(orla::getJiffies(), reader_.cpuTimes());
    orla::addTimer(this, &ProcessorHandler::sample, SAMPLE_TICKS);
}

std::vector<std::pair<uint32_t, orla::message>> ProcessorHandler::read() {
    const std::map<uint32_t, std::string> models = reader_.cpuModels();
    std::vector<std::pair<uint32_t, orla::message>> objects;
    for (const CpuTimes& cpu : reader_.cpuTimes()) {
        orla::message object;
        object.insert(orla::OBJ_ID, cpu.cpu);
        auto model = models.find(cpu.cpu);
        object.insert(CPU_DESCR,
                      model != models.end() ? model->second : "cpu" + std::to_string(cpu.cpu));
        object.insert(CPU_LOAD, loads_.load(cpu.cpu));
        objects.emplace_back(cpu.cpu, std::move(object));
    }
    return objects;
}

namespace {

// RFC 2790 hrSWRunStatus of the state letter of /proc/PID/stat: running
// (1) on a CPU; runnable (2) waiting for a resource (uninterruptible, I/O);
// notRunnable (3) waiting for an event or stopped; invalid (4) a zombie or
// dead.
uint8_t runStatusOf(char state) {
    switch (state) {
        case 'R':
            return 1;
        case 'D':
            return 2;
        case 'Z':
        case 'X':
        case 'x':
            return 4;
        default:
            return 3;
    }
}

uint32_t saturated31(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, 0x7fffffff));
}

}  // namespace

orla::message ProcessHandler::cmdGetAll(const orla::message& request, uint32_t, uint32_t count) {
    constexpr uint32_t FIRST_WINDOW_SECONDS = 1;
    constexpr uint32_t LATER_WINDOW_SECONDS = 10;
    const bool further = request.has(orla::OBJ_AFTER) || request.has(orla::OBJ_FROM);
    const uint32_t now = orla::getJiffies();
    const uint32_t maxAge =
        (further ? LATER_WINDOW_SECONDS : FIRST_WINDOW_SECONDS) * orla::ticksPerSecond();
    if (!read_ || now - readAt_ >= maxAge) {
        static const uint64_t ticksPerSecond =
            static_cast<uint64_t>(std::max(1L, ::sysconf(_SC_CLK_TCK)));
        static const uint64_t pageKb =
            static_cast<uint64_t>(std::max(1024L, ::sysconf(_SC_PAGESIZE))) / 1024;
        std::vector<Row> rows;
        for (const ProcessInfo& process : reader_.processes()) {
            ProcessFields fields;
            // RFC 2790 hrSWRunType: a kernel thread is the operating system's.
            fields.type = process.stat.kernelThread ? 2 : 4;
            fields.status = runStatusOf(process.stat.state);
            fields.cpu = saturated31(process.stat.cpuTicks * 100 / ticksPerSecond);
            fields.memoryKb = saturated31(process.stat.rssPages * pageKb);
            fields.name = process.stat.name;
            fields.path = process.path;
            fields.parameters = process.parameters;
            rows.push_back({process.pid, processFields(fields)});
        }
        snapshot_ = std::move(rows);
        snapshot_.shrink_to_fit();
        read_ = true;
        readAt_ = now;
    }
    const size_t page = count == 0 ? pageSize_ : std::min(count, pageSize_);
    return orla::windowReply(
        std::span<const Row>(snapshot_), request, page,
        [](const Row& row) { return std::vector<uint32_t>{row.pid}; },
        [](const Row& row) { return row.fields; });
}

}  // namespace hostd
