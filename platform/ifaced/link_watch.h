// LinkWatch: has the interface service check its links when the kernel
// announces a change, so that subscribers learn of a new operational status
// within moments and without anyone reading the interfaces.
//
// It listens to rtnetlink's link group (RTMGRP_LINK, rtnetlink(7)) and uses
// what arrives only as a sign that some link changed: nothing in the
// datagrams is parsed. A burst of events gives one check a tenth of a
// second later, and one more SETTLE_TICKS after the last event, since the
// kernel settles a link's operational state from a work queue after it
// announced the flags' change. Without a netlink socket it polls instead.
#pragma once

#include <cstdint>

#include "platform/ifaced/interface_service.h"

namespace ifaced {

class LinkWatch {
  public:
    // Checks after the first event of a burst (getJiffies() ticks).
    static constexpr uint32_t BURST_TICKS = 10;
    // Checks again this long after the last event.
    static constexpr uint32_t SETTLE_TICKS = 150;
    // Checks this often when there is no netlink socket.
    static constexpr uint32_t POLL_TICKS = 100;
    // Datagrams taken from the socket per readable event.
    static constexpr unsigned DRAIN_LIMIT = 256;

    explicit LinkWatch(InterfaceService& service) : service_(service) {}
    ~LinkWatch();
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;

    // Reads the links once and starts watching; one line on stderr when it
    // falls back to polling.
    void start();

  private:
    void onEvent(int fd, int data, unsigned events);
    void onBurst();
    void onSettle();
    void onPoll();

    InterfaceService& service_;
    int fd_ = -1;
    bool burstArmed_ = false;
};

}  // namespace ifaced
