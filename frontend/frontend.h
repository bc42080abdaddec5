// The updater's front end: the installation record, the version constants
// and the start-up sequence.
#pragma once

#include <stdint.h>

#include "../resources/texts.h"
#include "../resources/version.h"

// Thousandths: 1000 is 1.000.
#define VERSION_BASE 1000u
#define VERSION_TARGET 1010u

// The installed game, as the registry records it. One process-wide instance,
// filled at start-up.
struct InstallRecord {
    char folder[260];  // ANSI, NUL-terminated
    uint32_t version;
};
extern InstallRecord g_installRecord;

// The dialog's version text for v: "1.000" for 1000; all digits of v / 1000
// for 10000 and more ("10.000"). out holds at least 16 bytes.
void FormatVersionText(uint32_t v, char* out);
