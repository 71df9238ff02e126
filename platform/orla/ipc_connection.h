// One peer of the message stream: a non-blocking socket with a bounded input
// frame decoder and a bounded output buffer. Owns (and closes) its descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/orla/ipc_frame.h"
#include "platform/orla/message.h"

namespace orla {

class Connection {
  public:
    Connection(int fd, uint64_t serial, size_t maxFrameBytes, size_t maxOutputBytes);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }
    uint64_t serial() const { return serial_; }

    // Queues one frame and writes what the socket takes now. False when the
    // message is larger than a frame may be or the output buffer would exceed
    // its bound (the peer is not reading); nothing is queued then.
    bool send(FrameKind kind, const message& msg);
    // Writes queued bytes; false when the socket failed.
    bool flush();
    bool hasOutput() const { return sent_ < output_.size(); }

    enum class ReadResult { Data, NothingYet, Closed };
    // Reads at most `limit` bytes into the decoder; Closed on end of stream or error.
    ReadResult readSome(size_t limit);

    enum class Next { Frame, NeedMore, Malformed };
    // The next complete frame, decoded; Malformed sets `error`.
    Next nextFrame(FrameKind& kind, message& msg, std::string& error);

  private:
    int fd_;
    uint64_t serial_;
    size_t maxFrameBytes_;
    size_t maxOutputBytes_;
    FrameDecoder decoder_;
    std::string output_;
    size_t sent_ = 0;
};

}  // namespace orla
