#include <gtest/gtest.h>

#include <string>

#include "engine.h"

TEST(JoinPath, JoinsWithOneBackslashUpTo259Characters) {
    char out[PATH_BUFFER_SIZE];
    ASSERT_EQ(1, JoinPath(out, sizeof out, "C:\\Game", "Archive.ini"));
    EXPECT_STREQ("C:\\Game\\Archive.ini", out);
    // The folder is taken as it stands.
    ASSERT_EQ(1, JoinPath(out, sizeof out, "C:\\Game\\", "a"));
    EXPECT_STREQ("C:\\Game\\\\a", out);

    const std::string fits(259 - 2, 'f');  // folder + "\" + "a" = 259
    ASSERT_EQ(1, JoinPath(out, sizeof out, fits.c_str(), "a"));
    EXPECT_EQ(259u, strlen(out));

    const std::string tooLong(259 - 1, 'f');
    EXPECT_EQ(0, JoinPath(out, sizeof out, tooLong.c_str(), "a"));
    EXPECT_STREQ("", out);
}
