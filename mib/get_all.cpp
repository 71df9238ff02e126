#include "mib/get_all.h"

#include <iostream>
#include <memory>
#include <set>
#include <utility>

#include "mib/exchange_waits.h"
#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"

namespace {

// One paged read of a handler's list: the objects so far and the request of
// the next page.
class Pager {
  public:
    explicit Pager(const orla::message& request) : request_(request), page_(request) {}

    const orla::message& page() const { return page_; }
    // Takes the reply to page(): true when another page is to be read. A
    // failed exchange ends the list with the objects so far; a handler that
    // names a next page it named before, or pages past the bounds, is cut
    // off with one line.
    bool take(const orla::message& reply) {
        if (orla::isError(reply)) return false;
        for (orla::flat_message const& object : reply.get(orla::OBJ_LIST)) {
            if (objects.size() == GET_ALL_MAX_OBJECTS) {
                std::cerr << "getAll: paging stopped after " << objects.size() << " objects"
                          << std::endl;
                return false;
            }
            objects.emplace_back(object);
        }
        if (!reply.has(orla::OBJ_NEXT)) return false;
        const uint32_t next = reply.get(orla::OBJ_NEXT);
        if (!namedNext_.insert(next).second) {
            std::cerr << "getAll: handler repeated next id " << next << std::endl;
            return false;
        }
        if (++pages_ == GET_ALL_MAX_PAGES) {
            std::cerr << "getAll: paging stopped after " << pages_ << " pages" << std::endl;
            return false;
        }
        page_ = request_;
        page_.insert(orla::OBJ_NEXT, next);
        return true;
    }

    std::vector<orla::message> objects;

  private:
    orla::message request_;
    orla::message page_;
    std::set<uint32_t> namedNext_;
    size_t pages_ = 0;
};

// The whole list as one answer, kept for the requests that wait for it.
orla::message asOneAnswer(const std::vector<orla::message>& objects) {
    orla::message all;
    all.insert(orla::OBJ_LIST, std::vector<orla::flat_message>{});
    for (const orla::message& object : objects)
        all.append(orla::OBJ_LIST, object);
    return all;
}

// A list read while requests wait for it: each page starts when the one
// before came, without serving any request again, and the requests are told
// once, when the list is whole (or its read failed).
class PagedRead : public std::enable_shared_from_this<PagedRead> {
  public:
    PagedRead(std::string ticket, const orla::message& request)
        : ticket_(std::move(ticket)), pager_(request) {}

    // Reads pages until one is not at hand: true when the list ended so
    // (objects()), false when the rest comes on its own.
    bool readAtHand() {
        for (;;) {
            std::optional<orla::message> atHand =
                startFor(pager_.page(), [self = shared_from_this()](orla::message reply) {
                    self->took(std::move(reply));
                });
            if (!atHand) return false;
            if (!pager_.take(*atHand)) return true;
        }
    }
    std::vector<orla::message>& objects() { return pager_.objects; }

  private:
    void took(orla::message reply) {
        if (answerFailed(reply)) {
            keepAnswer(ticket_, std::move(reply));
        } else if (!pager_.take(reply) || readAtHand()) {
            keepAnswer(ticket_, asOneAnswer(pager_.objects));
        }
    }

    std::string ticket_;
    Pager pager_;
};

// getAll while the request being served may wait: the pages at hand are read
// at once; from the first that is not, the rest is read on its own and the
// request waits for the whole list.
std::vector<orla::message> getAllOrWait(const orla::message& request) {
    const std::string ticket = "list:" + request.flatten().bytes;
    if (std::optional<orla::message> kept = keptAnswer(ticket)) {
        if (answerFailed(*kept)) return {};
        Pager whole(request);
        whole.take(*kept);
        return std::move(whole.objects);
    }
    const bool started = onItsWay(ticket);
    if (mustFail(started)) {
        countFailedAnswer();
        return {};
    }
    if (!started) {
        auto read = std::make_shared<PagedRead>(ticket, request);
        if (read->readAtHand()) return std::move(read->objects());
    }
    waitFor(ticket);
    return {};
}

}  // namespace

std::vector<orla::message> getAll(orla::message& request) {
    if (mayWait()) return getAllOrWait(request);
    Pager pager(request);
    while (pager.take(exchangeWithPlatform(pager.page()))) {
    }
    return std::move(pager.objects);
}
