// The file update run: what lands in the installation folder, and what the
// user is told when it cannot.
#include <gtest/gtest.h>

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "engine.h"
#include "fixture.h"
#include "../../resources/texts.h"

using fixture::FaultGuard;
using fixture::FileExists;
using fixture::MakeDir;
using fixture::MakePack;
using fixture::MessageRecorder;
using fixture::ReadFile;
using fixture::ScratchDir;
using fixture::SetReadOnly;
using fixture::WriteFile;

namespace {

const char* const kNames[] = {"Archive.ini", "extend101.dat", "Instdata.pak"};

std::string NewBytes(int i) { return "new-" + std::string(kNames[i]) + std::string(100 + i * 37, char('a' + i)); }
std::string OldBytes(int i) { return "old-" + std::string(kNames[i]) + std::string(5000, char('A' + i)); }

std::string Text(const char* format, const char* name) {
    char text[512];
    snprintf(text, sizeof text, format, name);
    return text;
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        game = dir.Join("game");
        ASSERT_TRUE(MakeDir(game));
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteFile(InGame(kNames[i]), OldBytes(i)));
    }

    std::string InGame(const std::string& name) const { return game + "\\" + name; }

    std::string GameFile(int i) const {
        std::string bytes;
        EXPECT_TRUE(ReadFile(InGame(kNames[i]), &bytes));
        return bytes;
    }

    void WritePack(bool wide) {
        ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME,
                              MakePack({{kNames[0], NewBytes(0)}, {kNames[1], NewBytes(1)}, {kNames[2], NewBytes(2)}},
                                       wide)));
    }

    void WriteLoose() {
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteFile(kNames[i], NewBytes(i)));
    }

    // Only the three game files remain: no temporary file is left behind.
    void ExpectNoLeftovers() const {
        std::error_code ec;
        int files = 0;
        for (auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir.path()) / "game", ec)) {
            ++files;
            EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp")) << entry.path();
        }
        EXPECT_EQ(3, files);
    }

    ScratchDir dir;
    FaultGuard faults;
    MessageRecorder messages;
    std::string game;
    PlatWindow owner = reinterpret_cast<PlatWindow>(0x1234);
};

TEST_F(UpdateTest, WritesEveryFileFromThePackInBothLayouts) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "wide" : "narrow");
        WritePack(wide);
        EXPECT_EQ(1, ApplyUpdateFiles(owner, game.c_str()));
        // Each old file was longer: the new one has exactly the new bytes.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(NewBytes(i), GameFile(i));
        EXPECT_TRUE(messages.messages().empty());
        ExpectNoLeftovers();
    }
}

TEST_F(UpdateTest, LooseFilesWinAndThePackIsNeverOpened) {
    WriteLoose();
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, "not a pack at all"));
    PlatResetFaults();
    EXPECT_EQ(1, ApplyUpdateFiles(owner, game.c_str()));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(NewBytes(i), GameFile(i));
    EXPECT_EQ(3, PlatCallCount(PLAT_OP_OPEN_READ));
}

TEST_F(UpdateTest, RunInTheInstallationFolderWritesTheGameFilesBackUnchanged) {
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{kNames[0], "packed"}}, true)));
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::path(dir.path()) / "game", ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(1, ApplyUpdateFiles(owner, game.c_str()));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(OldBytes(i), GameFile(i));
    ExpectNoLeftovers();
}

TEST_F(UpdateTest, ZeroByteLooseFileWritesAnEmptyDestination) {
    WriteLoose();
    ASSERT_TRUE(WriteFile(kNames[1], ""));
    EXPECT_EQ(1, ApplyUpdateFiles(owner, game.c_str()));
    EXPECT_EQ("", GameFile(1));
}

TEST_F(UpdateTest, ReadOnlyDestinationStopsTheRunAtThatFile) {
    WriteLoose();
    ASSERT_TRUE(SetReadOnly(InGame(kNames[1]), true));
    EXPECT_EQ(0, ApplyUpdateFiles(owner, game.c_str()));
    SetReadOnly(InGame(kNames[1]), false);

    EXPECT_EQ(NewBytes(0), GameFile(0));  // before the failure: replaced
    EXPECT_EQ(OldBytes(1), GameFile(1));  // the failure: as it was
    EXPECT_EQ(OldBytes(2), GameFile(2));  // after it: untouched
    ASSERT_EQ(1u, messages.messages().size());
    const fixture::MessageRecord& m = messages.messages()[0];
    EXPECT_EQ(Text(TEXT_CANNOT_WRITE, "extend101.dat"), m.text);
    EXPECT_EQ(std::string(TEXT_ERROR_CAPTION), m.caption);
    EXPECT_EQ(PLAT_MB_OK, m.buttons);
    EXPECT_EQ(owner, m.owner);
    ExpectNoLeftovers();
}

TEST_F(UpdateTest, MissingSourceIsReportedAndNothingIsWrittenForIt) {
    // Archive.ini loose; extend101.dat nowhere; a zero-size pack entry for
    // Instdata.pak would be the same, as it cannot be told from a missing one.
    ASSERT_TRUE(WriteFile(kNames[0], NewBytes(0)));
    ASSERT_TRUE(WriteFile(UPDATE_PACK_NAME, MakePack({{kNames[2], ""}}, true)));
    EXPECT_EQ(0, ApplyUpdateFiles(owner, game.c_str()));
    EXPECT_EQ(NewBytes(0), GameFile(0));
    EXPECT_EQ(OldBytes(1), GameFile(1));
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(Text(TEXT_CANNOT_READ, "extend101.dat"), messages.messages()[0].text);
    EXPECT_EQ(std::string(TEXT_ERROR_CAPTION), messages.messages()[0].caption);

    messages.Clear();
    ASSERT_TRUE(WriteFile(kNames[1], NewBytes(1)));
    EXPECT_EQ(0, ApplyUpdateFiles(owner, game.c_str()));
    EXPECT_EQ(OldBytes(2), GameFile(2));
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(Text(TEXT_CANNOT_READ, "Instdata.pak"), messages.messages()[0].text);
}

// Every way the platform can let the second file down: the first file stays
// replaced, the second keeps its old bytes, the third is untouched, no
// temporary file is left, and exactly one box names the second file.
TEST_F(UpdateTest, EveryFailureOfTheSecondFileKeepsItWhole) {
    struct Case {
        const char* what;
        PlatOp op;
        int skip;  // calls of op made for the first file (and before the one to fail)
        PlatFault fault;
        const char* format;
    };
    // Per file from loose sources: alloc record, alloc block; open; size;
    // read; create; write; flush; replace.
    const Case cases[] = {
        {"source record", PLAT_OP_ALLOC, 2, PLAT_FAULT_FAIL, TEXT_CANNOT_READ},
        {"data block", PLAT_OP_ALLOC, 3, PLAT_FAULT_FAIL, TEXT_CANNOT_WRITE},
        {"source size", PLAT_OP_SIZE, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_READ},
        {"read fails", PLAT_OP_READ, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_READ},
        {"read comes up short", PLAT_OP_READ, 1, PLAT_FAULT_SHORT, TEXT_CANNOT_READ},
        {"create fails", PLAT_OP_CREATE, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_WRITE},
        {"write fails", PLAT_OP_WRITE, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_WRITE},
        {"write comes up short (disk full)", PLAT_OP_WRITE, 1, PLAT_FAULT_SHORT, TEXT_CANNOT_WRITE},
        {"flush fails", PLAT_OP_FLUSH, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_WRITE},
        {"replace fails (game holds the file)", PLAT_OP_REPLACE, 1, PLAT_FAULT_FAIL, TEXT_CANNOT_WRITE},
    };
    WriteLoose();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteFile(InGame(kNames[i]), OldBytes(i)));
        messages.Clear();
        PlatResetFaults();
        PlatSetFault(c.op, c.skip, 1, c.fault);

        EXPECT_EQ(0, ApplyUpdateFiles(owner, game.c_str()));
        EXPECT_EQ(NewBytes(0), GameFile(0));
        EXPECT_EQ(OldBytes(1), GameFile(1));
        EXPECT_EQ(OldBytes(2), GameFile(2));
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(Text(c.format, "extend101.dat"), messages.messages()[0].text);
        ExpectNoLeftovers();
    }
}

TEST_F(UpdateTest, FolderTooLongForAPathIsAFileThatCannotBeWritten) {
    WriteLoose();
    // folder + "\" + "Archive.ini" = 260 characters: one too many.
    const std::string folder(260 - 1 - 11, 'f');
    EXPECT_EQ(0, ApplyUpdateFiles(owner, folder.c_str()));
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(Text(TEXT_CANNOT_WRITE, "Archive.ini"), messages.messages()[0].text);
    EXPECT_EQ(0, PlatCallCount(PLAT_OP_OPEN_READ));
}

TEST_F(UpdateTest, TableWalksTheThreeFilesInOrder) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(kNames[i], UPDATE_FILES.source[i]);
        EXPECT_STREQ(kNames[i], UPDATE_FILES.destination[i]);
    }
    EXPECT_STREQ("", UPDATE_FILES.source[3]);
    EXPECT_STREQ("", UPDATE_FILES.destination[3]);
}

#ifdef _WIN32
// The running game holds its file open without write or delete sharing: the
// replace is refused, and the file keeps every old byte.
TEST_F(UpdateTest, DestinationHeldOpenByTheGameKeepsItsBytes) {
    WriteLoose();
    HANDLE held = CreateFileA(InGame(kNames[1]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, ApplyUpdateFiles(owner, game.c_str()));
    CloseHandle(held);

    EXPECT_EQ(NewBytes(0), GameFile(0));
    EXPECT_EQ(OldBytes(1), GameFile(1));
    EXPECT_EQ(OldBytes(2), GameFile(2));
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(Text(TEXT_CANNOT_WRITE, "extend101.dat"), messages.messages()[0].text);
    ExpectNoLeftovers();
}
#endif

}  // namespace
