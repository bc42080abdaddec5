// Update sources: loose file first, pack entry second, reads and the wait.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine.h"
#include "fixture.h"

using fixture::FaultGuard;
using fixture::MakePack;
using fixture::ScratchDir;
using fixture::WriteFile;

namespace {

class SourceTest : public ::testing::Test {
protected:
    ScratchDir dir;
    FaultGuard faults;
};

TEST_F(SourceTest, LooseFileWinsAndThePackIsNeverOpened) {
    ASSERT_TRUE(WriteFile("Archive.ini", "loose bytes"));
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{"Archive.ini", "packed"}}, true)));
    PlatResetFaults();

    SourceStream* s = OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(SOURCE_LOOSE, s->kind);
    EXPECT_EQ(0u, s->dataPosition);
    EXPECT_EQ(11u, GetSourceSize(s));
    EXPECT_EQ(0u, s->requested);
    EXPECT_EQ(0u, s->transferred);
    EXPECT_EQ(1, PlatCallCount(PLAT_OP_OPEN_READ));
    CloseUpdateSource(s);
}

TEST_F(SourceTest, PackEntryIsUsedWhenNoLooseFile) {
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{"a.bin", "AAAA"}, {"Archive.ini", "packed"}}, true)));
    SourceStream* s = OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(SOURCE_PACK, s->kind);
    EXPECT_EQ(6u, GetSourceSize(s));
    EXPECT_EQ(16u + 2 * 40 + 4, s->dataPosition);
    std::string got(6, '\0');
    EXPECT_EQ(1, ReadSourceAll(s, &got[0]));
    EXPECT_EQ(1, WaitSourceRead(s));
    EXPECT_EQ("packed", got);
    CloseUpdateSource(s);
}

TEST_F(SourceTest, NothingToOpenYieldsNoneAndReleasesEverything) {
    // No loose file and no pack; no loose file and a pack without the entry;
    // a pack entry of size 0, which cannot be told from a missing one.
    EXPECT_EQ(nullptr, OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME));
    EXPECT_EQ(nullptr, OpenUpdateSource("Archive.ini", nullptr));

    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{"other.dat", "x"}, {"Archive.ini", ""}}, false)));
    PlatResetFaults();
    EXPECT_EQ(nullptr, OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME));
    EXPECT_EQ(nullptr, OpenUpdateSource("missing.dat", UPDATE_PACK_NAME));
    // Every pack handle that was opened is closed again.
    EXPECT_EQ(2, PlatCallCount(PLAT_OP_CLOSE));
}

TEST_F(SourceTest, ZeroByteLooseFileIsASourceOfSizeZero) {
    ASSERT_TRUE(WriteFile("Archive.ini", ""));
    SourceStream* s = OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(0u, GetSourceSize(s));
    char byte = 0;
    EXPECT_EQ(1, ReadSourceAll(s, &byte));
    EXPECT_EQ(1, WaitSourceRead(s));
    CloseUpdateSource(s);
}

TEST_F(SourceTest, ConsecutiveReadsDeliverConsecutiveBytes) {
    ASSERT_TRUE(WriteFile("Instdata.pak", "0123456789abc"));
    SourceStream* s = OpenUpdateSource("Instdata.pak", nullptr);
    ASSERT_NE(nullptr, s);
    char first[5], rest[8];
    ASSERT_EQ(1, ReadSourceBytes(s, first, 5));
    ASSERT_EQ(1, ReadSourceBytes(s, rest, 8));
    EXPECT_EQ("01234", std::string(first, 5));
    EXPECT_EQ("56789abc", std::string(rest, 8));
    EXPECT_EQ(8u, s->requested);
    EXPECT_EQ(8u, s->transferred);
    CloseUpdateSource(s);
}

TEST_F(SourceTest, WaitEndsAtOnceWithoutSleeping) {
    ASSERT_TRUE(WriteFile("a.bin", "abcdef"));
    SourceStream* s = OpenUpdateSource("a.bin", nullptr);
    ASSERT_NE(nullptr, s);
    char buf[16];

    // A complete read: 1, no sleep.
    ASSERT_EQ(1, ReadSourceBytes(s, buf, 3));
    EXPECT_EQ(1, WaitSourceRead(s));

    // Past the end of the file: the read succeeds short, and the wait must
    // not wait for bytes that will never come.
    ASSERT_EQ(1, ReadSourceBytes(s, buf, 10));
    EXPECT_EQ(3u, s->transferred);
    EXPECT_EQ(0, WaitSourceRead(s));
    EXPECT_EQ(0, PlatCallCount(PLAT_OP_SLEEP));
    CloseUpdateSource(s);
}

TEST_F(SourceTest, NoStreamAndNoHandleAreRefused) {
    char buf[4];
    EXPECT_EQ(0, ReadSourceAll(nullptr, buf));
    EXPECT_EQ(0, ReadSourceBytes(nullptr, buf, 4));
    EXPECT_EQ(0, WaitSourceRead(nullptr));
    EXPECT_EQ(0u, GetSourceSize(nullptr));
    CloseUpdateSource(nullptr);

    SourceStream s{};
    s.handle = PLAT_NULL_FILE;
    EXPECT_EQ(0, WaitSourceRead(&s));
    s.handle = PLAT_INVALID_FILE;
    EXPECT_EQ(0, WaitSourceRead(&s));
}

TEST_F(SourceTest, PlatformFailuresYieldNoneOrZero) {
    ASSERT_TRUE(WriteFile("a.bin", "abcdef"));

    PlatSetFault(PLAT_OP_ALLOC, 0, 1, PLAT_FAULT_FAIL);  // the record itself
    EXPECT_EQ(nullptr, OpenUpdateSource("a.bin", nullptr));

    PlatSetFault(PLAT_OP_SIZE, 0, 1, PLAT_FAULT_FAIL);
    EXPECT_EQ(nullptr, OpenUpdateSource("a.bin", nullptr));

    SourceStream* s = OpenUpdateSource("a.bin", nullptr);
    ASSERT_NE(nullptr, s);
    char buf[6];
    PlatSetFault(PLAT_OP_READ, 0, 1, PLAT_FAULT_FAIL);
    EXPECT_EQ(0, ReadSourceAll(s, buf));
    EXPECT_EQ(0, WaitSourceRead(s));
    CloseUpdateSource(s);

    s = OpenUpdateSource("a.bin", nullptr);
    ASSERT_NE(nullptr, s);
    PlatSetFault(PLAT_OP_READ, 0, 1, PLAT_FAULT_SHORT);
    EXPECT_EQ(1, ReadSourceAll(s, buf));
    EXPECT_EQ(3u, s->transferred);
    EXPECT_EQ(0, WaitSourceRead(s));
    CloseUpdateSource(s);
}

// A loose file of 4 GiB or more: its low 32 bits would describe another file.
// Sparse, so it costs no disk.
TEST_F(SourceTest, LooseFileOfFourGibibytesIsRefused) {
    ASSERT_TRUE(WriteFile("Archive.ini", ""));
    std::error_code ec;
    std::filesystem::resize_file("Archive.ini", (uint64_t(1) << 32) + 7, ec);
    if (ec) GTEST_SKIP() << "cannot make a sparse 4 GiB file here: " << ec.message();
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{"Archive.ini", "packed"}}, true)));
    EXPECT_EQ(nullptr, OpenUpdateSource("Archive.ini", UPDATE_PACK_NAME));
}

}  // namespace
