// The file update run: each update file is read whole, written beside its
// destination under a temporary name, flushed, and only then put in place,
// so a game file is either its old self or wholly the new one.
#include <stdio.h>

#include "../resources/texts.h"
#include "engine.h"

const UpdateFileTable UPDATE_FILES = {
    {"Archive.ini", "extend101.dat", "Instdata.pak", ""},
    {"Archive.ini", "extend101.dat", "Instdata.pak", ""},
};

namespace {

// Shorter than every destination name, so it fits wherever the destination
// does; one per table index, so a leftover never stands for another file.
const char* const kTempNames[] = {"~vupd0.tmp", "~vupd1.tmp", "~vupd2.tmp", "~vupd3.tmp"};

void ShowFileError(PlatWindow owner, const char* format, const char* sourceName) {
    char text[512];
    snprintf(text, sizeof text, format, sourceName);
    PlatMessageBox(owner, text, TEXT_ERROR_CAPTION, PLAT_MB_OK);
}

// Writes n bytes to temp, then replaces destination with it. On any failure
// the temporary file is gone and the destination is as it was.
int WriteThenReplace(const char* destination, const char* temp, const void* data, uint32_t n) {
    // Windows refuses to replace a read-only file for most users; refuse it
    // here for everyone, whatever the account may override.
    if (PlatIsReadOnly(destination)) return 0;

    PlatFile file = PlatCreateWrite(temp);
    if (file == PLAT_INVALID_FILE) return 0;
    uint32_t written = 0;
    int ok = PlatWrite(file, data, n, &written);
    // A write that reports success with fewer bytes is a full disk, not a
    // reason to wait: nothing will add to the count later.
    ok = ok && written == n && PlatFlush(file);
    PlatClose(file);
    ok = ok && PlatReplaceFile(temp, destination);
    if (!ok) PlatDeleteFile(temp);
    return ok;
}

// One update file. 1 when written; 0 after the user was told.
int UpdateOneFile(PlatWindow owner, const char* installFolder, int index) {
    const char* sourceName = UPDATE_FILES.source[index];
    char destination[PATH_BUFFER_SIZE];
    char temp[PATH_BUFFER_SIZE];
    if (!JoinPath(destination, sizeof destination, installFolder, UPDATE_FILES.destination[index]) ||
        !JoinPath(temp, sizeof temp, installFolder, kTempNames[index])) {
        ShowFileError(owner, TEXT_CANNOT_WRITE, sourceName);
        return 0;
    }

    SourceStream* source = OpenUpdateSource(sourceName, UPDATE_PACK_NAME);
    if (!source) {
        ShowFileError(owner, TEXT_CANNOT_READ, sourceName);
        return 0;
    }
    const uint32_t n = GetSourceSize(source);
    void* block = PlatAllocZero(n);
    if (!block) {
        CloseUpdateSource(source);
        ShowFileError(owner, TEXT_CANNOT_WRITE, sourceName);
        return 0;
    }
    // Wait only after a read that succeeded; the wait ends at once on a shortfall.
    const int read = ReadSourceAll(source, block) && WaitSourceRead(source);
    CloseUpdateSource(source);
    if (!read) {
        PlatFree(block);
        ShowFileError(owner, TEXT_CANNOT_READ, sourceName);
        return 0;
    }

    const int written = WriteThenReplace(destination, temp, block, n);
    PlatFree(block);
    if (!written) {
        ShowFileError(owner, TEXT_CANNOT_WRITE, sourceName);
        return 0;
    }
    return 1;
}

}  // namespace

int ApplyUpdateFiles(PlatWindow owner, const char* installFolder) {
    for (int i = 0; UPDATE_FILES.source[i][0] != '\0'; ++i)
        if (!UpdateOneFile(owner, installFolder, i)) return 0;
    return 1;
}
