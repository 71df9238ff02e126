// Text forms of paths, commands and message fields for the command line.
//
// Field syntax, TYPE:NUMBER=VALUE (NUMBER decimal or 0x hex):
//   bool:1=yes        yes/no, true/false, on/off, 1/0
//   u32:5=34          decimal or 0x hex
//   be32:16=10.0.0.1  IPv4 address, kept in network byte order
//   str:5=abc         the rest of the argument, as is
//   u32[]:19=1,2      comma-separated numbers (empty: no elements)
//   msg[]:2=u32:5=1,str:6=a;u32:5=2   elements separated by ';', their fields by ','
// or NAME=VALUE with a well-known name of platform/orla/ids.h (OBJ_ID=3).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/orla/message.h"

namespace orla::cli {

// "161.1" -> {161, 1}.
bool parsePath(const std::string& text, std::vector<uint32_t>& path);
// A number (decimal or 0x hex) or a command name (get, set, getobj, ...).
bool parseCommand(const std::string& text, uint32_t& cmd);
bool parseNumber(const std::string& text, uint32_t& value);
// yes/no, true/false, on/off, 1/0.
bool parseBool(const std::string& text, bool& value);
// Adds one FIELD=VALUE to the message; false with `error` set.
bool parseField(const std::string& text, message& msg, std::string& error);

// Prints a reply: the message, or "error 0x<code>: <text>" for an error reply.
void printReply(const message& reply);

// Help text of the field syntax, shared by the subcommands.
extern const char* const FIELD_HELP;

}  // namespace orla::cli
