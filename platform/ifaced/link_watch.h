// LinkWatch: keeps the interface service's links current between reads, so
// that subscribers learn of a new operational status within moments and
// without anyone reading the interfaces.
//
// It listens to rtnetlink's link group (RTNLGRP_LINK, rtnetlink(7)): the
// kernel announces every link that comes, changes or goes with the link's
// whole description, including the operational state it settles a moment
// after a change of flags. A burst of notifications is taken a tenth of a
// second after its first, each link as last announced, so that a state the
// kernel passes through on its way (a veth pair coming up is
// lowerLayerDown until its peer's state is settled) sends no trap of its
// own. When the kernel dropped notifications (the socket's buffer overran)
// or sent one the service cannot read, the service reads every link again
// instead. Without a netlink socket it reads every link each second.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/ifaced/interface_service.h"

namespace ifaced {

class LinkWatch {
  public:
    // Takes a burst of notifications this long after its first.
    static constexpr uint32_t BURST_TICKS = 10;
    // Reads every link this often when there is no netlink socket.
    static constexpr uint32_t POLL_TICKS = 100;
    // Datagrams taken from the socket per readable event.
    static constexpr unsigned DRAIN_LIMIT = 256;

    explicit LinkWatch(InterfaceService& service) : service_(service) {}
    ~LinkWatch();
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;

    // Starts listening, then reads every link once; one line on stderr
    // when it falls back to polling.
    void start();

  private:
    void onEvent(int fd, int data, unsigned events);
    void onBurst();
    void onPoll();

    InterfaceService& service_;
    int fd_ = -1;
    bool burstArmed_ = false;
    bool lost_ = false;                        // notifications of this burst were lost
    std::map<uint32_t, LinkMessage> pending_;  // by ifindex, the burst's last of each
    std::vector<uint8_t> buffer_;
};

}  // namespace ifaced
