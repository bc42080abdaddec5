// The platform layer on Windows: kernel32 and user32 through their "A" entry
// points, so every path and text is read in the system's ANSI code page.
#include <windows.h>

#include "../platform.h"

PlatFile PlatOpenRead(const char* path) {
    if (PlatTakeFault(PLAT_OP_OPEN_READ, nullptr)) return PLAT_INVALID_FILE;
    // Readers may share; nobody may write the file while we read it.
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

PlatFile PlatCreateWrite(const char* path) {
    if (PlatTakeFault(PLAT_OP_CREATE, nullptr)) return PLAT_INVALID_FILE;
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int PlatFileSize(PlatFile file, uint32_t* low, uint32_t* high) {
    *low = 0;
    *high = 0;
    if (PlatTakeFault(PLAT_OP_SIZE, nullptr)) return 0;
    DWORD h = 0;
    SetLastError(NO_ERROR);
    DWORD l = GetFileSize(file, &h);
    // INVALID_FILE_SIZE is also the low part of a real size; the error tells.
    if (l == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    *low = l;
    *high = h;
    return 1;
}

int PlatRead(PlatFile file, void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    PlatFault fault;
    if (PlatTakeFault(PLAT_OP_READ, &fault)) {
        if (fault == PLAT_FAULT_FAIL) return 0;
        count /= 2;
    }
    DWORD n = 0;
    BOOL ok = ReadFile(file, buffer, count, &n, nullptr);
    *got = n;
    return ok ? 1 : 0;
}

int PlatSeekCurrent(PlatFile file, int32_t distance) {
    if (PlatTakeFault(PLAT_OP_SEEK, nullptr)) return 0;
    LONG high = distance < 0 ? -1 : 0;
    DWORD pos = SetFilePointer(file, distance, &high, FILE_CURRENT);
    if (pos == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
    return 1;
}

int PlatWrite(PlatFile file, const void* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    PlatFault fault;
    if (PlatTakeFault(PLAT_OP_WRITE, &fault)) {
        if (fault == PLAT_FAULT_FAIL) return 0;
        count /= 2;
    }
    DWORD n = 0;
    BOOL ok = WriteFile(file, buffer, count, &n, nullptr);
    *written = n;
    return ok ? 1 : 0;
}

int PlatFlush(PlatFile file) {
    if (PlatTakeFault(PLAT_OP_FLUSH, nullptr)) return 0;
    return FlushFileBuffers(file) ? 1 : 0;
}

void PlatClose(PlatFile file) {
    if (file == PLAT_NULL_FILE || file == PLAT_INVALID_FILE) return;
    PlatTakeFault(PLAT_OP_CLOSE, nullptr);
    CloseHandle(file);
}

int PlatReplaceFile(const char* source, const char* target) {
    if (PlatTakeFault(PLAT_OP_REPLACE, nullptr)) return 0;
    // A target that another process holds open without delete sharing (the
    // running game) makes this fail, and the target keeps its bytes.
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int PlatIsReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    return (attributes & FILE_ATTRIBUTE_READONLY) ? 1 : 0;
}

int PlatDeleteFile(const char* path) {
    if (PlatTakeFault(PLAT_OP_DELETE, nullptr)) return 0;
    return DeleteFileA(path) ? 1 : 0;
}

void* PlatAllocZero(size_t size) {
    if (PlatTakeFault(PLAT_OP_ALLOC, nullptr)) return nullptr;
    // A zero-length request still gets a block of its own, so that null
    // always means "none could be had".
    return GlobalAlloc(GPTR, size ? size : 1);
}

void PlatFree(void* block) {
    if (!block) return;
    GlobalFree(GlobalHandle(block));
}

void* PlatHeapAlloc(size_t size) {
    if (PlatTakeFault(PLAT_OP_HEAP_ALLOC, nullptr)) return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void PlatHeapFree(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void PlatSleep(uint32_t milliseconds) {
    PlatTakeFault(PLAT_OP_SLEEP, nullptr);
    Sleep(milliseconds);
}

int PlatCompareText(const char* a, const char* b) { return lstrcmpA(a, b); }

int PlatCompareTextNoCase(const char* a, const char* b) { return lstrcmpiA(a, b); }

int PlatIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) ? 1 : 0; }

int PlatMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned buttons) {
    PlatTakeFault(PLAT_OP_MESSAGE, nullptr);
    if (PlatMessageHook hook = PlatGetMessageHook()) return hook(owner, text, caption, buttons);
    UINT type = (buttons == PLAT_MB_OKCANCEL) ? MB_OKCANCEL : MB_OK;
    // Only an explicit OK counts as OK; a box that could not be shown does not.
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type) == IDOK ? PLAT_IDOK
                                                                              : PLAT_IDCANCEL;
}
