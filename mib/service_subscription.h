// ServiceSubscription: a plug-in's subscription to the change notifications
// of a platform service's handler, what a trap generator (mib/traps.h)
// follows while an operator has it selected.
//
//     void onPortChange(orla::message const& note);  // one CMD_NOTIFY
//     ServiceSubscription& ports() {
//         static ServiceSubscription subscription({PORT_SERVICE, PORT_HANDLER}, onPortChange);
//         return subscription;
//     }
//     // in autorun:
//     scribers.push_back({"port-events", [] { ports().start(); }, [] { ports().stop(); }});
//
// start() subscribes (CMD_SUBSCRIBE) on a connection of its own to the
// service, opened at the first start, so that a generator never selected
// costs none; while started, every CMD_NOTIFY the handler sends on it goes
// to `onNote`. It subscribes again every `renewTicks` clock ticks: the
// service keeps one subscription per connection and sender, so a renewal
// changes nothing while the first holds, and it is how the subscription
// outlives a restart of the service or a service that starts after the
// agent. Subscribing is fire and forget: an absent service costs a failed
// connect and never holds up the agent. stop() unsubscribes; notifications
// that still arrive are dropped.
//
// Keep it for the life of the process (a static, as above).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/orla/message.h"

class ServiceSubscription {
  public:
    using NoteHandler = void (*)(orla::message const& note);
    static constexpr uint32_t DEFAULT_RENEW_TICKS = 300;

    ServiceSubscription(std::vector<uint32_t> handlerPath, NoteHandler onNote,
                        uint32_t renewTicks = DEFAULT_RENEW_TICKS);
    ~ServiceSubscription();
    ServiceSubscription(ServiceSubscription const&) = delete;
    ServiceSubscription& operator=(ServiceSubscription const&) = delete;

    // Nothing when already started, or already stopped.
    void start();
    void stop();
    bool active() const { return active_; }

  private:
    class Connection;

    void notified(orla::message const& note);

    const std::vector<uint32_t> handlerPath_;
    const NoteHandler onNote_;
    const uint32_t renewTicks_;
    bool active_ = false;
    std::unique_ptr<Connection> connection_;
};
