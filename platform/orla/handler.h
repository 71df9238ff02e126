// orla::Handler: a target of platform requests inside a service.
//
// The looper routes a request to the handler named by the rest of its MSG_TO
// path and calls, by the request's MSG_CMD:
//   CMD_GET        cmdGet(request)
//   CMD_SET        cmdSet(request)
//   CMD_GETOBJ     cmdGetObj(request, OBJ_ID)
//   CMD_SETOBJ     cmdSetObj(request, OBJ_ID)
//   CMD_REMOVEOBJ  cmdRemoveObj(request, OBJ_ID)
//   CMD_GETALL     cmdGetAll(request, OBJ_NEXT or 0xffffffff when absent, OBJ_PAGE_SIZE or 0)
//   CMD_ADDOBJ     cmdAddObj(request)
//   CMD_GETCOUNT   cmdGetCount(request)
//   anything else  cmdUnknown(request, command)
// (CMD_SUBSCRIBE and CMD_UNSUBSCRIBE are answered by the looper for every
// handler, CMD_UNDO and CMD_UNDO_LIST by the looper for itself.)
// The returned message is the reply. An absent OBJ_ID reads as 0.
//
// Library defaults for operations a handler does not override: every cmd...
// operation answers errorMsg(ERR_UNSUPPORTED, "unsupported command 0x<code>");
// getObject answers an empty message.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/message.h"

namespace orla {

class Looper;

class Handler {
  public:
    Handler() = default;
    virtual ~Handler() = default;
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    virtual message cmdGet(const message& request);
    virtual message cmdSet(const message& request);
    virtual message cmdGetObj(const message& request, uint32_t id);
    virtual message cmdSetObj(const message& request, uint32_t id);
    virtual message cmdRemoveObj(const message& request, uint32_t id);
    virtual message cmdGetAll(const message& request, uint32_t startId, uint32_t count);
    virtual message cmdAddObj(const message& request);
    virtual message cmdGetCount(const message& request);
    virtual message cmdUnknown(const message& request, uint32_t cmd);
    // The current form of an object, as change notifications carry it.
    virtual message getObject(uint32_t id);

    // Calls the operation that the request's MSG_CMD selects (table above);
    // a request without MSG_CMD gets ERR_BAD_REQUEST.
    message handleRequest(const message& request);

    // Sends CMD_NOTIFY with OBJ_ID = id and the fields of getObject(id) to every
    // client subscribed to this handler. The request that made the change is
    // not forwarded. Does nothing before the handler is added to a looper.
    void notifyChange(uint32_t id, const message& request);
    // Records `undo` in the process's undo history with this handler and the
    // description `text`; CMD_UNDO later hands `undo` back to this handler as a
    // request (dispatched by its MSG_CMD). Not recorded while an undo is being
    // applied, nor before the handler is added to a looper. The request is
    // not kept.
    void sendUndo(const message& request, const message& undo, const std::string& text);
    // What a table's add command does once object `id` is in place: tells
    // the subscribers, records its removal as the undo step `text`, and
    // returns the reply, which holds OBJ_ID = id.
    message added(const message& request, uint32_t id, const std::string& text);
    // Sets MSG_CMD = code and sends the message, fire and forget, to its
    // MSG_TO; MSG_FROM becomes this handler's path. Dropped when the
    // destination service is absent or the handler is not added to a looper.
    void sendCmd(const message& msg, uint32_t code);

    // Records a policy value for a command. Policies are kept for inspection
    // only: the library does not act on them.
    void addPolicy(uint32_t cmd, uint32_t policy) { policies_[cmd] = policy; }
    uint32_t policy(uint32_t cmd) const;  // 0 when none was added
    const std::map<uint32_t, uint32_t>& policies() const { return policies_; }

    // Set when the handler is added to a looper (the looper is its own handler).
    Looper* looper() const { return looper_; }
    // The handler's id in its looper; 0 for the looper itself and before adding.
    uint32_t handlerId() const { return handlerId_; }
    // Path inside the service: empty for the looper itself, {id} for a handler.
    const std::vector<uint32_t>& localPath() const { return localPath_; }

  private:
    friend class Looper;
    void attach(Looper* looper, std::vector<uint32_t> localPath);

    Looper* looper_ = nullptr;
    uint32_t handlerId_ = 0;
    std::vector<uint32_t> localPath_;
    std::map<uint32_t, uint32_t> policies_;
};

// One page of a table's get-all listing over `objects`, in their order:
// from the object whose id is `startId` (the first for 0xffffffff), at most
// `count` of them (pageMax when 0 or more), each in the form `formOf` gives,
// in OBJ_LIST, and OBJ_NEXT naming the first one left out. ERR_BAD_START_ID
// when no object has that id.
template <typename Objects, typename IdOf, typename FormOf>
message listPage(const Objects& objects, uint32_t startId, uint32_t count, uint32_t pageMax,
                 IdOf idOf, FormOf formOf) {
    auto it = objects.begin();
    if (startId != 0xffffffff) {
        while (it != objects.end() && idOf(*it) != startId)
            ++it;
        if (it == objects.end()) return errorMsg(ERR_BAD_START_ID, "");
    }
    if (count == 0 || count > pageMax) count = pageMax;
    message reply;
    reply.insert(OBJ_LIST, std::vector<flat_message>{});
    for (uint32_t listed = 0; it != objects.end(); ++it, ++listed) {
        if (listed == count) {
            reply.insert(OBJ_NEXT, idOf(*it));
            break;
        }
        reply.append(OBJ_LIST, formOf(*it));
    }
    return reply;
}

}  // namespace orla
