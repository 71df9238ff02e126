// send_trap, the start-up step and the routing of trap requests: what is
// checked before a socket is opened, the datagram a sink on 127.0.0.1:162
// receives, and the lines written when nothing can be sent. The sink lives in
// a network namespace of this test program's own, so no trap reaches the
// host's port 162.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/trap/trap_fixture.h"

using namespace traptest;

namespace {

// Moves this process into a fresh network namespace with its loopback up;
// false when that is not allowed (not root).
bool enterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ifreq loopback{};
    std::snprintf(loopback.ifr_name, sizeof loopback.ifr_name, "lo");
    bool up = ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    close(fd);
    return up;
}

// A trap sink on 127.0.0.1:162 for one test.
class Sink {
  public:
    Sink() {
        static const bool isolated = enterPrivateNetwork();
        if (!isolated) return;
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = htons(162);
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
            timeval wait{2, 0};
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            bound_ = true;
        }
    }
    ~Sink() {
        if (fd_ >= 0) close(fd_);
    }
    bool bound() const { return bound_; }
    // One datagram, or nothing after the receive time-out.
    std::vector<unsigned char> receive() {
        std::vector<unsigned char> buffer(65536);
        ssize_t length = recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(length > 0 ? size_t(length) : 0);
        return buffer;
    }
    // Without waiting: true when a datagram is queued.
    bool pending() {
        unsigned char byte;
        return recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) >= 0;
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

class SendTrap : public AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        loop->enabled = true;
        inet_pton(AF_INET, "127.0.0.1", &loop->trapTarget);
    }
    // Runs `action`, returning what it wrote to stderr.
    template <class F>
    std::string stderrOf(F action) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        action();
        stdout_ = testing::internal::GetCapturedStdout();
        return testing::internal::GetCapturedStderr();
    }
    std::string stdout_;
};

TEST_F(SendTrap, DisabledAgentWritesOneLine) {
    loop->enabled = false;
    EXPECT_EQ(stderrOf([] { loop->send_trap(AgentTest::vendorRequest()); }),
              "send_trap: snmp disabled\n");
}

TEST_F(SendTrap, MissingSinkOrCommunityWritesOneLine) {
    const uint32_t target = loop->trapTarget;
    loop->trapTarget = 0;
    EXPECT_EQ(stderrOf([] { loop->send_trap(AgentTest::vendorRequest()); }),
              "send_trap: no trap sink specified\n");
    loop->trapTarget = target;
    loop->trapCommunity = snmp::NO_COMMUNITY;
    EXPECT_EQ(stderrOf([] { loop->send_trap(AgentTest::vendorRequest()); }),
              "send_trap: no trap sink specified\n");
}

TEST_F(SendTrap, RemovedCommunitySendsNothing) {
    Sink sink;
    communityKeep->cmdRemoveObj(orla::message(), 0);
    EXPECT_EQ(stderrOf([] { loop->send_trap(AgentTest::vendorRequest()); }),
              "createTrap: bad community\nsend_trap: createTrap failed\n");
    if (sink.bound()) {
        EXPECT_FALSE(sink.pending());
    }
}

TEST_F(SendTrap, UnknownRequestIsDumpedAndAnsweredEmpty) {
    for (uint32_t cmd : {snmp::CMD_TRAP_REQUEST_ALT1, snmp::CMD_TRAP_REQUEST_ALT2}) {
        orla::message request;
        request.insert(orla::MSG_CMD, cmd);
        orla::message reply;
        EXPECT_EQ(stderrOf([&] { reply = loop->cmdUnknown(request, cmd); }),
                  "send_trap: createTrap failed\n");
        EXPECT_EQ(stdout_.rfind("Could not handle trap, msg dump:\n", 0), 0u) << stdout_;
        EXPECT_EQ(reply, orla::message());
    }
}

TEST_F(SendTrap, VendorTrapRequestReachesTheSink) {
    Sink sink;
    if (!sink.bound()) GTEST_SKIP() << "needs a private network namespace (root)";
    loop->trapVersion = 1;
    orla::message request = vendorRequest();
    request.insert(snmp::TRAP_VAR_OID, std::string("1.3.6.1.2.1.1.5.0"));
    request.insert(snmp::TRAP_VAR_TYPE, 4u);
    request.insert(snmp::TRAP_VAR_VALUE, std::string("edge-1"));
    orla::message reply;
    EXPECT_EQ(stderrOf([&] { reply = loop->cmdUnknown(request, snmp::CMD_TRAP_REQUEST); }), "");
    EXPECT_EQ(reply, orla::message());

    std::vector<unsigned char> datagram = sink.receive();
    ASSERT_FALSE(datagram.empty());
    DecodedTrap trap;
    ASSERT_TRUE(decodeTrap(datagram, trap));
    EXPECT_EQ(trap.version, 1);
    EXPECT_EQ(trap.community, "morvel");
    ASSERT_EQ(trap.bindings.size(), 3u);
    EXPECT_EQ(trap.bindings[2].value, "edge-1");
}

TEST_F(SendTrap, StartupSendsOneStartTrapAndRestoresTheMakers) {
    Sink sink;
    if (!sink.bound()) GTEST_SKIP() << "needs a private network namespace (root)";
    loop->trapGenerators = {2, snmp::START_TRAP_ID, snmp::START_TRAP_ID};
    const std::vector<TrapMaker> before = trapMakers;
    EXPECT_EQ(stderrOf([] { loop->startup(); }), "");
    EXPECT_EQ(trapMakers, before);

    std::vector<unsigned char> datagram = sink.receive();
    DecodedTrap trap;
    ASSERT_TRUE(decodeTrap(datagram, trap));
    EXPECT_EQ(trap.pduTag, ber::TRAP_V1);
    EXPECT_EQ(trap.enterprise, OID({1, 3, 6, 1, 6, 3, 1, 1, 5, 2}));
    EXPECT_EQ(trap.agentAddress, std::string("\x7f\x00\x00\x01", 4));
    EXPECT_EQ(trap.genericTrap, 1);
    EXPECT_FALSE(sink.pending());
}

TEST_F(SendTrap, StartupWithoutStartTrapSendsNothing) {
    loop->trapGenerators = {0, 1};
    EXPECT_EQ(stderrOf([] { loop->startup(); }), "");
    EXPECT_EQ(stdout_, "");
}

}  // namespace
