// Exchanges between real processes: each test forks a service process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <string>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/ipc_frame.h"
#include "platform/orla/ipc_socket.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"

namespace {

using orla::message;
constexpr orla::U32Key VALUE{5};
constexpr uint32_t CMD_NEVER_ANSWER = 0x99;
constexpr uint32_t CMD_DIE = 0x98;

orla::message request(std::vector<uint32_t> to, uint32_t cmd) {
    orla::message msg;
    msg.insert(orla::MSG_TO, std::move(to));
    msg.insert(orla::MSG_CMD, cmd);
    return msg;
}

class ServiceHandler : public orla::Handler {
  public:
    uint32_t value = 0;
    message cmdGet(const message&) override {
        message reply;
        reply.insert(VALUE, value);
        return reply;
    }
    message cmdSet(const message& request) override {
        value = request.get(VALUE);
        notifyChange(1, request);
        return message();
    }
    message cmdUnknown(const message&, uint32_t cmd) override {
        if (cmd == CMD_NEVER_ANSWER) {
            for (;;)
                pause();
        }
        if (cmd == CMD_DIE) _exit(0);
        return orla::errorMsg(orla::ERR_UNSUPPORTED, "no");
    }
    message getObject(uint32_t) override { return cmdGet(message()); }
};

class Ipc : public testing::Test {
  protected:
    static constexpr uint32_t SERVICE = 4242;

    void SetUp() override {
        directory_ = testing::TempDir() + "orla-ipc-" + std::to_string(getpid());
        orla::setRunDirectory(directory_);
    }
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        unlink(orla::servicePath(SERVICE).c_str());
        rmdir(directory_.c_str());
    }

    // Forks a process serving SERVICE with a ServiceHandler as handler 1 and
    // waits until it accepts connections.
    void startService() {
        child_ = fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            int status = 2;
            {
                orla::Looper looper;
                ServiceHandler handler;
                looper.addHandler(1, &handler);
                if (looper.serve(SERVICE)) {
                    looper.run();
                    status = 0;
                }
            }
            _exit(status);
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

    int waitChild() {
        int status = -1;
        waitpid(child_, &status, 0);
        child_ = 0;
        return status;
    }

    std::string directory_;
    pid_t child_ = 0;
};

TEST_F(Ipc, SilentPeerTimesOut) {
    startService();
    orla::Looper client;
    EXPECT_EQ(
        orla::getErrorCode(client.exchangeMessage(request({SERVICE, 1}, CMD_NEVER_ANSWER), 200)),
        orla::ERR_TIMEOUT);
}

TEST_F(Ipc, PeerDyingMidExchangeAnswersPeerClosed) {
    startService();
    orla::Looper client;
    EXPECT_EQ(orla::getErrorCode(client.exchangeMessage(request({SERVICE, 1}, CMD_DIE), 6000)),
              orla::ERR_PEER_CLOSED);
    EXPECT_EQ(waitChild(), 0);
    EXPECT_EQ(
        orla::getErrorCode(client.exchangeMessage(request({SERVICE, 1}, orla::CMD_GET), 6000)),
        orla::ERR_NO_SERVICE);
}

// True when the service closed this raw connection (bounded wait).
bool closedByPeer(int fd) {
    char buffer[256];
    for (int round = 0; round < 100; ++round) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0) continue;
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return true;
    }
    return false;
}

TEST_F(Ipc, MalformedFramesCloseOnlyTheirConnection) {
    startService();
    orla::Looper good;
    const std::vector<std::string> garbage = {
        std::string("\xff\xff\xff\xff", 4),                // length far too large
        std::string("\0\0\0\0", 4),                        // empty frame
        std::string("\0\0\0\x02\x07x", 6),                 // unknown kind
        std::string("\0\0\0\x05\x01\xde\xad\xbe\xef", 9),  // undecodable message
    };
    int idle = orla::connectService(SERVICE);  // a client that never sends
    ASSERT_GE(idle, 0);
    for (int round = 0; round < 20; ++round) {
        const std::string& bytes = garbage[round % garbage.size()];
        int bad = orla::connectService(SERVICE);
        ASSERT_GE(bad, 0);
        ASSERT_EQ(send(bad, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
        message set = request({SERVICE, 1}, orla::CMD_SET);
        set.insert(VALUE, round);
        ASSERT_FALSE(orla::isError(good.exchangeMessage(set, 6000))) << round;
        EXPECT_TRUE(closedByPeer(bad)) << round;
        close(bad);
    }
    EXPECT_EQ(good.exchangeMessage(request({SERVICE, 1}, orla::CMD_GET), 6000).get(VALUE), 19u);
    close(idle);
}

TEST_F(Ipc, SigtermEndsRunCleanlyAndSecondServerIsRefused) {
    startService();
    {
        orla::Looper second;
        EXPECT_FALSE(second.serve(SERVICE));
    }
    struct stat info;
    ASSERT_EQ(stat(directory_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // A served request proves the child is inside run(), where SIGTERM is taken.
    orla::Looper client;
    ASSERT_FALSE(orla::isError(client.exchangeMessage(request({SERVICE, 1}, orla::CMD_GET), 6000)));
    kill(child_, SIGTERM);
    int status = waitChild();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(orla::servicePath(SERVICE).c_str(), F_OK), 0);
}

}  // namespace
