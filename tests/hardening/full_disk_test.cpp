// The update run on a disk that is really full: a tmpfs of 512 KiB holds the
// installation folder. A destination that cannot be written whole keeps its
// old bytes, no temporary file is left behind, and the user sees the error.
// Mounting needs root (or the right capability); without it the test skips.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>

#include "engine.h"
#include "fixture.h"
#include "../../resources/texts.h"

namespace fs = std::filesystem;

using fixture::FileExists;
using fixture::MakeDir;
using fixture::MessageRecorder;
using fixture::ReadFile;
using fixture::ScratchDir;
using fixture::WriteFile;

namespace {

const char* const kNames[] = {"Archive.ini", "extend101.dat", "Instdata.pak"};
const uintmax_t kDiskSize = 512 * 1024;

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        game_ = dir_.Join("game");
        ASSERT_TRUE(MakeDir(game_));
        const std::string command =
            "mount -t tmpfs -o size=512k,mode=0700 tmpfs '" + game_ + "' 2>/dev/null";
        if (system(command.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
        mounted_ = true;
        // A mount command that did nothing would leave the big disk below.
        std::error_code ec;
        ASSERT_LE(fs::space(game_, ec).capacity, kDiskSize) << "no small disk at " << game_;
    }

    void TearDown() override {
        if (!mounted_) return;
        EXPECT_EQ(0, system(("umount '" + game_ + "'").c_str()));
    }

    std::string InGame(const char* name) const { return game_ + "/" + name; }

    std::set<std::string> GameFolder() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(game_))
            names.insert(entry.path().filename().string());
        return names;
    }

    ScratchDir dir_;
    std::string game_;
    bool mounted_ = false;
};

struct FullDiskCase {
    const char* what;
    size_t oldSize;  // of the game's Instdata.pak
    size_t newSize;  // of the update's
};

void PrintTo(const FullDiskCase& c, std::ostream* os) { *os << c.what; }

class FullDiskCases : public FullDiskTest, public ::testing::WithParamInterface<FullDiskCase> {};

// The last file of the run fills the disk: the two before it are in place.
TEST_P(FullDiskCases, DestinationKeepsItsOldBytes) {
    const FullDiskCase& c = GetParam();
    const std::string oldPak(c.oldSize, 'o');
    ASSERT_TRUE(WriteFile(InGame("Archive.ini"), "old archive"));
    ASSERT_TRUE(WriteFile(InGame("extend101.dat"), "old extend"));
    ASSERT_TRUE(WriteFile(InGame("Instdata.pak"), oldPak));
    ASSERT_TRUE(WriteFile("Archive.ini", "new archive"));
    ASSERT_TRUE(WriteFile("extend101.dat", "new extend"));
    ASSERT_TRUE(WriteFile("Instdata.pak", std::string(c.newSize, 'n')));

    MessageRecorder recorder;
    EXPECT_EQ(0, ApplyUpdateFiles(reinterpret_cast<PlatWindow>(0x5150), game_.c_str()));

    std::string bytes;
    ASSERT_TRUE(ReadFile(InGame("Instdata.pak"), &bytes));
    EXPECT_TRUE(bytes == oldPak) << "Instdata.pak now holds " << bytes.size() << " bytes";
    ASSERT_TRUE(ReadFile(InGame("Archive.ini"), &bytes));
    EXPECT_EQ("new archive", bytes);
    ASSERT_TRUE(ReadFile(InGame("extend101.dat"), &bytes));
    EXPECT_EQ("new extend", bytes);
    EXPECT_EQ((std::set<std::string>{kNames[0], kNames[1], kNames[2]}), GameFolder());

    char text[512];
    snprintf(text, sizeof text, TEXT_CANNOT_WRITE, "Instdata.pak");
    ASSERT_EQ(1u, recorder.messages().size());
    EXPECT_EQ(text, recorder.messages()[0].text);
    EXPECT_EQ(TEXT_ERROR_CAPTION, recorder.messages()[0].caption);
    EXPECT_EQ(PLAT_MB_OK, recorder.messages()[0].buttons);
    EXPECT_EQ(reinterpret_cast<PlatWindow>(0x5150), recorder.messages()[0].owner);
}

INSTANTIATE_TEST_SUITE_P(
    Disk, FullDiskCases,
    ::testing::Values(
        // Larger than the whole disk.
        FullDiskCase{"larger_than_disk", 1000, 1024 * 1024},
        // Would fit in place of the old copy, but not beside it: the old
        // bytes stay until the new ones are wholly on the disk.
        FullDiskCase{"not_beside_old_copy", 300 * 1024, 300 * 1024}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.what); });

// After a full disk the space comes back: a later run with room succeeds.
TEST_F(FullDiskTest, SpaceIsFreedForTheNextRun) {
    for (const char* name : kNames) ASSERT_TRUE(WriteFile(InGame(name), "old"));
    for (const char* name : kNames) ASSERT_TRUE(WriteFile(name, "new"));
    ASSERT_TRUE(WriteFile("Instdata.pak", std::string(600 * 1024, 'n')));
    {
        MessageRecorder recorder;
        ASSERT_EQ(0, ApplyUpdateFiles(nullptr, game_.c_str()));
    }
    ASSERT_TRUE(WriteFile("Instdata.pak", std::string(400 * 1024, 'm')));
    MessageRecorder recorder;
    EXPECT_EQ(1, ApplyUpdateFiles(nullptr, game_.c_str()));
    EXPECT_TRUE(recorder.messages().empty());
    std::string bytes;
    ASSERT_TRUE(ReadFile(InGame("Instdata.pak"), &bytes));
    EXPECT_TRUE(bytes == std::string(400 * 1024, 'm'));
    EXPECT_EQ((std::set<std::string>{kNames[0], kNames[1], kNames[2]}), GameFolder());
}

}  // namespace
