// The end of the registry: what the agent calls once it stops serving.
#pragma once

// Frees every leaf registered in `leafs` (and every leaf replaced there),
// and, once each, what the SDK's leaves, tables and providers among them
// refer to: their packers, data providers, tables and table providers. A
// plug-in's own leaf class that holds such objects keeps them; they end with
// the process. Providers go before the tables they feed, so a provider that
// clears its tables as it goes finds them still there. The registry, and
// the list of registered modules (mib/modules.h), are empty afterwards.
void releaseRegistry();
