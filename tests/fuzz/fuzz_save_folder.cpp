// The save-folder lookup over arbitrary Install.ini bytes. The folder always
// ends within the buffer, and it is either the default (installation folder
// + "\save") or exactly the bytes after "save=" up to the first NUL: never a
// cut-down name, which would point the purge at some other folder.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "frontend.h"
#include "platform.h"
#include "savedata.h"

namespace {

std::string g_root;
std::string g_ini;

void Require(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "save folder: %s\n", what);
    abort();
}

void RemoveScratch() {
    if (g_root.empty()) return;
    unlink(g_ini.c_str());
    rmdir((g_root + "/game").c_str());
    rmdir(g_root.c_str());
}

// Made at the first input, not at start-up: with -jobs the parent process
// runs no input.
void MakeScratch() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vela-fuzz-ini-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    Require(made != nullptr, "cannot make a scratch folder");
    g_root = made;
    const std::string folder = g_root + "/game";
    Require(mkdir(folder.c_str(), 0700) == 0, "cannot make the installation folder");
    Require(folder.size() < sizeof g_installRecord.folder - 16, "scratch path too long");
    memcpy(g_installRecord.folder, folder.c_str(), folder.size() + 1);
    g_installRecord.version = VERSION_BASE;
    g_ini = folder + "/Install.ini";
    atexit(RemoveScratch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_root.empty()) MakeScratch();
    FILE* f = fopen(g_ini.c_str(), "wb");
    Require(f != nullptr, "cannot create Install.ini");
    Require(fwrite(data, 1, size, f) == size && fclose(f) == 0, "cannot write Install.ini");

    const std::string fallback = std::string(g_installRecord.folder) + "\\save";
    const bool keyed = size >= 5 && memcmp(data, "save=", 5) == 0;
    const char* rest = reinterpret_cast<const char*>(data) + 5;
    const std::string named = keyed ? std::string(rest, strnlen(rest, size - 5)) : fallback;

    // Once as it comes, then with each read, the open and the allocation
    // failing or coming up short: a failure may cost the named folder, but
    // must never give a cut-down or garbled one.
    struct Fault {
        PlatOp op;
        int skip;
        PlatFault kind;
    };
    static const Fault kFaults[] = {
        {PLAT_OP_COUNT, 0, PLAT_FAULT_FAIL},       {PLAT_OP_READ, 0, PLAT_FAULT_SHORT},
        {PLAT_OP_READ, 1, PLAT_FAULT_SHORT},       {PLAT_OP_READ, 1, PLAT_FAULT_FAIL},
        {PLAT_OP_OPEN_READ, 0, PLAT_FAULT_FAIL},   {PLAT_OP_ALLOC, 0, PLAT_FAULT_FAIL},
        {PLAT_OP_SIZE, 0, PLAT_FAULT_FAIL},
    };
    for (const Fault& fault : kFaults) {
        PlatResetFaults();
        if (fault.op != PLAT_OP_COUNT) PlatSetFault(fault.op, fault.skip, 1, fault.kind);
        char buffer[260];
        memset(buffer, 0xCC, sizeof buffer);
        const int result = GetSaveFolder(buffer, sizeof buffer);
        PlatResetFaults();
        Require(result == 1, "the default folder fits, yet no folder came back");
        Require(memchr(buffer, 0, sizeof buffer) != nullptr, "the folder is not terminated");
        const std::string got(buffer);
        if (!keyed) Require(got == fallback, "no \"save=\" line, yet not the default folder");
        Require(got == fallback || got == named, "the folder is neither the default nor the named one");
    }
    return 0;
}
