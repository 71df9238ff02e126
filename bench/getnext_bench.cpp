// GetNext through a table column: the cost of one step of a walk over a
// MapTable of N rows whose provider's data is current (a cached provider
// between two fetches). It should grow with log N, not with N.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/static_rows.h"
#include "mib/columnar.h"
#include "mib/context.h"
#include "mib/data.h"
#include "mib/registry.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/string_packer.h"
#include "platform/snmp/ber.h"
#include "request/lookup.h"

namespace {

using bench::Row;
using bench::StaticRows;

void BM_GetNextOverTable(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const OID column("1.3.6.1.4.1.32473.98.1.2");
    StaticRows provider(rows);
    MapTable table(&provider);
    DataNumPacker index(field(&Row::index), ber::INTEGER);
    DataStringPacker name(field(&Row::name), ber::OCTET_STRING, 0);
    table.addIndex(&index);
    leafs.clear();
    addColumnarLeaf(column, &name, &table);

    int next = 0;
    for (auto _ : state) {
        Context ctx(nullptr, 0);
        ctx.oid = column + static_cast<uint32_t>(next);
        ctx.out.startSeq(ber::SEQUENCE);
        if (snmpGetNext(ctx) != Lookup::Answered) state.SkipWithError("walk ended early");
        benchmark::DoNotOptimize(ctx.out.data());
        next = next + 1 < rows ? next + 1 : 0;
    }
    state.SetItemsProcessed(state.iterations());
    for (auto& entry : leafs)
        delete entry.second;
    leafs.clear();
}
BENCHMARK(BM_GetNextOverTable)->Arg(100)->Arg(10000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
