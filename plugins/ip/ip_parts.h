// The IP-MIB plug-in's parts beside the address tables of ip.cpp.
#pragma once

// ip_stats.cpp: the legacy IPv4 counters, ipSystemStatsTable, ipIfStatsTable,
// icmpStatsTable and icmpMsgStatsTable over the IP service's counters.
void registerIpStatistics();
// ip_neighbours.cpp: ipNetToPhysicalTable and ipNetToMediaTable over the
// IP service's neighbour windows.
void registerNeighbours();
