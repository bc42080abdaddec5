// placeholder: filled in with the save purge
#include "savedata.h"
int GetSaveFolder(char* buffer, uint32_t) { if (buffer) buffer[0] = 0; return 0; }
int DeleteSaveData(void) { return 0; }
