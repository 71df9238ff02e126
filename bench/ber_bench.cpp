// Encoding and decoding a large GetResponse: 1000 bindings of mixed types,
// about the size of a full 64 KiB reply. Reported per binding.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"

namespace {

constexpr uint32_t BINDINGS = 1000;

void encodeResponse(OutStream& out) {
    const OID column("1.3.6.1.2.1.2.2.1");
    const std::string description = "GigabitEthernet0/1 uplink to core";
    out.startSeq(ber::SEQUENCE);
    out.add(1, ber::INTEGER);
    out.add("public", ber::OCTET_STRING);
    out.startSeq(ber::RESPONSE);
    out.add(0x12345678, ber::INTEGER);
    out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (uint32_t i = 0; i < BINDINGS; ++i) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(column + (i % 4 + 2) + i);
        switch (i % 4) {
            case 0:
                out.add(description, ber::OCTET_STRING);
                break;
            case 1:
                out.add(i * 123457u, ber::COUNTER32);
                break;
            case 2:
                out.add(static_cast<unsigned long long>(i) << 35, ber::COUNTER64);
                break;
            default:
                out.add(int(0xC0A80000u + i), ber::IP_ADDRESS);
                break;
        }
        out.endSeq();
    }
    out.endSeq();
    out.endSeq();
    out.endSeq();
}

void BM_EncodeResponse(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        OutStream out;
        encodeResponse(out);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(bytes);
    state.counters["per_binding"] =
        benchmark::Counter(double(state.iterations()) * BINDINGS,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EncodeResponse);

void BM_DecodeResponse(benchmark::State& state) {
    OutStream encoded;
    encodeResponse(encoded);
    for (auto _ : state) {
        InStream in(encoded.data(), encoded.size());
        std::string community;
        int header = 0;
        in.getVersion();
        in.getString(community);
        in.enterSeq();
        in.getInt(header);
        in.getInt(header);
        in.getInt(header);
        in.enterSeq();
        size_t read = 0;
        while (!in.isSeqEnd()) {
            OID name;
            in.enterSeq();
            in.getOID(name);
            int number = 0;
            unsigned long long wide = 0;
            std::string octets;
            if (in.getInt(number) || in.get64(wide) || in.getString(octets)) ++read;
            in.exitSeq();
        }
        benchmark::DoNotOptimize(read);
    }
    state.counters["per_binding"] =
        benchmark::Counter(double(state.iterations()) * BINDINGS,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DecodeResponse);

}  // namespace

BENCHMARK_MAIN();
