// The platform layer on POSIX systems, for native tests, fuzzing and
// benchmarks. Paths use the Windows separator, which is mapped to '/'.
// Sharing modes have no counterpart here and are not emulated.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "../platform.h"

namespace {

// File descriptors are stored shifted by one, so that descriptor 0 is not
// mistaken for the null handle.
PlatFile FromFd(int fd) { return reinterpret_cast<PlatFile>(static_cast<intptr_t>(fd) + 1); }
int ToFd(PlatFile file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
bool IsOpen(PlatFile file) { return file != PLAT_NULL_FILE && file != PLAT_INVALID_FILE; }

std::string NativePath(const char* path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

}  // namespace

PlatFile PlatOpenRead(const char* path) {
    if (PlatTakeFault(PLAT_OP_OPEN_READ, nullptr)) return PLAT_INVALID_FILE;
    int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return PLAT_INVALID_FILE;
    struct stat st;
    // A folder is not a file that can be read, as on Windows.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return PLAT_INVALID_FILE;
    }
    return FromFd(fd);
}

PlatFile PlatCreateWrite(const char* path) {
    if (PlatTakeFault(PLAT_OP_CREATE, nullptr)) return PLAT_INVALID_FILE;
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? PLAT_INVALID_FILE : FromFd(fd);
}

int PlatFileSize(PlatFile file, uint32_t* low, uint32_t* high) {
    *low = 0;
    *high = 0;
    if (PlatTakeFault(PLAT_OP_SIZE, nullptr)) return 0;
    struct stat st;
    if (!IsOpen(file) || fstat(ToFd(file), &st) != 0) return 0;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    *low = static_cast<uint32_t>(size);
    *high = static_cast<uint32_t>(size >> 32);
    return 1;
}

int PlatRead(PlatFile file, void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    PlatFault fault;
    if (PlatTakeFault(PLAT_OP_READ, &fault)) {
        if (fault == PLAT_FAULT_FAIL) return 0;
        count /= 2;
    }
    if (!IsOpen(file)) return 0;
    // One call as on Windows: keep reading until the count or end of file.
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = read(ToFd(file), static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *got = done;
            return 0;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    *got = done;
    return 1;
}

int PlatSeekCurrent(PlatFile file, int32_t distance) {
    if (PlatTakeFault(PLAT_OP_SEEK, nullptr)) return 0;
    if (!IsOpen(file)) return 0;
    return lseek(ToFd(file), distance, SEEK_CUR) < 0 ? 0 : 1;
}

int PlatWrite(PlatFile file, const void* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    PlatFault fault;
    if (PlatTakeFault(PLAT_OP_WRITE, &fault)) {
        if (fault == PLAT_FAULT_FAIL) return 0;
        count /= 2;
    }
    if (!IsOpen(file)) return 0;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(ToFd(file), static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *written = done;
            return 0;
        }
        done += static_cast<uint32_t>(n);
    }
    *written = done;
    return 1;
}

int PlatFlush(PlatFile file) {
    if (PlatTakeFault(PLAT_OP_FLUSH, nullptr)) return 0;
    if (!IsOpen(file)) return 0;
    return fsync(ToFd(file)) == 0 ? 1 : 0;
}

void PlatClose(PlatFile file) {
    if (!IsOpen(file)) return;
    PlatTakeFault(PLAT_OP_CLOSE, nullptr);
    close(ToFd(file));
}

int PlatReplaceFile(const char* source, const char* target) {
    if (PlatTakeFault(PLAT_OP_REPLACE, nullptr)) return 0;
    return rename(NativePath(source).c_str(), NativePath(target).c_str()) == 0 ? 1 : 0;
}

int PlatIsReadOnly(const char* path) {
    struct stat st;
    if (stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    // The owner's write bit stands for the read-only attribute; root's power
    // to write anyway is deliberately not consulted.
    return (st.st_mode & S_IWUSR) ? 0 : 1;
}

int PlatDeleteFile(const char* path) {
    if (PlatTakeFault(PLAT_OP_DELETE, nullptr)) return 0;
    std::string native = NativePath(path);
    struct stat st;
    if (lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    // Windows refuses to delete a read-only file; so do we.
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return 0;
    return unlink(native.c_str()) == 0 ? 1 : 0;
}

void* PlatAllocZero(size_t size) {
    if (PlatTakeFault(PLAT_OP_ALLOC, nullptr)) return nullptr;
    return calloc(1, size ? size : 1);
}

void PlatFree(void* block) { free(block); }

void* PlatHeapAlloc(size_t size) {
    if (PlatTakeFault(PLAT_OP_HEAP_ALLOC, nullptr)) return nullptr;
    return malloc(size ? size : 1);
}

void PlatHeapFree(void* block) { free(block); }

void PlatSleep(uint32_t milliseconds) {
    PlatTakeFault(PLAT_OP_SLEEP, nullptr);
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int PlatCompareText(const char* a, const char* b) {
    int r = strcmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Code page 932, the game's, stands for the system's code page here.
int PlatIsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Case folding for ASCII letters only, leaving the second byte of a code page
// 932 double-byte character alone.
int PlatCompareTextNoCase(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    bool trail = false;
    for (;; ++p, ++q) {
        unsigned char x = *p, y = *q;
        if (!trail) {
            if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
            if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        }
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
        trail = !trail && PlatIsLeadByte(x);
    }
}

int PlatMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned buttons) {
    PlatTakeFault(PLAT_OP_MESSAGE, nullptr);
    if (PlatMessageHook hook = PlatGetMessageHook()) return hook(owner, text, caption, buttons);
    fprintf(stderr, "[%s] %s\n", caption, text);
    return PLAT_IDOK;
}
