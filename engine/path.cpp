#include <string.h>

#include "engine.h"

int JoinPath(char* out, size_t outSize, const char* folder, const char* name) {
    if (!out || outSize == 0) return 0;
    size_t a = strlen(folder);
    size_t b = strlen(name);
    // The folder is joined as it stands: no trailing separator is looked for.
    if (a + 1 + b >= outSize) {
        out[0] = '\0';
        return 0;
    }
    memcpy(out, folder, a);
    out[a] = '\\';
    memcpy(out + a + 1, name, b + 1);
    return 1;
}
