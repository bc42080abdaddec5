// The game's save data: where it lives, and the purge after an update.
#pragma once

#include <stdint.h>

// The save folder into buffer: the folder named by the installation folder's
// Install.ini ("save=..."), else installation folder + "\save". Returns 1, or
// 0 with buffer emptied when not even the default folder fits.
int GetSaveFolder(char* buffer, uint32_t bufferSize);

// Deletes the system save, the quick save and the 1,000 numbered slots with
// their thumbnails; outcomes are ignored and nothing is shown. Returns the
// outcome of the last deletion (0 when nothing could be tried).
int DeleteSaveData(void);
