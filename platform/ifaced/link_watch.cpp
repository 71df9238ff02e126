#include "platform/ifaced/link_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <span>
#include <string>

#include "platform/orla/runner.h"

namespace ifaced {

namespace {

constexpr size_t RECEIVE_BYTES = 64 * 1024;  // above any one notification
// Room for the notifications of a few hundred links changing at once.
constexpr int SOCKET_BUFFER_BYTES = 1 << 20;

}  // namespace

LinkWatch::~LinkWatch() {
    orla::removeTimer(this, &LinkWatch::onBurst);
    orla::removeTimer(this, &LinkWatch::onPoll);
    if (fd_ >= 0) {
        orla::getRunner().removeSocket(fd_);
        ::close(fd_);
    }
}

void LinkWatch::start() {
    // Listening before the first read: no change falls between the two.
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    // Best effort: a smaller buffer overruns sooner, and the service reads
    // every link then.
    if (fd_ >= 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &SOCKET_BUFFER_BYTES, sizeof SOCKET_BUFFER_BYTES);
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
    if (!failed) buffer_.resize(RECEIVE_BYTES);
    service_.checkLinks();
    if (!failed) return;
    std::cerr << "orla-ifaced: no link notifications (netlink " << failed
              << (errno ? std::string(": ") + std::strerror(errno) : std::string())
              << "), reading the links every second" << std::endl;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    orla::addTimer(this, &LinkWatch::onPoll, POLL_TICKS);
}

void LinkWatch::onEvent(int fd, int, unsigned) {
    std::vector<LinkMessage> links;
    for (unsigned taken = 0; taken < DRAIN_LIMIT; ++taken) {
        const netlink::Received got = netlink::receiveDatagram(fd, buffer_, MSG_DONTWAIT);
        // ENOBUFS: the kernel dropped notifications for us.
        if (got.error == ENOBUFS) {
            lost_ = true;
            continue;
        }
        if (got.error != 0) break;
        // Only the kernel (port 0) speaks for the links.
        if (!got.fromKernel) continue;
        if (got.truncated ||
            parseLinks(got.datagram, std::nullopt, links) == netlink::DumpStatus::Failed)
            lost_ = true;
    }
    for (LinkMessage& link : links)
        pending_[link.info.index] = std::move(link);
    if ((lost_ || !links.empty()) && !burstArmed_) {
        burstArmed_ = true;
        orla::addTimer(this, &LinkWatch::onBurst, BURST_TICKS);
    }
}

void LinkWatch::onBurst() {
    burstArmed_ = false;
    std::vector<LinkMessage> links;
    links.reserve(pending_.size());
    for (auto& [index, link] : pending_)
        links.push_back(std::move(link));
    pending_.clear();
    // A dump tells everything the notifications would have.
    if (lost_) {
        lost_ = false;
        service_.checkLinks();
    } else {
        service_.linksAnnounced(links);
    }
}

void LinkWatch::onPoll() {
    service_.checkLinks();
    orla::addTimer(this, &LinkWatch::onPoll, POLL_TICKS);
}

}  // namespace ifaced
