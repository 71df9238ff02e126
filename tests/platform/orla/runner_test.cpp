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
    return done();
}

struct Recorder {
    orla::ThinRunner* runner = nullptr;
    std::vector<std::string> log;
    void a() { log.push_back("a"); }
    void b() { log.push_back("b"); }
    void c() { log.push_back("c"); }
    void cancelB() {
        log.push_back("cancel-b");
        runner->removeTimer(this, &Recorder::b);
    }
    void rearm() {
        log.push_back("rearm");
        if (log.size() < 3) runner->addTimer(this, &Recorder::rearm, 0);
    }
    void cancelSelfAndArmC() {
        log.push_back("self");
        runner->removeTimer(this, &Recorder::cancelSelfAndArmC);
        runner->addTimer(this, &Recorder::c, 0);
    }
};

TEST(ThinRunner, TimersFireInDeadlineOrderTiesInArmingOrder) {
    orla::ThinRunner runner;
    Recorder rec;
    runner.addTimer(&rec, &Recorder::c, 2);
    runner.addTimer(&rec, &Recorder::a, 0);
    runner.addTimer(&rec, &Recorder::b, 0);
    runner.addTimer(&rec, &Recorder::a, 1);
    ASSERT_TRUE(runUntil(runner, [&] { return rec.log.size() == 4; }));
    EXPECT_EQ(rec.log, (std::vector<std::string>{"a", "b", "a", "c"}));
}

TEST(ThinRunner, CancelledTimersDoNotFireDroppedHandlesKeepTheirs) {
    orla::ThinRunner runner;
    Recorder rec, other;
    {
        orla::TimerHandle dropped = runner.addTimer(&rec, &Recorder::a, 0);
        (void)dropped;
    }
    orla::TimerHandle cancelled = runner.addTimer(&rec, &Recorder::c, 0);
    EXPECT_TRUE(runner.isPending(cancelled));
    EXPECT_TRUE(runner.cancelTimer(cancelled));
    EXPECT_FALSE(runner.cancelTimer(cancelled));
    runner.addTimer(&rec, &Recorder::b, 0);
    runner.addTimer(&rec, &Recorder::b, 1);
    runner.addTimer(&other, &Recorder::b, 1);
    // Every pending timer of this object and callback, no other.
    EXPECT_EQ(runner.removeTimer(&rec, &Recorder::b), 2u);
    EXPECT_EQ(runner.removeTimer(&rec, &Recorder::b), 0u);
    ASSERT_TRUE(runUntil(runner, [&] { return rec.log.size() == 1 && other.log.size() == 1; }));
    runner.runOnce(0);
    EXPECT_EQ(rec.log, std::vector<std::string>{"a"});
    EXPECT_EQ(other.log, std::vector<std::string>{"b"});
}

// A callback cancels a later timer of its own pass, re-arms itself, or
// cancels its own second arming and arms another.
TEST(ThinRunner, CallbacksChangeTheTimersOfTheirOwnPass) {
    orla::ThinRunner runner;
    Recorder cancel, rearm, self;
    for (Recorder* rec : {&cancel, &rearm, &self})
        rec->runner = &runner;
    runner.addTimer(&cancel, &Recorder::cancelB, 0);
    runner.addTimer(&cancel, &Recorder::b, 0);
    runner.addTimer(&cancel, &Recorder::a, 1);
    runner.addTimer(&rearm, &Recorder::rearm, 0);
    runner.addTimer(&self, &Recorder::cancelSelfAndArmC, 0);
    runner.addTimer(&self, &Recorder::cancelSelfAndArmC, 0);  // cancelled by the first
    ASSERT_TRUE(runUntil(runner, [&] {
        return cancel.log.size() >= 2 && rearm.log.size() == 3 && self.log.size() == 2;
    }));
    runner.runOnce(0);
    EXPECT_EQ(cancel.log, (std::vector<std::string>{"cancel-b", "a"}));
    EXPECT_EQ(self.log, (std::vector<std::string>{"self", "c"}));
}

// Two eventfds, both readable in the same batch; whichever is called first
// removes the other, which must then not be called.
struct SocketPair {
    orla::ThinRunner* runner = nullptr;
    int fds[2] = {-1, -1};
    std::vector<int> calls;
    std::vector<int> datas;
    void onReadable(int fd, int data, unsigned events) {
        calls.push_back(fd);
        datas.push_back(data);
        EXPECT_TRUE(events & orla::SOCKET_READABLE);
        uint64_t value;
        EXPECT_EQ(read(fd, &value, sizeof value), ssize_t(sizeof value));
        int other = fd == fds[0] ? fds[1] : fds[0];
        runner->removeSocket(other);
    }
};

TEST(ThinRunner, SocketRemovedByEarlierCallbackOfBatchIsNotCalled) {
    orla::ThinRunner runner;
    SocketPair pair;
    pair.runner = &runner;
    pair.fds[0] = eventfd(1, EFD_NONBLOCK);
    pair.fds[1] = eventfd(1, EFD_NONBLOCK);
    ASSERT_TRUE(
        runner.addSocket(pair.fds[0], &pair, &SocketPair::onReadable, orla::SOCKET_READABLE, 7));
    ASSERT_TRUE(
        runner.addSocket(pair.fds[1], &pair, &SocketPair::onReadable, orla::SOCKET_READABLE, 8));
    runner.runOnce(100);
    runner.runOnce(0);
    ASSERT_EQ(pair.calls.size(), 1u);
    EXPECT_EQ(pair.datas[0], pair.calls[0] == pair.fds[0] ? 7 : 8);
    close(pair.fds[0]);
    close(pair.fds[1]);
}

// A socket callback that removes its own socket and registers a new one.
struct Relay {
    orla::ThinRunner* runner = nullptr;
    int first[2] = {-1, -1};
    int second[2] = {-1, -1};
    std::vector<std::string> log;
    void onFirst(int fd, int, unsigned) {
        char byte;
        EXPECT_EQ(read(fd, &byte, 1), 1);
        log.push_back("first");
        runner->removeSocket(fd);
        runner->addSocket(second[0], this, &Relay::onSecond, orla::SOCKET_READABLE);
        EXPECT_EQ(write(second[1], "y", 1), 1);
        EXPECT_EQ(write(first[1], "x", 1), 1);  // no longer watched
    }
    void onSecond(int fd, int, unsigned) {
        char byte;
        EXPECT_EQ(read(fd, &byte, 1), 1);
        log.push_back("second");
        runner->removeSocket(fd);
    }
};

TEST(ThinRunner, CallbackRemovesItsSocketAndAddsAnother) {
    orla::ThinRunner runner;
    Relay relay;
    relay.runner = &runner;
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, relay.first), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, relay.second), 0);
    ASSERT_TRUE(runner.addSocket(relay.first[0], &relay, &Relay::onFirst, orla::SOCKET_READABLE));
    ASSERT_EQ(write(relay.first[1], "x", 1), 1);
    ASSERT_TRUE(runUntil(runner, [&] { return relay.log.size() == 2; }));
    runner.runOnce(0);
    EXPECT_EQ(relay.log, (std::vector<std::string>{"first", "second"}));
    for (int fd : {relay.first[0], relay.first[1], relay.second[0], relay.second[1]})
        close(fd);
}

TEST(ThinRunner, SocketMaskChangesReportWritable) {
    orla::ThinRunner runner;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    struct Writable {
        unsigned events = 0;
        void on(int, int, unsigned ev) { events |= ev; }
    } writable;
    ASSERT_TRUE(runner.addSocket(fds[0], &writable, &Writable::on, orla::SOCKET_READABLE));
    runner.runOnce(0);
    EXPECT_EQ(writable.events, 0u);
    ASSERT_TRUE(runner.setSocketMask(fds[0], orla::SOCKET_WRITABLE));
    runner.runOnce(100);
    EXPECT_TRUE(writable.events & orla::SOCKET_WRITABLE);
    EXPECT_TRUE(runner.removeSocket(fds[0]));
    EXPECT_FALSE(runner.removeSocket(fds[0]));
    EXPECT_FALSE(runner.setSocketMask(fds[0], orla::SOCKET_READABLE));
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
