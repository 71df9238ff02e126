// Exchanges between real processes: each test forks a service process.
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"

namespace {

using orla::message;
constexpr orla::U32Key VALUE{5};
constexpr uint32_t SERVICE = 4242, CMD_SLOW = 0x99, CMD_DIE = 0x98;

message request(uint32_t cmd, uint32_t value = 0) {
    message msg;
    msg.insert(orla::MSG_TO, std::vector<uint32_t>{SERVICE, 1});
    msg.insert(orla::MSG_CMD, cmd);
    msg.insert(VALUE, value);
    return msg;
}

// Keeps one value; CMD_SLOW answers after a second, CMD_DIE exits at once.
class ServiceHandler : public orla::Handler {
  public:
    uint32_t value = 0;
    message cmdGet(const message&) override { return request(orla::CMD_GET, value); }
    message cmdSet(const message& request) override {
        value = request.get(VALUE);
        return message();
    }
    message cmdUnknown(const message&, uint32_t cmd) override {
        if (cmd == CMD_DIE) _exit(0);
        if (cmd == CMD_SLOW) sleep(1);
        return message();
    }
};

// Sets the value 7 as `uid` with group `gid`, in a child: 0 served, 1
// refused at connect(), 2 refused by the service's peer check.
int exchangeAs(uid_t uid, gid_t gid) {
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(8);
        message reply = orla::Looper().exchangeMessage(request(orla::CMD_SET, 7), 6000);
        if (orla::getErrorCode(reply) == 0) _exit(0);
        if (orla::getErrorCode(reply) != orla::ERR_ACCESS_DENIED) _exit(9);
        const bool byPeerCheck =
            orla::getError(reply).find("for uid " + std::to_string(uid)) != std::string::npos;
        _exit(byPeerCheck ? 2 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Ipc : public testing::Test {
  protected:
    void SetUp() override {
        orla::setRunDirectory(directory_);
        startService();
    }
    // Forks a process serving SERVICE with a ServiceHandler as handler 1 and
    // waits until it accepts connections.
    void startService() {
        child_ = fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            int status = 2;
            {  // the looper removes its socket file when destroyed
                orla::Looper looper;
                ServiceHandler handler;
                looper.addHandler(1, &handler);
                if (looper.serve(SERVICE)) {
                    looper.run();
                    status = 0;
                }
            }
            std::exit(status);  // unlike _exit, writes the coverage counts
        }
        for (int attempt = 0; attempt < 1000; ++attempt) {
            int fd = orla::connectService(SERVICE);
            if (fd >= 0) {
                close(fd);
                return;
            }
            usleep(10000);
        }
        FAIL() << "service did not come up";
    }
    void TearDown() override {
        if (child_ > 0) kill(child_, SIGTERM);
        waitChild();
        unlink(orla::servicePath(SERVICE).c_str());
        rmdir(directory_.c_str());
    }
    int waitChild() {
        int status = -1;
        if (child_ > 0) waitpid(child_, &status, 0);
        child_ = 0;
        return status;
    }
    uint32_t errorOf(const message& msg) {
        return orla::getErrorCode(client_.exchangeMessage(msg, 6000));
    }

    std::string directory_ = testing::TempDir() + "orla-ipc-" + std::to_string(getpid());
    pid_t child_ = 0;
    orla::Looper client_;
};

// A late reply is not taken for the next request's; a peer that dies
// mid-exchange closes it; then the service is gone.
TEST_F(Ipc, TimeOutPeerClosedAndNoService) {
    EXPECT_EQ(orla::getErrorCode(client_.exchangeMessage(request(CMD_SLOW), 200)),
              orla::ERR_TIMEOUT);
    EXPECT_EQ(errorOf(request(CMD_DIE)), orla::ERR_PEER_CLOSED);
    EXPECT_EQ(waitChild(), 0);
    EXPECT_EQ(errorOf(request(orla::CMD_GET)), orla::ERR_NO_SERVICE);
}

// A request that does not wait: its reply comes through the runner, also
// when an exchange read it first; a time-out and a closed connection reach it
// the same way, once; an absent service is answered at once.
TEST_F(Ipc, RequestWithoutWaitingIsAnsweredThroughTheRunner) {
    std::vector<message> replies;
    const auto collect = [&replies](message reply) { replies.push_back(std::move(reply)); };
    const auto runUntil = [&replies](size_t count) {
        for (int round = 0; round < 300 && replies.size() < count; ++round)
            orla::getRunner().runOnce(10);
        return replies.size() == count;
    };
    EXPECT_FALSE(client_.requestAsync(request(orla::CMD_SET, 7), 6000, collect));
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(client_.exchangeMessage(request(orla::CMD_GET), 6000).get(VALUE), 7u);
    ASSERT_TRUE(runUntil(1));
    EXPECT_FALSE(orla::isError(replies[0]));
    EXPECT_FALSE(client_.requestAsync(request(CMD_SLOW), 200, collect));
    ASSERT_TRUE(runUntil(2));
    EXPECT_EQ(orla::getErrorCode(replies[1]), orla::ERR_TIMEOUT);
    EXPECT_FALSE(client_.requestAsync(request(CMD_DIE), 6000, collect));
    ASSERT_TRUE(runUntil(3));
    EXPECT_EQ(orla::getErrorCode(replies[2]), orla::ERR_PEER_CLOSED);
    EXPECT_EQ(waitChild(), 0);
    const std::optional<message> absent = client_.requestAsync(request(orla::CMD_GET), 6000, collect);
    ASSERT_TRUE(absent);
    EXPECT_EQ(orla::getErrorCode(*absent), orla::ERR_NO_SERVICE);
    for (int round = 0; round < 20; ++round)
        orla::getRunner().runOnce(10);
    EXPECT_EQ(replies.size(), 3u);
}

// True when the service closed this raw connection (bounded wait).
bool closedByPeer(int fd) {
    char buffer[256];
    for (int round = 0; round < 100; ++round) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 100) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return false;
}

// Then a second server is refused, and SIGTERM ends the first's run()
// cleanly: the socket file is gone.
TEST_F(Ipc, MalformedFramesCloseOnlyTheirConnection) {
    const std::string garbage[] = {
        std::string("\xff\xff\xff\xff", 4),                // length far too large
        std::string("\0\0\0\0", 4),                        // empty frame
        std::string("\0\0\0\x02\x07x", 6),                 // unknown kind
        std::string("\0\0\0\x05\x01\xde\xad\xbe\xef", 9),  // undecodable message
    };
    int idle = orla::connectService(SERVICE);  // a client that never sends
    ASSERT_GE(idle, 0);
    for (uint32_t round = 0; round < 20; ++round) {
        const std::string& bytes = garbage[round % 4];
        int bad = orla::connectService(SERVICE);
        ASSERT_GE(bad, 0);
        ASSERT_EQ(send(bad, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
        ASSERT_EQ(errorOf(request(orla::CMD_SET, round)), 0u) << round;
        EXPECT_TRUE(closedByPeer(bad)) << round;
        close(bad);
    }
    EXPECT_EQ(client_.exchangeMessage(request(orla::CMD_GET), 6000).get(VALUE), 19u);
    close(idle);
    EXPECT_FALSE(orla::Looper().serve(SERVICE));
    struct stat info;
    EXPECT_TRUE(stat(directory_.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700);
    kill(child_, SIGTERM);
    const int status = waitChild();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(orla::servicePath(SERVICE).c_str(), F_OK), 0);
}

// Another user is refused: by the modes of the run directory and socket,
// and, with those opened up, by the service's peer check; it changed nothing.
TEST_F(Ipc, OnlyRootAndTheServiceUserAreServed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    struct stat info;
    ASSERT_EQ(stat(orla::servicePath(SERVICE).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    auto asNobody = [] { return exchangeAs(65534, 65534); };
    EXPECT_EQ(asNobody(), 1);
    ASSERT_EQ(chmod(directory_.c_str(), 0755) | chmod(orla::servicePath(SERVICE).c_str(), 0777), 0);
    EXPECT_EQ(asNobody(), 2);
    EXPECT_EQ(client_.exchangeMessage(request(orla::CMD_GET), 6000).get(VALUE), 0u);
}

// A run directory of mode 0710 lets its group in (a daemon that gave up
// root): the socket gets the group and mode 0660, a client of that group is
// served, one of another group is still refused at connect(), and the
// service keeps the directory's mode.
TEST_F(Ipc, TheRunDirectoryGroupIsServedWhenLetIn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    constexpr gid_t LET_IN = 65534, OTHER = 65533;
    kill(child_, SIGTERM);
    waitChild();
    ASSERT_EQ(chown(directory_.c_str(), 0, LET_IN) | chmod(directory_.c_str(), 0710), 0);
    startService();
    struct stat info;
    ASSERT_EQ(stat(orla::servicePath(SERVICE).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0660u);
    EXPECT_EQ(info.st_gid, LET_IN);
    EXPECT_EQ(exchangeAs(65534, LET_IN), 0);
    EXPECT_EQ(client_.exchangeMessage(request(orla::CMD_GET), 6000).get(VALUE), 7u);
    EXPECT_EQ(exchangeAs(65534, OTHER), 1);
    ASSERT_EQ(stat(directory_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0710u);
}

}  // namespace
