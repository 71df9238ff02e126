// The object tree: the leaf interface and the registry that MIB plug-ins fill.
//
// The agent answers only for objects registered in `leafs`, an ordered map
// from OID to the leaf that answers for everything below that OID. Plug-ins
// register their leaves from `autorun`, before the first request is served;
// afterwards the map is only read. Registered leaves serve until the agent
// stops: the registry owns them and everything they refer to, and frees it
// all then (releaseRegistry in mib/registry.h).
//
// Which leaf serves a request:
// - Get: only the greatest registered OID not greater than the requested name,
//   and only if it is a prefix of the name (or equal to it).
// - GetNext: the leaf found as for Get (when it contains the name), then every
//   later leaf in OID order, until one has an instance after the name.
// - Set: the longest registered prefix of the name.
// With nested registrations (1.3.6.1.3.7 and 1.3.6.1.3.7.1.5) a Get of
// 1.3.6.1.3.7.1.6.0 therefore fails, while a Set of it reaches 1.3.6.1.3.7.
//
// A SetRequest is applied whole or not at all (RFC 3416 4.2.5): first every
// binding is tested (testSet), then, when all passed, each is committed in
// order (commitSet); when one commit fails, those committed before it are
// undone in reverse order (undoSet). A leaf that implements only `set`
// keeps working: the base versions of the three call it at commit time,
// and say it cannot be undone. docs/plugins.md walks through the phases.
#pragma once

#include <map>
#include <string>

#include "mib/context.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"

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

    // Sets one instance in one step. On entry ctx.oid is the full requested
    // name, ctx.setSuffix its part below the leaf's OID (empty for an exact
    // match) and ctx.in stands at the binding's value. Decode the value and
    // store it, and return true; return false when the instance does not
    // exist or the value is refused, with nothing changed. What it writes
    // into ctx.out is dropped: the reply repeats the request's bindings.
    virtual bool set(Context& ctx) = 0;

    // The phases of a Set. Each is called with ctx.oid and ctx.setSuffix as
    // for set, and ctx.in holding the binding's value alone, from its start.
    //
    // testSet, for every binding before any is committed: may this instance
    // take this value? NO_ERROR, or the first refusal in RFC 3416 4.2.5
    // order: NOT_WRITABLE (the object can never be written), WRONG_TYPE,
    // WRONG_LENGTH, WRONG_ENCODING, WRONG_VALUE (the value can never suit
    // it), NO_CREATION (no such instance, and none can be made),
    // INCONSISTENT_VALUE or RESOURCE_UNAVAILABLE (not now). Changes nothing.
    // The base version cannot tell before trying: NO_ERROR.
    virtual snmp::ErrorStatus testSet(Context& ctx);
    // Stores the value, keeping in `undo` whatever undoSet needs to put
    // back what it replaced. NO_ERROR, or the refusal with nothing changed
    // (COMMIT_FAILED when the platform refused the write). The base version
    // calls set: NO_ERROR when it stored the value, NOT_WRITABLE otherwise.
    virtual snmp::ErrorStatus commitSet(Context& ctx, std::string& undo);
    // Called only when a later binding of the same request failed to
    // commit: puts back what commitSet replaced, from its `undo`. False
    // when that fails. The base version cannot undo: false.
    virtual bool undoSet(Context& ctx, std::string const& undo);

    virtual ~Leaf() = default;
};

// The registry, ordered as OIDs order (a proper prefix sorts first).
extern std::map<OID, Leaf*> leafs;

// Registers `leaf`, created with new, under `oid`; the registry owns it. A
// leaf registered earlier under the same OID is replaced: no request reaches
// it any more, and it is freed with the others when the agent stops.
void addLeaf(OID const& oid, Leaf* leaf);

// The one-arc OID 0: the instance suffix of every scalar object.
extern const OID ZERO_OID;
