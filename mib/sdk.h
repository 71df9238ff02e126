// The programming interface of MIB plug-ins: the one header a plug-in
// includes. It brings everything a plug-in may use, and nothing else of the
// agent; docs/plugins.md is the guide.
//
// A plug-in is a shared object in /orla/lib/snmp that exports
//
//     extern "C" void autorun();
//
// The agent calls it once at start-up, before it serves the first request;
// autorun creates the plug-in's objects and registers them.
#pragma once

// The object tree and the objects in it.
#include "mib/columnar.h"
#include "mib/context.h"
#include "mib/field_leaf.h"
#include "mib/leaf.h"
#include "mib/ownership.h"
#include "mib/registry.h"
#include "mib/scalar.h"
#include "mib/test_and_incr.h"

// Records, and the packers that turn their fields into values and indexes.
#include "mib/data.h"
#include "mib/ip_packer.h"
#include "mib/num_packer.h"
#include "mib/oid_packer.h"
#include "mib/packer.h"
#include "mib/string_packer.h"

// Tables and the providers that feed them and scalars from platform services.
#include "mib/augment_proxy_table.h"
#include "mib/count_provider.h"
#include "mib/get_all.h"
#include "mib/get_all_provider.h"
#include "mib/get_first_provider.h"
#include "mib/get_provider.h"
#include "mib/map_table.h"
#include "mib/platform_exchange.h"
#include "mib/provider.h"
#include "mib/proxy_data_provider.h"
#include "mib/single_provider.h"
#include "mib/static_mux_table.h"
#include "mib/table.h"
#include "mib/window_table.h"

// The agent itself: its engine and start, its settings, the modules the
// plug-ins implement, its traps, and the platform services' notifications
// that trap generators follow.
#include "mib/agent_settings.h"
#include "mib/agent_state.h"
#include "mib/modules.h"
#include "mib/service_subscription.h"
#include "mib/traps.h"

// The platform: messages and their ids, clocks, BER tags, the content octets
// of a binding's value, and OIDs.
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/message.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/ber_content.h"
#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"
#include "platform/snmp/varbind.h"
