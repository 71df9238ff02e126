// Leaf: the interface of the objects in the tree (mib/registry.h). A leaf
// answers for every instance below the OID it is registered under.
//
// A SetRequest is applied whole or not at all (RFC 3416 4.2.5): first every
// binding is tested (testSet), then, when all passed, each is committed in
// order (commitSet); when one commit fails, those committed before it are
// undone in reverse order (undoSet). docs/plugins.md walks through the phases.
#pragma once

#include <string>

#include "mib/context.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"

class Ownership;  // mib/ownership.h

// What a Set may do to an object's instances (MAX-ACCESS, RFC 2578 7.3).
// Read-only objects refuse every Set with notWritable.
enum class Access { ReadOnly, ReadWrite };

class Leaf {
  public:
    // Answers one instance. On entry ctx.name is the OID the leaf is registered
    // under and ctx.oid the rest of the requested name below it (possibly
    // empty). If that instance exists: set ctx.name to its full name, write
    // that name (ctx.out.addOID) and then its value into ctx.out, and return
    // true. Otherwise return false and write nothing.
    virtual bool get(Context& ctx) = 0;

    // Answers the first instance after ctx.oid. On entry ctx.name is the
    // leaf's OID; ctx.oid is the part of the requested name below it, or
    // empty when the request named the leaf's OID or lay before it (then the
    // first instance is wanted). Write and return as for get. Leaving the full
    // instance name in ctx.name is required: GetBulk continues from it.
    virtual bool getNext(Context& ctx) = 0;

    // The phases of a Set. Each is called with ctx.oid holding the full
    // requested name, ctx.setSuffix its part below the leaf's OID (empty for
    // an exact match), and ctx.in holding the binding's value alone, from
    // its start. What they write into ctx.out is dropped: the reply repeats
    // the request's bindings.
    //
    // testSet, for every binding before any is committed: may this instance
    // take this value? NO_ERROR, or the first refusal in RFC 3416 4.2.5
    // order: NOT_WRITABLE (the object can never be written), WRONG_TYPE,
    // WRONG_LENGTH, WRONG_ENCODING, WRONG_VALUE (the value can never suit
    // it), NO_CREATION (no such instance, and none can be made),
    // INCONSISTENT_VALUE or RESOURCE_UNAVAILABLE (not now). Changes nothing.
    // The base version: NOT_WRITABLE, for leaves that are only read.
    virtual snmp::ErrorStatus testSet(Context& ctx);
    // Stores the value, keeping in `undo` whatever undoSet needs to put
    // back what it replaced. NO_ERROR, or the refusal with nothing changed
    // (COMMIT_FAILED when the platform refused the write). The base version
    // is never reached (its testSet refuses): NOT_WRITABLE.
    virtual snmp::ErrorStatus commitSet(Context& ctx, std::string& undo);
    // Called only when a later binding of the same request failed to
    // commit: puts back what commitSet replaced, from its `undo`. False
    // when that fails. The base version cannot undo: false.
    virtual bool undoSet(Context& ctx, std::string const& undo);

    // Hands what the leaf refers to and was created for it (its packer, its
    // provider or table) to the registry, which frees it when the agent
    // stops (mib/ownership.h). The base version refers to nothing.
    virtual void handParts(Ownership& owner);

    virtual ~Leaf() = default;
};
