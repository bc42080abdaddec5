// The operating system as the updater sees it: files, memory, waiting, text
// comparison and message boxes. Nothing above this layer includes <windows.h>
// or a POSIX header. The win32 side passes the exact access, sharing and
// creation modes the product needs; the posix side exists for native tests,
// fuzzing and benchmarks and maps '\' in paths to '/'.
//
// Every operation can be made to fail on demand (see "Fault injection"), so
// each failure path above this layer has a test that takes it.
#pragma once

#include <stddef.h>
#include <stdint.h>

// An open file. PLAT_NULL_FILE and PLAT_INVALID_FILE are never open files.
typedef void* PlatFile;
#define PLAT_NULL_FILE ((PlatFile)0)
#define PLAT_INVALID_FILE ((PlatFile)(intptr_t)-1)

// A window that owns a message box; null for none.
typedef void* PlatWindow;

// ---- Files ---------------------------------------------------------------

// Opens an existing file for sequential reading, shared for reading only.
// Returns PLAT_INVALID_FILE on failure.
PlatFile PlatOpenRead(const char* path);

// Creates or truncates a file for writing, shared for writing only.
// Returns PLAT_INVALID_FILE on failure.
PlatFile PlatCreateWrite(const char* path);

// The file's size as its low and high 32 bits. 1, or 0 (both 0) when the
// size cannot be had.
int PlatFileSize(PlatFile file, uint32_t* low, uint32_t* high);

// One read call of up to count bytes at the current position. *got receives
// the delivered count (0 on failure). Returns 1 when the call succeeded, even
// if it delivered fewer bytes than asked (end of file).
int PlatRead(PlatFile file, void* buffer, uint32_t count, uint32_t* got);

// Moves the file position by distance bytes from where it is. 1 or 0.
int PlatSeekCurrent(PlatFile file, int32_t distance);

// One write call of count bytes. *written receives the count that the system
// reports written. Returns 1 when the call succeeded.
int PlatWrite(PlatFile file, const void* buffer, uint32_t count, uint32_t* written);

// Forces written data to the disk. 1 or 0.
int PlatFlush(PlatFile file);

void PlatClose(PlatFile file);

// Replaces target with source in one step (write-through rename). The target
// may or may not exist. 1 or 0; on failure both files are left as they were.
int PlatReplaceFile(const char* source, const char* target);

// 1 when path names an existing file marked read-only, else 0.
int PlatIsReadOnly(const char* path);

// Deletes one file (never a folder). 1 or 0.
int PlatDeleteFile(const char* path);

// ---- Memory --------------------------------------------------------------

// A zero-filled block from the global allocator; null when none can be had.
// Release with PlatFree.
void* PlatAllocZero(size_t size);
void PlatFree(void* block);

// A block from the ordinary heap (not zero-filled); release with PlatHeapFree.
void* PlatHeapAlloc(size_t size);
void PlatHeapFree(void* block);

// ---- Waiting and text ----------------------------------------------------

void PlatSleep(uint32_t milliseconds);

// Compare two ANSI texts in the system's code page: 0 when equal.
int PlatCompareText(const char* a, const char* b);
int PlatCompareTextNoCase(const char* a, const char* b);
// 1 when c begins a double-byte character in the system's code page.
int PlatIsLeadByte(unsigned char c);

// ---- Message boxes -------------------------------------------------------

#define PLAT_MB_OK 0x0u
#define PLAT_MB_OKCANCEL 0x1u
#define PLAT_IDOK 1
#define PLAT_IDCANCEL 2

// A modal message box with no icon; returns PLAT_IDOK or PLAT_IDCANCEL.
int PlatMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned buttons);

// ---- Fault injection (tests) --------------------------------------------

enum PlatOp {
    PLAT_OP_ALLOC,       // PlatAllocZero
    PLAT_OP_HEAP_ALLOC,  // PlatHeapAlloc
    PLAT_OP_OPEN_READ,   // PlatOpenRead
    PLAT_OP_CREATE,      // PlatCreateWrite
    PLAT_OP_SIZE,        // PlatFileSize
    PLAT_OP_READ,        // PlatRead
    PLAT_OP_SEEK,        // PlatSeekCurrent
    PLAT_OP_WRITE,       // PlatWrite
    PLAT_OP_FLUSH,       // PlatFlush
    PLAT_OP_REPLACE,     // PlatReplaceFile
    PLAT_OP_DELETE,      // PlatDeleteFile
    PLAT_OP_CLOSE,       // PlatClose of an open file (counted only)
    PLAT_OP_SLEEP,       // PlatSleep (counted only)
    PLAT_OP_MESSAGE,     // PlatMessageBox (counted only)
    PLAT_OP_COUNT
};

enum PlatFault {
    PLAT_FAULT_FAIL,   // the call fails outright
    PLAT_FAULT_SHORT,  // a read or write succeeds but moves only half the bytes
};

// After `skip` more calls of op succeed, the next `times` calls (-1: all)
// fail in the way given. Calls are still counted.
void PlatSetFault(PlatOp op, int skip, int times, PlatFault fault);

// Clears every fault and every call count.
void PlatResetFaults(void);

// How many times op was called since the last reset.
int PlatCallCount(PlatOp op);

// A hook that stands in for every message box while set (null restores the
// real one). Tests use it to see texts, captions, owners and buttons.
typedef int (*PlatMessageHook)(PlatWindow owner, const char* text, const char* caption,
                               unsigned buttons);
void PlatSetMessageHook(PlatMessageHook hook);

// For the implementations: counts the call, then returns the fault to apply
// (1 = fail/short as *fault says) or 0 to run the call as usual.
int PlatTakeFault(PlatOp op, PlatFault* fault);
PlatMessageHook PlatGetMessageHook(void);
