#include "platform/orla/ipc_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orla {

Connection::Connection(int fd, uint64_t serial, size_t maxFrameBytes, size_t maxOutputBytes)
    : fd_(fd),
      serial_(serial),
      maxFrameBytes_(maxFrameBytes),
      maxOutputBytes_(maxOutputBytes),
      decoder_(maxFrameBytes) {}

Connection::~Connection() {
    close(fd_);
}

bool Connection::send(FrameKind kind, const message& msg) {
    flat_message flat = msg.flatten();
    if (flat.bytes.size() + 1 > maxFrameBytes_) return false;
    size_t pending = output_.size() - sent_;
    if (pending + FRAME_HEADER_BYTES + 1 + flat.bytes.size() > maxOutputBytes_) return false;
    if (sent_ > 0) {
        output_.erase(0, sent_);
        sent_ = 0;
    }
    appendFrame(output_, kind, flat.bytes);
    return flush();
}

bool Connection::flush() {
    while (sent_ < output_.size()) {
        ssize_t written = ::send(fd_, output_.data() + sent_, output_.size() - sent_, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        sent_ += static_cast<size_t>(written);
    }
    output_.clear();
    sent_ = 0;
    return true;
}

Connection::ReadResult Connection::readSome(size_t limit) {
    char chunk[16384];
    size_t total = 0;
    while (total < limit) {
        size_t want = std::min(sizeof chunk, limit - total);
        ssize_t got = ::recv(fd_, chunk, want, 0);
        if (got == 0) return ReadResult::Closed;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return ReadResult::Closed;
        }
        decoder_.append(std::string_view(chunk, static_cast<size_t>(got)));
        total += static_cast<size_t>(got);
    }
    return total > 0 ? ReadResult::Data : ReadResult::NothingYet;
}

Connection::Next Connection::nextFrame(FrameKind& kind, message& msg, std::string& error) {
    std::string body;
    switch (decoder_.next(kind, body, error)) {
        case FrameDecoder::Status::NeedMore:
            return Next::NeedMore;
        case FrameDecoder::Status::Malformed:
            return Next::Malformed;
        case FrameDecoder::Status::Frame:
            break;
    }
    if (!message::unflatten(body, msg)) {
        error = "undecodable message of " + std::to_string(body.size()) + " bytes";
        return Next::Malformed;
    }
    return Next::Frame;
}

}  // namespace orla
