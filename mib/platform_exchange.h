// Exchanges with platform services: how providers reach the services whose
// data they serve.
#pragma once

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
