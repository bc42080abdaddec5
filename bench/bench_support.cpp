#include "bench_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

// Pack data goes out in pieces of this size.
const size_t kChunk = 4u << 20;

std::string g_previous;
int g_messages = 0;

int CountMessage(PlatWindow, const char* text, const char* caption, unsigned) {
    ++g_messages;
    fprintf(stderr, "message box [%s] %s\n", caption, text);
    return PLAT_IDOK;
}

void PutU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint64_t PatternWord(uint32_t seed, uint64_t word) {
    uint64_t x = (word + (static_cast<uint64_t>(seed) << 40) + 1) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return x ^ (x >> 32);
}

bool WriteAll(PlatFile file, const void* data, size_t count) {
    uint32_t written = 0;
    return PlatWrite(file, data, static_cast<uint32_t>(count), &written) && written == count;
}

}  // namespace

bool EnterScratch(std::string* path) {
    std::error_code ec;
    g_previous = fs::current_path(ec).string();
    if (ec) return false;
    fs::path dir;
    if (const char* wanted = getenv("VELA_BENCH_DIR")) {
        dir = fs::absolute(wanted, ec);
    } else {
        const long long tick =
            static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch().count());
        dir = fs::temp_directory_path(ec) / ("vela-bench-" + std::to_string(tick));
    }
    if (ec || !fs::create_directories(dir, ec) || ec) return false;
    fs::current_path(dir, ec);
    if (ec) return false;
    *path = dir.string();
    return true;
}

void LeaveScratch(const std::string& path) {
    std::error_code ec;
    fs::current_path(g_previous, ec);
    fs::remove_all(path, ec);
}

bool MakeFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec && fs::is_directory(path, ec);
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

void FillPattern(uint32_t seed, uint64_t position, unsigned char* out, size_t count) {
    for (size_t i = 0; i < count;) {
        const uint64_t at = position + i;
        const uint64_t word = PatternWord(seed, at / 8);
        for (unsigned b = static_cast<unsigned>(at % 8); b < 8 && i < count; ++b, ++i)
            out[i] = static_cast<unsigned char>(word >> (8 * b));
    }
}

bool WritePack(const std::string& path, const std::vector<PackEntry>& entries,
               std::vector<uint32_t>* starts) {
    const uint32_t count = static_cast<uint32_t>(entries.size());
    const size_t tableSize = static_cast<size_t>(count) * 40;
    std::vector<unsigned char> head(16 + tableSize, 0);
    memcpy(head.data(), "VELABENCH\0\0", 11);
    head[11] = '2';
    PutU32(&head[12], count);
    uint64_t offset = 0;
    if (starts) starts->clear();
    for (uint32_t k = 0; k < count; ++k) {
        const std::string& name = entries[k].name;
        memcpy(&head[16 + static_cast<size_t>(k) * 32], name.data(), name.size() < 31 ? name.size() : 31);
        unsigned char* record = &head[16 + static_cast<size_t>(count) * 32 + static_cast<size_t>(k) * 8];
        PutU32(record, static_cast<uint32_t>(offset));
        PutU32(record + 4, entries[k].size);
        if (starts) starts->push_back(static_cast<uint32_t>(16 + tableSize + offset));
        offset += entries[k].size;
    }
    if (16 + tableSize + offset > 0x7FFFFFFFull) return false;

    PlatFile file = PlatCreateWrite(path.c_str());
    if (file == PLAT_INVALID_FILE) return false;
    bool ok = WriteAll(file, head.data(), head.size());
    std::vector<unsigned char> chunk(kChunk);
    size_t filled = 0;
    for (uint32_t k = 0; ok && k < count; ++k) {
        for (uint64_t done = 0; ok && done < entries[k].size;) {
            size_t n = kChunk - filled;
            if (n > entries[k].size - done) n = static_cast<size_t>(entries[k].size - done);
            FillPattern(entries[k].seed, done, chunk.data() + filled, n);
            filled += n;
            done += n;
            if (filled == kChunk) {
                ok = WriteAll(file, chunk.data(), filled);
                filled = 0;
            }
        }
    }
    if (ok && filled) ok = WriteAll(file, chunk.data(), filled);
    ok = ok && PlatFlush(file);
    PlatClose(file);
    return ok;
}

bool WritePatternFile(const std::string& path, uint32_t seed, uint32_t size) {
    PlatFile file = PlatCreateWrite(path.c_str());
    if (file == PLAT_INVALID_FILE) return false;
    std::vector<unsigned char> chunk(kChunk);
    bool ok = true;
    for (uint64_t done = 0; ok && done < size;) {
        const size_t n = static_cast<size_t>(size - done < kChunk ? size - done : kChunk);
        FillPattern(seed, done, chunk.data(), n);
        ok = WriteAll(file, chunk.data(), n);
        done += n;
    }
    ok = ok && PlatFlush(file);
    PlatClose(file);
    return ok;
}

bool FileHoldsPattern(const std::string& path, uint32_t seed, uint32_t size) {
    PlatFile file = PlatOpenRead(path.c_str());
    if (file == PLAT_INVALID_FILE) return false;
    uint32_t low = 0, high = 0;
    bool ok = PlatFileSize(file, &low, &high) && high == 0 && low == size;
    std::vector<unsigned char> got(kChunk), want(kChunk);
    for (uint64_t done = 0; ok && done < size;) {
        uint32_t n = static_cast<uint32_t>(size - done < kChunk ? size - done : kChunk);
        uint32_t read = 0;
        ok = PlatRead(file, got.data(), n, &read) && read == n;
        FillPattern(seed, done, want.data(), n);
        ok = ok && memcmp(got.data(), want.data(), n) == 0;
        done += n;
    }
    PlatClose(file);
    return ok;
}

void SilenceMessages() { PlatSetMessageHook(CountMessage); }

int TakeMessageCount() {
    const int seen = g_messages;
    g_messages = 0;
    return seen;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long PeakResidentKiB() {
    FILE* status = fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (fgets(line, sizeof line, status))
        if (strncmp(line, "VmHWM:", 6) == 0) kib = strtol(line + 6, nullptr, 10);
    fclose(status);
    return kib;
}

}  // namespace bench
