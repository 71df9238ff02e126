// The Set operation on the object tree.
#pragma once

#include <cstddef>
#include <optional>

#include "community/view.h"
#include "mib/context.h"
#include "request/outcome.h"

// Serves the SetRequest whose bindings stand at ctx.in (RFC 3416 4.2.5):
// writes them into ctx.out unchanged, as the reply carries them, then
// applies all of them or none. Each binding goes to the leaf registered
// under the longest prefix of its name; every binding is tested before any
// is committed, and when a commit fails, the bindings committed before it
// are undone. The outcome is the first refusal, with its binding's index:
// notWritable when no leaf takes the name, the leaf's test or commit
// status, undoFailed (index 0) when an undo fails too; noAccess (index 1)
// without `allowed`, and tooBig when the bindings exceed `replyLimit`, both
// with nothing applied; noAccess with its index for a binding that `view`
// (null: everything) does not include (RFC 3415 3.2 notInView), before
// anything is tested. Statuses are those of SNMPv2; the caller maps them
// for SNMPv1. Empty when a binding cannot be decoded.
//
// Bindings whose leaf another process sets (mib/remote_set.h) go to it
// phase by phase, all of a process's bindings at once: this process's
// bindings are tested, then every process's; each process commits, then
// this one; a failure after a process committed has it undo (undoFailed,
// index 0, when that fails). The request waits between the phases (an
// empty outcome while servingMustWait) and is served again; where it
// stands is kept under its servingRequest() until its outcome is given.
std::optional<PduOutcome> serveSet(Context& ctx, bool allowed, size_t replyLimit,
                                   const View* view = nullptr);
