// The waiting exchanges' machinery behind mib/platform_exchange.h, for the
// SDK's own paged reads (getAll): not part of the SDK.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/orla/message.h"

// True inside a WaitingServe with a way to start exchanges installed.
bool mayWait();
// True when an exchange not answered yet is to fail rather than be waited
// for: always in a WaitingServe that fails the unanswered, and for one not
// `started` yet when too many are on their way.
bool mustFail(bool started);
// The answer kept under `ticket`, if it came and is fresh; one that never came
// (a time-out, a closed connection) counts as a failed answer taken.
std::optional<orla::message> keptAnswer(const std::string& ticket);
// True while the exchange of `ticket` is on its way.
bool onItsWay(const std::string& ticket);
// Starts `request`; its answer goes to `done`. The answer at hand is
// returned instead (and `done` never called).
std::optional<orla::message> startFor(const orla::message& request,
                                      std::function<void(orla::message)> done);
// Notes that `ticket`'s answer is on its way, and that the request being
// served waits for it.
void waitFor(const std::string& ticket);
// Keeps `reply` as the answer of `ticket` and tells the requests that waited.
void keepAnswer(const std::string& ticket, orla::message reply);
// True when `reply` says the exchange never reached its service or its answer
// never came.
bool answerFailed(const orla::message& reply);
// The request being served took an answer that never came.
void countFailedAnswer();
