#include "mib/service_subscription.h"

#include <utility>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"
#include "platform/orla/runner.h"

// A looper of its own that is not served: it talks only to the service, and
// the service's notifications come back on that connection.
class ServiceSubscription::Connection : public orla::Looper {
  public:
    explicit Connection(ServiceSubscription& owner) : owner_(owner) {}
    ~Connection() override { orla::removeTimer(this, &Connection::renew); }

    void renew() {
        sendMessage(toService(orla::CMD_SUBSCRIBE));
        orla::addTimer(this, &Connection::renew, owner_.renewTicks_);
    }
    void cancel() {
        orla::removeTimer(this, &Connection::renew);
        sendMessage(toService(orla::CMD_UNSUBSCRIBE));
    }

    orla::message cmdUnknown(orla::message const& note, uint32_t cmd) override {
        if (cmd != orla::CMD_NOTIFY || note.get(orla::MSG_FROM) != owner_.handlerPath_)
            return Looper::cmdUnknown(note, cmd);
        owner_.notified(note);
        return orla::message();
    }

  private:
    orla::message toService(uint32_t cmd) const {
        orla::message request;
        request.insert(orla::MSG_TO, owner_.handlerPath_);
        request.insert(orla::MSG_CMD, cmd);
        return request;
    }

    ServiceSubscription& owner_;
};

ServiceSubscription::ServiceSubscription(std::vector<uint32_t> handlerPath, NoteHandler onNote,
                                         uint32_t renewTicks)
    : handlerPath_(std::move(handlerPath)), onNote_(onNote), renewTicks_(renewTicks) {}

ServiceSubscription::~ServiceSubscription() = default;

void ServiceSubscription::start() {
    if (active_) return;
    active_ = true;
    if (!connection_) connection_ = std::make_unique<Connection>(*this);
    connection_->renew();
}

void ServiceSubscription::stop() {
    if (!active_) return;
    active_ = false;
    connection_->cancel();
}

void ServiceSubscription::notified(orla::message const& note) {
    if (active_) onNote_(note);
}
