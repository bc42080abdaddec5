// The pack lookup against the entry count, the wanted entry last: one table
// read and a linear walk, so the time per entry should stay flat.
#include <stdio.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "engine.h"

namespace {

const char* const kLookupPack = "lookup.dat";
const char* const kWanted = "Instdata.pak";

void BM_FindPackEntry(benchmark::State& state) {
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    // The other names share the wanted one's first eight letters, so each
    // comparison walks them before it fails.
    std::vector<bench::PackEntry> entries;
    entries.reserve(count);
    char name[32];
    for (uint32_t k = 0; k + 1 < count; ++k) {
        snprintf(name, sizeof name, "Instdata%06u.pak", k);
        entries.push_back({name, 1, k});
    }
    entries.push_back({kWanted, 1, count});
    std::vector<uint32_t> starts;
    SourceStream stream = {};
    stream.kind = SOURCE_PACK;
    if (!bench::WritePack(kLookupPack, entries, &starts) ||
        (stream.handle = PlatOpenRead(kLookupPack)) == PLAT_INVALID_FILE) {
        state.SkipWithError("cannot write the pack");
        PlatDeleteFile(kLookupPack);
        return;
    }

    for (auto _ : state) {
        const uint32_t size = FindPackEntry(&stream, kWanted);
        benchmark::DoNotOptimize(size);
        // Back to the start, as a freshly opened pack would be.
        if (size != 1 || stream.dataPosition != starts.back() ||
            !PlatSeekCurrent(stream.handle, -static_cast<int32_t>(stream.dataPosition))) {
            state.SkipWithError("the lookup did not find the last entry");
            break;
        }
    }
    state.SetComplexityN(count);
    state.counters["per_entry"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    PlatClose(stream.handle);
    PlatDeleteFile(kLookupPack);
}

BENCHMARK(BM_FindPackEntry)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
