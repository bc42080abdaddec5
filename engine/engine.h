// The update engine: update sources (a loose file, or an entry of the update
// pack), the pack lookup, and the run that writes the update files into the
// installation folder.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../platform/platform.h"

// Every built path and every folder fits in this many bytes, NUL included.
#define PATH_BUFFER_SIZE 260

// The update pack in the current directory.
#define UPDATE_PACK_NAME "UpdateData.dat"

// One opened update source. Obtained from OpenUpdateSource, released by
// CloseUpdateSource (caller owns it in between).
struct SourceStream {
    int32_t kind;           // SOURCE_LOOSE or SOURCE_PACK
    PlatFile handle;        // the loose file, or the pack
    uint32_t dataPosition;  // absolute offset of the source's first byte
    uint32_t size;          // bytes in the source
    uint32_t requested;     // asked for by the latest read
    uint32_t transferred;   // delivered by the latest read
};

#define SOURCE_LOOSE 0
#define SOURCE_PACK 1

// The loose file `name` if it can be opened, else (when packName is given)
// the pack entry of name's base name. None when neither can be had, or when
// the loose file is 4 GiB or larger.
SourceStream* OpenUpdateSource(const char* name, const char* packName);
// Only the pack half of OpenUpdateSource: the entry for name's base name in
// packName, whatever loose files lie about. None when there is no such entry.
SourceStream* OpenPackSource(const char* packName, const char* name);
uint32_t GetSourceSize(const SourceStream* stream);
// Reads the whole source (ReadSourceAll) or count bytes (ReadSourceBytes)
// from the current position in one call. 1 when the call succeeded.
int ReadSourceAll(SourceStream* stream, void* buffer);
int ReadSourceBytes(SourceStream* stream, void* buffer, uint32_t count);
// 1 once the latest read delivered all it asked for; 0 at once when it
// came up short, or for no stream or no open handle.
int WaitSourceRead(SourceStream* stream);
void CloseUpdateSource(SourceStream* stream);

// Pack layout: 16-byte header (tag at byte 11, entry count at 12), the name
// slots, the (offset, size) records, then the data area.
#define PACK_HEADER_SIZE 16
#define PACK_TAG_OFFSET 11
#define PACK_COUNT_OFFSET 12
#define PACK_TAG_WIDE '2'
#define PACK_WIDE_SLOT 32
#define PACK_NARROW_SLOT 16
#define PACK_RECORD_SIZE 8
// Entries are reached with a signed 32-bit seek: every offset lies below this.
#define PACK_OFFSET_LIMIT 0x80000000u

// Finds the entry named like name's base name (letter case ignored) in the
// freshly opened pack behind stream, leaves the file position at its first
// byte and sets dataPosition. Returns its size; 0 for no such entry.
uint32_t FindPackEntry(SourceStream* stream, const char* name);
// The part of name that FindPackEntry compares: after the last backslash
// byte, the second byte of a double-byte character included.
const char* PackLookupName(const char* name);

// The update files, in the order they are written. Each list ends with an
// empty entry.
struct UpdateFileTable {
    const char* source[4];
    const char* destination[4];
};
extern const UpdateFileTable UPDATE_FILES;

// Writes every update file into installFolder. 1 when all were written; 0
// after telling the user (message box owned by owner) which one failed.
int ApplyUpdateFiles(PlatWindow owner, const char* installFolder);

// folder + "\" + name into out (outSize bytes). 1, or 0 with out emptied when
// the result would not fit.
int JoinPath(char* out, size_t outSize, const char* folder, const char* name);
