// getAll: the paged read of a handler's whole object list from a platform
// service (through exchangeWithPlatform, mib/platform_exchange.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/orla/message.h"

// Bounds of one getAll against a handler that never stops paging.
inline constexpr size_t GET_ALL_MAX_PAGES = 10000;
inline constexpr size_t GET_ALL_MAX_OBJECTS = 1000000;

// All objects of a handler, in the handler's order. `request` is a complete
// get-all request (MSG_CMD, MSG_TO and whatever the handler wants); it is
// sent once per page, with OBJ_NEXT set to the id the previous reply named.
// A failed exchange ends the list silently with the objects gathered so far.
// A handler that names an OBJ_NEXT it named before, or pages past the bounds
// above, is cut off with one line on stderr; the objects so far are returned.
std::vector<orla::message> getAll(orla::message& request);
