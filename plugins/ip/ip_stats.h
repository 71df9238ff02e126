// The IP-MIB plug-in's statistics objects (ip_stats.cpp).
#pragma once

// Registers the legacy IPv4 counters, ipSystemStatsTable, icmpStatsTable and
// icmpMsgStatsTable over the IP service's counters.
void registerIpStatistics();
