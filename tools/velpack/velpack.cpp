// velpack: writes update packs, and reads them back through the engine's own
// lookup and source streams, so that what it reports is what the updater
// will see.
#include "velpack.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "engine.h"

#ifdef __MINGW32__
#define VP_PRINTF(a, b) __attribute__((format(gnu_printf, a, b)))
#else
#define VP_PRINTF(a, b) __attribute__((format(printf, a, b)))
#endif

namespace {

// The reader moves to an entry with a signed 32-bit seek, and keeps positions
// and sizes in 32 bits.
const uint64_t PACK_LIMIT = 0xFFFFFFFFull;
const uint32_t CHUNK = 1u << 20;

VelpackPrintHook g_printHook = nullptr;

void Emit(int toError, const char* format, va_list args) {
    char text[2048];
    vsnprintf(text, sizeof text, format, args);
    if (g_printHook) {
        g_printHook(toError, text);
        return;
    }
    fputs(text, toError ? stderr : stdout);
    fflush(toError ? stderr : stdout);
}

VP_PRINTF(1, 2) void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(0, format, args);
    va_end(args);
}

VP_PRINTF(1, 2) void Err(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(1, format, args);
    va_end(args);
}

const char USAGE[] =
    "usage: velpack create OUT FILE... [--narrow]\n"
    "       velpack list PACK\n"
    "       velpack extract PACK NAME... [-C DIR]\n"
    "       velpack verify PACK [FILE...]\n"
    "       velpack --help\n";

const char HELP[] =
    "\n"
    "Makes and checks the update pack \"UpdateData.dat\" that VelanoricUpdate reads.\n"
    "\n"
    "  create   writes OUT holding each FILE as one entry, named after the file's\n"
    "           base name, in the order given. Name slots are 32 bytes wide\n"
    "           (31-byte names) unless --narrow gives 16-byte slots (15-byte\n"
    "           names). Refuses, writing nothing, whatever the updater could not\n"
    "           read back: a name too long for its slot, a name with a backslash\n"
    "           byte, two names equal ignoring case, an empty file, an entry\n"
    "           starting at 2 GiB or beyond, a pack of 4 GiB or more. Writes a\n"
    "           temporary file next to OUT and renames it, so OUT is either the\n"
    "           old file or the complete new one.\n"
    "  list     shows the layout and every entry's name, offset, size and\n"
    "           absolute position, with a warning for each entry the updater\n"
    "           would not read back as stored.\n"
    "  extract  writes the entries the updater would find for each NAME into DIR\n"
    "           (default: the current directory), under their stored names.\n"
    "  verify   checks that every entry is one the updater can read, and that\n"
    "           each FILE is in the pack (by base name) with identical bytes.\n"
    "\n"
    "Exit codes: 0 done, 1 refused or check failed, 2 wrong command line.\n";

int Usage(const char* problem) {
    if (problem) Err("velpack: %s\n", problem);
    Err("%s", USAGE);
    return VELPACK_USAGE;
}

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The file name part of a command-line path, read as code page 932: a
// backslash that is the second byte of a double-byte character is part of the
// name, as Windows reads it, not a separator.
const char* PathBaseName(const char* path) {
    const char* base = path;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p; ++p) {
        if (PlatIsLeadByte(*p) && IsTrailByte(p[1])) {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == '/') base = reinterpret_cast<const char*>(p + 1);
    }
    return base;
}

uint32_t GetU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

unsigned long long U64(uint64_t v) { return static_cast<unsigned long long>(v); }

// Size of an open file; 0 when it cannot be had.
int FileSize64(PlatFile file, uint64_t* size) {
    uint32_t low = 0, high = 0;
    if (!PlatFileSize(file, &low, &high)) return 0;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return 1;
}

// One write call that must move every byte.
int WriteAll(PlatFile file, const void* data, uint32_t count) {
    uint32_t written = 0;
    return PlatWrite(file, data, count, &written) && written == count;
}

// ---- Writing through a temporary file ----------------------------------

// path + ".velpack-tmp", beside the target so the rename stays on one volume.
struct TempFile {
    PlatFile file;
    char* temp;
};

int OpenTemp(TempFile* t, const char* target) {
    t->file = PLAT_INVALID_FILE;
    size_t n = strlen(target);
    t->temp = static_cast<char*>(PlatAllocZero(n + 16));
    if (!t->temp) return 0;
    memcpy(t->temp, target, n);
    memcpy(t->temp + n, ".velpack-tmp", 13);
    t->file = PlatCreateWrite(t->temp);
    if (t->file == PLAT_INVALID_FILE) {
        PlatFree(t->temp);
        t->temp = nullptr;
        return 0;
    }
    return 1;
}

void AbandonTemp(TempFile* t) {
    if (t->file != PLAT_INVALID_FILE) PlatClose(t->file);
    if (t->temp) PlatDeleteFile(t->temp);
    PlatFree(t->temp);
    t->file = PLAT_INVALID_FILE;
    t->temp = nullptr;
}

// Flushes, closes and renames over target; on failure the temporary file is
// removed and target keeps what it held.
int CommitTemp(TempFile* t, const char* target) {
    int ok = PlatFlush(t->file);
    PlatClose(t->file);
    t->file = PLAT_INVALID_FILE;
    if (ok) ok = PlatReplaceFile(t->temp, target);
    if (!ok) PlatDeleteFile(t->temp);
    PlatFree(t->temp);
    t->temp = nullptr;
    return ok;
}

// ---- create --------------------------------------------------------------

struct Input {
    const char* path;
    const char* name;
    uint32_t size;
    uint32_t offset;
};

// Checks one input against what the updater can read back; fills size and
// offset from *dataEnd and moves it on. Prints the refusal and returns 0.
int CheckInput(Input* in, const Input* earlier, int earlierCount, uint32_t slot,
               uint64_t dataStart, uint64_t* dataEnd) {
    const char* name = in->name;
    size_t length = strlen(name);
    if (length == 0) {
        Err("velpack: refused: '%s' names no file (nothing after the last separator)\n", in->path);
        return 0;
    }
    if (length > slot - 1) {
        Err("velpack: refused: name '%s' is %u bytes; a %s name slot holds at most %u%s\n", name,
            static_cast<unsigned>(length), slot == PACK_WIDE_SLOT ? "wide" : "narrow", slot - 1,
            slot == PACK_WIDE_SLOT ? "" : " (leave out --narrow for 31)");
        return 0;
    }
    // The updater cuts a requested name at every backslash byte, the second
    // byte of a double-byte character included, so such a name is never found.
    if (memchr(name, '\\', length)) {
        Err("velpack: refused: name '%s' holds a backslash byte (0x5C), which the updater takes "
            "for a separator\n",
            name);
        return 0;
    }
    for (int j = 0; j < earlierCount; ++j) {
        if (PlatCompareTextNoCase(earlier[j].name, name) == 0) {
            Err("velpack: refused: name '%s' equals '%s' ignoring case; the updater would only "
                "ever find the first\n",
                name, earlier[j].name);
            return 0;
        }
    }

    PlatFile file = PlatOpenRead(in->path);
    if (file == PLAT_INVALID_FILE) {
        Err("velpack: refused: cannot open '%s' for entry '%s'\n", in->path, name);
        return 0;
    }
    uint64_t size = 0;
    int sized = FileSize64(file, &size);
    PlatClose(file);
    if (!sized) {
        Err("velpack: refused: cannot get the size of '%s' for entry '%s'\n", in->path, name);
        return 0;
    }
    if (size == 0) {
        Err("velpack: refused: entry '%s' would be empty; the updater cannot tell an empty entry "
            "from a missing one\n",
            name);
        return 0;
    }
    if (*dataEnd >= PACK_OFFSET_LIMIT) {
        Err("velpack: refused: entry '%s' would start at data offset %llu; the updater reaches "
            "only offsets below 2^31\n",
            name, U64(*dataEnd));
        return 0;
    }
    if (dataStart + *dataEnd + size > PACK_LIMIT) {
        Err("velpack: refused: with entry '%s' the pack would be %llu bytes; it must stay under "
            "4 GiB\n",
            name, U64(dataStart + *dataEnd + size));
        return 0;
    }
    in->size = static_cast<uint32_t>(size);
    in->offset = static_cast<uint32_t>(*dataEnd);
    *dataEnd += size;
    return 1;
}

// Copies exactly in->size bytes of the input into the pack.
int CopyInput(PlatFile out, const Input* in, unsigned char* chunk) {
    PlatFile file = PlatOpenRead(in->path);
    if (file == PLAT_INVALID_FILE) {
        Err("velpack: cannot open '%s' again\n", in->path);
        return 0;
    }
    int ok = 1;
    uint64_t size = 0;
    if (!FileSize64(file, &size) || size != in->size) {
        Err("velpack: '%s' changed size while the pack was written\n", in->path);
        ok = 0;
    }
    uint32_t left = in->size;
    while (ok && left > 0) {
        uint32_t want = left < CHUNK ? left : CHUNK;
        uint32_t got = 0;
        if (!PlatRead(file, chunk, want, &got) || got != want) {
            Err("velpack: cannot read '%s'\n", in->path);
            ok = 0;
        } else if (!WriteAll(out, chunk, want)) {
            Err("velpack: cannot write the pack\n");
            ok = 0;
        }
        left -= want;
    }
    PlatClose(file);
    return ok;
}

int Create(const char* outPath, char** files, int count, bool narrow) {
    const uint32_t slot = narrow ? PACK_NARROW_SLOT : PACK_WIDE_SLOT;
    const uint64_t table = static_cast<uint64_t>(count) * (slot + PACK_RECORD_SIZE);
    if (table > PACK_LIMIT) {
        Err("velpack: refused: %d entries need a %llu-byte table; the format holds 32-bit sizes\n",
            count, U64(table));
        return VELPACK_FAILED;
    }
    const uint64_t dataStart = PACK_HEADER_SIZE + table;

    int status = VELPACK_FAILED;
    unsigned char* head = nullptr;
    unsigned char* chunk = nullptr;
    TempFile temp = {PLAT_INVALID_FILE, nullptr};
    Input* inputs = static_cast<Input*>(PlatAllocZero(sizeof(Input) * static_cast<size_t>(count)));
    uint64_t dataEnd = 0;
    if (!inputs) {
        Err("velpack: out of memory\n");
        goto done;
    }
    // Every check comes before the first byte is written.
    for (int i = 0; i < count; ++i) {
        inputs[i].path = files[i];
        inputs[i].name = PathBaseName(files[i]);
        if (!CheckInput(&inputs[i], inputs, i, slot, dataStart, &dataEnd)) goto done;
    }
    if (dataStart + dataEnd > PACK_LIMIT) {
        Err("velpack: refused: the pack would be %llu bytes; it must stay under 4 GiB\n",
            U64(dataStart + dataEnd));
        goto done;
    }

    head = static_cast<unsigned char*>(PlatAllocZero(static_cast<size_t>(dataStart)));
    chunk = static_cast<unsigned char*>(PlatAllocZero(CHUNK));
    if (!head || !chunk) {
        Err("velpack: out of memory\n");
        goto done;
    }
    memcpy(head, VELPACK_FILLER, VELPACK_FILLER_SIZE);
    head[PACK_TAG_OFFSET] = narrow ? VELPACK_TAG_NARROW : PACK_TAG_WIDE;
    PutU32(head + PACK_COUNT_OFFSET, static_cast<uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        // The slot stays NUL after the name: the block is zero-filled.
        memcpy(head + PACK_HEADER_SIZE + static_cast<size_t>(i) * slot, inputs[i].name,
               strlen(inputs[i].name));
        unsigned char* record = head + PACK_HEADER_SIZE + static_cast<size_t>(count) * slot +
                                static_cast<size_t>(i) * PACK_RECORD_SIZE;
        PutU32(record, inputs[i].offset);
        PutU32(record + 4, inputs[i].size);
    }

    if (!OpenTemp(&temp, outPath)) {
        Err("velpack: cannot create a temporary file beside '%s'\n", outPath);
        goto done;
    }
    if (!WriteAll(temp.file, head, static_cast<uint32_t>(dataStart))) {
        Err("velpack: cannot write the pack\n");
        AbandonTemp(&temp);
        goto done;
    }
    for (int i = 0; i < count; ++i) {
        if (!CopyInput(temp.file, &inputs[i], chunk)) {
            AbandonTemp(&temp);
            goto done;
        }
    }
    if (!CommitTemp(&temp, outPath)) {
        Err("velpack: cannot put the pack in place as '%s'\n", outPath);
        goto done;
    }
    Out("velpack: wrote %s: %d entries, %s name slots, %llu bytes\n", outPath, count,
        narrow ? "narrow" : "wide", U64(dataStart + dataEnd));
    status = VELPACK_OK;

done:
    PlatFree(chunk);
    PlatFree(head);
    PlatFree(inputs);
    return status;
}

// ---- Reading a pack's table ---------------------------------------------

struct PackTable {
    uint64_t fileSize;
    unsigned char header[PACK_HEADER_SIZE];
    uint32_t slot;
    uint32_t count;
    uint64_t tableSize;
    unsigned char* block;  // the table; release with FreeTable
};

void FreeTable(PackTable* t) {
    PlatFree(t->block);
    t->block = nullptr;
}

// Reads the header and the whole table. Prints why and returns 0 when the
// updater would find no entry at all in the file.
int LoadTable(const char* packPath, PackTable* t) {
    memset(t, 0, sizeof *t);
    PlatFile file = PlatOpenRead(packPath);
    if (file == PLAT_INVALID_FILE) {
        Err("velpack: cannot open '%s'\n", packPath);
        return 0;
    }
    int ok = 0;
    uint32_t got = 0;
    if (!FileSize64(file, &t->fileSize)) {
        Err("velpack: cannot get the size of '%s'\n", packPath);
    } else if (t->fileSize < PACK_HEADER_SIZE) {
        Err("velpack: '%s' is %llu bytes, shorter than the %d-byte header: the updater finds no "
            "entry in it\n",
            packPath, U64(t->fileSize), PACK_HEADER_SIZE);
    } else if (!PlatRead(file, t->header, PACK_HEADER_SIZE, &got) || got != PACK_HEADER_SIZE) {
        Err("velpack: cannot read '%s'\n", packPath);
    } else {
        t->slot = t->header[PACK_TAG_OFFSET] == PACK_TAG_WIDE ? PACK_WIDE_SLOT : PACK_NARROW_SLOT;
        t->count = GetU32(t->header + PACK_COUNT_OFFSET);
        t->tableSize = static_cast<uint64_t>(t->count) * (t->slot + PACK_RECORD_SIZE);
        if (t->tableSize > PACK_LIMIT || PACK_HEADER_SIZE + t->tableSize > t->fileSize) {
            Err("velpack: '%s' claims %lu entries, whose %llu-byte table runs past the end of the "
                "file (%llu bytes): the updater finds no entry in it\n",
                packPath, static_cast<unsigned long>(t->count), U64(t->tableSize),
                U64(t->fileSize));
        } else {
            t->block = static_cast<unsigned char*>(
                PlatAllocZero(t->tableSize ? static_cast<size_t>(t->tableSize) : 1));
            const uint32_t want = static_cast<uint32_t>(t->tableSize);
            got = 0;
            if (!t->block) {
                Err("velpack: out of memory for the table of '%s'\n", packPath);
            } else if (want && (!PlatRead(file, t->block, want, &got) || got != want)) {
                Err("velpack: cannot read the table of '%s'\n", packPath);
                FreeTable(t);
            } else {
                ok = 1;
            }
        }
    }
    PlatClose(file);
    return ok;
}

// Entry k's name as the reader compares it: up to the first NUL, or all of
// the slot when it holds none. out holds PACK_WIDE_SLOT + 1 bytes.
int SlotName(const PackTable* t, uint32_t k, char* out) {
    const unsigned char* p = t->block + static_cast<size_t>(k) * t->slot;
    memcpy(out, p, t->slot);
    out[t->slot] = '\0';
    return memchr(p, 0, t->slot) != nullptr;
}

void SlotRecord(const PackTable* t, uint32_t k, uint32_t* offset, uint32_t* size) {
    const unsigned char* r = t->block + static_cast<size_t>(t->count) * t->slot +
                             static_cast<size_t>(k) * PACK_RECORD_SIZE;
    *offset = GetU32(r);
    *size = GetU32(r + 4);
}

uint64_t DataStart(const PackTable* t) { return PACK_HEADER_SIZE + t->tableSize; }

// One line per entry that the updater would not read back as stored.
// Returns how many entries have such a problem.
uint32_t WarnEntries(const PackTable* t) {
    uint32_t problems = 0;
    char name[PACK_WIDE_SLOT + 1];
    char other[PACK_WIDE_SLOT + 1];
    for (uint32_t k = 0; k < t->count; ++k) {
        int terminated = SlotName(t, k, name);
        uint32_t offset = 0, size = 0;
        SlotRecord(t, k, &offset, &size);
        const uint64_t position = DataStart(t) + offset;
        uint32_t before = problems;
        if (name[0] == '\0') {
            Err("warning: entry %lu has an empty name; no request can find it\n",
                static_cast<unsigned long>(k));
            ++problems;
        }
        if (!terminated) {
            Err("warning: entry %lu: its name slot holds no NUL; the whole %lu-byte slot is the "
                "name\n",
                static_cast<unsigned long>(k), static_cast<unsigned long>(t->slot));
            if (before == problems) ++problems;
        }
        if (strchr(name, '\\')) {
            Err("warning: entry %lu '%s' holds a backslash byte; the updater never finds it\n",
                static_cast<unsigned long>(k), name);
            if (before == problems) ++problems;
        }
        for (uint32_t j = 0; j < k && name[0]; ++j) {
            SlotName(t, j, other);
            if (PlatCompareTextNoCase(other, name) == 0) {
                Err("warning: entry %lu '%s' is hidden by entry %lu '%s' (equal ignoring case); "
                    "the updater reads entry %lu\n",
                    static_cast<unsigned long>(k), name, static_cast<unsigned long>(j), other,
                    static_cast<unsigned long>(j));
                if (before == problems) ++problems;
                break;
            }
        }
        if (size == 0) {
            Err("warning: entry %lu '%s' has size 0; the updater takes it for a missing entry\n",
                static_cast<unsigned long>(k), name);
            if (before == problems) ++problems;
        }
        if (offset >= PACK_OFFSET_LIMIT || position > PACK_LIMIT) {
            Err("warning: entry %lu '%s' starts at offset %lu, beyond the updater's reach (below "
                "2^31)\n",
                static_cast<unsigned long>(k), name, static_cast<unsigned long>(offset));
            if (before == problems) ++problems;
        } else if (position + size > t->fileSize) {
            Err("warning: entry %lu '%s' ends at %llu, past the end of the file (%llu bytes); the "
                "updater cannot read it\n",
                static_cast<unsigned long>(k), name, U64(position + size), U64(t->fileSize));
            if (before == problems) ++problems;
        }
    }
    return problems;
}

// The entry the updater finds for name (first equal slot, ignoring case),
// or count when none.
uint32_t FindSlot(const PackTable* t, const char* name) {
    const char* base = PackLookupName(name);
    char slotName[PACK_WIDE_SLOT + 1];
    for (uint32_t k = 0; k < t->count; ++k) {
        SlotName(t, k, slotName);
        if (PlatCompareTextNoCase(slotName, base) == 0) return k;
    }
    return t->count;
}

// The next up to CHUNK bytes of the stream, read the way the updater reads.
int ReadStreamChunk(SourceStream* stream, unsigned char* chunk, uint32_t want) {
    return ReadSourceBytes(stream, chunk, want) && WaitSourceRead(stream);
}

void PrintQuoted(const unsigned char* bytes, size_t n, char* out) {
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F)
            *out++ = static_cast<char>(bytes[i]);
        else
            out += sprintf(out, "\\x%02X", bytes[i]);
    }
    *out = '\0';
}

// ---- list ----------------------------------------------------------------

int List(const char* packPath) {
    PackTable t;
    if (!LoadTable(packPath, &t)) return VELPACK_FAILED;

    char filler[VELPACK_FILLER_SIZE * 4 + 1];
    PrintQuoted(t.header, VELPACK_FILLER_SIZE, filler);
    const unsigned char tag = t.header[PACK_TAG_OFFSET];
    char tagText[8];
    PrintQuoted(&tag, 1, tagText);
    Out("pack:    %s (%llu bytes)\n", packPath, U64(t.fileSize));
    Out("header:  \"%s\"%s\n", filler,
        memcmp(t.header, VELPACK_FILLER, VELPACK_FILLER_SIZE) == 0 ? " (made by velpack)" : "");
    Out("layout:  %s, tag '%s', %lu-byte name slots; table %llu bytes; data area from %llu\n",
        t.slot == PACK_WIDE_SLOT ? "wide" : "narrow", tagText, static_cast<unsigned long>(t.slot),
        U64(t.tableSize), U64(DataStart(&t)));
    Out("entries: %lu\n", static_cast<unsigned long>(t.count));
    if (t.count) Out("  %5s  %-32s %10s %10s %10s\n", "#", "name", "offset", "size", "position");
    char name[PACK_WIDE_SLOT + 1];
    for (uint32_t k = 0; k < t.count; ++k) {
        SlotName(&t, k, name);
        uint32_t offset = 0, size = 0;
        SlotRecord(&t, k, &offset, &size);
        Out("  %5lu  %-32s %10lu %10lu %10llu\n", static_cast<unsigned long>(k), name,
            static_cast<unsigned long>(offset), static_cast<unsigned long>(size),
            U64(DataStart(&t) + offset));
    }
    WarnEntries(&t);
    FreeTable(&t);
    return VELPACK_OK;
}

// ---- extract -------------------------------------------------------------

// A stored name that cannot be a plain file name in DIR is not written:
// a pack could otherwise place files anywhere.
int SafeFileName(const char* name) {
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    return strpbrk(name, "\\/:") == nullptr;
}

int ExtractOne(const char* packPath, const PackTable* t, const char* request, const char* dir,
               unsigned char* chunk) {
    uint32_t k = FindSlot(t, request);
    // Straight to the pack: a loose file of the same name must not stand in.
    SourceStream* stream = k < t->count ? OpenPackSource(packPath, request) : nullptr;
    if (!stream) {
        Err("velpack: '%s': the updater finds no such entry in '%s'\n", request, packPath);
        return 0;
    }
    char name[PACK_WIDE_SLOT + 1];
    SlotName(t, k, name);
    if (!SafeFileName(name)) {
        Err("velpack: entry '%s' is not a plain file name; not extracted\n", name);
        CloseUpdateSource(stream);
        return 0;
    }

    int ok = 0;
    size_t dirLength = strlen(dir);
    char* target = static_cast<char*>(PlatAllocZero(dirLength + strlen(name) + 2));
    TempFile temp = {PLAT_INVALID_FILE, nullptr};
    if (!target) {
        Err("velpack: out of memory\n");
    } else {
        memcpy(target, dir, dirLength);
        target[dirLength] = '\\';
        strcpy(target + dirLength + 1, name);
        if (!OpenTemp(&temp, target)) {
            Err("velpack: cannot create '%s'\n", target);
        } else {
            ok = 1;
            uint32_t left = GetSourceSize(stream);
            while (ok && left > 0) {
                uint32_t want = left < CHUNK ? left : CHUNK;
                if (!ReadStreamChunk(stream, chunk, want)) {
                    Err("velpack: cannot read entry '%s'\n", name);
                    ok = 0;
                } else if (!WriteAll(temp.file, chunk, want)) {
                    Err("velpack: cannot write '%s'\n", target);
                    ok = 0;
                }
                left -= want;
            }
            if (!ok) {
                AbandonTemp(&temp);
            } else if (!CommitTemp(&temp, target)) {
                Err("velpack: cannot put '%s' in place\n", target);
                ok = 0;
            } else {
                Out("velpack: extracted %s (%lu bytes)\n", target,
                    static_cast<unsigned long>(GetSourceSize(stream)));
            }
        }
    }
    PlatFree(target);
    CloseUpdateSource(stream);
    return ok;
}

int Extract(const char* packPath, char** names, int count, const char* dir) {
    PackTable t;
    if (!LoadTable(packPath, &t)) return VELPACK_FAILED;
    unsigned char* chunk = static_cast<unsigned char*>(PlatAllocZero(CHUNK));
    int status = chunk ? VELPACK_OK : VELPACK_FAILED;
    if (!chunk) Err("velpack: out of memory\n");
    for (int i = 0; chunk && i < count; ++i)
        if (!ExtractOne(packPath, &t, names[i], dir, chunk)) status = VELPACK_FAILED;
    PlatFree(chunk);
    FreeTable(&t);
    return status;
}

// ---- verify --------------------------------------------------------------

// Compares one file with the entry the updater finds for its base name.
int VerifyFile(const char* packPath, const char* path, unsigned char* chunk, unsigned char* mine) {
    const char* name = PathBaseName(path);
    PlatFile file = PlatOpenRead(path);
    if (file == PLAT_INVALID_FILE) {
        Err("velpack: %s: cannot open the file\n", path);
        return 0;
    }
    uint64_t fileSize = 0;
    if (!FileSize64(file, &fileSize)) {
        Err("velpack: %s: cannot get the file's size\n", path);
        PlatClose(file);
        return 0;
    }
    SourceStream* stream = OpenPackSource(packPath, name);
    if (!stream) {
        Err("velpack: %s: the updater finds no entry '%s' in the pack\n", path, name);
        PlatClose(file);
        return 0;
    }
    int ok = 1;
    const uint32_t size = GetSourceSize(stream);
    if (fileSize != size) {
        Err("velpack: %s: the file is %llu bytes, entry '%s' %lu\n", path, U64(fileSize), name,
            static_cast<unsigned long>(size));
        ok = 0;
    }
    uint64_t at = 0;
    uint32_t left = size;
    while (ok && left > 0) {
        uint32_t want = left < CHUNK ? left : CHUNK;
        uint32_t got = 0;
        if (!ReadStreamChunk(stream, chunk, want)) {
            Err("velpack: %s: cannot read entry '%s'\n", path, name);
            ok = 0;
        } else if (!PlatRead(file, mine, want, &got) || got != want) {
            Err("velpack: %s: cannot read the file\n", path);
            ok = 0;
        } else if (memcmp(chunk, mine, want) != 0) {
            uint32_t i = 0;
            while (chunk[i] == mine[i]) ++i;
            Err("velpack: %s: differs from entry '%s' at byte %llu\n", path, name, U64(at + i));
            ok = 0;
        }
        at += want;
        left -= want;
    }
    if (ok) Out("  %s: identical (%lu bytes)\n", path, static_cast<unsigned long>(size));
    CloseUpdateSource(stream);
    PlatClose(file);
    return ok;
}

int Verify(const char* packPath, char** files, int count) {
    PackTable t;
    if (!LoadTable(packPath, &t)) {
        Err("velpack: %s: FAILED\n", packPath);
        return VELPACK_FAILED;
    }
    uint32_t problems = WarnEntries(&t);
    const uint32_t entries = t.count;
    FreeTable(&t);

    unsigned char* chunk = static_cast<unsigned char*>(PlatAllocZero(CHUNK));
    unsigned char* mine = static_cast<unsigned char*>(PlatAllocZero(CHUNK));
    if (!chunk || !mine) {
        Err("velpack: out of memory\n");
        ++problems;
    }
    for (int i = 0; chunk && mine && i < count; ++i)
        if (!VerifyFile(packPath, files[i], chunk, mine)) ++problems;
    PlatFree(mine);
    PlatFree(chunk);

    if (problems) {
        Err("velpack: %s: FAILED (%lu problems)\n", packPath, static_cast<unsigned long>(problems));
        return VELPACK_FAILED;
    }
    Out("velpack: %s: OK (%lu entries, %d files identical)\n", packPath,
        static_cast<unsigned long>(entries), count);
    return VELPACK_OK;
}

bool IsOption(const char* arg) { return arg[0] == '-' && arg[1] != '\0'; }

}  // namespace

void VelpackSetPrintHook(VelpackPrintHook hook) { g_printHook = hook; }

int VelpackMain(int argc, char** argv) {
    if (argc < 2) return Usage(nullptr);
    const char* command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0 ||
        strcmp(command, "help") == 0) {
        Out("%s%s", USAGE, HELP);
        return VELPACK_OK;
    }

    // Operands are gathered in place; options are taken out wherever they stand.
    char** operands = argv + 2;
    int count = 0;
    bool narrow = false;
    const char* dir = ".";
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0) {
            Out("%s%s", USAGE, HELP);
            return VELPACK_OK;
        }
        if (strcmp(command, "create") == 0 && strcmp(arg, "--narrow") == 0) {
            narrow = true;
        } else if (strcmp(command, "extract") == 0 && strcmp(arg, "-C") == 0) {
            if (i + 1 >= argc) return Usage("-C needs a folder");
            dir = argv[++i];
        } else if (IsOption(arg)) {
            Err("velpack: unknown option '%s' for '%s'\n", arg, command);
            return Usage(nullptr);
        } else {
            operands[count++] = argv[i];
        }
    }

    if (strcmp(command, "create") == 0) {
        if (count < 2) return Usage("create needs OUT and at least one FILE");
        return Create(operands[0], operands + 1, count - 1, narrow);
    }
    if (strcmp(command, "list") == 0) {
        if (count != 1) return Usage("list takes one PACK");
        return List(operands[0]);
    }
    if (strcmp(command, "extract") == 0) {
        if (count < 2) return Usage("extract needs PACK and at least one NAME");
        return Extract(operands[0], operands + 1, count - 1, dir);
    }
    if (strcmp(command, "verify") == 0) {
        if (count < 1) return Usage("verify needs PACK");
        return Verify(operands[0], operands + 1, count - 1);
    }
    Err("velpack: unknown command '%s'\n", command);
    return Usage(nullptr);
}
