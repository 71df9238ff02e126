#include "platform/orla/handler.h"

#include <cstdio>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"

namespace orla {

namespace {

message unsupported(uint32_t cmd) {
    char text[48];
    std::snprintf(text, sizeof text, "unsupported command 0x%x", static_cast<unsigned>(cmd));
    return errorMsg(ERR_UNSUPPORTED, text);
}

}  // namespace

message Handler::cmdGet(const message&) {
    return unsupported(CMD_GET);
}
message Handler::cmdSet(const message&) {
    return unsupported(CMD_SET);
}
message Handler::cmdGetObj(const message&, uint32_t) {
    return unsupported(CMD_GETOBJ);
}
message Handler::cmdSetObj(const message&, uint32_t) {
    return unsupported(CMD_SETOBJ);
}
message Handler::cmdRemoveObj(const message&, uint32_t) {
    return unsupported(CMD_REMOVEOBJ);
}
message Handler::cmdGetAll(const message&, uint32_t, uint32_t) {
    return unsupported(CMD_GETALL);
}
message Handler::cmdAddObj(const message&) {
    return unsupported(CMD_ADDOBJ);
}
message Handler::cmdGetCount(const message&) {
    return unsupported(CMD_GETCOUNT);
}
message Handler::cmdUnknown(const message&, uint32_t cmd) {
    return unsupported(cmd);
}
message Handler::getObject(uint32_t) {
    return message();
}

message Handler::handleRequest(const message& request) {
    if (!request.has(MSG_CMD)) return errorMsg(ERR_BAD_REQUEST, "request without command");
    uint32_t cmd = request.get(MSG_CMD);
    switch (cmd) {
        case CMD_GET:
            return cmdGet(request);
        case CMD_SET:
            return cmdSet(request);
        case CMD_GETOBJ:
            return cmdGetObj(request, request.get(OBJ_ID));
        case CMD_SETOBJ:
            return cmdSetObj(request, request.get(OBJ_ID));
        case CMD_REMOVEOBJ:
            return cmdRemoveObj(request, request.get(OBJ_ID));
        case CMD_GETALL:
            return cmdGetAll(request, request.get(OBJ_NEXT, 0xffffffff),
                             request.get(OBJ_PAGE_SIZE, 0));
        case CMD_ADDOBJ:
            return cmdAddObj(request);
        case CMD_GETCOUNT:
            return cmdGetCount(request);
        default:
            return cmdUnknown(request, cmd);
    }
}

void Handler::notifyChange(uint32_t id, const message&) {
    if (looper_) looper_->notifySubscribers(*this, id);
}

void Handler::sendUndo(const message&, const message& undo, const std::string& text) {
    if (looper_) looper_->recordUndo(*this, undo, text);
}

message Handler::added(const message& request, uint32_t id, const std::string& text) {
    notifyChange(id, request);
    message undo;
    undo.insert(MSG_CMD, CMD_REMOVEOBJ);
    undo.insert(OBJ_ID, id);
    sendUndo(request, undo, text);
    message reply;
    reply.insert(OBJ_ID, id);
    return reply;
}

void Handler::sendCmd(const message& msg, uint32_t code) {
    if (!looper_) return;
    message command = msg;
    command.insert(MSG_CMD, code);
    looper_->route(command, localPath_);
}

uint32_t Handler::policy(uint32_t cmd) const {
    auto found = policies_.find(cmd);
    return found == policies_.end() ? 0 : found->second;
}

void Handler::attach(Looper* looper, std::vector<uint32_t> localPath) {
    looper_ = looper;
    handlerId_ = localPath.empty() ? 0 : localPath.front();
    localPath_ = std::move(localPath);
}

}  // namespace orla
