// Exchanges with platform services, and getAll: the paged read of a
// handler's whole object list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/orla/message.h"

// The time-out of every exchange a provider makes with a platform service.
inline constexpr uint32_t PROVIDER_EXCHANGE_TIMEOUT = 6000;

// How providers reach platform services: sends `request` (MSG_TO and MSG_CMD
// set) and returns the reply, or an error reply, waiting for it at most the
// time-out. The agent installs its own at start-up.
using PlatformExchange = orla::message (*)(orla::message const& request, uint32_t timeout);
void setPlatformExchange(PlatformExchange exchange);

// Sends `request` through the installed exchange with the providers'
// time-out; an error reply while none is installed.
orla::message exchangeWithPlatform(orla::message const& request);

// A request of command `cmd` to the handler at `path`: MSG_CMD and MSG_TO
// set, for the caller to add its fields to.
orla::message platformRequest(uint32_t cmd, std::vector<uint32_t> const& path);

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
