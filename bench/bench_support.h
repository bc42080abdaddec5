// Helpers shared by the benchmarks: a scratch folder, packs written piece by
// piece (a 256 MiB entry never sits in memory whole), their bytes, and a clock.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace bench {

// Makes a fresh scratch folder the current directory: $VELA_BENCH_DIR when
// set (it must not exist yet), else a new folder in the system's temporary
// folder. *path receives its absolute path.
bool EnterScratch(std::string* path);
// Back to the previous current directory; the scratch folder is removed.
void LeaveScratch(const std::string& path);

bool MakeFolder(const std::string& path);
void RemoveTree(const std::string& path);

// Entry bytes are a pattern of the entry's seed and the byte's position, so a
// written file can be checked without keeping a copy.
void FillPattern(uint32_t seed, uint64_t position, unsigned char* out, size_t count);

struct PackEntry {
    std::string name;
    uint32_t size;
    uint32_t seed;
};

// Writes a pack with 32-byte name slots, the data packed in entry order, and
// flushes it, so that its write-back does not land in a timed section.
// starts (optional) receives each entry's absolute file offset.
bool WritePack(const std::string& path, const std::vector<PackEntry>& entries,
               std::vector<uint32_t>* starts);

// A file of `size` bytes of the pattern of `seed`, flushed.
bool WritePatternFile(const std::string& path, uint32_t seed, uint32_t size);

// 1 when the file holds exactly `size` bytes of the pattern of `seed`.
bool FileHoldsPattern(const std::string& path, uint32_t seed, uint32_t size);

// Seconds on a steady clock.
double Now();

// Message boxes are counted, never shown, so that no run can block on one.
void SilenceMessages();
// Boxes seen since the previous call.
int TakeMessageCount();

// Peak resident size of this process in KiB (VmHWM); 0 when unknown.
long PeakResidentKiB();

}  // namespace bench
