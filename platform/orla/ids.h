// Field ids, command codes and error codes of the platform messaging library.
// Every platform-wide number lives here, once.
#pragma once

#include <cstdint>

#include "platform/orla/message.h"

namespace orla {

// Routing and command fields of every request.
inline constexpr U32ArrayKey MSG_TO{0xff0001};    // destination handler path: service, handler...
inline constexpr U32ArrayKey MSG_FROM{0xff0002};  // sender path
inline constexpr U32Key MSG_ERROR{0xff0003};      // error code of an error reply
inline constexpr StringKey MSG_ERROR_TEXT{0xff0004};
inline constexpr U32Key MSG_SEQ{0xff0005};           // exchange sequence number (library use)
inline constexpr U32Key MSG_CMD{0xff0007};           // command code
inline constexpr StringKey MSG_UNDO_TEXT{0xff0008};  // description of an undo step

// Object fields of the object commands.
inline constexpr U32Key OBJ_ID{0xfe0001};
inline constexpr MessageArrayKey OBJ_LIST{0xfe0002};
// Get-all paging: in a reply, the id of the first object not yet listed; in a
// request, the id to resume from (absent: from the first object).
inline constexpr U32Key OBJ_NEXT{0xfe0003};
inline constexpr U32Key OBJ_PAGE_SIZE{
    0xfe0006};  // get-all request: objects per page (0: handler's choice)
inline constexpr U32Key OBJ_GETALL_PARAM{0xfe000c};  // get-all request: the source's parameter
inline constexpr U32Key OBJ_COUNT{0xfe0014};         // get-count reply: number of objects
// Windowed get-all of a handler whose objects are ordered by an index (an OID
// as its arcs): in a request, list the objects whose index is after
// OBJ_AFTER, or from OBJ_FROM on; in a reply, the index of the last object
// listed, present only when more follow.
inline constexpr U32ArrayKey OBJ_AFTER{0xfe0015};
inline constexpr U32ArrayKey OBJ_FROM{0xfe0016};
// Windowed get-all reply: the objects listed, as rows of index and fields
// (platform/orla/window_rows.h).
inline constexpr StringKey OBJ_ROWS{0xfe0017};
inline constexpr StringKey OBJ_NAME{0xfe0010};
inline constexpr U32Key OBJ_REMOVED{0xfe0013};

// Command codes.
inline constexpr uint32_t CMD_RESET = 0xfe0001;
inline constexpr uint32_t CMD_GETOBJ = 0xfe0002;
inline constexpr uint32_t CMD_SETOBJ = 0xfe0003;
inline constexpr uint32_t CMD_GETALL = 0xfe0004;
inline constexpr uint32_t CMD_ADDOBJ = 0xfe0005;
inline constexpr uint32_t CMD_REMOVEOBJ = 0xfe0006;
inline constexpr uint32_t CMD_MOVEOBJ = 0xfe0007;
inline constexpr uint32_t CMD_GET = 0xfe000d;
inline constexpr uint32_t CMD_SET = 0xfe000e;
inline constexpr uint32_t CMD_SUBSCRIBE = 0xfe0010;
inline constexpr uint32_t CMD_UNSUBSCRIBE = 0xfe0011;
inline constexpr uint32_t CMD_NOTIFY = 0xfe0012;  // a change notification to a subscriber
inline constexpr uint32_t CMD_GETCOUNT = 0xfe0015;
inline constexpr uint32_t CMD_UNDO = 0xfe0020;       // revert the latest recorded change
inline constexpr uint32_t CMD_UNDO_LIST = 0xfe0021;  // list the undo history

// Error codes of error replies.
inline constexpr uint32_t ERR_UNSUPPORTED = 0xfe0001;  // the handler does not do this command
inline constexpr uint32_t ERR_NO_HANDLER = 0xfe0002;   // no handler at that path
inline constexpr uint32_t ERR_NO_SERVICE = 0xfe0003;   // no service with that id is running
inline constexpr uint32_t ERR_NO_SUCH_OBJECT = 0xfe0004;
inline constexpr uint32_t ERR_MISSING_VALUE = 0xfe0005;
inline constexpr uint32_t ERR_BAD_VALUE = 0xfe0006;
inline constexpr uint32_t ERR_TIMEOUT = 0xfe0007;      // no reply within the exchange time-out
inline constexpr uint32_t ERR_PEER_CLOSED = 0xfe0008;  // the peer closed before replying
inline constexpr uint32_t ERR_BAD_REQUEST = 0xfe0009;  // malformed request (no path, no command)
inline constexpr uint32_t ERR_NOTHING_TO_UNDO = 0xfe000a;
inline constexpr uint32_t ERR_BAD_START_ID = 0xfe000b;
inline constexpr uint32_t ERR_ACCESS_DENIED = 0xfe000c;  // the service does not serve this user

}  // namespace orla
