#include "platform/hostd/host_reader.h"

#include <stdlib.h>
#include <utmp.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/hostd/host_object.h"
#include "platform/hostd/host_service.h"
#include "platform/hostd/load_sampler.h"
#include "platform/orla/ids.h"

using namespace std::string_literals;

namespace {

using hostd::HostReader;

std::string join(std::initializer_list<uint64_t> values) {
    std::string text;
    for (uint64_t value : values)
        text += (text.empty() ? "" : " ") + std::to_string(value);
    return text;
}

std::string memory(const HostReader& reader) {
    auto m = reader.memory();
    return m ? join({m->totalKb, m->availableKb, m->swapTotalKb, m->swapFreeKb}) : "none";
}
std::string cpus(const HostReader& reader) {
    std::string text;
    for (const hostd::CpuTimes& cpu : reader.cpuTimes())
        text += "[" + join({cpu.cpu, cpu.busy, cpu.total}) + "]";
    return text;
}
std::string models(const HostReader& reader) {
    std::string text;
    for (const auto& [cpu, model] : reader.cpuModels())
        text += std::to_string(cpu) + "=" + model + ";";
    return text;
}
std::string uptime(const HostReader& reader) {
    auto ticks = reader.uptimeCentiseconds();
    return ticks ? std::to_string(*ticks) : "none";
}
std::string maxProcesses(const HostReader& reader) {
    return std::to_string(reader.maxProcesses());
}
// The mount list is "mounts" beside the fake procfs; "/" stands for a
// mount point that exists.
std::string mounts(const HostReader& reader) {
    std::string text;
    for (const hostd::Mount& mount : reader.storageMounts())
        text += mount.point + " " + mount.type + (mount.readOnly ? " ro;" : ";");
    return text;
}

// What the reader makes of each fake procfs file: the MIB's value, or nothing
// for a malformed one.
TEST(HostReader, ProcFilesGiveTheirValuesOrNothing) {
    const std::string FILESYSTEMS = "nodev\tproc\nnodev\ttmpfs\n\text4\nnodev\toverlay\n";
    const std::tuple<const char*, std::string, std::string (*)(const HostReader&), std::string>
        cases[] = {
            {"meminfo",
             "MemTotal:  1000 kB\nMemAvailable: 600 kB\nSwapTotal: 50 kB\nSwapFree: 20 kB\n",
             memory, "1000 600 50 20"},
            // Before MemAvailable (Linux 3.14): free + buffers + page cache.
            {"meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 10 kB\nCached: 200 kB\n",
             memory, "1000 310 0 0"},
            {"meminfo", "MemTotal: 1000 kB\nMemAvailable: 5000 kB\nSwapTotal: 5 kB\nSwapFree: 9 kB",
             memory, "1000 1000 5 5"},
            {"meminfo", "MemTotal: 10x kB\n", memory, "none"},
            {"meminfo", "MemTotal: 99999999999999999999 kB\n", memory, "none"},
            {"meminfo", "MemTotal: 1000 MB\n", memory, "none"},
            // busy: user nice system irq softirq steal; total adds idle and iowait.
            {"stat", "cpu  9 9 9 9\ncpu1 1 2 3 100 10 5 6 7 50 50\ncpu0 1 0 0 9\nintr 1 2\n", cpus,
             "[0 1 10][1 24 134]"},
            {"stat", "cpu0 1 2 3\ncpu1 1 2 x 4\ncpux 1 2 3 4\ncpu2 1 -2 3 4\ncpu65536 1 1 1 1\n",
             cpus, ""},
            {"stat", "cpu3 1 1 1 1\ncpu3 5 5 5 5\ncpu2 0 0 0 1", cpus, "[2 0 1][3 3 4]"},
            {"uptime", "16178.75 9593.38\n", uptime, "1617875"},
            {"uptime", "12.5 1.0\n", uptime, "1250"},
            {"uptime", "42949672.96 0\n", uptime, "0"},  // TimeTicks wrap
            {"uptime", "-1.00 0\n", uptime, "none"},
            {"cpuinfo",
             "processor\t: 0\nmodel name\t: AMD EPYC\n\nprocessor\t: 1\ncpu model\t: MIPS 24Kc\n"
             "processor : x\nmodel name : lost\n",
             models, "0=AMD EPYC;1=MIPS 24Kc;"},
            {"sys/kernel/pid_max", "32768\n", maxProcesses, "32768"},
            {"sys/kernel/pid_max", "32768 1\n", maxProcesses, "0"},
            // Flash and union roots count; proc, tmpfs and unknown types do not.
            {"mounts",
             "/dev/vda / ext4 rw 0 0\nproc /proc proc rw 0 0\ntmp /tmp tmpfs rw 0 0\n"
             "overlayfs / overlay rw 0 0\nx relative ext4 rw 0 0\nx /nfs nfs rw 0 0\n",
             mounts, "/ ext4;"},
            {"mounts", "/dev/vdb /no\\040such\\040dir ext4 rw 0 0\n/dev/vdc /x\\09 ext4 rw 0 0\n",
             mounts, ""},
            {"mounts", "/dev/vda / ext4 ro,relatime 0 0\n", mounts, "/ ext4 ro;"},
        };
    for (const auto& [file, text, read, expected] : cases) {
        SCOPED_TRACE(std::string(file) + ": " + text);
        char pattern[] = "/tmp/hostd-test-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        const std::string root = pattern;
        std::filesystem::create_directories(root + "/sys/kernel");
        std::ofstream(root + "/filesystems") << FILESYSTEMS;
        std::ofstream(root + "/" + file, std::ios::binary) << text;
        EXPECT_EQ(read(HostReader(root, root + "/mounts")), expected);
        std::filesystem::remove_all(root);
    }
}

TEST(HostReader, ParsesEscapedMountPoints) {
    const auto mounts =
        hostd::parseMounts("a /with\\040space\\134 ext4 rw 0 0\nb /bad\\0 ext4 rw 0 0\n", {"ext4"});
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].point, "/with space\\");
}

// RFC 2790 hrStorageSize is an Integer32: a 16 TiB disk of 4 kB blocks has
// 2^32 of them, and counts in 16 kB units.
// /proc/PID/stat with the fields up to rss (24): a name with blanks and
// parentheses ends at the last ')'; a short or damaged line gives nothing.
TEST(HostReader, ProcessStatAndParameters) {
    // ppid ... tty_nr, tpgid, flags (9), faults, utime (14), stime, ..., rss (24)
    const std::string tail = " 1 1 0 0 -1 4194560 10 0 0 0 7 5 0 0 20 0 1 0 99 1000 321 rest";
    std::string badUtime = tail;
    badUtime.replace(badUtime.find(" 7 5 "), 5, " x 5 ");
    const struct {
        const char* what;
        std::string text;
        std::string parsed;  // name, state, kernel thread, CPU ticks, rss; "-" for nothing
    } cases[] = {
        {"a process", "42 (sleep) S" + tail, "sleep S 0 12 321"},
        {"a name with blanks and parentheses", "7 (a (b) c) R" + tail, "a (b) c R 0 12 321"},
        {"a kernel thread (PF_KTHREAD)",
         "2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 3 0 0 20 0 "
         "1 0 1 0 0",
         "kthreadd S 1 3 0"},
        {"fields missing", "42 (sleep) S 1 1 0", "-"},
        {"no closing parenthesis", "42 (sleep S" + tail, "-"},
        {"a state of two letters", "42 (sleep) SS" + tail, "-"},
        {"utime not a number", "42 (sleep) S" + badUtime, "-"},
    };
    for (const auto& c : cases) {
        const std::optional<hostd::ProcessStat> stat = hostd::parseProcessStat(c.text);
        const std::string parsed =
            stat ? stat->name + " " + stat->state + " " + std::to_string(stat->kernelThread) + " " +
                       std::to_string(stat->cpuTicks) + " " + std::to_string(stat->rssPages)
                 : "-";
        EXPECT_EQ(c.parsed, parsed) << c.what;
    }
    using namespace std::string_literals;
    EXPECT_EQ("97 --x y", hostd::parseParameters("sleep\0"
                                                 "97\0--x\0y\0"s));
    EXPECT_EQ("", hostd::parseParameters("init\0"s));
    EXPECT_EQ("", hostd::parseParameters(""));
    EXPECT_EQ(hostd::MAX_RUN_PATH, hostd::parseParameters("a\0"s + std::string(300, 'b')).size());

    // The row's fields as the plug-in reads them; cut short, they leave it out.
    const std::string fields = hostd::processFields({4, 3, 12, 1668, "sleep", "/bin/sleep", "97"});
    hostd::ProcessFields read;
    ASSERT_TRUE(hostd::readProcessFields(fields + "later", read));
    EXPECT_EQ(std::make_tuple(4, 3, 12u, 1668u, "sleep"s, "/bin/sleep"s, "97"s),
              std::make_tuple(read.type, read.status, read.cpu, read.memoryKb, read.name, read.path,
                              read.parameters));
    EXPECT_FALSE(hostd::readProcessFields(fields.substr(0, fields.size() - 1), read));
}

// hrSystemNumUsers: the USER_PROCESS records of utmp, whole records only.
TEST(HostReader, CountsUserSessionsOfUtmp) {
    std::string bytes;
    for (short type : {USER_PROCESS, LOGIN_PROCESS, DEAD_PROCESS, USER_PROCESS, USER_PROCESS}) {
        utmp record{};
        record.ut_type = type;
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    EXPECT_EQ(3u, hostd::parseUserSessions(bytes));
    EXPECT_EQ(2u, hostd::parseUserSessions(bytes.substr(0, bytes.size() - 1)));
    EXPECT_EQ(0u, hostd::parseUserSessions(""));
}

TEST(HostReader, StorageCountsFitIn31Bits) {
    const std::tuple<uint64_t, uint64_t, uint64_t, std::string> cases[] = {
        {4096, 1000, 400, "4096 1000 400"},
        {4096, uint64_t{1} << 32, uint64_t{1} << 31, "16384 1073741824 536870912"},
        {1024, 0x7fffffff, 0x80000000, "1024 2147483647 2147483647"},
        {1, UINT64_MAX, 7, "1073741824 2147483647 0"},
        {0, 10, 1, "0 0 0"},
    };
    for (const auto& [unit, total, used, expected] : cases) {
        hostd::StorageSize size = hostd::scaleStorage(unit, total, used);
        EXPECT_EQ(join({size.unitBytes, size.size, size.used}), expected) << unit << " " << total;
    }
}

TEST(HostService, DateAndTimeCarriesTheOffsetFromUtc) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 1;
    local.tm_min = 2;
    local.tm_sec = 3;
    EXPECT_EQ(hostd::encodeDateAndTime(local, -(3 * 3600 + 30 * 60), 4),
              "\x07\xea\x0c\x07\x01\x02\x03\x04-\x03\x1e"s);
    EXPECT_EQ(hostd::encodeDateAndTime(local, 0, 0).substr(8), "+\x00\x00"s);
}

// Samples half a minute apart; a CPU gone, counters that went back.
TEST(LoadSampler, BusyShareOfTheLastMinute) {
    hostd::LoadSampler loads;
    loads.add(0, {{0, 0, 0}, {1, 0, 0}, {2, 50, 100}});
    EXPECT_EQ(loads.load(0), 0u);  // one sample
    loads.add(3000, {{0, 999, 1000}, {1, 300, 1000}, {2, 10, 200}});
    loads.add(6000, {{0, 1000, 2000}, {1, 333, 1000}, {2, 10, 300}});
    EXPECT_EQ(std::tuple(loads.load(0), loads.load(1), loads.load(2), loads.load(3)),
              std::tuple(50u, 33u, 0u, 0u));
    // The second sample is now a minute back: the window starts there.
    loads.add(9000, {{0, 1900, 3000}});
    EXPECT_EQ(loads.load(0), 45u);
    EXPECT_EQ(loads.load(1), 0u);
}

}  // namespace

// RAM, swap and the root filesystem in pages of one, each page resuming at
// the index the last one named; the root keeps its index on a second walk.
TEST(HostService, StorageRowsInPagesOfOne) {
    char pattern[] = "/tmp/hostd-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string root = pattern;
    std::ofstream(root + "/meminfo") << "MemTotal: 8 kB\nMemAvailable: 2 kB\nSwapTotal: 4 kB\n";
    std::ofstream(root + "/filesystems") << "\text4\n";
    std::ofstream(root + "/mounts") << "/dev/vda / ext4 rw 0 0\n";
    HostReader reader(root, root + "/mounts");
    hostd::StorageHandler storage(reader, 1);
    for (int walk = 0; walk < 2; ++walk) {
        std::string rows;
        orla::message request;
        request.insert(orla::MSG_CMD, orla::CMD_GETALL);
        for (int page = 0; page < 4; ++page) {
            const orla::message reply = storage.handleRequest(request);
            for (const auto& flat : reply.get(orla::OBJ_LIST)) {
                const orla::message object(flat);
                rows += join({object.get(orla::OBJ_ID), object.get(hostd::STORAGE_TYPE),
                              object.get(hostd::STORAGE_SIZE), object.get(hostd::STORAGE_USED)}) +
                        " " + object.get(hostd::STORAGE_DESCR) + ";";
            }
            if (!reply.has(orla::OBJ_NEXT)) break;
            request.insert(orla::OBJ_NEXT, reply.get(orla::OBJ_NEXT));
        }
        EXPECT_EQ(rows.substr(0, rows.rfind("31 4 ")),
                  "1 2 8 6 Physical memory;2 3 4 4 Swap space;");
        EXPECT_NE(rows.find(";31 4 "), std::string::npos) << rows;
    }
    std::filesystem::remove_all(root);
}
