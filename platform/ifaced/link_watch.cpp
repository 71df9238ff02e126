#include "platform/ifaced/link_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "platform/orla/runner.h"

namespace ifaced {

LinkWatch::~LinkWatch() {
    orla::removeTimer(this, &LinkWatch::onBurst);
    orla::removeTimer(this, &LinkWatch::onSettle);
    orla::removeTimer(this, &LinkWatch::onPoll);
    if (fd_ >= 0) {
        orla::getRunner().removeSocket(fd_);
        ::close(fd_);
    }
}

void LinkWatch::start() {
    service_.checkLinks();
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    const char* failed = nullptr;
    if (fd_ < 0) {
        failed = "socket";
    } else if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        failed = "bind";
    } else if (!orla::getRunner().addSocket(fd_, this, &LinkWatch::onEvent,
                                            orla::SOCKET_READABLE)) {
        failed = "epoll";
        errno = 0;
    }
    if (!failed) return;
    std::cerr << "orla-ifaced: no link events (netlink " << failed
              << (errno ? std::string(": ") + std::strerror(errno) : std::string())
              << "), polling the links every second" << std::endl;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    orla::addTimer(this, &LinkWatch::onPoll, POLL_TICKS);
}

void LinkWatch::onEvent(int fd, int, unsigned) {
    // The contents do not matter; one buffer takes every datagram, and
    // recvfrom truncates larger ones.
    std::array<char, 4096> buffer;
    bool changed = false;
    for (unsigned taken = 0; taken < DRAIN_LIMIT; ++taken) {
        sockaddr_nl sender{};
        socklen_t length = sizeof sender;
        ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&sender), &length);
        if (got < 0 && errno == EINTR) continue;
        // ENOBUFS: the kernel dropped events for us; something changed.
        if (got < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        if (got < 0) break;
        // Only the kernel (port 0) speaks for the links.
        if (length == sizeof sender && sender.nl_pid == 0) changed = true;
    }
    if (!changed) return;
    if (!burstArmed_) {
        burstArmed_ = true;
        orla::addTimer(this, &LinkWatch::onBurst, BURST_TICKS);
    }
    orla::removeTimer(this, &LinkWatch::onSettle);
    orla::addTimer(this, &LinkWatch::onSettle, SETTLE_TICKS);
}

void LinkWatch::onBurst() {
    burstArmed_ = false;
    service_.checkLinks();
}

void LinkWatch::onSettle() {
    service_.checkLinks();
}

void LinkWatch::onPoll() {
    service_.checkLinks();
    orla::addTimer(this, &LinkWatch::onPoll, POLL_TICKS);
}

}  // namespace ifaced
