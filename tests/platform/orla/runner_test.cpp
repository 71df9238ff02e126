#include "platform/orla/runner.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Runs the runner until `done` holds, at most a bounded number of passes.
template <class Pred>
bool runUntil(orla::ThinRunner& runner, Pred done) {
    for (int pass = 0; pass < 500 && !done(); ++pass)
        runner.runOnce(20);
    runner.runOnce(0);  // nothing more may come
    return done();
}

struct Recorder {
    std::string log;
    void a() { log += 'a'; }
    void b() { log += 'b'; }
    void c() { log += 'c'; }
};

TEST(ThinRunner, TimersFireInDeadlineOrderTiesInArmingOrderCancelledNever) {
    orla::ThinRunner runner;
    Recorder rec, other;
    runner.addTimer(&rec, &Recorder::c, 2);
    runner.addTimer(&rec, &Recorder::a, 0);
    runner.addTimer(&rec, &Recorder::b, 0);
    runner.addTimer(&rec, &Recorder::a, 1);
    runner.addTimer(&other, &Recorder::b, 1);
    runner.addTimer(&other, &Recorder::c, 1);
    runner.addTimer(&other, &Recorder::c, 0);
    // Every pending timer of this object and callback, no other.
    EXPECT_EQ(runner.removeTimer(&other, &Recorder::c), 2u);
    EXPECT_EQ(runner.removeTimer(&other, &Recorder::c), 0u);
    ASSERT_TRUE(runUntil(runner, [&] { return rec.log.size() == 4 && other.log.size() == 1; }));
    EXPECT_EQ(rec.log, "abac");
    EXPECT_EQ(other.log, "b");
}

// Two eventfds readable in the same batch: whichever is called first removes
// the other, which must then not be called, and watches a socket for writing.
struct Sockets {
    orla::ThinRunner* runner = nullptr;
    int fds[2] = {-1, -1};
    int pair[2] = {-1, -1};
    std::vector<int> datas;
    unsigned writable = 0;
    void onReadable(int fd, int data, unsigned events) {
        datas.push_back(data);
        EXPECT_TRUE(events & orla::SOCKET_READABLE);
        uint64_t value;
        EXPECT_EQ(read(fd, &value, sizeof value), ssize_t(sizeof value));
        EXPECT_TRUE(runner->removeSocket(fd == fds[0] ? fds[1] : fds[0]));
        EXPECT_TRUE(runner->removeSocket(fd));
        EXPECT_TRUE(runner->addSocket(pair[0], this, &Sockets::onPair, orla::SOCKET_READABLE));
        EXPECT_TRUE(runner->setSocketMask(pair[0], orla::SOCKET_WRITABLE));
    }
    void onPair(int, int, unsigned events) { writable |= events; }
};

TEST(ThinRunner, CallbacksRemoveAndAddSocketsOfTheirOwnBatch) {
    orla::ThinRunner runner;
    Sockets sockets;
    sockets.runner = &runner;
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets.pair), 0);
    for (int i = 0; i < 2; ++i) {
        sockets.fds[i] = eventfd(1, EFD_NONBLOCK);
        ASSERT_TRUE(runner.addSocket(sockets.fds[i], &sockets, &Sockets::onReadable,
                                     orla::SOCKET_READABLE, 7 + i));
    }
    ASSERT_TRUE(runUntil(runner, [&] { return sockets.writable != 0; }));
    ASSERT_EQ(sockets.datas.size(), 1u);
    EXPECT_TRUE(sockets.datas[0] == 7 || sockets.datas[0] == 8);
    EXPECT_TRUE(sockets.writable & orla::SOCKET_WRITABLE);
    EXPECT_TRUE(runner.removeSocket(sockets.pair[0]));
    EXPECT_FALSE(runner.removeSocket(sockets.pair[0]));
    EXPECT_FALSE(runner.setSocketMask(sockets.pair[0], orla::SOCKET_READABLE));
    for (int fd : {sockets.fds[0], sockets.fds[1], sockets.pair[0], sockets.pair[1]})
        close(fd);
}

}  // namespace
