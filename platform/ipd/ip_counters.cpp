#include "platform/ipd/ip_counters.h"

#include <optional>
#include <span>
#include <tuple>

#include "platform/ipd/ip_object.h"
#include "platform/orla/decimal.h"
#include "platform/orla/ids.h"

namespace ipd {

namespace {

constexpr uint32_t MAX_ICMP_TYPE = 255;

// The next line of `text` without its newline; empties `text` at the end.
std::string_view nextLine(std::string_view& text) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

// The blank-separated words of `line`.
std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) break;
        const size_t end = std::min(line.find_first_of(" \t", at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

void add(Counters& out, std::string name, uint64_t value) {
    if (out.size() < MAX_COUNTERS || out.contains(name)) out[std::move(name)] = value;
}

std::optional<uint64_t> find(const Counters& counters, std::string_view name) {
    const auto it = counters.find(name);
    if (it == counters.end()) return std::nullopt;
    return it->second;
}

// RFC 4293 ipSystemStatsTable columns and the kernel's counters for each
// version; an empty name: the kernel keeps none.
struct SystemColumn {
    uint32_t column;
    const char* ipv4;
    const char* ipv6;
};
constexpr SystemColumn SYSTEM_COLUMNS[] = {
    {3, "Ip:InReceives", "Ip6InReceives"},
    {5, "IpExt:InOctets", "Ip6InOctets"},
    {7, "Ip:InHdrErrors", "Ip6InHdrErrors"},
    {8, "IpExt:InNoRoutes", "Ip6InNoRoutes"},
    {9, "Ip:InAddrErrors", "Ip6InAddrErrors"},
    {10, "Ip:InUnknownProtos", "Ip6InUnknownProtos"},
    {11, "IpExt:InTruncatedPkts", "Ip6InTruncatedPkts"},
    // The kernel counts the datagrams it forwarded, which RFC 4293 calls
    // OutForwDatagrams; the attempts (InForwDatagrams) only kernels that
    // name them.
    {12, "Ip:InForwDatagrams", "Ip6InForwDatagrams"},
    {14, "Ip:ReasmReqds", "Ip6ReasmReqds"},
    {15, "Ip:ReasmOKs", "Ip6ReasmOKs"},
    {16, "Ip:ReasmFails", "Ip6ReasmFails"},
    {17, "Ip:InDiscards", "Ip6InDiscards"},
    {18, "Ip:InDelivers", "Ip6InDelivers"},
    {20, "Ip:OutRequests", "Ip6OutRequests"},
    {22, "Ip:OutNoRoutes", "Ip6OutNoRoutes"},
    {23, "Ip:ForwDatagrams", "Ip6OutForwDatagrams"},
    {25, "Ip:OutDiscards", "Ip6OutDiscards"},
    {27, "Ip:FragOKs", "Ip6FragOKs"},
    {28, "Ip:FragFails", "Ip6FragFails"},
    {29, "Ip:FragCreates", "Ip6FragCreates"},
    {30, "Ip:OutTransmits", "Ip6OutTransmits"},
    {32, "IpExt:OutOctets", "Ip6OutOctets"},
    {34, "IpExt:InMcastPkts", "Ip6InMcastPkts"},
    {36, "IpExt:InMcastOctets", "Ip6InMcastOctets"},
    {38, "IpExt:OutMcastPkts", "Ip6OutMcastPkts"},
    {40, "IpExt:OutMcastOctets", "Ip6OutMcastOctets"},
    // IPv6 has no broadcast.
    {42, "IpExt:InBcastPkts", ""},
    {44, "IpExt:OutBcastPkts", ""},
};

constexpr SystemColumn ICMP_COLUMNS[] = {
    {2, "Icmp:InMsgs", "Icmp6InMsgs"},
    {3, "Icmp:InErrors", "Icmp6InErrors"},
    {4, "Icmp:OutMsgs", "Icmp6OutMsgs"},
    {5, "Icmp:OutErrors", "Icmp6OutErrors"},
};

std::vector<uint32_t> countersOf(uint32_t version, const Counters& counters,
                                 std::span<const SystemColumn> columns) {
    std::vector<uint32_t> triples;
    for (const SystemColumn& each : columns) {
        const std::string_view name = version == INET_IPV4 ? each.ipv4 : each.ipv6;
        const std::optional<uint64_t> value = name.empty() ? std::nullopt : find(counters, name);
        if (value) appendCounter(triples, each.column, *value);
    }
    return triples;
}

// RFC 4293 icmpMsgStatsTable: the kernel lists the message types it has
// counted, as "IcmpMsg:InType3" and "Icmp6OutType135".
std::vector<uint32_t> messageCountsOf(uint32_t version, const Counters& counters) {
    const std::string_view prefix = version == INET_IPV4 ? "IcmpMsg:" : "Icmp6";
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> byType;
    for (auto it = counters.lower_bound(prefix);
         it != counters.end() && std::string_view(it->first).starts_with(prefix); ++it) {
        std::string_view name = std::string_view(it->first).substr(prefix.size());
        const bool in = name.starts_with("InType");
        if (!in && !name.starts_with("OutType")) continue;
        name.remove_prefix(in ? 6 : 7);
        const std::optional<uint64_t> type = orla::parseDecimal(name);
        if (!type || *type > MAX_ICMP_TYPE) continue;
        auto& [inCount, outCount] = byType[static_cast<uint32_t>(*type)];
        (in ? inCount : outCount) = static_cast<uint32_t>(it->second);
    }
    std::vector<uint32_t> triples;
    for (const auto& [type, counts] : byType)
        triples.insert(triples.end(), {type, counts.first, counts.second});
    return triples;
}

// RFC 4022 tcp scalars by their arc.
constexpr std::pair<uint32_t, const char*> TCP_SCALARS[] = {
    {1, "Tcp:RtoAlgorithm"}, {2, "Tcp:RtoMin"},      {3, "Tcp:RtoMax"},
    {4, "Tcp:MaxConn"},      {5, "Tcp:ActiveOpens"}, {6, "Tcp:PassiveOpens"},
    {7, "Tcp:AttemptFails"}, {8, "Tcp:EstabResets"}, {9, "Tcp:CurrEstab"},
    {10, "Tcp:InSegs"},      {11, "Tcp:OutSegs"},    {12, "Tcp:RetransSegs"},
    {14, "Tcp:InErrs"},      {15, "Tcp:OutRsts"},
};

// RFC 4113 udp scalars: the kernel counts IPv4 and IPv6 apart, the MIB
// counts them together.
constexpr std::tuple<uint32_t, const char*, const char*> UDP_SCALARS[] = {
    {1, "Udp:InDatagrams", "Udp6InDatagrams"},
    {2, "Udp:NoPorts", "Udp6NoPorts"},
    {3, "Udp:InErrors", "Udp6InErrors"},
    {4, "Udp:OutDatagrams", "Udp6OutDatagrams"},
};

}  // namespace

orla::message ifStatsObject(const Counters& counters) {
    const std::optional<uint64_t> ifIndex = find(counters, "ifIndex");
    if (!ifIndex || *ifIndex == 0 || *ifIndex > 0x7fffffff) return {};
    orla::message object;
    object.insert(orla::OBJ_ID, static_cast<uint32_t>(*ifIndex));
    object.insert(IPS_COUNTERS, countersOf(INET_IPV6, counters, SYSTEM_COLUMNS));
    return object;
}

void addTransportCounters(const Counters& counters, orla::message& reply) {
    std::vector<uint32_t> tcp;
    for (const auto& [arc, name] : TCP_SCALARS) {
        const std::optional<uint64_t> value = find(counters, name);
        if (value) appendCounter(tcp, arc, *value);
    }
    std::vector<uint32_t> udp;
    for (const auto& [arc, ipv4, ipv6] : UDP_SCALARS) {
        const std::optional<uint64_t> value = find(counters, ipv4);
        if (value) appendCounter(udp, arc, *value + find(counters, ipv6).value_or(0));
    }
    reply.insert(TCP_COUNTERS, std::move(tcp));
    reply.insert(UDP_COUNTERS, std::move(udp));
}

bool parseGroupedCounters(std::string_view text, Counters& out) {
    bool wellFormed = true;
    while (!text.empty()) {
        const std::vector<std::string_view> names = wordsOf(nextLine(text));
        if (names.empty()) continue;
        const std::vector<std::string_view> values = wordsOf(nextLine(text));
        const std::string_view group = names[0];
        if (!group.ends_with(':') || values.empty() || values[0] != group ||
            values.size() != names.size()) {
            wellFormed = false;
            continue;
        }
        for (size_t i = 1; i < names.size(); ++i) {
            std::string_view text = values[i];
            const bool negative = text.starts_with('-');
            if (negative) text.remove_prefix(1);
            const std::optional<uint64_t> value = orla::parseDecimal(text);
            if (value) {
                add(out, std::string(group) + std::string(names[i]),
                    negative ? 0 - *value : *value);
            }
        }
    }
    return wellFormed;
}

bool parseNamedCounters(std::string_view text, Counters& out) {
    bool wellFormed = true;
    while (!text.empty()) {
        const std::vector<std::string_view> words = wordsOf(nextLine(text));
        if (words.empty()) continue;
        const std::optional<uint64_t> value =
            words.size() == 2 ? orla::parseDecimal(words[1]) : std::nullopt;
        if (!value) {
            wellFormed = false;
            continue;
        }
        add(out, std::string(words[0]), *value);
    }
    return wellFormed;
}

orla::message statsObject(uint32_t version, const Counters& counters) {
    orla::message object;
    object.insert(orla::OBJ_ID, version);
    object.insert(IPS_COUNTERS, countersOf(version, counters, SYSTEM_COLUMNS));
    object.insert(ICMP_COUNTERS, countersOf(version, counters, ICMP_COLUMNS));
    object.insert(ICMP_MSG_COUNTS, messageCountsOf(version, counters));
    return object;
}

}  // namespace ipd
