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
#include <string>
#include <vector>

namespace orla {
namespace {

constexpr U32Key VALUE{2};

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/orla-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    size_t filesIn(const std::string& dir) const {
        auto entries = std::filesystem::directory_iterator(dir);
        return size_t(std::distance(begin(entries), end(entries)));
    }
    std::string read(const std::string& path) const {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    void overwrite(const std::string& path, const std::string& bytes) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    // What opening the store at `path` writes on stderr, and its entries.
    std::string open(const std::string& path, std::map<uint32_t, uint32_t>& entries) const {
        ::testing::internal::CaptureStderr();
        const Store store(path, 5);
        for (const auto& [key, msg] : store)
            entries[key] = msg.get(VALUE);
        return ::testing::internal::GetCapturedStderr();
    }

    std::string dir_;
};

message valued(uint32_t v) {
    message m;
    m.insert(VALUE, v);
    return m;
}

TEST_F(StoreTest, FailedWriteChangesNothing) {
    overwrite(dir_ + "/file", "x");
    Store store(dir_ + "/file/s", 5);  // its directory cannot exist
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(store.set(1, valued(1)));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(store.empty());
    EXPECT_EQ(err.rfind("store " + dir_ + "/file/s: cannot write: open: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

// Damages a good store file in several ways: each is detected, the file is
// moved aside unchanged and the store opens empty.
TEST_F(StoreTest, DamagedFileIsMovedAsideAndStoreOpensEmpty) {
    const std::string path = dir_ + "/s";
    Store(path, 5).set(7, valued(7));
    const std::string good = read(path);
    ASSERT_GT(good.size(), 20u);
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    const std::string damages[] = {flipped, good.substr(0, good.size() - 3), "",
                                   std::string(100, 'z')};
    for (const std::string& damage : damages) {
        SCOPED_TRACE(testing::PrintToString(damage));
        overwrite(path, damage);
        std::map<uint32_t, uint32_t> entries;
        const std::string err = open(path, entries);
        EXPECT_TRUE(entries.empty());
        EXPECT_EQ(err.rfind("store " + path + ": damaged, moved to " + path + ".bad-", 0), 0u)
            << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
        // The named file holds exactly the damaged bytes.
        const size_t from = err.find(" moved to ") + 10;
        EXPECT_EQ(read(err.substr(from, err.find(": ", from) - from)), damage);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // Each damaged file was kept apart: the store file is gone and four remain.
    EXPECT_EQ(filesIn(dir_), std::size(damages));
}

// The writer's step n: every third step removes the key the step before set;
// the others set key n % 4 to n.
bool removesAt(uint32_t n) {
    return n % 3 == 0;
}
uint32_t keyAt(uint32_t n) {
    return removesAt(n) ? (n - 1) % 4 : n % 4;
}

// The state after `steps` steps of the writer below.
std::map<uint32_t, uint32_t> expectedAfter(uint32_t steps) {
    std::map<uint32_t, uint32_t> state;
    for (uint32_t n = 1; n <= steps; ++n) {
        if (removesAt(n)) {
            state.erase(keyAt(n));
        } else {
            state[keyAt(n)] = n;
        }
    }
    return state;
}

// Runs the writer's operations until killed; reports each completed step
// number on `ackFd` only after the store call has returned.
[[noreturn]] void writer(const std::string& path, int ackFd) {
    Store store(path, 5);
    for (uint32_t n = 1;; ++n) {
        const bool ok = removesAt(n) ? store.remove(keyAt(n)) : store.set(keyAt(n), valued(n));
        if (!ok || ::write(ackFd, &n, sizeof n) != sizeof n) _exit(2);
    }
}

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
        // Kill it at a random moment once it has committed a first state.
        uint32_t acknowledged = 0, n;
        const bool started =
            ::read(ack[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged;
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
        // Opening removed a temporary file the kill left; the file is private.
        EXPECT_EQ(filesIn(dir_ + "/r" + std::to_string(round)), 1u);
        struct stat st;
        EXPECT_TRUE(stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    }
}

}  // namespace
}  // namespace orla
