// The benchmarks run in one scratch folder, which is their current directory:
// the update run takes its pack from there, as the updater does.
#include <stdio.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench_support.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::string scratch;
    if (!bench::EnterScratch(&scratch)) {
        fprintf(stderr, "vela_bench: cannot make a scratch folder (VELA_BENCH_DIR must not exist)\n");
        return 1;
    }
    bench::SilenceMessages();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench::LeaveScratch(scratch);
    return 0;
}
