#include "platform/orla/message.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/orla/ids.h"

namespace orla {
namespace {

constexpr BoolKey FLAG{1};
constexpr U32Key COUNT{2};
constexpr StringKey NAME{3};
constexpr U32ArrayKey PATH{4};
constexpr MessageArrayKey ITEMS{5};

std::string printed(const message& msg) {
    std::ostringstream os;
    os << msg;
    return os.str();
}

std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string header(uint32_t fieldCount) {
    return char(FLAT_VERSION) + be32(fieldCount);
}

// A message of `count` boolean fields, flattened.
std::string manyFields(uint32_t count) {
    message m;
    for (uint32_t key = 0; key < count; ++key)
        m.insert(BoolKey{key}, true);
    return m.flatten().bytes;
}

message nestedTo(unsigned depth) {
    message m;
    m.insert(COUNT, depth);
    if (depth > 1) m.append(ITEMS, nestedTo(depth - 1));
    return m;
}

// Flattened messages arrive from other processes: every truncation and each
// kind of lie fails and leaves the output empty; the limits hold exactly.
TEST(MessageFlat, HostileBytesFailAndLeaveTheOutputEmpty) {
    message inner, sample;
    inner.insert(OBJ_ID, 7);
    inner.insert(NAME, "seven");
    sample.insert(MSG_CMD, CMD_GETALL);
    sample.insert(FLAG, true);
    sample.insert(NAME, std::string("a\0b", 3));
    sample.insert(PATH, {161, 0xffffffff});
    sample.append(ITEMS, inner);
    sample.append(ITEMS, message{});
    const std::string good = sample.flatten().bytes;
    auto field = [](uint32_t key) { return header(1) + be32(key); };
    message big;
    big.insert(NAME, std::string(FLAT_MAX_BYTES, 'a'));
    std::vector<std::pair<std::string, std::string>> cases = {
        {"wrong version", char(FLAT_VERSION + 1) + be32(0)},
        {"field count past the bytes", header(0xffffffff)},
        {"field count over the limit", manyFields(FLAT_MAX_FIELDS + 1)},
        {"string length past the bytes", field(NAME.raw()) + be32(0xfffffff0) + "abc"},
        {"u32 count past the bytes", field(PATH.raw()) + be32(0x40000000) + be32(1)},
        {"element count past the bytes", field(ITEMS.raw()) + be32(0xffffffff) + header(0)},
        {"element length past the bytes",
         field(ITEMS.raw()) + be32(1) + be32(0xffffffff) + header(0)},
        {"byte after an element's last field",
         field(ITEMS.raw()) + be32(1) + be32(6) + header(0) + "!"},
        {"unknown type tag", field(0x40000001) + std::string(1, '\0')},
        {"bool byte neither 0 nor 1", field(FLAG.raw()) + "\2"},
        {"duplicate key", header(2) + be32(COUNT.raw()) + be32(1) + be32(COUNT.raw()) + be32(2)},
        {"trailing bytes", header(0) + "x"},
        {"over one mebibyte", big.flatten().bytes},
        {"nested too deep", nestedTo(FLAT_MAX_DEPTH + 1).flatten().bytes},
    };
    for (size_t n = 0; n < good.size(); ++n)
        cases.emplace_back("truncated to " + std::to_string(n), good.substr(0, n));
    for (const auto& [what, bytes] : cases) {
        message out = sample;
        EXPECT_FALSE(message::unflatten(bytes, out)) << what;
        EXPECT_TRUE(out.empty()) << what;
    }
    const message deep = nestedTo(FLAT_MAX_DEPTH);
    message back;
    ASSERT_TRUE(message::unflatten(deep.flatten().bytes, back));
    EXPECT_EQ(back, deep);
    EXPECT_TRUE(message::unflatten(manyFields(FLAT_MAX_FIELDS), back));
    EXPECT_TRUE(message::unflatten(header(0), back));  // the cases above build on a valid header
}

// The command line prints every reply this way; the end-to-end tests read
// its common fields. Here the forms they never meet.
TEST(MessagePrint, OtherTypesMalformedElementsEscapesAndCuts) {
    message m;
    m.insert(StringKey{MSG_CMD.number}, "y");  // a well-known number with another type
    m.insert(ITEMS, {flat_message{"xyz"}});
    EXPECT_EQ(printed(m), "{str:0xff0007=\"y\" msg[]:5=[<malformed 3 bytes>]}");
    message text;
    text.insert(NAME, std::string("q\"\\\n\t\r\x01\xff\0", 9));
    EXPECT_EQ(printed(text), "{str:3=\"q\\\"\\\\\\n\\t\\r\\x01\\xff\\x00\"}");
    text.insert(NAME, std::string(1000, 'a'));
    EXPECT_EQ(printed(text), "{str:3=\"" + std::string(256, 'a') + "\"...(1000 bytes)}");
}

}  // namespace
}  // namespace orla
