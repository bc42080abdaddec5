#include <gtest/gtest.h>

#include "frontend.h"

namespace {

struct VersionCase {
    uint32_t version;
    const char* text;
};

// The five-character form up to 9999; every digit of v / 1000 beyond.
const VersionCase kVersionCases[] = {
    {0, "0.000"},           {1000, "1.000"},      {1009, "1.009"}, {1010, "1.010"},
    {9999, "9.999"},        {10000, "10.000"},    {65536, "65.536"},
    {4294967295u, "4294967.295"},
};

TEST(FormatVersionText, GivesThousandthsWithAllDigits) {
    for (const VersionCase& c : kVersionCases) {
        char out[16];
        memset(out, 'x', sizeof out);
        FormatVersionText(c.version, out);
        EXPECT_STREQ(c.text, out) << "version " << c.version;
    }
}

}  // namespace
