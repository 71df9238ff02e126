// The object tree: the registry that MIB plug-ins fill, the one lookup and
// the one walk every request makes through it, and the ownership of what is
// registered.
//
// `leafs` maps each registered OID to the leaf that answers for everything
// below it (mib/leaf.h). Plug-ins register from autorun, before the first
// request is served. Afterwards only subtrees served by another process
// (AgentX subagents) come and go, between requests (addRemoteLeaf).
//
// Which leaf answers a name: the one registered under the longest prefix of
// the name, for Get, GetNext, GetBulk and Set alike. A registration nested
// in another (1.3.6.1.3.7 and 1.3.6.1.3.7.1.5) takes its subtree from the
// outer one: 1.3.6.1.3.7.1.5.2 is the inner leaf's, 1.3.6.1.3.7.1.6.0 the
// outer leaf's, and a walk visits the outer leaf's instances before the
// subtree, the inner leaf's, then the outer leaf's after the subtree.
//
// Requests reach the tree only through findRegistration and answerNext:
// access control by view (RFC 3415) and subtrees served by another process
// plug in there.
#pragma once

#include <map>

#include "mib/context.h"
#include "mib/leaf.h"
#include "platform/snmp/oid.h"

// The registry, ordered as OIDs order (a proper prefix sorts first).
extern std::map<OID, Leaf*> leafs;

// Registers `leaf`, created with new, under `oid`, and hands it (with what it
// refers to, mib/ownership.h) to the registry, which frees it when the agent
// stops. A leaf registered earlier under the same OID is replaced: no
// request reaches it any more, and it is freed with the others.
void addLeaf(OID const& oid, Leaf* leaf);

// The registration of a subtree served by another process, while the agent
// runs: `leaf` answers for `oid` until removeRemoteLeaf, and stays its
// owner's (the registry never frees it). Only between requests: a request
// that waits (request/parked_requests.h) keeps its datagram, not the leaves
// it reached, and is served again from the registry as it is then. A leaf
// already registered under `oid` is not replaced: false.
bool addRemoteLeaf(OID const& oid, Leaf* leaf);
// Ends what addRemoteLeaf began, when `leaf` still answers for `oid`.
void removeRemoteLeaf(OID const& oid, Leaf const* leaf);

// The one-arc OID 0: the instance suffix of every scalar.
extern const OID ZERO_OID;

// The registration that answers for `name` (the longest registered prefix
// of it, or `name` itself), or leafs.end() when none does.
std::map<OID, Leaf*>::const_iterator findRegistration(OID const& name);

// Answers the first instance after ctx.oid in the order of the tree: true
// when a leaf answered, with the binding's name and value written into
// ctx.out and the full name in ctx.name; false past the last instance,
// with nothing written. ctx.oid is changed.
bool answerNext(Context& ctx);

// The end of the registry, once the agent stops serving: frees everything
// handed to it, each object once, what an object refers to before the
// object. The registry, and the list of registered modules
// (mib/modules.h), are empty afterwards.
void releaseRegistry();
