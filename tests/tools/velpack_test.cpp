// velpack: packs it makes read back through the engine byte for byte; what it
// refuses leaves nothing behind; list and verify report what the updater
// would not see.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "engine.h"
#include "fixture.h"
#include "velpack.h"

using fixture::FaultGuard;
using fixture::FileExists;
using fixture::MakeDir;
using fixture::MakeRawPack;
using fixture::ReadFile;
using fixture::ScratchDir;
using fixture::WriteFile;

namespace {

std::string g_out, g_err;
void Capture(int toError, const char* text) { (toError ? g_err : g_out) += text; }

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Velpack(std::vector<std::string> args) {
    args.insert(args.begin(), "velpack");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    g_out.clear();
    g_err.clear();
    VelpackSetPrintHook(Capture);
    int code = VelpackMain(static_cast<int>(args.size()), argv.data());
    VelpackSetPrintHook(nullptr);
    return Result{code, g_out, g_err};
}

// Every file below the current directory, sorted, with '/' separators.
std::vector<std::string> Tree() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator("."))
        if (e.is_regular_file())
            names.push_back(std::filesystem::relative(e.path(), ".").generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

// A file of `size` bytes that takes no room on disk.
bool MakeSparse(const std::string& path, uint64_t size) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
#else
    std::error_code ec;
    if (!WriteFile(path, "")) return false;
    std::filesystem::resize_file(path, size, ec);
    return !ec;
#endif
}

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// Whole-file writes and reads through the platform layer, whose paths are
// ANSI bytes as velpack's are (code page 932 names included).
bool PutFile(const std::string& path, const std::string& bytes) {
    PlatFile f = PlatCreateWrite(path.c_str());
    if (f == PLAT_INVALID_FILE) return false;
    uint32_t written = 0;
    bool ok = PlatWrite(f, bytes.data(), static_cast<uint32_t>(bytes.size()), &written) &&
              written == bytes.size();
    PlatClose(f);
    return ok;
}

std::string GetFile(const std::string& path) {
    PlatFile f = PlatOpenRead(path.c_str());
    if (f == PLAT_INVALID_FILE) return "<none>";
    uint32_t size = 0, high = 0, got = 0;
    PlatFileSize(f, &size, &high);
    std::string bytes(size, '\0');
    if (size) PlatRead(f, &bytes[0], size, &got);
    PlatClose(f);
    return bytes.substr(0, got);
}

// What the updater reads for name with only the pack in the current directory.
std::string ReadThroughEngine(const char* name, int* kind) {
    SourceStream* s = OpenUpdateSource(name, UPDATE_PACK_NAME);
    if (!s) return "<none>";
    std::string bytes(GetSourceSize(s), '\0');
    *kind = s->kind;
    bool ok = ReadSourceAll(s, &bytes[0]) && WaitSourceRead(s);
    CloseUpdateSource(s);
    return ok ? bytes : "<unreadable>";
}

class VelpackTest : public ::testing::Test {
protected:
    ScratchDir dir;
    FaultGuard faults;
};

TEST_F(VelpackTest, PacksReadBackThroughTheEngineInBothLayouts) {
    struct Layout {
        bool narrow;
        char tag;
        size_t slot;
    };
    for (const Layout& layout : {Layout{false, '2', 32}, Layout{true, '1', 16}}) {
        SCOPED_TRACE(layout.narrow ? "narrow" : "wide");
        ScratchDir inner;
        ASSERT_TRUE(MakeDir("in"));
        // A name that fills its slot but for the NUL, a code page 932 name,
        // and a file larger than one copy chunk.
        const std::string longest = std::string(layout.slot - 1 - 4, 'n') + ".bin";
        struct Item {
            std::string name;
            std::string bytes;
        };
        const std::vector<Item> items = {
            {"Archive.ini", "[Archive]\r\nversion=1010\r\n"},
            {"extend101.dat", std::string("\0\x01\xFF\x5C", 4) + Bytes(4093, 1)},
            {"Instdata.pak", Bytes((1u << 20) + 4321, 2)},
            {longest, "x"},
            {"更新データ.bin", Bytes(77, 3)},
        };
        std::vector<std::string> args = {"create", UPDATE_PACK_NAME};
        for (const Item& it : items) {
            ASSERT_TRUE(PutFile("in\\" + it.name, it.bytes));
            args.push_back("in\\" + it.name);
        }
        if (layout.narrow) args.push_back("--narrow");
        Result run = Velpack(args);
        ASSERT_EQ(0, run.code) << run.err;

        std::string pack;
        ASSERT_TRUE(ReadFile(UPDATE_PACK_NAME, &pack));
        EXPECT_EQ(VELPACK_FILLER, pack.substr(0, 11));
        EXPECT_EQ(layout.tag, pack[11]);
        EXPECT_EQ(std::string("\x05\0\0\0", 4), pack.substr(12, 4));
        size_t total = 16 + items.size() * (layout.slot + 8);
        for (const Item& it : items) total += it.bytes.size();
        EXPECT_EQ(total, pack.size());

        for (const Item& it : items) {
            SCOPED_TRACE(it.name);
            int kind = -1;
            EXPECT_TRUE(ReadThroughEngine(it.name.c_str(), &kind) == it.bytes);
            EXPECT_EQ(SOURCE_PACK, kind);
        }

        std::vector<std::string> check = {"verify", UPDATE_PACK_NAME};
        std::vector<std::string> extract = {"extract", UPDATE_PACK_NAME, "-C", "out"};
        for (const Item& it : items) {
            check.push_back("in\\" + it.name);
            extract.push_back(it.name);
        }
        run = Velpack(check);
        EXPECT_EQ(0, run.code) << run.err;
        ASSERT_TRUE(MakeDir("out"));
        run = Velpack(extract);
        EXPECT_EQ(0, run.code) << run.err;
        for (const Item& it : items) EXPECT_TRUE(GetFile("out\\" + it.name) == it.bytes) << it.name;
        run = Velpack({"list", UPDATE_PACK_NAME});
        EXPECT_EQ(0, run.code);
        EXPECT_EQ("", run.err);
    }
}

// Each refusal names what it refuses, and writes nothing: no pack and no
// temporary file.
TEST_F(VelpackTest, RefusalsWriteNothing) {
    const uint64_t GiB2 = 0x80000000ull;
    struct Input {
        std::string path;
        std::string bytes;
        uint64_t sparse;  // when not 0: a sparse file of this size instead
    };
    struct Case {
        const char* what;
        std::vector<Input> files;
        std::vector<std::string> args;
        const char* message;
        int code;
    };
    const Case cases[] = {
        {"name too long for a wide slot",
         {{std::string(28, 'w') + ".dat", "x", 0}},
         {"create", "out.dat", std::string(28, 'w') + ".dat"},
         "is 32 bytes; a wide name slot holds at most 31",
         1},
        {"name too long for a narrow slot",
         {{"0123456789ab.dat", "x", 0}},
         {"create", "out.dat", "0123456789ab.dat", "--narrow"},
         "is 16 bytes; a narrow name slot holds at most 15",
         1},
        // "ソ" is 0x83 0x5C in code page 932.
        {"backslash as a second byte", {}, {"create", "out.dat", "ソフト.dat"}, "backslash byte", 1},
        {"names equal ignoring case",
         {{"a\\Archive.ini", "1", 0}, {"b\\ARCHIVE.INI", "2", 0}},
         {"create", "out.dat", "a\\Archive.ini", "b\\ARCHIVE.INI"},
         "name 'ARCHIVE.INI' equals 'Archive.ini' ignoring case",
         1},
        {"empty file",
         {{"Archive.ini", "1", 0}, {"empty.dat", "", 0}},
         {"create", "out.dat", "Archive.ini", "empty.dat"},
         "entry 'empty.dat' would be empty",
         1},
        {"missing file", {}, {"create", "out.dat", "nothere.dat"}, "cannot open 'nothere.dat'", 1},
        {"path naming no file", {}, {"create", "out.dat", "in\\"}, "names no file", 1},
        {"offset reaching 2^31",
         {{"big.dat", "", GiB2}, {"after.dat", "1", 0}},
         {"create", "out.dat", "big.dat", "after.dat"},
         "entry 'after.dat' would start at data offset 2147483648",
         1},
        {"pack reaching 4 GiB",
         {{"big1.dat", "", GiB2 - 1}, {"big2.dat", "", GiB2}},
         {"create", "out.dat", "big1.dat", "big2.dat"},
         "with entry 'big2.dat' the pack would be 4294967391 bytes",
         1},
        {"a file of 4 GiB", {{"huge.dat", "", 2 * GiB2}}, {"create", "out.dat", "huge.dat"}, "4 GiB", 1},
        {"no command", {}, {}, "usage:", 2},
        {"create without a file", {}, {"create", "out.dat"}, "create needs OUT", 2},
        {"unknown option", {{"a.dat", "1", 0}}, {"create", "out.dat", "a.dat", "--wide"},
         "unknown option '--wide'", 2},
        {"unknown command", {}, {"pack", "out.dat"}, "unknown command 'pack'", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir inner;
        std::vector<std::string> before;
        for (const Input& in : c.files) {
            if (in.path.find('\\') != std::string::npos) MakeDir(in.path.substr(0, in.path.find('\\')));
            ASSERT_TRUE(in.sparse ? MakeSparse(in.path, in.sparse) : WriteFile(in.path, in.bytes));
        }
        before = Tree();
        Result run = Velpack(c.args);
        EXPECT_EQ(c.code, run.code);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(before, Tree());
    }
}

// A run that fails while writing leaves the old pack as it was, and no
// temporary file.
TEST_F(VelpackTest, FailedWriteKeepsTheOldPack) {
    const fixture::FaultCase cases[] = {
        {"temporary file cannot be created", PLAT_OP_CREATE, 0, PLAT_FAULT_FAIL},
        {"table write fails", PLAT_OP_WRITE, 0, PLAT_FAULT_FAIL},
        {"data write comes up short", PLAT_OP_WRITE, 1, PLAT_FAULT_SHORT},
        {"source read fails", PLAT_OP_READ, 0, PLAT_FAULT_FAIL},
        {"flush fails", PLAT_OP_FLUSH, 0, PLAT_FAULT_FAIL},
        {"rename fails", PLAT_OP_REPLACE, 0, PLAT_FAULT_FAIL},
    };
    ASSERT_TRUE(WriteFile("Archive.ini", "[Archive]"));
    ASSERT_TRUE(WriteFile("extend101.dat", Bytes(5000, 4)));
    for (const fixture::FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFile("out.dat", "the old pack"));
        const std::vector<std::string> before = Tree();
        fixture::Arm(c);
        Result run = Velpack({"create", "out.dat", "Archive.ini", "extend101.dat"});
        PlatResetFaults();
        EXPECT_EQ(1, run.code);
        EXPECT_NE("", run.err);
        std::string pack;
        EXPECT_TRUE(ReadFile("out.dat", &pack));
        EXPECT_EQ("the old pack", pack);
        EXPECT_EQ(before, Tree());
    }
}

// Packs no velpack run writes: list warns, verify fails.
TEST_F(VelpackTest, ListWarnsWhatTheUpdaterWouldNotSee) {
    const std::string data = "0123456789";
    struct Case {
        const char* what;
        std::string pack;
        const char* warning;  // null: a pack without problems
        int listCode;
    };
    const Case cases[] = {
        {"a clean pack", MakeRawPack('2', 2, {{"Archive.ini", 0, 4}, {"Instdata.pak", 4, 6}}, 32, data),
         nullptr, 0},
        {"a later duplicate",
         MakeRawPack('2', 2, {{"Archive.ini", 0, 4}, {"ARCHIVE.ini", 4, 6}}, 32, data),
         "entry 1 'ARCHIVE.ini' is hidden by entry 0 'Archive.ini'", 0},
        {"a zero-size entry", MakeRawPack('1', 2, {{"Archive.ini", 0, 4}, {"Instdata.pak", 4, 0}}, 16, data),
         "entry 1 'Instdata.pak' has size 0", 0},
        {"an entry past the end", MakeRawPack('2', 1, {{"Instdata.pak", 4, 7}}, 32, data),
         "entry 0 'Instdata.pak' ends at 67, past the end of the file (66 bytes)", 0},
        {"an offset of 2^31", MakeRawPack('2', 1, {{"Instdata.pak", 0x80000000u, 1}}, 32, data),
         "beyond the updater's reach", 0},
        {"a slot without NUL", MakeRawPack('1', 1, {{std::string(16, 'k'), 0, 1}}, 16, data),
         "holds no NUL", 0},
        {"a table past the end", MakeRawPack('2', 5, {{"Archive.ini", 0, 1}}, 32, data),
         "runs past the end of the file", 1},
        {"shorter than a header", "VELA", "shorter than the 16-byte header", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFile("test.pack", c.pack));
        Result list = Velpack({"list", "test.pack"});
        Result verify = Velpack({"verify", "test.pack"});
        EXPECT_EQ(c.listCode, list.code);
        if (!c.warning) {
            EXPECT_EQ("", list.err);
            EXPECT_EQ(0, verify.code) << verify.err;
            continue;
        }
        EXPECT_NE(std::string::npos, list.err.find(c.warning)) << list.err;
        EXPECT_EQ(1, verify.code);
        EXPECT_NE(std::string::npos, verify.err.find("FAILED")) << verify.err;
    }
    // The listing shows each entry's absolute position.
    ASSERT_TRUE(WriteFile("test.pack", cases[0].pack));
    Result list = Velpack({"list", "test.pack"});
    EXPECT_NE(std::string::npos, list.out.find("layout:  wide, tag '2'")) << list.out;
    // name, offset, size, position: 16 + 2 * 40 + 4.
    const size_t line = list.out.find("Instdata.pak ");
    ASSERT_NE(std::string::npos, line) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("4          6        100\n", line)) << list.out;
}

TEST_F(VelpackTest, VerifyFailsOnAnyDifference) {
    ASSERT_TRUE(MakeDir("in"));
    const std::string original = Bytes(3000, 5);
    ASSERT_TRUE(WriteFile("in\\Instdata.pak", original));
    ASSERT_TRUE(WriteFile("in\\Archive.ini", "[Archive]"));
    ASSERT_EQ(0, Velpack({"create", "p.dat", "in\\Archive.ini", "in\\Instdata.pak"}).code);

    std::string changed = original;
    changed[2999] ^= 1;
    struct Case {
        const char* what;
        std::string path;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"one byte changed", "Instdata.pak", changed, "differs from entry 'Instdata.pak' at byte 2999"},
        {"one byte more", "Instdata.pak", original + "!", "the file is 3001 bytes, entry 'Instdata.pak' 3000"},
        {"not in the pack", "extend101.dat", "x", "finds no entry 'extend101.dat'"},
        // Here the loose file would win in the updater; the check must still
        // read the entry.
        {"a loose namesake is not the entry", "Archive.ini", "[archive]", "differs from entry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFile(c.path, c.bytes));
        Result run = Velpack({"verify", "p.dat", c.path});
        EXPECT_EQ(1, run.code);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    }
    EXPECT_EQ(0, Velpack({"verify", "p.dat", "in\\Instdata.pak", "in\\Archive.ini"}).code);
}

TEST_F(VelpackTest, ExtractWritesOnlyPlainNamesFromThePack) {
    const std::string pack = MakeRawPack(
        '2', 3, {{"Archive.ini", 0, 4}, {"..", 4, 2}, {"sub/evil.dat", 6, 4}}, 32, "abcdefghij");
    ASSERT_TRUE(WriteFile("test.pack", pack));
    ASSERT_TRUE(WriteFile("archive.ini", "loose"));
    ASSERT_TRUE(MakeDir("out"));

    Result run = Velpack({"extract", "test.pack", "ARCHIVE.INI", "-C", "out"});
    EXPECT_EQ(0, run.code) << run.err;
    std::string bytes;
    // Stored under the entry's own name, with the entry's bytes.
    EXPECT_TRUE(ReadFile("out\\Archive.ini", &bytes));
    EXPECT_EQ("abcd", bytes);

    for (const char* name : {"..", "sub/evil.dat", "missing.dat"}) {
        SCOPED_TRACE(name);
        run = Velpack({"extract", "test.pack", name, "-C", "out"});
        EXPECT_EQ(1, run.code);
    }
    EXPECT_FALSE(FileExists("sub"));
    EXPECT_FALSE(FileExists("out\\sub"));
}

}  // namespace
