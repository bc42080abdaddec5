// The pack lookup and the source reads over arbitrary pack bytes. Whatever
// the reader hands back as a pack entry must be the very bytes at that
// entry's place in the pack, and an entry it reports found must lie wholly
// inside the pack and after its table.
//
// The reader never looks at pack bytes 0 to 10, so byte 0 steers a fault:
// bit 7 arms one, bit 6 makes it a short transfer instead of a failure, bits
// 3-4 let that many calls succeed first, bits 0-2 pick the operation.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "engine.h"

namespace {

std::string g_folder;

void Require(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "pack lookup: %s\n", what);
    abort();
}

void WritePack(const uint8_t* data, size_t size) {
    FILE* f = fopen(UPDATE_PACK_NAME, "wb");
    Require(f != nullptr, "cannot create the pack");
    Require(fwrite(data, 1, size, f) == size, "cannot write the pack");
    Require(fclose(f) == 0, "cannot close the pack");
}

void RemoveScratch() {
    if (g_folder.empty()) return;
    unlink((g_folder + "/" UPDATE_PACK_NAME).c_str());
    rmdir(g_folder.c_str());
}

uint32_t U32At(const uint8_t* data, size_t size, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        if (at + i < size) v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    return v;
}

// One lookup of name; faulted says whether a platform call may fail.
void Check(const uint8_t* data, size_t size, const char* name, bool faulted) {
    SourceStream* stream = OpenUpdateSource(name, UPDATE_PACK_NAME);
    if (!stream) return;
    // No loose file of that name exists in the scratch folder.
    Require(stream->kind == SOURCE_PACK, "a pack entry opened as a loose file");

    const uint32_t n = GetSourceSize(stream);
    Require(n > 0, "an empty entry was opened");
    const uint64_t slot = size > PACK_TAG_OFFSET && data[PACK_TAG_OFFSET] == PACK_TAG_WIDE
                              ? PACK_WIDE_SLOT
                              : PACK_NARROW_SLOT;
    const uint64_t dataArea =
        PACK_HEADER_SIZE + U32At(data, size, PACK_COUNT_OFFSET) * (slot + PACK_RECORD_SIZE);
    Require(stream->dataPosition >= dataArea, "entry starts inside the header or table");
    Require(static_cast<uint64_t>(stream->dataPosition) + n <= size, "entry runs past the pack");

    uint8_t* block = static_cast<uint8_t*>(malloc(n));
    Require(block != nullptr, "out of memory");
    memset(block, 0xA5, n);
    const int read = ReadSourceAll(stream, block);
    const int complete = read && WaitSourceRead(stream);
    if (!faulted) Require(complete, "an entry inside the pack could not be read whole");
    if (complete)
        Require(memcmp(block, data + stream->dataPosition, n) == 0,
                "the read delivered bytes other than the entry's");
    free(block);
    CloseUpdateSource(stream);
}

// Made at the first input, not at start-up: with -jobs the parent process
// runs no input and keeps its own current directory for the workers' logs.
void MakeScratch() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vela-fuzz-pack-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    Require(made != nullptr && chdir(made) == 0, "cannot make a scratch folder");
    g_folder = made;
    atexit(RemoveScratch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_folder.empty()) MakeScratch();
    WritePack(data, size);

    PlatResetFaults();
    const uint8_t control = size > 0 ? data[0] : 0;
    const bool faulted = (control & 0x80) != 0;
    if (faulted) {
        static const PlatOp ops[] = {PLAT_OP_READ, PLAT_OP_SEEK, PLAT_OP_SIZE, PLAT_OP_ALLOC,
                                     PLAT_OP_OPEN_READ, PLAT_OP_READ, PLAT_OP_SEEK, PLAT_OP_SIZE};
        PlatSetFault(ops[control & 7], (control >> 3) & 3, 1,
                     (control & 0x40) ? PLAT_FAULT_SHORT : PLAT_FAULT_FAIL);
    }

    Check(data, size, "Archive.ini", faulted);

    // A name taken from the pack itself, so lookups hit more than one entry:
    // the slot picked by the last byte, behind a folder part that does not
    // exist, so the loose lookup fails and only the base name is looked up.
    const uint32_t count = U32At(data, size, PACK_COUNT_OFFSET);
    if (count > 0 && size > 0) {
        const size_t slot = size > PACK_TAG_OFFSET && data[PACK_TAG_OFFSET] == PACK_TAG_WIDE
                                ? PACK_WIDE_SLOT
                                : PACK_NARROW_SLOT;
        const size_t k = data[size - 1] % (count < 64 ? count : 64);
        const size_t at = PACK_HEADER_SIZE + k * slot;
        std::string name;
        for (size_t i = at; i < at + slot && i < size && data[i] != 0; ++i)
            name += static_cast<char>(data[i]);
        if (!name.empty() && name.find('/') == std::string::npos &&
            name.find('\\') == std::string::npos) {
            PlatResetFaults();
            Check(data, size, ("no-such-folder\\" + name).c_str(), false);
        }
    }
    PlatResetFaults();
    return 0;
}
