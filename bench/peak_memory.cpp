// Peak resident size of one update run, in a process of its own:
//   vela_peak prepare A B C   writes UpdateData.dat (Archive.ini, extend101.dat
//                             and Instdata.pak of A, B and C KiB) and the
//                             folder install, in the current directory
//   vela_peak update A B C    runs the update into install, checks the files
//   vela_peak loose A B C     writes the same three files, loose, into the
//                             folder loose (the Wine figures copy them)
//   vela_peak idle            does nothing: the baseline
// idle and update print peak_kib=<VmHWM>; update also prints result=<0|1>.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "engine.h"

namespace {

bool ParseSizes(int argc, char** argv, std::vector<bench::PackEntry>* entries) {
    if (argc != 5) return false;
    const char* names[] = {"Archive.ini", "extend101.dat", "Instdata.pak"};
    entries->clear();
    for (int i = 0; i < 3; ++i) {
        const unsigned long kib = strtoul(argv[2 + i], nullptr, 10);
        if (kib == 0 || kib > (1ul << 20)) return false;
        entries->push_back({names[i], static_cast<uint32_t>(kib << 10), static_cast<uint32_t>(i + 11)});
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "idle") == 0) {
        printf("peak_kib=%ld\n", bench::PeakResidentKiB());
        return 0;
    }
    std::vector<bench::PackEntry> entries;
    if (!ParseSizes(argc, argv, &entries)) {
        fprintf(stderr, "usage: vela_peak prepare|update|loose KIB KIB KIB, or vela_peak idle\n");
        return 2;
    }
    if (strcmp(mode, "prepare") == 0) {
        const bool ok = bench::MakeFolder("install") && bench::WritePack(UPDATE_PACK_NAME, entries, nullptr);
        return ok ? 0 : 1;
    }
    if (strcmp(mode, "loose") == 0) {
        bool ok = bench::MakeFolder("loose");
        for (const bench::PackEntry& e : entries)
            ok = ok && bench::WritePatternFile("loose/" + e.name, e.seed, e.size);
        return ok ? 0 : 1;
    }
    if (strcmp(mode, "update") != 0) return 2;

    bench::SilenceMessages();
    const int result = ApplyUpdateFiles(nullptr, "install");
    // Read before the check below, whose buffers must not count.
    const long peak = bench::PeakResidentKiB();
    bool same = result == 1 && bench::TakeMessageCount() == 0;
    for (const bench::PackEntry& e : entries)
        same = same && bench::FileHoldsPattern("install/" + e.name, e.seed, e.size);
    printf("result=%d\npeak_kib=%ld\n", same ? 1 : 0, peak);
    return same ? 0 : 1;
}
