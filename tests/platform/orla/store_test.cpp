#include "platform/orla/store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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
constexpr StringKey TEXT{3};

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/orla-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::vector<std::string> filesIn(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename());
        return names;
    }

    std::string read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void overwrite(const std::string& path, const std::string& bytes) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string dir_;
};

message valued(uint32_t v) {
    message m;
    m.insert(VALUE, v);
    return m;
}

TEST_F(StoreTest, EntriesSurviveReopenInAscendingKeyOrder) {
    const std::string path = dir_ + "/s";
    EXPECT_TRUE(Store(path, 5).empty());
    {
        Store store(path, 5);
        EXPECT_TRUE(store.set(30, valued(3)));
        EXPECT_TRUE(store.set(0, valued(0)));
        EXPECT_TRUE(store.set(0xffffffff, valued(9)));
        EXPECT_TRUE(store.set(10, valued(1)));
        EXPECT_TRUE(store.set(30, valued(33)));  // replaces
        EXPECT_TRUE(store.remove(10));
        EXPECT_FALSE(store.remove(10));
    }
    const Store store(path, 5);
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    for (const auto& [key, msg] : store)
        seen.emplace_back(key, msg.get(VALUE));
    EXPECT_EQ(seen,
              (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {30, 33}, {0xffffffff, 9}}));
    EXPECT_EQ(store.find(30)->second, valued(33));
    EXPECT_EQ(store.find(10), store.end());
    EXPECT_TRUE(store.get(10).empty());
    EXPECT_EQ(store.get(0xffffffff), valued(9));
}

TEST_F(StoreTest, FileIsPrivateAndParentsAreCreatedPrivate) {
    const std::string path = dir_ + "/a/b/s";
    const mode_t old = umask(0);
    Store store(path, 5);
    EXPECT_TRUE(store.set(1, valued(1)));
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir_ + "/a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(filesIn(dir_ + "/a/b"), std::vector<std::string>{"s"});  // no temporary left
}

TEST_F(StoreTest, StaleTemporaryFileIsRemovedAtOpen) {
    const std::string path = dir_ + "/s";
    Store(path, 5).set(1, valued(1));
    overwrite(path + ".new", "half written");
    const Store store(path, 5);
    EXPECT_EQ(store.get(1), valued(1));
    EXPECT_EQ(filesIn(dir_), std::vector<std::string>{"s"});
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
    message m;
    m.insert(TEXT, "secret");
    Store(path, 5).set(7, m);
    const std::string good = read(path);
    ASSERT_GT(good.size(), 20u);

    struct Damage {
        const char* what;
        std::string bytes;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    const std::vector<Damage> damages = {
        {"flipped byte", flipped},
        {"truncated", good.substr(0, good.size() - 3)},
        {"empty", ""},
        {"foreign", std::string(100, 'z')},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        overwrite(path, damage.bytes);
        ::testing::internal::CaptureStderr();
        const Store store(path, 5);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(store.empty());
        EXPECT_EQ(err.rfind("store " + path + ": damaged, moved to " + path + ".bad-", 0), 0u)
            << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
        // The named file holds exactly the damaged bytes.
        const size_t from = err.find(" moved to ") + 10;
        const std::string aside = err.substr(from, err.find(": ", from) - from);
        EXPECT_EQ(read(aside), damage.bytes);
        struct stat st;
        EXPECT_NE(stat(path.c_str(), &st), 0);
    }
    // Each damaged file was kept apart: the store file is gone and four remain.
    EXPECT_EQ(filesIn(dir_).size(), damages.size());
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
        uint32_t acknowledged = 0;
        uint32_t n;
        const bool started =
            ::read(ack[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged;
        if (started) usleep(std::uniform_int_distribution<useconds_t>(0, 50000)(random));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(started && WIFSIGNALED(status)) << "writer failed";
        while (::read(ack[0], &n, sizeof n) == sizeof n) {
            acknowledged = n;
        }
        close(ack[0]);

        ::testing::internal::CaptureStderr();
        const Store store(path, 5);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        std::map<uint32_t, uint32_t> found;
        for (const auto& [key, msg] : store) {
            found[key] = msg.get(VALUE);
        }
        EXPECT_TRUE(found == expectedAfter(acknowledged) ||
                    found == expectedAfter(acknowledged + 1))
            << "after step " << acknowledged;
    }
}

}  // namespace
}  // namespace orla
