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
        decoder.append(std::string_view(stream).substr(0, split));
        std::vector<std::string> bodies;
        while (decoder.next(kind, body, error) == FrameDecoder::Status::Frame)
            bodies.push_back(body);
        decoder.append(std::string_view(stream).substr(split));
        while (decoder.next(kind, body, error) == FrameDecoder::Status::Frame)
            bodies.push_back(body);
        ASSERT_EQ(bodies.size(), 3u) << "split at " << split;
        EXPECT_EQ(bodies[0], "hello");
        EXPECT_EQ(bodies[1], "");
        EXPECT_EQ(bodies[2].size(), 300u);
        EXPECT_EQ(kind, FrameKind::Message);
        EXPECT_EQ(decoder.buffered(), 0u);
    }
}

struct BadHeader {
    const char* name;
    std::string bytes;
};

class FrameDecoderRejects : public testing::TestWithParam<BadHeader> {};

TEST_P(FrameDecoderRejects, MalformedHeaderBeforeBodyArrives) {
    FrameDecoder decoder(1024);
    FrameKind kind;
    std::string body, error;
    decoder.append(GetParam().bytes);
    EXPECT_EQ(decoder.next(kind, body, error), FrameDecoder::Status::Malformed);
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Headers, FrameDecoderRejects,
    testing::Values(BadHeader{"ZeroLength", std::string("\0\0\0\0", 4)},
                    BadHeader{"AboveLimit", std::string("\0\0\x04\x01", 4)},
                    BadHeader{"HugeLength", std::string("\xff\xff\xff\xff", 4)},
                    BadHeader{"UnknownKind", std::string("\0\0\0\x01\x03", 5)}),
    [](const testing::TestParamInfo<BadHeader>& info) { return info.param.name; });

TEST(FrameDecoder, FrameAtExactLimitIsAccepted) {
    FrameDecoder decoder(10);
    std::string stream;
    orla::appendFrame(stream, FrameKind::Message, std::string(9, 'a'));
    decoder.append(stream);
    FrameKind kind;
    std::string body, error;
    EXPECT_EQ(decoder.next(kind, body, error), FrameDecoder::Status::Frame);
    EXPECT_EQ(decoder.next(kind, body, error), FrameDecoder::Status::NeedMore);
}

}  // namespace
