// IP-MIB (RFC 4293) statistics from the IP service's counters
// (ipd::IP_STATS_HANDLER, platform/ipd/ip_object.h):
//
//   1.3.6.1.2.1.4.3.0 - 4.19.0  the legacy IPv4 scalars, ipInReceives to
//                               ipFragCreates (ipReasmTimeout from the
//                               system handler)
//   1.3.6.1.2.1.4.25.0, 26.0    ipv6IpForwarding, ipv6IpDefaultHopLimit
//   1.3.6.1.2.1.4.31.1.1.C.V    ipSystemStatsTable, V = 1 ipv4, 2 ipv6
//   1.3.6.1.2.1.4.31.3.1.C.V.I  ipIfStatsTable, V = 2 ipv6 (the kernel keeps
//                               no IPv4 counters per interface), I = ifIndex
//   1.3.6.1.2.1.5.29.1.C.V      icmpStatsTable
//   1.3.6.1.2.1.5.30.1.C.V.T    icmpMsgStatsTable, T = the message type
//
// A counter the kernel does not keep has no instance: each column is a view
// of its table's rows that passes over the rows without its counter.
#include "ip_parts.h"

#include <array>
#include <cstdint>
#include <vector>

#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace {

const OID IP("1.3.6.1.2.1.4");
const OID IP_SYSTEM_STATS_ENTRY = IP + 31 + 1 + 1;
const OID IP_IF_STATS_ENTRY = IP + 31 + 3 + 1;
const OID ICMP_STATS_ENTRY("1.3.6.1.2.1.5.29.1");
const OID ICMP_MSG_STATS_ENTRY("1.3.6.1.2.1.5.30.1");

constexpr unsigned MAX_COLUMN = 63;  // counters are kept by column, below 64
constexpr unsigned ICMP_MSG_IN = 3;
constexpr unsigned ICMP_MSG_OUT = 4;

enum class Kind { System, Interface, Icmp, IcmpMsg };

// The counters of one row, by the column they are served in.
struct CounterRecord : Data {
    Kind kind = Kind::System;
    int version = 0;       // InetVersion: 1 ipv4, 2 ipv6
    int icmpType = 0;      // icmpMsgStatsTable only
    int ifIndex = 0;       // ipIfStatsTable only
    uint64_t present = 0;  // bit C: the counter of column C is known
    std::array<unsigned long long, MAX_COLUMN + 1> value{};

    bool has(unsigned column) const { return column <= MAX_COLUMN && (present >> column & 1); }
    void set(unsigned column, uint64_t counter) {
        if (column > MAX_COLUMN) return;
        present |= uint64_t(1) << column;
        value[column] = counter;
    }
};

CounterRecord* recordOf(Kind kind, int version, std::vector<uint32_t> const& triples) {
    auto* rec = new CounterRecord;
    rec->kind = kind;
    rec->version = version;
    ipd::forEachCounter(triples, [&](uint32_t column, uint64_t value) { rec->set(column, value); });
    return rec;
}

void parseStats(orla::message const& object, std::vector<Data*>* records) {
    const uint32_t version = object.get(orla::OBJ_ID, 0);
    if (version != ipd::INET_IPV4 && version != ipd::INET_IPV6) return;
    const int v = static_cast<int>(version);
    records->push_back(recordOf(Kind::System, v, object.get(ipd::IPS_COUNTERS)));
    records->push_back(recordOf(Kind::Icmp, v, object.get(ipd::ICMP_COUNTERS)));
    const std::vector<uint32_t> messages = object.get(ipd::ICMP_MSG_COUNTS);
    for (size_t at = 0; at + 3 <= messages.size(); at += 3) {
        if (messages[at] > 255) continue;
        auto* rec = new CounterRecord;
        rec->kind = Kind::IcmpMsg;
        rec->version = v;
        rec->icmpType = static_cast<int>(messages[at]);
        rec->set(ICMP_MSG_IN, messages[at + 1]);
        rec->set(ICMP_MSG_OUT, messages[at + 2]);
        records->push_back(rec);
    }
}

void parseIfStats(orla::message const& object, std::vector<Data*>* records) {
    const uint32_t ifIndex = object.get(orla::OBJ_ID, 0);
    if (ifIndex == 0 || ifIndex > 0x7fffffff) return;
    CounterRecord* rec = recordOf(Kind::Interface, ipd::INET_IPV6, object.get(ipd::IPS_COUNTERS));
    rec->ifIndex = static_cast<int>(ifIndex);
    records->push_back(rec);
}

// RFC 4293 ipInReceives ... ipFragCreates: the IPv4 counters of the
// ipSystemStatsTable columns they correspond to (ipForwDatagrams: the
// datagrams the kernel forwarded). Null unless the kernel keeps them all.
constexpr std::pair<unsigned, unsigned> LEGACY_SCALARS[] = {
    {3, 3},   {4, 7},   {5, 9},   {6, 23},  {7, 10},  {8, 17},  {9, 18},  {10, 20},
    {11, 25}, {12, 22}, {14, 14}, {15, 15}, {16, 16}, {17, 27}, {18, 28}, {19, 29},
};

Data* buildLegacy(orla::message const& reply) {
    CounterRecord* rec = recordOf(Kind::System, ipd::INET_IPV4, reply.get(ipd::IPS_COUNTERS));
    for (auto const& [arc, column] : LEGACY_SCALARS) {
        if (!rec->has(column)) {
            delete rec;
            return nullptr;
        }
    }
    return rec;
}

// A scalar of the system handler that the kernel may not have (no
// instance then): ipReasmTimeout, ipv6IpForwarding, ipv6IpDefaultHopLimit.
struct SystemValueRecord : Data {
    int value = 0;
};

template <orla::U32Key const& key>
Data* buildSystemValue(orla::message const& reply) {
    if (!reply.has(key)) return nullptr;
    auto* rec = new SystemValueRecord;
    rec->value = saturatedInt32(reply.get(key));
    return rec;
}

// Counter32: the low 32 bits of the kernel's counter (RFC 2578 7.1.6: it
// wraps at 2^32).
class Counter32Packer : public NumPacker {
  public:
    explicit Counter32Packer(unsigned column) : NumPacker(ber::COUNTER32), column_(column) {}
    int get(Data const* rec) const override {
        return rec ? static_cast<int>(static_cast<uint32_t>(
                         static_cast<CounterRecord const*>(rec)->value[column_]))
                   : 0;
    }
    void set(Data*, int) const override {}
    bool writable() const override { return false; }

  private:
    unsigned const column_;
};

class Counter64Packer : public BignumPacker {
  public:
    explicit Counter64Packer(unsigned column) : BignumPacker(ber::COUNTER64), column_(column) {}
    unsigned long long get(Data const* rec) const override {
        return rec ? static_cast<CounterRecord const*>(rec)->value[column_] : 0;
    }
    void set(Data*, unsigned long long) const override {}
    bool writable() const override { return false; }

  private:
    unsigned const column_;
};

// The rows of one kind, by their index.
class KindTable : public MapTable {
  public:
    KindTable(TableProvider* provider, Kind kind) : MapTable(provider), kind_(kind) {}
    void change(Data* rec) override {
        if (static_cast<CounterRecord*>(rec)->kind == kind_) MapTable::change(rec);
    }
    void remove(Data* rec) override {
        if (static_cast<CounterRecord*>(rec)->kind == kind_) MapTable::remove(rec);
    }

  private:
    Kind const kind_;
};

// One column's view of a KindTable: the rows that have the column's counter
// (every row with column 0). The rows are held once for all the columns; a
// GetNext in a column whose counter the kernel does not keep passes over the
// kind's rows once.
class ColumnView : public Table {
  public:
    ColumnView(KindTable* rows, unsigned column) : rows_(rows), column_(column) {}
    Data* get(OID const& index) override {
        Data* rec = rows_->get(index);
        return holds(rec) ? rec : nullptr;
    }
    std::pair<OID, Data*> getNext(OID const& index) override {
        std::pair<OID, Data*> next = rows_->getNext(index);
        while (next.second && !holds(next.second))
            next = rows_->getNext(next.first);
        return next.second ? next : std::pair<OID, Data*>{};
    }
    bool acceptsWrites(OID const&) override { return false; }
    bool commit(OID const&, Data*) override { return false; }
    void handParts(Ownership& owner) override { owner.take(rows_); }
    unsigned count() override {
        unsigned rows = 0;
        for (auto next = getNext(OID()); next.second; next = getNext(next.first))
            ++rows;
        return rows;
    }

  private:
    bool holds(Data const* rec) const {
        return rec && (column_ == 0 || static_cast<CounterRecord const*>(rec)->has(column_));
    }

    KindTable* const rows_;
    unsigned const column_;
};

struct Column {
    unsigned arc;     // the column served
    unsigned source;  // the column whose counter it serves; 0: any row
    Packer* packer;
};

void addColumns(OID const& entry, TableProvider* provider, Kind kind,
                std::vector<Packer*> const& indexes, std::vector<Column> const& columns) {
    auto* rows = new KindTable(provider, kind);
    for (Packer* index : indexes)
        rows->addIndex(index);
    for (Column const& column : columns)
        addColumnarLeaf(entry + column.arc, column.packer, new ColumnView(rows, column.source),
                        Access::ReadOnly);
}

}  // namespace

void registerIpStatistics() {
    auto* legacy = new GetProvider(buildLegacy, {ipd::IP_SERVICE, ipd::IP_STATS_HANDLER},
                                   orla::CMD_GET, orla::CMD_SET);
    for (auto const& [arc, column] : LEGACY_SCALARS)
        addScalarLeaf(IP + arc, new Counter32Packer(column), legacy, Access::ReadOnly);
    const std::pair<unsigned, Data* (*)(orla::message const&)> systemValues[] = {
        {13, buildSystemValue<ipd::IP_REASM_TIMEOUT>},  // ipReasmTimeout, seconds
        {25, buildSystemValue<ipd::IP6_FORWARDING>},    // ipv6IpForwarding
        {26, buildSystemValue<ipd::IP6_HOP_LIMIT>},     // ipv6IpDefaultHopLimit
    };
    for (auto const& [arc, build] : systemValues) {
        addScalarLeaf(IP + arc, new DataNumPacker(field(&SystemValueRecord::value), ber::INTEGER),
                      new GetProvider(build, {ipd::IP_SERVICE, ipd::IP_SYSTEM_HANDLER},
                                      orla::CMD_GET, orla::CMD_SET),
                      Access::ReadOnly);
    }

    auto* stats = new GetAllProvider();
    stats->addSource(parseStats, {ipd::IP_SERVICE, ipd::IP_STATS_HANDLER});
    stats->addSource(parseIfStats, {ipd::IP_SERVICE, ipd::IP_IF_STATS_HANDLER});
    Packer* version = new DataNumPacker(field(&CounterRecord::version), ber::INTEGER);
    Packer* icmpType = new DataNumPacker(field(&CounterRecord::icmpType), ber::INTEGER);
    Packer* ifIndex = new DataNumPacker(field(&CounterRecord::ifIndex), ber::INTEGER);

    // ipSystemStatsTable: each 32-bit counter, then its HC twin when RFC
    // 4293 defines one (the column after it).
    constexpr std::pair<unsigned, bool> COUNTERS[] = {
        {3, true},   {5, true},   {7, false},  {8, false},  {9, false},  {10, false}, {11, false},
        {12, true},  {14, false}, {15, false}, {16, false}, {17, false}, {18, true},  {20, true},
        {22, false}, {23, true},  {25, false}, {27, false}, {28, false}, {29, false}, {30, true},
        {32, true},  {34, true},  {36, true},  {38, true},  {40, true},  {42, true},  {44, true},
    };
    std::vector<Column> systemColumns;
    for (auto const& [column, hc] : COUNTERS) {
        systemColumns.push_back({column, column, new Counter32Packer(column)});
        if (hc) systemColumns.push_back({column + 1, column, new Counter64Packer(column)});
    }
    // ipSystemStatsDiscontinuityTime: the kernel's counters start at zero
    // with the namespace (an interface's with the interface, which takes a
    // new ifIndex) and are never reset.
    systemColumns.push_back({46, 0, new ConstNumPacker(0, ber::TIMETICKS)});
    addColumns(IP_SYSTEM_STATS_ENTRY, stats, Kind::System, {version}, systemColumns);
    // ipIfStatsTable has ipSystemStatsTable's columns.
    addColumns(IP_IF_STATS_ENTRY, stats, Kind::Interface, {version, ifIndex}, systemColumns);

    std::vector<Column> icmpColumns;
    for (unsigned column = 2; column <= 5; ++column)
        icmpColumns.push_back({column, column, new Counter32Packer(column)});
    addColumns(ICMP_STATS_ENTRY, stats, Kind::Icmp, {version}, icmpColumns);

    addColumns(ICMP_MSG_STATS_ENTRY, stats, Kind::IcmpMsg, {version, icmpType},
               {{ICMP_MSG_IN, ICMP_MSG_IN, new Counter32Packer(ICMP_MSG_IN)},
                {ICMP_MSG_OUT, ICMP_MSG_OUT, new Counter32Packer(ICMP_MSG_OUT)}});
}
