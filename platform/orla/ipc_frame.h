// Frames of the inter-process message stream: a 4-byte big-endian length,
// then that many bytes: one kind byte and a flattened orla::message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orla {

enum class FrameKind : uint8_t {
    Message = 0,  // fire and forget: no reply is sent
    Request = 1,  // the receiver replies with a Reply carrying the same MSG_SEQ
    Reply = 2,
};

inline constexpr size_t FRAME_HEADER_BYTES = 4;

// Appends one frame to `out`.
void appendFrame(std::string& out, FrameKind kind, std::string_view body);

// Cuts frames out of a byte stream. Holds at most one incomplete frame plus
// whatever was appended since the last complete one was taken.
class FrameDecoder {
  public:
    enum class Status { Frame, NeedMore, Malformed };

    explicit FrameDecoder(size_t maxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    void append(std::string_view bytes) { buffer_.append(bytes); }
    size_t buffered() const { return buffer_.size() - consumed_; }

    // Takes the next complete frame. Malformed (with `error` set) means the
    // stream cannot be trusted any more: a length of 0 or above the limit, or
    // an unknown kind.
    Status next(FrameKind& kind, std::string& body, std::string& error);

  private:
    // Capacity the buffer keeps once it is empty: room for ordinary frames.
    static constexpr size_t KEPT_BUFFER_BYTES = 16384;
    size_t maxFrameBytes_;
    std::string buffer_;
    size_t consumed_ = 0;
};

}  // namespace orla
