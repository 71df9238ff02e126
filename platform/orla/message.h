// orla::message: the platform's typed message, the unit of every exchange
// between services, every store record and every handler reply.
//
// A message holds fields keyed by a 32-bit key: the field number in the low
// 27 bits and the field's type in the top five. Keys are typed in C++ too
// (BoolKey, U32Key, ...), so a field is always read with the type it was
// written with; the key constants live in platform/orla/ids.h and in the
// headers of the services that own them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orla {

// Type tags in the top bits of a field key.
enum class FieldType : uint32_t {
    Bool = 0x00000000,
    U32 = 0x08000000,  // also be32: a u32 whose value is kept in network byte order
    String = 0x20000000,
    U32Array = 0x88000000,
    MessageArray = 0xa8000000,
};

inline constexpr uint32_t FIELD_NUMBER_MASK = 0x07ffffff;
inline constexpr uint32_t FIELD_TYPE_MASK = 0xf8000000;

// Limits of the flattened form; unflatten() refuses anything beyond them.
inline constexpr uint8_t FLAT_VERSION = 1;  // first byte of every flattened message
inline constexpr size_t FLAT_MAX_BYTES = size_t(1)
                                         << 20;  // 1 MiB per message, nested ones included
inline constexpr unsigned FLAT_MAX_DEPTH = 8;    // a message and up to 7 levels of nested messages
inline constexpr uint32_t FLAT_MAX_FIELDS =
    4096;  // fields of one message (nested ones count apart)

// A field key of one type: the field number; raw() is the key with its tag.
template <FieldType T>
struct Key {
    uint32_t number;
    constexpr uint32_t raw() const { return (number & FIELD_NUMBER_MASK) | uint32_t(T); }
};
using BoolKey = Key<FieldType::Bool>;
using U32Key = Key<FieldType::U32>;
using Be32Key = U32Key;  // same wire type; the value is in network byte order
using StringKey = Key<FieldType::String>;
using U32ArrayKey = Key<FieldType::U32Array>;
using MessageArrayKey = Key<FieldType::MessageArray>;

// A message in its binary (flattened) form, as message arrays hold them.
struct flat_message {
    std::string bytes;
    bool operator==(const flat_message&) const = default;
};

class message {
  public:
    using Value =
        std::variant<bool, uint32_t, std::string, std::vector<uint32_t>, std::vector<flat_message>>;
    struct Field {
        uint32_t key;  // raw key, type tag included
        Value value;
        bool operator==(const Field&) const = default;
    };

    message() = default;
    // Builds a message back from its flattened form; malformed bytes give an
    // empty message (use unflatten() to tell the two apart).
    explicit message(const flat_message& flat);

    template <FieldType T>
    bool has(Key<T> key) const {
        return find(key.raw()) != nullptr;
    }

    // String length or array element count; 0 for an absent field.
    size_t size(StringKey key) const;
    size_t size(U32ArrayKey key) const;
    size_t size(MessageArrayKey key) const;

    // The field's value, or the default when the field is absent.
    bool get(BoolKey key, bool def = false) const;
    uint32_t get(U32Key key, uint32_t def = 0) const;
    std::string get(StringKey key, const std::string& def = {}) const;
    std::vector<uint32_t> get(U32ArrayKey key, const std::vector<uint32_t>& def = {}) const;
    std::vector<flat_message> get(MessageArrayKey key) const;  // absent: empty

    // A later insert of the same key replaces the earlier value in place.
    void insert(BoolKey key, bool value);
    void insert(U32Key key, uint32_t value);
    void insert(StringKey key, std::string value);
    void insert(U32ArrayKey key, std::vector<uint32_t> value);
    void insert(MessageArrayKey key, std::vector<flat_message> value);
    // Appends one message to a message array, creating the field if absent.
    void append(MessageArrayKey key, const message& element);

    // Removes the field with this raw key; false when there was none.
    bool erase(uint32_t rawKey);

    // Generic access, for tools that handle any field: fields in insertion order.
    const std::vector<Field>& fields() const { return fields_; }
    // Sets a field by raw key; false (nothing changed) when the value's type
    // does not match the key's type tag or the tag is unknown.
    bool setField(uint32_t rawKey, Value value);

    bool empty() const { return fields_.empty(); }
    void clear() { fields_.clear(); }

    // Binary form used on sockets and in stores (see message.cpp for the layout).
    // Never fails; a message beyond the FLAT_ limits (or holding malformed
    // message-array elements) flattens to bytes that unflatten() refuses.
    flat_message flatten() const;
    // Decodes a flattened message; false, leaving `out` empty, on malformed or
    // oversized input. Never reads outside `bytes`. Every nested message is
    // checked too, and an accepted input flattens back to the same bytes.
    static bool unflatten(std::string_view bytes, message& out);

    // Equal when they hold the same fields in the same order (the order
    // shows in the flattened form).
    bool operator==(const message&) const = default;

  private:
    const Value* find(uint32_t rawKey) const;
    // Decodes a message found at nesting level `depth` (the outermost is 1).
    static bool decode(std::string_view bytes, unsigned depth, message& out);
    std::vector<Field> fields_;  // small: linear search, insertion order kept
};

// One readable line per message: {name=value ...}; nested messages inline.
// Fields named in platform/orla/ids.h print by name, others as type:number
// (bool, u32, str, u32[], msg[]). Numbers from 0x10000 up print in hex.
// Strings print quoted with C escapes for non-printable bytes, cut after
// 256 bytes; arrays are cut after 64 elements.
std::ostream& operator<<(std::ostream& os, const message& msg);

// Error replies: a message carrying MSG_ERROR (code) and MSG_ERROR_TEXT.
message errorMsg(uint32_t code, const std::string& text);
bool isError(const message& msg);
std::string getError(const message& msg);   // the text; empty when not an error
uint32_t getErrorCode(const message& msg);  // 0 when not an error

}  // namespace orla
