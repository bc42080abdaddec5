// The save purge: 2,003 blind deletions, into an empty save folder and into
// one that holds every name.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "frontend.h"
#include "platform.h"
#include "savedata.h"

namespace {

const char* const kGameFolder = "game";
const char* const kSaveFolder = "game/save";
const uint32_t kSaveBytes = 1024;

std::vector<std::string> SaveNames() {
    std::vector<std::string> names = {"syssave.dat", "qsave.sav", "qsave.gra"};
    char name[32];
    for (int slot = 0; slot < 1000; ++slot) {
        snprintf(name, sizeof name, "save%03d.sav", slot);
        names.push_back(name);
        snprintf(name, sizeof name, "thumb%03d.gra", slot);
        names.push_back(name);
    }
    return names;
}

bool PrepareGame() {
    strcpy(g_installRecord.folder, kGameFolder);
    return bench::MakeFolder(kSaveFolder);
}

bool CreateSaves(const std::vector<std::string>& names) {
    std::vector<unsigned char> bytes(kSaveBytes, 0x5A);
    for (const std::string& name : names) {
        PlatFile file = PlatCreateWrite((std::string(kSaveFolder) + "/" + name).c_str());
        uint32_t written = 0;
        bool ok = file != PLAT_INVALID_FILE && PlatWrite(file, bytes.data(), kSaveBytes, &written);
        PlatClose(file);
        if (!ok) return false;
    }
    return true;
}

int SavesLeft(const std::vector<std::string>& names) {
    int left = 0;
    for (const std::string& name : names) {
        PlatFile file = PlatOpenRead((std::string(kSaveFolder) + "/" + name).c_str());
        if (file != PLAT_INVALID_FILE) ++left;
        PlatClose(file);
    }
    return left;
}

void SetPerName(benchmark::State& state, size_t count) {
    state.counters["per_name"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DeleteSaveData_NonePresent(benchmark::State& state) {
    const std::vector<std::string> names = SaveNames();
    if (!PrepareGame()) {
        state.SkipWithError("cannot make the save folder");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(DeleteSaveData());
    SetPerName(state, names.size());
    bench::RemoveTree(kGameFolder);
}

void BM_DeleteSaveData_AllPresent(benchmark::State& state) {
    const std::vector<std::string> names = SaveNames();
    if (!PrepareGame()) {
        state.SkipWithError("cannot make the save folder");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        state.PauseTiming();
        ok = CreateSaves(names);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("cannot create the save files");
            break;
        }
        benchmark::DoNotOptimize(DeleteSaveData());
    }
    if (ok && SavesLeft(names) != 0) state.SkipWithError("the purge left save files behind");
    SetPerName(state, names.size());
    bench::RemoveTree(kGameFolder);
}

BENCHMARK(BM_DeleteSaveData_NonePresent)->UseRealTime()->Unit(benchmark::kMillisecond);
// Recreating 2,003 files is untimed but slow; a fixed count bounds it.
BENCHMARK(BM_DeleteSaveData_AllPresent)->Iterations(30)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
