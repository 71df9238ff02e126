// socket_round_trip: the floor of what a request forwarded to an AgentX
// subagent costs the agent with one request in flight (bench/agentx.sh).
// One side writes a frame on a Unix stream socket, waits in epoll until the
// answer comes and reads it, as the master does for each forwarded request;
// the other side echoes at once. It prints the waiting side's CPU time per
// round trip (what the kernel counts for it, sleeping and waking included)
// and the round trip's wall-clock time.
//
//   socket_round_trip [ROUNDS]    (default 100000)
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// This thread's CPU time in nanoseconds, as the benchmarks read the agent's.
double threadCpuNs() {
    FILE* stat = std::fopen("/proc/thread-self/schedstat", "r");
    if (stat == nullptr) return 0;
    unsigned long long ran = 0;
    if (std::fscanf(stat, "%llu", &ran) != 1) ran = 0;
    std::fclose(stat);
    return static_cast<double>(ran);
}

double wallNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    int ends[2];
    if (rounds <= 0 || socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 2;
    const pid_t echo = fork();
    if (echo == 0) {
        close(ends[0]);
        char buffer[4096];
        for (;;) {
            const ssize_t got = recv(ends[1], buffer, sizeof buffer, 0);
            if (got <= 0 || send(ends[1], buffer, static_cast<size_t>(got), 0) != got) _exit(0);
        }
    }
    close(ends[1]);
    const int poll = epoll_create1(0);
    epoll_event watch{};
    watch.events = EPOLLIN;
    watch.data.fd = ends[0];
    if (poll < 0 || epoll_ctl(poll, EPOLL_CTL_ADD, ends[0], &watch) != 0) return 2;
    // A Get of one scalar and its Response are some 60 octets each.
    char frame[64] = {1};
    char buffer[4096];
    auto roundTrip = [&] {
        epoll_event ready{};
        return send(ends[0], frame, sizeof frame, MSG_DONTWAIT) == ssize_t(sizeof frame) &&
               epoll_wait(poll, &ready, 1, -1) == 1 &&
               recv(ends[0], buffer, sizeof buffer, MSG_DONTWAIT) > 0;
    };
    for (int warm = 0; warm < 1000; ++warm)
        if (!roundTrip()) return 1;
    const double cpuBefore = threadCpuNs();
    const double wallBefore = wallNs();
    for (long round = 0; round < rounds; ++round)
        if (!roundTrip()) return 1;
    const double cpu = (threadCpuNs() - cpuBefore) / static_cast<double>(rounds);
    const double wall = (wallNs() - wallBefore) / static_cast<double>(rounds);
    close(ends[0]);
    waitpid(echo, nullptr, 0);
    std::printf("RESULT rounds=%ld cpu_ns_per_round_trip=%.0f wall_ns_per_round_trip=%.0f\n", rounds,
                cpu, wall);
    return 0;
}
