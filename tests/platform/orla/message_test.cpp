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

message sample() {
    message inner;
    inner.insert(OBJ_ID, 7);
    inner.insert(NAME, "seven");
    message outer;
    outer.insert(MSG_CMD, CMD_GETALL);
    outer.insert(FLAG, true);
    outer.insert(NAME, std::string("a\0b", 3));
    outer.insert(PATH, {161, 0xffffffff});
    outer.append(ITEMS, inner);
    outer.append(ITEMS, message{});
    return outer;
}

// Appends a big-endian u32.
void put32(std::string& s, uint32_t v) {
    s += char(v >> 24);
    s += char(v >> 16);
    s += char(v >> 8);
    s += char(v);
}

std::string header(uint32_t fieldCount) {
    std::string s(1, char(FLAT_VERSION));
    put32(s, fieldCount);
    return s;
}

bool decodes(const std::string& bytes) {
    message out;
    return message::unflatten(bytes, out);
}

TEST(Message, AbsentFieldsReadAsDefaults) {
    const message m;
    EXPECT_FALSE(m.has(FLAG));
    EXPECT_FALSE(m.get(FLAG));
    EXPECT_TRUE(m.get(FLAG, true));
    EXPECT_EQ(m.get(COUNT), 0u);
    EXPECT_EQ(m.get(COUNT, 0xffffffff), 0xffffffffu);
    EXPECT_EQ(m.get(NAME, "dflt"), "dflt");
    EXPECT_EQ(m.get(PATH, {1, 2}), (std::vector<uint32_t>{1, 2}));
    EXPECT_TRUE(m.get(ITEMS).empty());
    EXPECT_EQ(m.size(NAME), 0u);
    EXPECT_EQ(m.size(PATH), 0u);
    EXPECT_EQ(m.size(ITEMS), 0u);
}

TEST(Message, InsertedFieldsReadBackWithTheirSizes) {
    message m;
    m.insert(FLAG, false);
    m.insert(COUNT, 0);
    m.insert(NAME, "abc");
    m.insert(PATH, {1, 2, 3, 4});
    m.append(ITEMS, message{});
    EXPECT_TRUE(m.has(FLAG));
    EXPECT_FALSE(m.get(FLAG, true));  // present false beats the default
    EXPECT_TRUE(m.has(COUNT));
    EXPECT_EQ(m.get(COUNT, 9), 0u);
    EXPECT_EQ(m.get(NAME), "abc");
    EXPECT_EQ(m.size(NAME), 3u);
    EXPECT_EQ(m.size(PATH), 4u);
    EXPECT_EQ(m.size(ITEMS), 1u);
}

TEST(Message, SameNumberWithDifferentTypesAreDifferentFields) {
    message m;
    m.insert(U32Key{9}, 5);
    m.insert(StringKey{9}, "five");
    EXPECT_EQ(m.get(U32Key{9}), 5u);
    EXPECT_EQ(m.get(StringKey{9}), "five");
    EXPECT_FALSE(m.has(BoolKey{9}));
}

TEST(Message, LaterInsertReplacesInPlace) {
    message m;
    m.insert(COUNT, 1);
    m.insert(NAME, "x");
    m.insert(COUNT, 2);
    ASSERT_EQ(m.fields().size(), 2u);
    EXPECT_EQ(m.fields()[0].key, COUNT.raw());
    EXPECT_EQ(m.get(COUNT), 2u);
}

TEST(Message, SetFieldRefusesValueOfTheWrongTypeOrUnknownTag) {
    message m;
    EXPECT_FALSE(m.setField(COUNT.raw(), std::string("x")));
    EXPECT_FALSE(m.setField(0x40000001, true));
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.setField(NAME.raw(), std::string("x")));
    EXPECT_EQ(m.get(NAME), "x");
}

TEST(Message, EraseRemovesOnlyThatField) {
    message m = sample();
    EXPECT_TRUE(m.erase(NAME.raw()));
    EXPECT_FALSE(m.erase(NAME.raw()));
    EXPECT_FALSE(m.has(NAME));
    EXPECT_TRUE(m.has(PATH));
}

TEST(Message, CopiesAreIndependent) {
    message a = sample();
    message b = a;
    b.insert(COUNT, 3);
    EXPECT_FALSE(a.has(COUNT));
    EXPECT_NE(a, b);
}

TEST(Message, ArrayElementBuildsBackTheAppendedMessage) {
    const message m = sample();
    const auto items = m.get(ITEMS);
    ASSERT_EQ(items.size(), 2u);
    const message first(items[0]);
    EXPECT_EQ(first.get(OBJ_ID), 7u);
    EXPECT_EQ(first.get(NAME), "seven");
    EXPECT_TRUE(message(items[1]).empty());
}

TEST(Message, MalformedElementBuildsEmptyMessage) {
    EXPECT_TRUE(message(flat_message{"garbage"}).empty());
}

TEST(MessageFlat, RoundTripKeepsEveryFieldAndTheBytes) {
    const message m = sample();
    const flat_message flat = m.flatten();
    message back;
    ASSERT_TRUE(message::unflatten(flat.bytes, back));
    EXPECT_EQ(back, m);
    EXPECT_EQ(back.flatten(), flat);
}

TEST(MessageFlat, EmptyMessageIsVersionAndZeroCount) {
    EXPECT_EQ(message{}.flatten().bytes, header(0));
    EXPECT_TRUE(decodes(header(0)));
}

message nestedTo(unsigned depth) {
    message m;
    m.insert(COUNT, depth);
    if (depth > 1) m.append(ITEMS, nestedTo(depth - 1));
    return m;
}

TEST(MessageFlat, NestingUpToTheLimitRoundTrips) {
    const message deep = nestedTo(FLAT_MAX_DEPTH);
    message back;
    ASSERT_TRUE(message::unflatten(deep.flatten().bytes, back));
    EXPECT_EQ(back, deep);
    // Walk down to the innermost level.
    message level = back;
    for (unsigned d = FLAT_MAX_DEPTH; d > 1; --d) {
        ASSERT_EQ(level.size(ITEMS), 1u);
        level = message(level.get(ITEMS)[0]);
        EXPECT_EQ(level.get(COUNT), d - 1);
    }
}

TEST(MessageFlat, NestingBeyondTheLimitIsRefused) {
    EXPECT_FALSE(decodes(nestedTo(FLAT_MAX_DEPTH + 1).flatten().bytes));
}

TEST(MessageFlat, EveryTruncationFails) {
    const std::string bytes = sample().flatten().bytes;
    for (size_t n = 0; n < bytes.size(); ++n) {
        message out;
        EXPECT_FALSE(message::unflatten(bytes.substr(0, n), out)) << "length " << n;
        EXPECT_TRUE(out.empty());
    }
}

TEST(MessageFlat, FailureLeavesTheOutputEmpty) {
    message out = sample();
    EXPECT_FALSE(message::unflatten("x", out));
    EXPECT_TRUE(out.empty());
}

struct HostileCase {
    const char* name;
    std::string bytes;
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<HostileCase> hostileCases() {
    std::vector<HostileCase> cases;
    auto field = [](uint32_t key) {
        std::string s = header(1);
        put32(s, key);
        return s;
    };
    {
        std::string s = header(0);
        s[0] = char(FLAT_VERSION + 1);
        cases.push_back({"WrongVersion", s});
    }
    cases.push_back({"FieldCountPastTheBytes", header(0xffffffff)});
    {
        message m;
        for (uint32_t k = 0; k <= FLAT_MAX_FIELDS; ++k)
            m.insert(BoolKey{k}, true);
        cases.push_back({"FieldCountOverLimit", m.flatten().bytes});
    }
    {
        std::string s = field(NAME.raw());
        put32(s, 0xfffffff0);
        s += "abc";
        cases.push_back({"StringLengthPastTheBytes", s});
    }
    {
        std::string s = field(PATH.raw());
        put32(s, 0x40000000);
        put32(s, 1);
        cases.push_back({"U32CountPastTheBytes", s});
    }
    {
        std::string s = field(ITEMS.raw());
        put32(s, 0xffffffff);
        s += header(0);
        cases.push_back({"ElementCountPastTheBytes", s});
    }
    {
        std::string s = field(ITEMS.raw());
        put32(s, 1);
        put32(s, 0xffffffff);
        s += header(0);
        cases.push_back({"ElementLengthPastTheBytes", s});
    }
    {
        std::string s = field(ITEMS.raw());
        put32(s, 1);
        put32(s, 6);
        s += header(0) + "!";  // the element has a byte after its last field
        cases.push_back({"MalformedElement", s});
    }
    {
        std::string s = field(0x40000001);
        s += '\0';
        cases.push_back({"UnknownTypeTag", s});
    }
    {
        std::string s = field(FLAG.raw());
        s += '\2';
        cases.push_back({"BoolByteNotZeroOrOne", s});
    }
    {
        std::string s = header(2);
        put32(s, COUNT.raw());
        put32(s, 1);
        put32(s, COUNT.raw());
        put32(s, 2);
        cases.push_back({"DuplicateKey", s});
    }
    cases.push_back({"TrailingBytes", header(0) + "x"});
    {
        message big;
        big.insert(NAME, std::string(FLAT_MAX_BYTES, 'a'));
        cases.push_back({"OverOneMebibyte", big.flatten().bytes});
    }
    return cases;
}

class MessageHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(MessageHostile, FailsCleanly) {
    message out;
    EXPECT_FALSE(message::unflatten(GetParam().bytes, out));
    EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(Bytes, MessageHostile, ::testing::ValuesIn(hostileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MessageFlat, FieldCountAtTheLimitIsAccepted) {
    message m;
    for (uint32_t i = 0; i < FLAT_MAX_FIELDS; ++i)
        m.insert(BoolKey{i}, true);
    EXPECT_TRUE(decodes(m.flatten().bytes));
}

TEST(MessagePrint, RepresentativeMessage) {
    message m;
    m.insert(MSG_CMD, CMD_GETALL);
    m.insert(U32Key{0x12}, 5);
    m.insert(StringKey{5}, "abc");
    m.insert(MSG_TO, {161, 1});
    m.insert(BoolKey{0x123456}, true);
    message a;
    a.insert(OBJ_ID, 1);
    message b;
    b.insert(OBJ_NAME, "x");
    m.append(OBJ_LIST, a);
    m.append(OBJ_LIST, b);
    EXPECT_EQ(printed(m),
              "{MSG_CMD=0xfe0004 u32:18=5 str:5=\"abc\" MSG_TO=[161,1] bool:0x123456=true "
              "OBJ_LIST=[{OBJ_ID=1},{OBJ_NAME=\"x\"}]}");
    EXPECT_EQ(printed(message{}), "{}");
}

TEST(MessagePrint, WellKnownNumberWithAnotherTypeIsNotNamed) {
    message m;
    m.insert(StringKey{MSG_CMD.number}, "x");
    EXPECT_EQ(printed(m), "{str:0xff0007=\"x\"}");
}

TEST(MessagePrint, StringsAreEscapedAndCut) {
    message m;
    m.insert(NAME, std::string("q\"\\\n\t\r\x01\xff\0", 9));
    EXPECT_EQ(printed(m), "{str:3=\"q\\\"\\\\\\n\\t\\r\\x01\\xff\\x00\"}");
    m.insert(NAME, std::string(1000, 'a'));
    EXPECT_EQ(printed(m), "{str:3=\"" + std::string(256, 'a') + "\"...(1000 bytes)}");
}

TEST(MessagePrint, LongArraysAreCut) {
    message m;
    m.insert(PATH, std::vector<uint32_t>(100, 7));
    std::string expected = "{u32[]:4=[7";
    for (int i = 1; i < 64; ++i)
        expected += ",7";
    expected += ",...(100 elements)]}";
    EXPECT_EQ(printed(m), expected);
}

TEST(MessagePrint, MalformedElementIsShownAsSuch) {
    message m;
    m.insert(ITEMS, {flat_message{"xyz"}});
    EXPECT_EQ(printed(m), "{msg[]:5=[<malformed 3 bytes>]}");
}

TEST(MessageError, ErrorReplyCarriesCodeAndText) {
    const message e = errorMsg(ERR_NO_HANDLER, "no handler");
    EXPECT_TRUE(isError(e));
    EXPECT_EQ(getErrorCode(e), ERR_NO_HANDLER);
    EXPECT_EQ(getError(e), "no handler");
    EXPECT_EQ(e.get(MSG_ERROR_TEXT), "no handler");
}

TEST(MessageError, OrdinaryMessageIsNoError) {
    message m;
    m.insert(MSG_ERROR_TEXT, "text without code");
    EXPECT_FALSE(isError(m));
    EXPECT_EQ(getError(m), "");
    EXPECT_EQ(getErrorCode(m), 0u);
}

}  // namespace
}  // namespace orla
