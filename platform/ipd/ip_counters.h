// The kernel's SNMP counters of the network namespace the service runs in:
// /proc/net/snmp and /proc/net/netstat (pairs of lines, a group's names
// then its values: "Ip: InReceives ..." / "Ip: 1513 ..."), and
// /proc/net/snmp6 (a name and a value a line: "Ip6InReceives 2"). /proc/net
// is the reading process's own namespace, so the counters are the
// namespace's. Every file is hostile: its size and number of counters are
// bounded, and a malformed part is left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/orla/message.h"

namespace ipd {

// Counter name to value: "Ip:InReceives" for a grouped file (the group,
// a colon, the name), "Ip6InReceives" for a file of named lines.
using Counters = std::map<std::string, uint64_t, std::less<>>;

inline constexpr size_t MAX_COUNTER_FILE_BYTES = 256 * 1024;
inline constexpr size_t MAX_COUNTERS = 8192;

// Adds the counters of a grouped file. A negative value (Tcp's MaxConn is
// -1) is kept as its two's complement; a value that is no decimal is left
// out. False when a pair of lines is
// malformed (another group, another number of values), which is left out;
// the pairs around it are read.
bool parseGroupedCounters(std::string_view text, Counters& out);
// Adds the counters of a file of named lines; false when a line is not a
// name and an unsigned decimal, which is left out.
bool parseNamedCounters(std::string_view text, Counters& out);

// The counters of one IP version (RFC 4293 ipSystemStatsIPVersion 1 ipv4,
// 2 ipv6) as the IP_STATS_HANDLER object fields (ip_object.h): IPS_COUNTERS
// in ipSystemStatsTable's columns, ICMP_COUNTERS in icmpStatsTable's,
// ICMP_MSG_COUNTS per ICMP message type. A counter the kernel does not
// keep is left out.
orla::message statsObject(uint32_t version, const Counters& counters);
// The IPv6 counters of one interface (a file of /proc/net/dev_snmp6, whose
// "ifIndex" line names it) as an IP_IF_STATS_HANDLER object: OBJ_ID the
// ifIndex, IPS_COUNTERS; an empty message when the file names no ifIndex
// from 1 to 2^31-1.
orla::message ifStatsObject(const Counters& counters);
// Adds TCP_COUNTERS and UDP_COUNTERS (ip_object.h) to `reply`.
void addTransportCounters(const Counters& counters, orla::message& reply);

}  // namespace ipd
