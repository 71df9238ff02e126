#include "platform/orla/ipc_frame.h"

namespace orla {

void appendFrame(std::string& out, FrameKind kind, std::string_view body) {
    uint32_t length = static_cast<uint32_t>(body.size() + 1);
    out.push_back(static_cast<char>(length >> 24));
    out.push_back(static_cast<char>(length >> 16));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length));
    out.push_back(static_cast<char>(kind));
    out.append(body);
}

FrameDecoder::Status FrameDecoder::next(FrameKind& kind, std::string& body, std::string& error) {
    size_t available = buffer_.size() - consumed_;
    if (available < FRAME_HEADER_BYTES) return Status::NeedMore;
    const auto* header = reinterpret_cast<const unsigned char*>(buffer_.data() + consumed_);
    uint32_t length = (uint32_t(header[0]) << 24) | (uint32_t(header[1]) << 16) |
                      (uint32_t(header[2]) << 8) | uint32_t(header[3]);
    if (length == 0 || length > maxFrameBytes_) {
        error = "frame length " + std::to_string(length) + " outside 1.." +
                std::to_string(maxFrameBytes_);
        return Status::Malformed;
    }
    if (available - FRAME_HEADER_BYTES < length) return Status::NeedMore;
    unsigned rawKind = header[FRAME_HEADER_BYTES];
    if (rawKind > static_cast<unsigned>(FrameKind::Reply)) {
        error = "unknown frame kind " + std::to_string(rawKind);
        return Status::Malformed;
    }
    kind = static_cast<FrameKind>(rawKind);
    body.assign(buffer_, consumed_ + FRAME_HEADER_BYTES + 1, length - 1);
    consumed_ += FRAME_HEADER_BYTES + length;
    if (consumed_ == buffer_.size()) {
        // A large reply (a get-all page) grows the buffer far beyond the
        // usual frame; its memory goes back rather than staying for good.
        if (buffer_.capacity() > KEPT_BUFFER_BYTES) {
            std::string().swap(buffer_);
        } else {
            buffer_.clear();
        }
        consumed_ = 0;
    } else if (consumed_ > buffer_.size() / 2) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    return Status::Frame;
}

}  // namespace orla
