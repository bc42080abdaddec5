// The file update run against a plain copy of the same bytes (read whole,
// write, flush) in the same process and through the same platform calls, so
// the difference is what the temporary file and the replace cost.
//
// The game's data pack, Instdata.pak, is the large entry; Archive.ini and
// extend101.dat stay small, so each size measures one big file plus the
// fixed cost of two small ones, on both sides alike.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "engine.h"

namespace {

const char* const kInstallFolder = "install";
const int kWarmUpPairs = 2;

struct UpdateSet {
    std::vector<bench::PackEntry> entries;
    std::vector<uint32_t> starts;
    uint64_t totalBytes = 0;
};

bool MakeUpdateSet(uint32_t bigSize, UpdateSet* set) {
    set->entries = {{"Archive.ini", 1u << 10, 1}, {"extend101.dat", 64u << 10, 2},
                    {"Instdata.pak", bigSize, 3}};
    set->totalBytes = 0;
    for (const bench::PackEntry& e : set->entries) set->totalBytes += e.size;
    return bench::MakeFolder(kInstallFolder) &&
           bench::WritePack(UPDATE_PACK_NAME, set->entries, &set->starts);
}

// What the update run does for one file, minus its safety: the bytes go
// straight over the destination.
bool CopyOne(const char* name, uint32_t start, uint32_t size) {
    char destination[PATH_BUFFER_SIZE];
    if (!JoinPath(destination, sizeof destination, kInstallFolder, name)) return false;
    PlatFile in = PlatOpenRead(UPDATE_PACK_NAME);
    if (in == PLAT_INVALID_FILE) return false;
    void* block = PlatAllocZero(size);
    uint32_t got = 0;
    bool ok = block && PlatSeekCurrent(in, static_cast<int32_t>(start)) &&
              PlatRead(in, block, size, &got) && got == size;
    PlatClose(in);
    if (ok) {
        PlatFile out = PlatCreateWrite(destination);
        uint32_t written = 0;
        ok = out != PLAT_INVALID_FILE && PlatWrite(out, block, size, &written) && written == size &&
             PlatFlush(out);
        PlatClose(out);
    }
    PlatFree(block);
    return ok;
}

bool PlainCopy(const UpdateSet& set) {
    for (size_t i = 0; i < set.entries.size(); ++i)
        if (!CopyOne(set.entries[i].name.c_str(), set.starts[i], set.entries[i].size)) return false;
    return true;
}

bool UpdateRun() { return ApplyUpdateFiles(nullptr, kInstallFolder) == 1 && bench::TakeMessageCount() == 0; }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Sum(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum;
}

bool DestinationsHold(const UpdateSet& set) {
    for (const bench::PackEntry& e : set.entries)
        if (!bench::FileHoldsPattern(std::string(kInstallFolder) + "/" + e.name, e.seed, e.size))
            return false;
    return true;
}

void BM_UpdateRun(benchmark::State& state) {
    const uint32_t bigSize = static_cast<uint32_t>(state.range(0)) << 20;
    UpdateSet set;
    bench::TakeMessageCount();
    // Untimed pairs first: from then on both sides meet destinations of the
    // full size, which each must get rid of (replace or truncate), and the
    // file system has looked at the free space they are given.
    bool ready = MakeUpdateSet(bigSize, &set);
    for (int pair = 0; ready && pair < kWarmUpPairs; ++pair) ready = UpdateRun() && PlainCopy(set);
    if (!ready) {
        state.SkipWithError("cannot set up the update run");
        bench::RemoveTree(kInstallFolder);
        PlatDeleteFile(UPDATE_PACK_NAME);
        return;
    }

    std::vector<double> updates, copies;
    bool ok = true;
    int round = 0;
    for (auto _ : state) {
        // The order alternates, so neither side always follows the other's
        // write-back.
        double update = 0, copy = 0;
        for (int side = 0; side < 2 && ok; ++side) {
            const bool updateNow = (side == 0) == (round % 2 == 0);
            const double t0 = bench::Now();
            ok = updateNow ? UpdateRun() : PlainCopy(set);
            (updateNow ? update : copy) = bench::Now() - t0;
        }
        ++round;
        if (!ok) {
            state.SkipWithError("a run failed");
            break;
        }
        updates.push_back(update);
        copies.push_back(copy);
        if (getenv("VELA_BENCH_TRACE")) fprintf(stderr, "update %.3f copy %.3f\n", update, copy);
        state.SetIterationTime(update);
    }

    if (ok && !DestinationsHold(set)) state.SkipWithError("the destinations do not hold the entries");
    if (ok && round > 0) {
        // Medians: on a shared machine one stalled write can outweigh the rest.
        const double update = Median(updates), copy = Median(copies);
        const double mib = static_cast<double>(set.totalBytes) / (1 << 20);
        state.counters["update_ms"] = 1000 * update;
        state.counters["copy_ms"] = 1000 * copy;
        state.counters["update_MiBps"] = mib / update;
        state.counters["copy_MiBps"] = mib / copy;
        state.counters["ratio"] = update / copy;
        state.counters["ratio_mean"] = Sum(updates) / Sum(copies);
    }
    bench::RemoveTree(kInstallFolder);
    PlatDeleteFile(UPDATE_PACK_NAME);
}

// Fixed counts: a 256 MiB pair costs about a second, and the ratio wants
// several pairs in both orders.
BENCHMARK(BM_UpdateRun)->ArgName("MiB")->Arg(1)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateRun)->ArgName("MiB")->Arg(64)->Iterations(16)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateRun)->ArgName("MiB")->Arg(256)->Iterations(16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
