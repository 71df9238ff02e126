#include "platform/orla/ipc_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using orla::FrameDecoder;
using orla::FrameKind;

// Malformed headers are the IPC test's.
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

}  // namespace
