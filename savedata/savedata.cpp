// The save folder and the purge of the game's saves after an update.
#include "savedata.h"

#include <string.h>

#include "engine.h"
#include "frontend.h"

namespace {

const char INSTALL_INI_NAME[] = "Install.ini";
const char SAVE_KEY[] = "save=";
const uint32_t SAVE_KEY_LENGTH = 5;

// Reads the folder that buffer's Install.ini names into buffer. 1 when the
// file names a usable one; 0 leaves buffer in any state for the default.
int ReadInstallIni(char* buffer, uint32_t bufferSize) {
    int found = 0;
    SourceStream* stream = OpenUpdateSource(buffer, nullptr);
    if (!stream) return 0;

    // Zero-filled and one byte longer than the key, so a file shorter than
    // the key never matches and the compare always sees a NUL.
    char key[8] = {0};
    if (!ReadSourceBytes(stream, key, SAVE_KEY_LENGTH)) goto done;
    key[SAVE_KEY_LENGTH] = '\0';
    if (PlatCompareText(key, SAVE_KEY) != 0) goto done;
    if (GetSourceSize(stream) <= SAVE_KEY_LENGTH) goto done;  // "save=" alone: no folder
    {
        // The rest of the file is the folder, byte for byte; a NUL ends it.
        // At most bufferSize bytes are read: a folder that has no NUL within
        // them does not fit, and is not cut short to some other folder.
        uint32_t rest = GetSourceSize(stream) - SAVE_KEY_LENGTH;
        uint32_t count = rest < bufferSize ? rest : bufferSize;
        memset(buffer, 0, bufferSize);
        if (!ReadSourceBytes(stream, buffer, count)) goto done;
        if (stream->transferred != count) goto done;
        if (count == bufferSize && !memchr(buffer, '\0', count)) goto done;
        // An empty folder would aim every name at the root of the drive.
        found = buffer[0] != '\0';
    }

done:
    CloseUpdateSource(stream);
    return found;
}

// folder + "\" + name, deleted when the path fits. The outcome of the
// deletion, 0 when skipped.
int DeleteOne(char* path, const char* folder, const char* name) {
    if (!JoinPath(path, PATH_BUFFER_SIZE, folder, name)) return 0;
    return PlatDeleteFile(path);
}

}  // namespace

int GetSaveFolder(char* buffer, uint32_t bufferSize) {
    if (!buffer || bufferSize == 0) return 0;
    // Install.ini's path is built in buffer itself, which then receives the
    // folder; an installation folder too long for it simply has no Install.ini.
    if (JoinPath(buffer, bufferSize, g_installRecord.folder, INSTALL_INI_NAME) &&
        ReadInstallIni(buffer, bufferSize))
        return 1;
    return JoinPath(buffer, bufferSize, g_installRecord.folder, "save");
}

int DeleteSaveData(void) {
    int result = 0;
    char* path = nullptr;
    char* folder = static_cast<char*>(PlatAllocZero(PATH_BUFFER_SIZE));
    if (!folder) return 0;
    // Without a folder every name would start at the root of the drive.
    if (!GetSaveFolder(folder, PATH_BUFFER_SIZE)) goto done;
    path = static_cast<char*>(PlatHeapAlloc(PATH_BUFFER_SIZE));
    if (!path) goto done;

    // Every name is tried blindly: listing the folder would find other files
    // that are not ours to touch. Outcomes are ignored on purpose.
    DeleteOne(path, folder, "syssave.dat");
    DeleteOne(path, folder, "qsave.sav");
    result = DeleteOne(path, folder, "qsave.gra");
    {
        char save[] = "save000.sav";
        char thumb[] = "thumb000.gra";
        for (int slot = 0; slot < 1000; ++slot) {
            char h = static_cast<char>('0' + slot / 100);
            char t = static_cast<char>('0' + slot / 10 % 10);
            char u = static_cast<char>('0' + slot % 10);
            save[4] = h;
            save[5] = t;
            save[6] = u;
            thumb[5] = h;
            thumb[6] = t;
            thumb[7] = u;
            DeleteOne(path, folder, save);
            result = DeleteOne(path, folder, thumb);
        }
    }

done:
    PlatHeapFree(path);
    PlatFree(folder);
    return result;
}
