#include "platform/orla/runner.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/orla/clock.h"

namespace orla {

namespace {

constexpr int MAX_EVENTS_PER_WAIT = 64;

// Set in the child by every fork(): only then can the runner belong to
// another process, so getRunner() need not ask for the process id (a system
// call) on each of its many calls.
bool forkedSinceCheck = false;

void noteFork() {
    forkedSinceCheck = true;
}

uint32_t toEpoll(unsigned mask) {
    uint32_t events = 0;
    if (mask & SOCKET_READABLE) events |= EPOLLIN;
    if (mask & SOCKET_WRITABLE) events |= EPOLLOUT;
    return events;
}

unsigned fromEpoll(uint32_t events) {
    unsigned mask = 0;
    if (events & EPOLLIN) mask |= SOCKET_READABLE;
    if (events & EPOLLOUT) mask |= SOCKET_WRITABLE;
    if (events & (EPOLLHUP | EPOLLERR)) mask |= SOCKET_HANGUP;
    return mask;
}

uint64_t tag(uint32_t generation, int fd) {
    return (static_cast<uint64_t>(generation) << 32) | static_cast<uint32_t>(fd);
}

}  // namespace

ThinRunner::ThinRunner() : epollFd_(epoll_create1(EPOLL_CLOEXEC)), ownerPid_(getpid()) {}

void ThinRunner::resetAfterFork() {
    // The inherited epoll instance is shared with the parent: leave it alone.
    if (epollFd_ >= 0) close(epollFd_);
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    ownerPid_ = getpid();
    sockets_.clear();
    timers_.clear();
    stopping_ = false;
}

ThinRunner::~ThinRunner() {
    if (epollFd_ >= 0) close(epollFd_);
}

bool ThinRunner::registerSocket(int fd, SocketEntry entry, unsigned mask) {
    if (epollFd_ < 0 || fd < 0) return false;
    entry.generation = nextGeneration_++;
    epoll_event event{};
    event.events = toEpoll(mask);
    event.data.u64 = tag(entry.generation, fd);
    bool known = sockets_.count(fd) != 0;
    if (epoll_ctl(epollFd_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) != 0) return false;
    sockets_[fd] = entry;
    return true;
}

bool ThinRunner::setSocketMask(int fd, unsigned mask) {
    auto found = sockets_.find(fd);
    if (found == sockets_.end()) return false;
    epoll_event event{};
    event.events = toEpoll(mask);
    event.data.u64 = tag(found->second.generation, fd);
    return epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &event) == 0;
}

bool ThinRunner::removeSocket(int fd) {
    auto found = sockets_.find(fd);
    if (found == sockets_.end()) return false;
    sockets_.erase(found);
    // Fails harmlessly when the caller closed the descriptor first.
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    return true;
}

void ThinRunner::armTimer(const TimerEntry& entry, uint32_t delay) {
    uint64_t deadline = monotonicMillis() + uint64_t(delay) * 1000 / ticksPerSecond();
    uint64_t serial = nextTimerSerial_++;
    timers_.emplace(TimerKey{deadline, serial}, entry);
}

size_t ThinRunner::cancelTimers(void* object, const MemberBytes& callback) {
    size_t removed = 0;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.object == object && it->second.callback == callback) {
            it = timers_.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

int ThinRunner::millisToNextTimer() const {
    if (timers_.empty()) return -1;
    uint64_t now = monotonicMillis();
    uint64_t deadline = timers_.begin()->first.first;
    if (deadline <= now) return 0;
    uint64_t wait = deadline - now;
    return wait > uint64_t(INT_MAX) ? INT_MAX : static_cast<int>(wait);
}

void ThinRunner::fireDueTimers() {
    // Timers armed by the callbacks of this pass wait for the next pass, so a
    // callback re-arming itself with delay 0 cannot starve the sockets.
    uint64_t firstNewSerial = nextTimerSerial_;
    uint64_t now = monotonicMillis();
    while (!timers_.empty()) {
        auto first = timers_.begin();
        // New timers sort after every older due one: their deadline is at least `now`.
        if (first->first.first > now || first->first.second >= firstNewSerial) break;
        TimerEntry entry = first->second;
        timers_.erase(first);
        entry.invoke(entry.object, entry.callback);
    }
}

void ThinRunner::runOnce(int maxWaitMs) {
    int wait = millisToNextTimer();
    if (wait < 0 || (maxWaitMs >= 0 && maxWaitMs < wait)) wait = maxWaitMs;
    epoll_event events[MAX_EVENTS_PER_WAIT];
    int count = epollFd_ >= 0 ? epoll_wait(epollFd_, events, MAX_EVENTS_PER_WAIT, wait) : -1;
    for (int i = 0; i < count; ++i) {
        int fd = static_cast<int>(static_cast<uint32_t>(events[i].data.u64));
        uint32_t generation = static_cast<uint32_t>(events[i].data.u64 >> 32);
        auto found = sockets_.find(fd);
        // Removed (or removed and registered anew) by an earlier callback of this batch.
        if (found == sockets_.end() || found->second.generation != generation) continue;
        SocketEntry entry = found->second;
        entry.invoke(entry.object, entry.callback, fd, entry.data, fromEpoll(events[i].events));
    }
    fireDueTimers();
}

void ThinRunner::run() {
    stopping_ = false;
    while (!stopping_)
        runOnce(-1);
    stopping_ = false;
}

ThinRunner& getRunner() {
    static ThinRunner runner;
    static const bool forkNoticed = pthread_atfork(nullptr, nullptr, noteFork) == 0;
    if (!forkNoticed || forkedSinceCheck) {
        forkedSinceCheck = false;
        if (runner.ownerPid_ != getpid()) runner.resetAfterFork();
    }
    return runner;
}

}  // namespace orla
