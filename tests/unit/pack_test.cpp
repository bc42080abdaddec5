// The pack reader: layouts, lookups, and packs that lie about themselves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"
#include "fixture.h"

using fixture::FaultGuard;
using fixture::MakePack;
using fixture::MakeRawPack;
using fixture::RawEntry;
using fixture::ScratchDir;
using fixture::WriteFile;

namespace {

struct Found {
    uint32_t size = 0;
    uint32_t dataPosition = 0;
    std::string bytes;  // what a read from the left position delivers
};

// Writes pack bytes as the pack file, then looks name up as OpenUpdateSource
// would, on a freshly opened handle.
Found Lookup(const std::string& pack, const char* name) {
    Found f;
    if (!WriteFile("test.pack", pack)) return f;
    SourceStream s{};
    s.kind = SOURCE_PACK;
    s.handle = PlatOpenRead("test.pack");
    if (s.handle == PLAT_INVALID_FILE) return f;
    f.size = FindPackEntry(&s, name);
    f.dataPosition = s.dataPosition;
    if (f.size) {
        f.bytes.assign(f.size, '\0');
        uint32_t got = 0;
        PlatRead(s.handle, &f.bytes[0], f.size, &got);
        f.bytes.resize(got);
    }
    PlatClose(s.handle);
    return f;
}

class PackTest : public ::testing::Test {
protected:
    ScratchDir dir;
    FaultGuard faults;
};

const std::vector<fixture::PackItem> kThree = {
    {"Archive.ini", "[archive]\r\n"}, {"extend101.dat", "EXT-101"}, {"Instdata.pak", "PAKDATA!"}};

TEST_F(PackTest, FindsEntriesInBothLayouts) {
    struct Case {
        const char* what;
        std::string pack;
        const char* name;
        const char* bytes;
        uint32_t position;
    };
    // Wide slots: data area at 16 + 3 * 40 = 136; narrow: 16 + 3 * 24 = 88.
    std::string narrowZeroTag = MakePack(kThree, false);
    narrowZeroTag[11] = '\0';
    const Case cases[] = {
        {"wide, first entry at offset 0", MakePack(kThree, true), "Archive.ini", "[archive]\r\n", 136},
        {"wide, last entry", MakePack(kThree, true), "Instdata.pak", "PAKDATA!", 136 + 11 + 7},
        {"narrow (tag '1')", MakePack(kThree, false), "extend101.dat", "EXT-101", 88 + 11},
        {"narrow (tag 0)", narrowZeroTag, "Archive.ini", "[archive]\r\n", 88},
        {"letter case ignored", MakePack(kThree, true), "ARCHIVE.ini", "[archive]\r\n", 136},
        {"only the base name counts", MakePack(kThree, true), "sub\\dir\\Instdata.pak", "PAKDATA!", 154},
        {"first of two equal names", MakePack({{"a.bin", "first"}, {"A.BIN", "second"}}, false), "a.bin",
         "first", 16 + 2 * 24},
        {"a 31-byte name fills a wide slot", MakePack({{std::string(31, 'n'), "x"}}, true),
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "x", 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Found f = Lookup(c.pack, c.name);
        EXPECT_EQ(strlen(c.bytes), f.size);
        EXPECT_EQ(c.bytes, f.bytes);
        EXPECT_EQ(c.position, f.dataPosition);
    }
}

TEST_F(PackTest, ForwardSlashIsNoSeparator) {
    EXPECT_EQ(0u, Lookup(MakePack(kThree, true), "sub/Archive.ini").size);
}

TEST_F(PackTest, EmptyPackReadsOnlyTheHeader) {
    PlatResetFaults();
    EXPECT_EQ(0u, Lookup(MakeRawPack('2', 0, {}, 32, "trailing"), "Archive.ini").size);
    EXPECT_EQ(1, PlatCallCount(PLAT_OP_READ));
}

// Packs that no honest writer makes: each must come back as "no such entry",
// never as a crash or as bytes from somewhere else.
TEST_F(PackTest, MalformedPacksFindNothing) {
    struct Case {
        const char* what;
        std::string pack;
    };
    std::string data = "0123456789";
    const Case cases[] = {
        {"shorter than a header", std::string("VELA", 4)},
        {"header cut at 13 bytes", MakeRawPack('2', 1, {{"Archive.ini", 0, 1}}, 32, data).substr(0, 13)},
        {"table cut short", MakeRawPack('2', 1, {{"Archive.ini", 0, 4}}, 32, data).substr(0, 40)},
        {"count whose table overflows 32 bits", MakeRawPack('2', 0x08000000u, {{"Archive.ini", 0, 4}}, 32, data)},
        {"count far beyond the file", MakeRawPack('1', 0x0A000000u, {{"Archive.ini", 0, 4}}, 16, data)},
        {"offset of 2^31", MakeRawPack('2', 1, {{"Archive.ini", 0x80000000u, 4}}, 32, data)},
        {"offset of 2^32 - 1", MakeRawPack('2', 1, {{"Archive.ini", 0xFFFFFFFFu, 1}}, 32, data)},
        {"entry running past the end", MakeRawPack('2', 1, {{"Archive.ini", 8, 3}}, 32, data)},
        {"size of 2^32 - 1", MakeRawPack('2', 1, {{"Archive.ini", 0, 0xFFFFFFFFu}}, 32, data)},
        {"size zero", MakeRawPack('2', 1, {{"Archive.ini", 0, 0}}, 32, data)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlatResetFaults();
        EXPECT_EQ(0u, Lookup(c.pack, "Archive.ini").size);
        // No block is ever taken for a table the file cannot hold.
        EXPECT_LE(PlatCallCount(PLAT_OP_ALLOC), 2);
    }
    // The last byte of the data area is still reachable.
    EXPECT_EQ("89", Lookup(MakeRawPack('2', 1, {{"Archive.ini", 8, 2}}, 32, data), "Archive.ini").bytes);
}

TEST_F(PackTest, SlotWithoutNulIsComparedWithinTheSlot) {
    // Slot 0 holds 16 bytes and no NUL; slot 1 follows right after it.
    std::string full(16, 'k');
    std::string pack = MakeRawPack('1', 2, {{full, 0, 1}, {"tail", 1, 1}}, 16, "AB");
    EXPECT_EQ("A", Lookup(pack, full.c_str()).bytes);
    // Reading on into the next slot would have made this name.
    EXPECT_EQ(0u, Lookup(pack, (full + "tail").c_str()).size);
    EXPECT_EQ("B", Lookup(pack, "tail").bytes);
}

TEST_F(PackTest, PlatformFailuresFindNothing) {
    const std::string pack = MakePack(kThree, true);
    const fixture::FaultCase cases[] = {
        {"header block", PLAT_OP_ALLOC, 0, PLAT_FAULT_FAIL},
        {"table block", PLAT_OP_ALLOC, 1, PLAT_FAULT_FAIL},
        {"header read fails", PLAT_OP_READ, 0, PLAT_FAULT_FAIL},
        {"table read fails", PLAT_OP_READ, 1, PLAT_FAULT_FAIL},
        {"table read comes up short", PLAT_OP_READ, 1, PLAT_FAULT_SHORT},
        {"pack size unknown", PLAT_OP_SIZE, 0, PLAT_FAULT_FAIL},
        {"seek fails", PLAT_OP_SEEK, 0, PLAT_FAULT_FAIL},
    };
    for (const fixture::FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        fixture::Arm(c);
        EXPECT_EQ(0u, Lookup(pack, "extend101.dat").size);
    }
}

}  // namespace
