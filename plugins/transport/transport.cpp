// TCP-MIB (RFC 4022) and UDP-MIB (RFC 4113), fed by the IP service orla-ipd
// (platform/ipd/ip_object.h): the scalars from the kernel's counters, the
// tables from socket diagnostics.
//
//   1.3.6.1.2.1.6.N.0        tcpRtoAlgorithm (1) to tcpOutRsts (15),
//                            tcpHCInSegs (17), tcpHCOutSegs (18)
//   1.3.6.1.2.1.6.19.1.C.I   tcpConnectionTable, I = local address type,
//                            address (length first), port, then the remote's
//   1.3.6.1.2.1.6.20.1.C.I   tcpListenerTable, I = local address type,
//                            address, port
//   1.3.6.1.2.1.7.N.0        udpInDatagrams (1) to udpOutDatagrams (4),
//                            udpHCInDatagrams (8), udpHCOutDatagrams (9)
//   1.3.6.1.2.1.7.7.1.C.I    udpEndpointTable, I = local address type,
//                            address, port, the remote's, instance
//
// A host may hold tens of thousands of sockets: the tables are
// WindowTables, holding a window of rows at a time. Every object is
// read-only. Without the service the scalars have no value and the tables
// are empty.
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "mib/sdk.h"
#include "platform/ipd/ip_object.h"

namespace {

const OID TCP("1.3.6.1.2.1.6");
const OID UDP("1.3.6.1.2.1.7");

// Sockets read per exchange with the service, as routes are.
constexpr uint32_t WINDOW_SOCKETS = 1024;
constexpr unsigned MAX_ARC = 15;

// The scalars of one group, by their arc.
struct CounterRecord : Data {
    std::array<unsigned long long, MAX_ARC + 1> value{};
};

// Null unless the kernel gave every arc of `arcs`.
Data* buildCounters(std::vector<uint32_t> const& triples, std::vector<unsigned> const& arcs) {
    auto* rec = new CounterRecord;
    uint32_t present = 0;
    ipd::forEachCounter(triples, [&](uint32_t arc, uint64_t value) {
        if (arc > MAX_ARC) return;
        rec->value[arc] = value;
        present |= 1u << arc;
    });
    for (unsigned arc : arcs) {
        if (!(present >> arc & 1)) {
            delete rec;
            return nullptr;
        }
    }
    return rec;
}

const std::vector<unsigned> TCP_ARCS = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15};
const std::vector<unsigned> UDP_ARCS = {1, 2, 3, 4};

Data* buildTcp(orla::message const& reply) {
    return buildCounters(reply.get(ipd::TCP_COUNTERS), TCP_ARCS);
}

Data* buildUdp(orla::message const& reply) {
    return buildCounters(reply.get(ipd::UDP_COUNTERS), UDP_ARCS);
}

// The low 32 bits of a counter under a 32-bit tag (INTEGER: tcpMaxConn's -1
// comes as 2^64-1).
class Low32Packer : public NumPacker {
  public:
    Low32Packer(unsigned arc, unsigned type) : NumPacker(type), arc_(arc) {}
    int get(Data const* rec) const override {
        return rec ? static_cast<int>(
                         static_cast<uint32_t>(static_cast<CounterRecord const*>(rec)->value[arc_]))
                   : 0;
    }
    void set(Data*, int) const override {}
    bool writable() const override { return false; }

  private:
    unsigned const arc_;
};

class Counter64Packer : public BignumPacker {
  public:
    explicit Counter64Packer(unsigned arc) : BignumPacker(ber::COUNTER64), arc_(arc) {}
    unsigned long long get(Data const* rec) const override {
        return rec ? static_cast<CounterRecord const*>(rec)->value[arc_] : 0;
    }
    void set(Data*, unsigned long long) const override {}
    bool writable() const override { return false; }

  private:
    unsigned const arc_;
};

struct EndpointRecord : Data {
    int state = 0;
    int process = 0;  // Unsigned32, its bits
};

Data* makeEndpoint() {
    return new EndpointRecord;
}

template <ipd::EndpointShape shape>
bool parseEndpoint(OID const& index, std::string_view fields, Data* rec) {
    ipd::EndpointFields endpoint;
    if (!ipd::isEndpointIndex(index.data(), index.size(), shape) ||
        !ipd::readEndpointFields(fields, endpoint)) {
        return false;
    }
    auto* record = static_cast<EndpointRecord*>(rec);
    record->state = endpoint.state;
    record->process = static_cast<int>(endpoint.process);
    return true;
}

WindowTable* endpoints(WindowTable::Parse parse, uint32_t handler) {
    return new WindowTable(makeEndpoint, parse, {ipd::IP_SERVICE, handler}, WINDOW_SOCKETS);
}

}  // namespace

extern "C" void autorun() {
    const std::vector<unsigned> stats = {ipd::IP_SERVICE, ipd::IP_STATS_HANDLER};
    auto* tcp = new GetProvider(buildTcp, stats, orla::CMD_GET, orla::CMD_SET);
    const std::pair<unsigned, Packer*> tcpScalars[] = {
        {1, new Low32Packer(1, ber::INTEGER)},      // tcpRtoAlgorithm
        {2, new Low32Packer(2, ber::INTEGER)},      // tcpRtoMin, milliseconds
        {3, new Low32Packer(3, ber::INTEGER)},      // tcpRtoMax
        {4, new Low32Packer(4, ber::INTEGER)},      // tcpMaxConn: -1, dynamic
        {5, new Low32Packer(5, ber::COUNTER32)},    // tcpActiveOpens
        {6, new Low32Packer(6, ber::COUNTER32)},    // tcpPassiveOpens
        {7, new Low32Packer(7, ber::COUNTER32)},    // tcpAttemptFails
        {8, new Low32Packer(8, ber::COUNTER32)},    // tcpEstabResets
        {9, new Low32Packer(9, ber::GAUGE32)},      // tcpCurrEstab
        {10, new Low32Packer(10, ber::COUNTER32)},  // tcpInSegs
        {11, new Low32Packer(11, ber::COUNTER32)},  // tcpOutSegs
        {12, new Low32Packer(12, ber::COUNTER32)},  // tcpRetransSegs
        {14, new Low32Packer(14, ber::COUNTER32)},  // tcpInErrs
        {15, new Low32Packer(15, ber::COUNTER32)},  // tcpOutRsts
        {17, new Counter64Packer(10)},              // tcpHCInSegs
        {18, new Counter64Packer(11)},              // tcpHCOutSegs
    };
    for (auto const& [arc, packer] : tcpScalars)
        addScalarLeaf(TCP + arc, packer, tcp, Access::ReadOnly);

    using ipd::EndpointShape;
    WindowTable* connections =
        endpoints(parseEndpoint<EndpointShape::TcpConnection>, ipd::IP_TCP_CONNECTION_HANDLER);
    Packer* process = new DataNumPacker(field(&EndpointRecord::process), ber::GAUGE32);
    addColumnarLeaf(TCP + 19 + 1 + 7,
                    new DataNumPacker(field(&EndpointRecord::state), ber::INTEGER), connections,
                    Access::ReadOnly);
    addColumnarLeaf(TCP + 19 + 1 + 8, process, connections, Access::ReadOnly);
    WindowTable* listeners =
        endpoints(parseEndpoint<EndpointShape::TcpListener>, ipd::IP_TCP_LISTENER_HANDLER);
    addColumnarLeaf(TCP + 20 + 1 + 4, process, listeners, Access::ReadOnly);

    auto* udp = new GetProvider(buildUdp, stats, orla::CMD_GET, orla::CMD_SET);
    const std::pair<unsigned, Packer*> udpScalars[] = {
        {1, new Low32Packer(1, ber::COUNTER32)},  // udpInDatagrams
        {2, new Low32Packer(2, ber::COUNTER32)},  // udpNoPorts
        {3, new Low32Packer(3, ber::COUNTER32)},  // udpInErrors
        {4, new Low32Packer(4, ber::COUNTER32)},  // udpOutDatagrams
        {8, new Counter64Packer(1)},              // udpHCInDatagrams
        {9, new Counter64Packer(4)},              // udpHCOutDatagrams
    };
    for (auto const& [arc, packer] : udpScalars)
        addScalarLeaf(UDP + arc, packer, udp, Access::ReadOnly);
    WindowTable* udpEndpoints =
        endpoints(parseEndpoint<EndpointShape::UdpEndpoint>, ipd::IP_UDP_ENDPOINT_HANDLER);
    addColumnarLeaf(UDP + 7 + 1 + 8, process, udpEndpoints, Access::ReadOnly);

    registerModule(OID("1.3.6.1.2.1.49"),
                   "TCP-MIB: TCP counters, connections, listeners (RFC 4022)");
    registerModule(OID("1.3.6.1.2.1.50"), "UDP-MIB: UDP counters and endpoints (RFC 4113)");
}
