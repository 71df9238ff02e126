#include "tools/orla-cli/fields.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/orla/ids.h"

namespace orla::cli {

namespace {

struct NamedKey {
    const char* name;
    uint32_t rawKey;
};

constexpr NamedKey FIELD_NAMES[] = {
    {"MSG_TO", MSG_TO.raw()},
    {"MSG_FROM", MSG_FROM.raw()},
    {"MSG_ERROR", MSG_ERROR.raw()},
    {"MSG_ERROR_TEXT", MSG_ERROR_TEXT.raw()},
    {"MSG_SEQ", MSG_SEQ.raw()},
    {"MSG_CMD", MSG_CMD.raw()},
    {"MSG_UNDO_TEXT", MSG_UNDO_TEXT.raw()},
    {"OBJ_ID", OBJ_ID.raw()},
    {"OBJ_LIST", OBJ_LIST.raw()},
    {"OBJ_NEXT", OBJ_NEXT.raw()},
    {"OBJ_PAGE_SIZE", OBJ_PAGE_SIZE.raw()},
    {"OBJ_GETALL_PARAM", OBJ_GETALL_PARAM.raw()},
    {"OBJ_COUNT", OBJ_COUNT.raw()},
    {"OBJ_AFTER", OBJ_AFTER.raw()},
    {"OBJ_FROM", OBJ_FROM.raw()},
    {"OBJ_NAME", OBJ_NAME.raw()},
    {"OBJ_REMOVED", OBJ_REMOVED.raw()},
};

struct NamedCommand {
    const char* name;
    uint32_t cmd;
};

constexpr NamedCommand COMMAND_NAMES[] = {
    {"get", CMD_GET},
    {"set", CMD_SET},
    {"getobj", CMD_GETOBJ},
    {"setobj", CMD_SETOBJ},
    {"addobj", CMD_ADDOBJ},
    {"removeobj", CMD_REMOVEOBJ},
    {"getall", CMD_GETALL},
    {"getcount", CMD_GETCOUNT},
    {"subscribe", CMD_SUBSCRIBE},
    {"unsubscribe", CMD_UNSUBSCRIBE},
    {"undo", CMD_UNDO},
    {"undolist", CMD_UNDO_LIST},
};

// Splits on a separator; an empty text gives no parts.
std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Sets a field given its raw key and text value.
bool parseValue(uint32_t rawKey, bool be32, const std::string& text, message& msg,
                std::string& error) {
    switch (static_cast<FieldType>(rawKey & FIELD_TYPE_MASK)) {
        case FieldType::Bool: {
            bool value;
            if (!parseBool(text, value)) return error = "not a truth value: " + text, false;
            return msg.setField(rawKey, value);
        }
        case FieldType::U32: {
            uint32_t value;
            if (be32) {
                in_addr address;
                if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
                    return error = "not an IPv4 address: " + text, false;
                }
                std::memcpy(&value, &address, sizeof value);
            } else if (!parseNumber(text, value)) {
                return error = "not a number: " + text, false;
            }
            return msg.setField(rawKey, value);
        }
        case FieldType::String:
            return msg.setField(rawKey, text);
        case FieldType::U32Array: {
            std::vector<uint32_t> values;
            for (const std::string& part : split(text, ',')) {
                uint32_t value;
                if (!parseNumber(part, value)) return error = "not a number: " + part, false;
                values.push_back(value);
            }
            return msg.setField(rawKey, std::move(values));
        }
        case FieldType::MessageArray: {
            std::vector<flat_message> elements;
            for (const std::string& element : split(text, ';')) {
                message inner;
                for (const std::string& field : split(element, ',')) {
                    if (!parseField(field, inner, error)) return false;
                }
                elements.push_back(inner.flatten());
            }
            return msg.setField(rawKey, std::move(elements));
        }
    }
    error = "unknown field type";
    return false;
}

}  // namespace

const char* const FIELD_HELP =
    "Fields are TYPE:NUMBER=VALUE or NAME=VALUE:\n"
    "  bool:1=yes         yes/no, true/false, on/off, 1/0\n"
    "  u32:5=34           decimal or 0x hex\n"
    "  be32:16=10.0.0.1   IPv4 address (network byte order)\n"
    "  str:5=abc          text\n"
    "  u32[]:19=1,2       comma-separated numbers\n"
    "  msg[]:2=u32:5=1,str:6=a;u32:5=2\n"
    "                     messages separated by ';', their fields by ','\n"
    "  OBJ_ID=3           a well-known field: MSG_*, OBJ_ID, OBJ_NAME, OBJ_NEXT,\n"
    "                     OBJ_PAGE_SIZE, OBJ_COUNT, OBJ_LIST, ...\n";

bool parseBool(const std::string& text, bool& value) {
    for (const char* yes : {"yes", "true", "on", "1"}) {
        if (text == yes) return value = true;
    }
    for (const char* no : {"no", "false", "off", "0"}) {
        if (text == no) {
            value = false;
            return true;
        }
    }
    return false;
}

bool parseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 12 || text[0] == '-' || text[0] == '+') return false;
    unsigned long long parsed = 0;
    char* end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || parsed > 0xffffffffull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool parsePath(const std::string& text, std::vector<uint32_t>& path) {
    path.clear();
    for (const std::string& part : split(text, '.')) {
        uint32_t element;
        if (!parseNumber(part, element)) return false;
        path.push_back(element);
    }
    return !path.empty();
}

bool parseCommand(const std::string& text, uint32_t& cmd) {
    for (const NamedCommand& named : COMMAND_NAMES) {
        if (text == named.name) {
            cmd = named.cmd;
            return true;
        }
    }
    return parseNumber(text, cmd);
}

bool parseField(const std::string& text, message& msg, std::string& error) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) return error = "missing '=' in " + text, false;
    std::string key = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    for (const NamedKey& named : FIELD_NAMES) {
        if (key == named.name) return parseValue(named.rawKey, false, value, msg, error);
    }
    size_t colon = key.find(':');
    uint32_t number;
    if (colon == std::string::npos || !parseNumber(key.substr(colon + 1), number) ||
        number > FIELD_NUMBER_MASK) {
        return error = "unknown field " + key, false;
    }
    std::string type = key.substr(0, colon);
    struct TypeName {
        const char* name;
        FieldType type;
    };
    static constexpr TypeName TYPES[] = {
        {"bool", FieldType::Bool},      {"u32", FieldType::U32},
        {"be32", FieldType::U32},       {"str", FieldType::String},
        {"u32[]", FieldType::U32Array}, {"msg[]", FieldType::MessageArray},
    };
    for (const TypeName& named : TYPES) {
        if (type == named.name) {
            uint32_t rawKey = number | static_cast<uint32_t>(named.type);
            return parseValue(rawKey, type == "be32", value, msg, error);
        }
    }
    error = "unknown field type " + type;
    return false;
}

void printReply(const message& reply) {
    if (isError(reply)) {
        std::printf("error 0x%x: %s\n", static_cast<unsigned>(getErrorCode(reply)),
                    getError(reply).c_str());
        return;
    }
    std::cout << reply << std::endl;
}

}  // namespace orla::cli
