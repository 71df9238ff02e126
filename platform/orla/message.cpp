// Flattened layout, all integers big-endian:
//
//   u8   format version (FLAT_VERSION)
//   u32  field count (at most FLAT_MAX_FIELDS)
//   per field, in the message's field order:
//     u32  raw key: type tag in the top five bits, field number below
//     the value, by the key's type tag:
//       bool    u8, 0 or 1
//       u32     u32
//       string  u32 length, the bytes
//       u32[]   u32 count, count x u32
//       msg[]   u32 count, count x (u32 length, a flattened message)
//
// Decoding is strict, so that an accepted encoding is exactly what flatten()
// gives back for the decoded message: a bool byte other than 0 or 1, an
// unknown type tag, a key seen twice in one message, a nested message that
// does not decode, nesting deeper than FLAT_MAX_DEPTH and bytes after the last
// field are all refused. Every count is checked against the bytes left before
// anything is reserved for it.
#include "platform/orla/message.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <utility>

#include "platform/orla/ids.h"

namespace orla {

namespace {

// The variant alternative that carries the value of a field with this tag;
// -1 for an unknown tag.
int valueIndexOf(uint32_t rawKey) {
    switch (FieldType(rawKey & FIELD_TYPE_MASK)) {
        case FieldType::Bool:
            return 0;
        case FieldType::U32:
            return 1;
        case FieldType::String:
            return 2;
        case FieldType::U32Array:
            return 3;
        case FieldType::MessageArray:
            return 4;
    }
    return -1;
}

void putU32(std::string& out, uint32_t v) {
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(bytes, 4);
}

class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    size_t remaining() const { return bytes_.size() - pos_; }

    bool u8(uint8_t& v) {
        if (remaining() < 1) return false;
        v = uint8_t(bytes_[pos_++]);
        return true;
    }
    bool u32(uint32_t& v) {
        if (remaining() < 4) return false;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + pos_);
        v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        pos_ += 4;
        return true;
    }
    bool take(size_t n, std::string_view& out) {
        if (remaining() < n) return false;
        out = bytes_.substr(pos_, n);
        pos_ += n;
        return true;
    }

  private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

// Smallest encodings, used to bound counts by the bytes left.
constexpr size_t MIN_FIELD_BYTES = 4 + 1;                    // key and a bool
constexpr size_t MIN_MESSAGE_BYTES = 1 + 4;                  // version and a zero count
constexpr size_t MIN_ELEMENT_BYTES = 4 + MIN_MESSAGE_BYTES;  // length and an empty message

void encodeValue(std::string& out, const message::Value& value) {
    switch (value.index()) {
        case 0:
            out.push_back(std::get<bool>(value) ? 1 : 0);
            break;
        case 1:
            putU32(out, std::get<uint32_t>(value));
            break;
        case 2: {
            const auto& s = std::get<std::string>(value);
            putU32(out, uint32_t(s.size()));
            out += s;
            break;
        }
        case 3: {
            const auto& a = std::get<std::vector<uint32_t>>(value);
            putU32(out, uint32_t(a.size()));
            for (uint32_t v : a)
                putU32(out, v);
            break;
        }
        case 4: {
            const auto& a = std::get<std::vector<flat_message>>(value);
            putU32(out, uint32_t(a.size()));
            for (const auto& element : a) {
                putU32(out, uint32_t(element.bytes.size()));
                out += element.bytes;
            }
            break;
        }
    }
}

}  // namespace

message::message(const flat_message& flat) {
    unflatten(flat.bytes, *this);
}

const message::Value* message::find(uint32_t rawKey) const {
    for (const auto& field : fields_) {
        if (field.key == rawKey) return &field.value;
    }
    return nullptr;
}

size_t message::size(StringKey key) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::string>(*v).size() : 0;
}

size_t message::size(U32ArrayKey key) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::vector<uint32_t>>(*v).size() : 0;
}

size_t message::size(MessageArrayKey key) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::vector<flat_message>>(*v).size() : 0;
}

bool message::get(BoolKey key, bool def) const {
    const Value* v = find(key.raw());
    return v ? std::get<bool>(*v) : def;
}

uint32_t message::get(U32Key key, uint32_t def) const {
    const Value* v = find(key.raw());
    return v ? std::get<uint32_t>(*v) : def;
}

std::string message::get(StringKey key, const std::string& def) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::string>(*v) : def;
}

std::vector<uint32_t> message::get(U32ArrayKey key, const std::vector<uint32_t>& def) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::vector<uint32_t>>(*v) : def;
}

std::vector<flat_message> message::get(MessageArrayKey key) const {
    const Value* v = find(key.raw());
    return v ? std::get<std::vector<flat_message>>(*v) : std::vector<flat_message>{};
}

// The typed keys guarantee the value matches the tag, so these cannot fail.
void message::insert(BoolKey key, bool value) {
    setField(key.raw(), value);
}
void message::insert(U32Key key, uint32_t value) {
    setField(key.raw(), value);
}
void message::insert(StringKey key, std::string value) {
    setField(key.raw(), std::move(value));
}
void message::insert(U32ArrayKey key, std::vector<uint32_t> value) {
    setField(key.raw(), std::move(value));
}
void message::insert(MessageArrayKey key, std::vector<flat_message> value) {
    setField(key.raw(), std::move(value));
}

void message::append(MessageArrayKey key, const message& element) {
    for (auto& field : fields_) {
        if (field.key == key.raw()) {
            std::get<std::vector<flat_message>>(field.value).push_back(element.flatten());
            return;
        }
    }
    fields_.push_back({key.raw(), std::vector<flat_message>{element.flatten()}});
}

bool message::erase(uint32_t rawKey) {
    auto it = std::find_if(fields_.begin(), fields_.end(),
                           [rawKey](const Field& f) { return f.key == rawKey; });
    if (it == fields_.end()) return false;
    fields_.erase(it);
    return true;
}

bool message::setField(uint32_t rawKey, Value value) {
    if (valueIndexOf(rawKey) != int(value.index())) return false;
    for (auto& field : fields_) {
        if (field.key == rawKey) {
            field.value = std::move(value);
            return true;
        }
    }
    fields_.push_back({rawKey, std::move(value)});
    return true;
}

flat_message message::flatten() const {
    flat_message flat;
    flat.bytes.push_back(char(FLAT_VERSION));
    putU32(flat.bytes, uint32_t(fields_.size()));
    for (const auto& field : fields_) {
        putU32(flat.bytes, field.key);
        encodeValue(flat.bytes, field.value);
    }
    return flat;
}

bool message::unflatten(std::string_view bytes, message& out) {
    out.clear();
    if (bytes.size() > FLAT_MAX_BYTES) return false;
    return decode(bytes, 1, out);
}

bool message::decode(std::string_view bytes, unsigned depth, message& out) {
    out.clear();
    Reader in(bytes);
    uint8_t version = 0;
    uint32_t count = 0;
    if (!in.u8(version) || version != FLAT_VERSION || !in.u32(count)) return false;
    if (count > FLAT_MAX_FIELDS || count > in.remaining() / MIN_FIELD_BYTES) return false;

    std::vector<Field> fields;
    fields.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t key = 0;
        if (!in.u32(key)) return false;
        Field& field = fields.emplace_back();
        field.key = key;
        switch (valueIndexOf(key)) {
            case 0: {
                uint8_t b = 0;
                if (!in.u8(b) || b > 1) return false;
                field.value.emplace<bool>(b == 1);
                break;
            }
            case 1: {
                if (!in.u32(field.value.emplace<uint32_t>())) return false;
                break;
            }
            case 2: {
                uint32_t length = 0;
                std::string_view s;
                if (!in.u32(length) || !in.take(length, s)) return false;
                field.value.emplace<std::string>(s);
                break;
            }
            case 3: {
                uint32_t n = 0;
                if (!in.u32(n) || n > in.remaining() / 4) return false;
                auto& values = field.value.emplace<std::vector<uint32_t>>(n);
                for (auto& v : values) {
                    in.u32(v);  // cannot fail: n was checked
                }
                break;
            }
            case 4: {
                uint32_t n = 0;
                if (!in.u32(n) || n > in.remaining() / MIN_ELEMENT_BYTES) return false;
                if (n > 0 && depth >= FLAT_MAX_DEPTH) return false;
                auto& elements = field.value.emplace<std::vector<flat_message>>();
                elements.reserve(n);
                message nested;
                for (uint32_t e = 0; e < n; ++e) {
                    uint32_t length = 0;
                    std::string_view element;
                    if (!in.u32(length) || !in.take(length, element)) return false;
                    if (!decode(element, depth + 1, nested)) return false;
                    elements.push_back({std::string(element)});
                }
                break;
            }
            default:
                return false;  // unknown type tag
        }
    }
    if (in.remaining() != 0) return false;

    std::vector<uint32_t> keys;
    keys.reserve(fields.size());
    for (const auto& f : fields)
        keys.push_back(f.key);
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return false;

    out.fields_ = std::move(fields);
    return true;
}

// ---- Printing

namespace {

constexpr size_t PRINT_MAX_STRING = 256;
constexpr size_t PRINT_MAX_ELEMENTS = 64;

const char* wellKnownName(uint32_t rawKey) {
    struct Named {
        uint32_t key;
        const char* name;
    };
    static constexpr Named names[] = {
        {MSG_TO.raw(), "MSG_TO"},
        {MSG_FROM.raw(), "MSG_FROM"},
        {MSG_ERROR.raw(), "MSG_ERROR"},
        {MSG_ERROR_TEXT.raw(), "MSG_ERROR_TEXT"},
        {MSG_SEQ.raw(), "MSG_SEQ"},
        {MSG_CMD.raw(), "MSG_CMD"},
        {MSG_UNDO_TEXT.raw(), "MSG_UNDO_TEXT"},
        {OBJ_ID.raw(), "OBJ_ID"},
        {OBJ_LIST.raw(), "OBJ_LIST"},
        {OBJ_NEXT.raw(), "OBJ_NEXT"},
        {OBJ_PAGE_SIZE.raw(), "OBJ_PAGE_SIZE"},
        {OBJ_GETALL_PARAM.raw(), "OBJ_GETALL_PARAM"},
        {OBJ_COUNT.raw(), "OBJ_COUNT"},
        {OBJ_NAME.raw(), "OBJ_NAME"},
        {OBJ_REMOVED.raw(), "OBJ_REMOVED"},
    };
    for (const auto& n : names) {
        if (n.key == rawKey) return n.name;
    }
    return nullptr;
}

const char* typeName(uint32_t rawKey) {
    switch (valueIndexOf(rawKey)) {
        case 0:
            return "bool";
        case 1:
            return "u32";
        case 2:
            return "str";
        case 3:
            return "u32[]";
        case 4:
            return "msg[]";
    }
    return "?";
}

// Small numbers in decimal, larger ones (ids, codes, addresses) in hex.
void printNumber(std::ostream& os, uint32_t v) {
    char buf[16];
    char* p = buf;
    int base = 10;
    if (v >= 0x10000) {
        *p++ = '0';
        *p++ = 'x';
        base = 16;
    }
    p = std::to_chars(p, buf + sizeof buf, v, base).ptr;
    os.write(buf, p - buf);
}

void printString(std::ostream& os, const std::string& s) {
    static constexpr char hex[] = "0123456789abcdef";
    os << '"';
    const size_t shown = std::min(s.size(), PRINT_MAX_STRING);
    for (size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '"':
                os << "\\\"";
                break;
            case '\\':
                os << "\\\\";
                break;
            case '\n':
                os << "\\n";
                break;
            case '\r':
                os << "\\r";
                break;
            case '\t':
                os << "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    os << char(c);
                } else {
                    os << "\\x" << hex[c >> 4] << hex[c & 15];
                }
        }
    }
    os << '"';
    if (shown < s.size()) os << "...(" << s.size() << " bytes)";
}

// Opens the next element of a cut array; false once the cut is reached.
bool printSeparator(std::ostream& os, size_t index, size_t total) {
    if (index == PRINT_MAX_ELEMENTS) {
        os << ",...(" << total << " elements)";
        return false;
    }
    if (index > 0) os << ',';
    return true;
}

void printValue(std::ostream& os, const message::Value& value) {
    switch (value.index()) {
        case 0:
            os << (std::get<bool>(value) ? "true" : "false");
            break;
        case 1:
            printNumber(os, std::get<uint32_t>(value));
            break;
        case 2:
            printString(os, std::get<std::string>(value));
            break;
        case 3: {
            const auto& a = std::get<std::vector<uint32_t>>(value);
            os << '[';
            for (size_t i = 0; i < a.size() && printSeparator(os, i, a.size()); ++i) {
                printNumber(os, a[i]);
            }
            os << ']';
            break;
        }
        case 4: {
            // Each element is decoded within its own depth limit, so the
            // recursion through operator<< is bounded.
            const auto& a = std::get<std::vector<flat_message>>(value);
            os << '[';
            message element;
            for (size_t i = 0; i < a.size() && printSeparator(os, i, a.size()); ++i) {
                if (message::unflatten(a[i].bytes, element)) {
                    os << element;
                } else {
                    os << "<malformed " << a[i].bytes.size() << " bytes>";
                }
            }
            os << ']';
            break;
        }
    }
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const message& msg) {
    os << '{';
    bool first = true;
    for (const auto& field : msg.fields()) {
        if (!first) os << ' ';
        first = false;
        if (const char* name = wellKnownName(field.key)) {
            os << name;
        } else {
            os << typeName(field.key) << ':';
            printNumber(os, field.key & FIELD_NUMBER_MASK);
        }
        os << '=';
        printValue(os, field.value);
    }
    return os << '}';
}

// ---- Error replies

message errorMsg(uint32_t code, const std::string& text) {
    message msg;
    msg.insert(MSG_ERROR, code);
    msg.insert(MSG_ERROR_TEXT, text);
    return msg;
}

bool isError(const message& msg) {
    return msg.has(MSG_ERROR);
}

std::string getError(const message& msg) {
    return isError(msg) ? msg.get(MSG_ERROR_TEXT) : "";
}

uint32_t getErrorCode(const message& msg) {
    return msg.get(MSG_ERROR, 0);
}

}  // namespace orla
