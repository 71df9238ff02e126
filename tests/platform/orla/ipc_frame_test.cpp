#include "platform/orla/ipc_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using orla::FrameDecoder;
using orla::FrameKind;

TEST(FrameDecoder, FramesSplitAnywhereComeOutWhole) {
    std::string stream;
    orla::appendFrame(stream, FrameKind::Request, "hello");
    orla::appendFrame(stream, FrameKind::Reply, "");
    orla::appendFrame(stream, FrameKind::Message, std::string(300, 'x'));
    for (size_t split = 0; split <= stream.size(); ++split) {
        FrameDecoder decoder(1024);
        FrameKind kind;
        std::string body, error;
        std::vector<std::string> bodies;
        for (std::string_view part :
             {std::string_view(stream).substr(0, split), std::string_view(stream).substr(split)}) {
            decoder.append(part);
            while (decoder.next(kind, body, error) == FrameDecoder::Status::Frame)
                bodies.push_back(body);
        }
        ASSERT_EQ(bodies.size(), 3u) << "split at " << split;
        EXPECT_EQ(bodies[0], "hello");
        EXPECT_EQ(bodies[1], "");
        EXPECT_EQ(bodies[2].size(), 300u);
        EXPECT_EQ(kind, FrameKind::Message);
        EXPECT_EQ(decoder.buffered(), 0u);
    }
}

// A frame of the limit's size passes; a bad header is refused before its
// body arrives.
TEST(FrameDecoder, LimitAndMalformedHeaders) {
    const std::pair<std::string, FrameDecoder::Status> cases[] = {
        {std::string("\0\0\0\x0a\0", 5) + std::string(9, 'a'), FrameDecoder::Status::Frame},
        {std::string("\0\0\0\0", 4), FrameDecoder::Status::Malformed},          // zero length
        {std::string("\0\0\0\x0b", 4), FrameDecoder::Status::Malformed},        // above the limit
        {std::string("\xff\xff\xff\xff", 4), FrameDecoder::Status::Malformed},  // huge
        {std::string("\0\0\0\x01\x09", 5), FrameDecoder::Status::Malformed},    // unknown kind
    };
    for (const auto& [bytes, status] : cases) {
        FrameDecoder decoder(10);
        FrameKind kind;
        std::string body, error;
        decoder.append(bytes);
        EXPECT_EQ(decoder.next(kind, body, error), status) << testing::PrintToString(bytes);
        EXPECT_EQ(error.empty(), status == FrameDecoder::Status::Frame);
    }
}

}  // namespace
