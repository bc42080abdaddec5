#include <stdio.h>

#include "frontend.h"

void FormatVersionText(uint32_t v, char* out) {
    // Every digit of v / 1000, so 10000 reads "10.000" instead of a stray byte.
    snprintf(out, 16, "%u.%u%u%u", v / 1000, (v % 1000) / 100, (v % 100) / 10, v % 10);
}
