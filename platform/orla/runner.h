// orla::ThinRunner: the process's event loop over epoll, with one-shot timers.
//
// Callbacks are member functions of the registering object:
//   sockets: void (T::*)(int fd, int data, unsigned events)
//   timers:  void (T::*)()
// A callback may add and remove sockets and timers, its own included. A socket
// removed while its event is pending in the same epoll batch is not called.
// Timers fire in deadline order, timers with equal deadlines in arming order.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

namespace orla {

// Event mask bits, for addSocket's mask and the callback's events.
inline constexpr unsigned SOCKET_READABLE = 1;
inline constexpr unsigned SOCKET_WRITABLE = 2;
inline constexpr unsigned SOCKET_HANGUP = 4;  // reported always, never requested

class ThinRunner {
  public:
    ThinRunner();
    ~ThinRunner();
    ThinRunner(const ThinRunner&) = delete;
    ThinRunner& operator=(const ThinRunner&) = delete;

    // Watches fd for the events in mask; `data` is passed back to the callback.
    // Registering an fd again replaces its registration. False when epoll refuses.
    template <class T, class U>
    bool addSocket(int fd, T* object, void (U::*callback)(int, int, unsigned), unsigned mask,
                   int data = 0) {
        SocketEntry entry;
        entry.object = static_cast<U*>(object);
        entry.callback = pack(callback);
        entry.invoke = [](void* obj, const MemberBytes& bytes, int f, int d, unsigned ev) {
            (static_cast<U*>(obj)->*unpack<void (U::*)(int, int, unsigned)>(bytes))(f, d, ev);
        };
        entry.data = data;
        return registerSocket(fd, entry, mask);
    }
    // Changes the events watched on a registered fd; false when it is not registered.
    bool setSocketMask(int fd, unsigned mask);
    // Stops watching fd (the caller closes it); false when it was not registered.
    bool removeSocket(int fd);

    // Arms a one-shot timer calling (object->*callback)() after `delay` clock
    // ticks of getJiffies() (see ticksPerSecond(); 100 per second).
    template <class T, class U>
    void addTimer(T* object, void (U::*callback)(), uint32_t delay) {
        TimerEntry entry;
        entry.object = static_cast<U*>(object);
        entry.callback = pack(callback);
        entry.invoke = [](void* obj, const MemberBytes& bytes) {
            (static_cast<U*>(obj)->*unpack<void (U::*)()>(bytes))();
        };
        armTimer(entry, delay);
    }
    // Cancels every pending timer of this object and callback; returns how many.
    template <class T, class U>
    size_t removeTimer(T* object, void (U::*callback)()) {
        return cancelTimers(static_cast<U*>(object), pack(callback));
    }

    // Waits at most maxWaitMs (negative: until something happens) for socket
    // events, then calls the ready sockets and the due timers once each.
    void runOnce(int maxWaitMs);
    // Runs until stop() is called from a callback.
    void run();
    void stop() { stopping_ = true; }

    // In a child process after fork(): starts over with an epoll instance of
    // its own, without the parent's sockets and timers.
    void resetAfterFork();

  private:
    friend ThinRunner& getRunner();
    using MemberBytes = std::array<unsigned char, 2 * sizeof(void*)>;
    template <class F>
    static MemberBytes pack(F callback) {
        static_assert(sizeof(F) <= sizeof(MemberBytes), "member function pointer too large");
        MemberBytes bytes{};
        std::memcpy(bytes.data(), &callback, sizeof(F));
        return bytes;
    }
    template <class F>
    static F unpack(const MemberBytes& bytes) {
        F callback;
        std::memcpy(&callback, bytes.data(), sizeof(F));
        return callback;
    }

    struct SocketEntry {
        void* object = nullptr;
        MemberBytes callback{};
        void (*invoke)(void*, const MemberBytes&, int, int, unsigned) = nullptr;
        int data = 0;
        uint32_t generation = 0;
    };
    struct TimerEntry {
        void* object = nullptr;
        MemberBytes callback{};
        void (*invoke)(void*, const MemberBytes&) = nullptr;
    };
    using TimerKey = std::pair<uint64_t, uint64_t>;  // deadline in ms, arming serial

    bool registerSocket(int fd, SocketEntry entry, unsigned mask);
    void armTimer(const TimerEntry& entry, uint32_t delay);
    size_t cancelTimers(void* object, const MemberBytes& callback);
    int millisToNextTimer() const;
    void fireDueTimers();

    int epollFd_ = -1;
    int ownerPid_ = 0;
    uint32_t nextGeneration_ = 1;
    uint64_t nextTimerSerial_ = 1;
    bool stopping_ = false;
    std::unordered_map<int, SocketEntry> sockets_;
    std::map<TimerKey, TimerEntry> timers_;
};

// The process-wide runner (reset automatically in a forked child).
ThinRunner& getRunner();

template <class T, class U>
void addTimer(T* object, void (U::*callback)(), uint32_t delay) {
    getRunner().addTimer(object, callback, delay);
}
template <class T, class U>
size_t removeTimer(T* object, void (U::*callback)()) {
    return getRunner().removeTimer(object, callback);
}

}  // namespace orla
