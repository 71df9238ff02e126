#include "platform/orla/store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace orla {
namespace {

constexpr U32Key VALUE{2};

std::string read(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

size_t filesIn(const std::string& dir) {
    auto entries = std::filesystem::directory_iterator(dir);
    return size_t(std::distance(begin(entries), end(entries)));
}

// What opening the store at `path` writes on stderr; its values by key.
std::string open(const std::string& path, std::map<uint32_t, uint32_t>& entries) {
    ::testing::internal::CaptureStderr();
    for (const auto& [key, msg] : Store(path, 5))
        entries[key] = msg.get(VALUE);
    return ::testing::internal::GetCapturedStderr();
}

message valued(uint32_t v) {
    message m;
    m.insert(VALUE, v);
    return m;
}

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/orla-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

// Each damage is detected, the file moved aside unchanged (one line says
// where) and the store opens empty.
TEST_F(StoreTest, DamagedFileIsMovedAsideAndStoreOpensEmpty) {
    const std::string path = dir_ + "/s";
    Store(path, 5).set(7, valued(7));
    const std::string good = read(path);
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    for (const std::string& damage :
         {flipped, good.substr(0, good.size() - 3), std::string(), std::string(100, 'z')}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damage;
        std::map<uint32_t, uint32_t> entries;
        const std::string err = open(path, entries);
        EXPECT_TRUE(entries.empty());
        ASSERT_EQ(err.rfind("store " + path + ": damaged, moved to " + path + ".bad-", 0), 0u)
            << err;
        const size_t from = err.find(" moved to ") + 10;
        EXPECT_EQ(read(err.substr(from, err.find(": ", from) - from)), damage);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    }
    EXPECT_EQ(filesIn(dir_), 4u);  // each damaged file kept apart, no store file
    // Without its file, the store still tells that it existed.
    const Store after(path, 5);
    EXPECT_EQ(after.opened(), Store::Opened::Missing);
    EXPECT_EQ(after.setAside().rfind(path + ".bad-", 0), 0u) << after.setAside();
    // A store whose directory cannot exist opens empty and refuses writes.
    std::ofstream(dir_ + "/file") << "x";
    EXPECT_FALSE(Store(dir_ + "/file/s", 5).set(1, valued(1)));
}

// The writer's step n sets key n % 4 to n; every third step removes the key
// the step before set. It acknowledges each step once the store returned.
std::map<uint32_t, uint32_t> expectedAfter(uint32_t steps) {
    std::map<uint32_t, uint32_t> state;
    for (uint32_t n = 1; n <= steps; ++n) {
        if (n % 3 == 0) {
            state.erase((n - 1) % 4);
        } else {
            state[n % 4] = n;
        }
    }
    return state;
}

[[noreturn]] void writer(const std::string& path, int ackFd) {
    Store store(path, 5);
    for (uint32_t n = 1;; ++n) {
        const bool ok = n % 3 == 0 ? store.remove((n - 1) % 4) : store.set(n % 4, valued(n));
        if (!ok || ::write(ackFd, &n, sizeof n) != sizeof n) _exit(2);
    }
}

// Killed at a random moment, the writer leaves the last acknowledged state
// or the next one, a private file and no temporary one.
TEST_F(StoreTest, KilledWriterLeavesTheLastAcknowledgedOrTheNextState) {
    std::mt19937 random(12345);
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        const std::string path = dir_ + "/r" + std::to_string(round) + "/s";
        int ack[2];
        ASSERT_EQ(pipe(ack), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ack[0]);
            writer(path, ack[1]);
        }
        close(ack[1]);
        uint32_t acknowledged = 0, n;
        const bool started = ::read(ack[0], &acknowledged, sizeof n) == sizeof n;
        if (started) usleep(std::uniform_int_distribution<useconds_t>(0, 50000)(random));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(started && WIFSIGNALED(status)) << "writer failed";
        while (::read(ack[0], &n, sizeof n) == sizeof n)
            acknowledged = n;
        close(ack[0]);
        std::map<uint32_t, uint32_t> found;
        EXPECT_EQ(open(path, found), "");
        EXPECT_TRUE(found == expectedAfter(acknowledged) ||
                    found == expectedAfter(acknowledged + 1))
            << "after step " << acknowledged;
        EXPECT_EQ(filesIn(dir_ + "/r" + std::to_string(round)), 1u);
        struct stat st;
        EXPECT_TRUE(stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    }
}

}  // namespace
}  // namespace orla
