// The update pack reader. Every count and offset in a pack comes from a file
// anyone could have altered, so each is checked before it is used.
#include <string.h>

#include "engine.h"

namespace {

uint32_t GetU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// Byte by byte: the second byte of a double-byte character counts too, as
// the game's own tools do it.
const char* PackLookupName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\') base = p + 1;
    return base;
}

uint32_t FindPackEntry(SourceStream* stream, const char* name) {
    if (!stream || !name) return 0;
    const char* base = PackLookupName(name);

    unsigned char* header = static_cast<unsigned char*>(PlatAllocZero(PACK_HEADER_SIZE));
    if (!header) return 0;
    uint32_t got = 0;
    // A short or failed read leaves the missing header bytes zero.
    PlatRead(stream->handle, header, PACK_HEADER_SIZE, &got);
    const uint32_t slot = header[PACK_TAG_OFFSET] == PACK_TAG_WIDE ? PACK_WIDE_SLOT : PACK_NARROW_SLOT;
    const uint32_t count = GetU32(header + PACK_COUNT_OFFSET);
    PlatFree(header);
    if (count == 0) return 0;

    // A table whose size does not fit in 32 bits cannot be read in one call.
    const uint64_t tableSize = static_cast<uint64_t>(count) * (slot + PACK_RECORD_SIZE);
    if (tableSize > 0xFFFFFFFFu) return 0;
    const uint32_t table = static_cast<uint32_t>(tableSize);

    uint32_t packLow = 0, packHigh = 0;
    if (!PlatFileSize(stream->handle, &packLow, &packHigh)) return 0;
    const uint64_t packSize = (static_cast<uint64_t>(packHigh) << 32) | packLow;
    // A table that runs past the end of the pack is cut short: no entry of it
    // can be trusted, and no block is taken for a size nobody wrote.
    if (PACK_HEADER_SIZE + tableSize > packSize) return 0;

    unsigned char* block = static_cast<unsigned char*>(PlatAllocZero(table));
    if (!block) return 0;
    got = 0;
    // The file position must end right after the table for the seek below.
    if (!PlatRead(stream->handle, block, table, &got) || got != table) {
        PlatFree(block);
        return 0;
    }

    // A slot without a NUL holds a name of all its bytes; the copy keeps the
    // comparison inside the slot.
    char slotName[PACK_WIDE_SLOT + 1];
    uint32_t found = count;
    for (uint32_t k = 0; k < count; ++k) {
        memcpy(slotName, block + static_cast<size_t>(k) * slot, slot);
        slotName[slot] = '\0';
        if (PlatCompareTextNoCase(slotName, base) == 0) {
            found = k;
            break;
        }
    }
    if (found == count) {
        PlatFree(block);
        return 0;
    }

    const unsigned char* record =
        block + static_cast<size_t>(count) * slot + static_cast<size_t>(found) * PACK_RECORD_SIZE;
    const uint32_t offset = GetU32(record);
    const uint32_t size = GetU32(record + 4);
    PlatFree(block);

    const uint64_t start = PACK_HEADER_SIZE + tableSize + offset;
    // The seek is a signed 32-bit step, the position a 32-bit field, and the
    // entry must lie wholly inside the pack.
    if (offset >= PACK_OFFSET_LIMIT || start > 0xFFFFFFFFu || start + size > packSize) return 0;

    stream->dataPosition = static_cast<uint32_t>(start);
    if (!PlatSeekCurrent(stream->handle, static_cast<int32_t>(offset))) return 0;
    return size;
}
