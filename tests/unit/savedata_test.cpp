// The save folder lookup and the purge, against real files: natively through
// the posix layer, under Wine through DeleteFileA itself.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine.h"
#include "fixture.h"
#include "frontend.h"
#include "savedata.h"

using namespace std::string_literals;

namespace {

using fixture::FileExists;
using fixture::MakeDir;
using fixture::WriteFile;

// A scratch folder as the current directory, with the installation folder
// "game" inside it recorded in g_installRecord. Paths use '\' on both sides.
struct SaveScene {
    fixture::ScratchDir dir;
    fixture::FaultGuard faults;
    fixture::MessageRecorder messages;
    InstallRecord saved = g_installRecord;
    std::string game = dir.path() + "\\game";
    std::string defaultFolder = game + "\\save";

    SaveScene() {
        SetInstallFolder(game);
        MakeDir(defaultFolder);
    }
    ~SaveScene() { g_installRecord = saved; }

    static void SetInstallFolder(const std::string& folder) {
        memset(g_installRecord.folder, 0, sizeof g_installRecord.folder);
        memcpy(g_installRecord.folder, folder.data(), folder.size());
    }
    // text with every "<dir>" replaced by the scratch folder.
    std::string Expand(std::string text) const {
        for (size_t at; (at = text.find("<dir>")) != std::string::npos;)
            text.replace(at, 5, dir.path());
        return text;
    }
    std::string SaveFolder() const {
        char buffer[PATH_BUFFER_SIZE];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(1, GetSaveFolder(buffer, sizeof buffer));
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
};

void Plant(const std::string& folder, const std::vector<std::string>& names) {
    MakeDir(folder);
    for (const std::string& name : names) ASSERT_TRUE(WriteFile(folder + "\\" + name, name));
}

std::vector<std::string> FullSet() {
    std::vector<std::string> names = {"syssave.dat", "qsave.sav", "qsave.gra"};
    char name[16];
    for (int slot = 0; slot < 1000; ++slot) {
        snprintf(name, sizeof name, "save%03d.sav", slot);
        names.push_back(name);
        snprintf(name, sizeof name, "thumb%03d.gra", slot);
        names.push_back(name);
    }
    return names;
}

const std::vector<std::string> SAMPLE = {"syssave.dat", "qsave.gra", "save000.sav", "save999.sav",
                                         "thumb999.gra"};

TEST(SavePurge, DeletesEverySaveAndNothingElse) {
    SaveScene scene;
    const std::string& folder = scene.defaultFolder;
    std::vector<std::string> saves = FullSet();
    saves.erase(saves.begin() + 3 + 2 * 500 + 1);  // thumb500.gra is a folder here
    Plant(folder, saves);
    const std::vector<std::string> neighbours = {
        "save1000.sav", "save05.sav", "thumb1000.gra", "thumb05.gra", "save000.bak",
        "save000.sav.bak", "qsave.dat", "syssave.sav", "config.ini", "save-1.sav"};
    Plant(folder, neighbours);
    Plant(folder + "\\sub", {"syssave.dat", "save000.sav", "thumb000.gra"});
    Plant(folder + "\\thumb500.gra", {"save001.sav"});

    DeleteSaveData();

    EXPECT_EQ(2003, PlatCallCount(PLAT_OP_DELETE));
    int left = 0;
    for (const std::string& name : saves) left += FileExists(folder + "\\" + name);
    EXPECT_EQ(0, left);
    for (const std::string& name : neighbours) EXPECT_TRUE(FileExists(folder + "\\" + name)) << name;
    EXPECT_TRUE(FileExists(folder + "\\sub\\syssave.dat"));
    EXPECT_TRUE(FileExists(folder + "\\sub\\save000.sav"));
    EXPECT_TRUE(FileExists(folder + "\\sub\\thumb000.gra"));
    EXPECT_TRUE(FileExists(folder + "\\thumb500.gra\\save001.sav"));
    EXPECT_TRUE(scene.messages.messages().empty());
}

// Making the n-th deletion fail keeps exactly the file that belongs there.
TEST(SavePurge, DeletionOrder) {
    const struct {
        int index;
        const char* name;
    } cases[] = {
        {0, "syssave.dat"},    {1, "qsave.sav"},      {2, "qsave.gra"},
        {3, "save000.sav"},    {4, "thumb000.gra"},   {5, "save001.sav"},
        {24, "thumb010.gra"},  {249, "save123.sav"},  {1003, "save500.sav"},
        {2001, "save999.sav"}, {2002, "thumb999.gra"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SaveScene scene;
        Plant(scene.defaultFolder, {c.name});
        PlatSetFault(PLAT_OP_DELETE, c.index, 1, PLAT_FAULT_FAIL);
        DeleteSaveData();
        EXPECT_TRUE(FileExists(scene.defaultFolder + "\\" + c.name));
        EXPECT_EQ(2003, PlatCallCount(PLAT_OP_DELETE));
    }
}

TEST(SavePurge, ReadOnlySaveIsPassedOverSilently) {
    SaveScene scene;
    Plant(scene.defaultFolder, SAMPLE);
    Plant(scene.defaultFolder, {"save007.sav"});
    ASSERT_TRUE(fixture::SetReadOnly(scene.defaultFolder + "\\save007.sav", true));

    DeleteSaveData();

    EXPECT_TRUE(FileExists(scene.defaultFolder + "\\save007.sav"));
    for (const std::string& name : SAMPLE)
        EXPECT_FALSE(FileExists(scene.defaultFolder + "\\" + name)) << name;
    EXPECT_EQ(2003, PlatCallCount(PLAT_OP_DELETE));
    EXPECT_TRUE(scene.messages.messages().empty());
}

TEST(SavePurge, NoBlockNoDeletion) {
    for (PlatOp op : {PLAT_OP_ALLOC, PLAT_OP_HEAP_ALLOC}) {
        SCOPED_TRACE(op == PLAT_OP_ALLOC ? "folder block" : "path buffer");
        SaveScene scene;
        Plant(scene.defaultFolder, SAMPLE);
        PlatSetFault(op, 0, 1, PLAT_FAULT_FAIL);
        EXPECT_EQ(0, DeleteSaveData());
        EXPECT_EQ(0, PlatCallCount(PLAT_OP_DELETE));
        for (const std::string& name : SAMPLE)
            EXPECT_TRUE(FileExists(scene.defaultFolder + "\\" + name)) << name;
        EXPECT_TRUE(scene.messages.messages().empty());
    }
}

// Which of the planted folders the purge empties (indexes into `folders` below).
enum Purged { PURGED_NONE = -1, PURGED_DEFAULT, PURGED_CUSTOM, PURGED_RELATIVE };

TEST(SaveFolder, InstallIni) {
    const char* DEFAULT = "<dir>\\game\\save";
    const char* REST = "<rest>";  // what follows "save=", up to its first NUL
    const struct {
        const char* label;
        bool present;
        std::string head;  // "<dir>" stands for the scratch folder
        size_t padTo;      // 'x' appended until the part after "save=" is this long
        std::string tail;
        const char* folder;
        Purged purged;
    } cases[] = {
        {"no Install.ini", false, "", 0, "", DEFAULT, PURGED_DEFAULT},
        {"3 bytes", true, "sav", 0, "", DEFAULT, PURGED_DEFAULT},
        {"capital S", true, "Save=<dir>\\custom", 0, "", DEFAULT, PURGED_DEFAULT},
        {"other key", true, "path=<dir>\\custom", 0, "", DEFAULT, PURGED_DEFAULT},
        {"folder", true, "save=<dir>\\custom", 0, "", "<dir>\\custom", PURGED_CUSTOM},
        {"folder and line end", true, "save=<dir>\\custom\r\n", 0, "", "<dir>\\custom\r\n",
         PURGED_NONE},
        {"relative folder", true, "save=rel", 0, "", "rel", PURGED_RELATIVE},
        {"save= alone", true, "save=", 0, "", DEFAULT, PURGED_DEFAULT},
        {"NUL first", true, "save=\0<dir>\\custom"s, 0, "", DEFAULT, PURGED_DEFAULT},
        {"NUL inside", true, "save=<dir>\\custom\0<dir>\\rel"s, 0, "", "<dir>\\custom",
         PURGED_CUSTOM},
        {"NUL inside a long rest", true, "save=<dir>\\custom\0"s, 400, "", "<dir>\\custom",
         PURGED_CUSTOM},
        {"259 characters", true, "save=<dir>\\custom\\", 259, "", REST, PURGED_NONE},
        {"259 characters, NUL", true, "save=<dir>\\custom\\", 259, "\0more"s, REST, PURGED_NONE},
        {"260 characters", true, "save=<dir>\\custom\\", 260, "", DEFAULT, PURGED_DEFAULT},
        {"260 characters, NUL", true, "save=<dir>\\custom\\", 260, "\0"s, DEFAULT, PURGED_DEFAULT},
        {"over-long", true, "save=<dir>\\custom\\", 400, "", DEFAULT, PURGED_DEFAULT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SaveScene scene;
        std::string ini = scene.Expand(c.head);
        if (ini.size() < 5 + c.padTo) ini.append(5 + c.padTo - ini.size(), 'x');
        ini += c.tail;
        if (c.present) {
            ASSERT_TRUE(WriteFile(scene.game + "\\Install.ini", ini));
        }
        std::string rest = ini.size() > 5 ? ini.substr(5) : "";
        rest = rest.substr(0, rest.find('\0'));

        std::string expected = c.folder == REST ? rest : scene.Expand(c.folder);
        EXPECT_EQ(expected, scene.SaveFolder());

        // The relative folder is looked for in the current directory, not in
        // the installation folder.
        const std::string folders[] = {scene.defaultFolder, scene.Expand("<dir>\\custom"),
                                       scene.Expand("<dir>\\rel"), scene.game + "\\rel"};
        for (const std::string& folder : folders) Plant(folder, SAMPLE);
        DeleteSaveData();
        for (int f = 0; f < 4; ++f) {
            bool purged = f == static_cast<int>(c.purged);
            for (const std::string& name : SAMPLE)
                EXPECT_EQ(!purged, FileExists(folders[f] + "\\" + name)) << folders[f] << " " << name;
        }
        EXPECT_TRUE(scene.messages.messages().empty());
    }
}

// Whatever goes wrong while reading Install.ini, the default folder stands;
// a folder read only in part is never taken.
TEST(SaveFolder, InstallIniReadFailure) {
    const fixture::FaultCase cases[] = {
        {"open", PLAT_OP_OPEN_READ, 0, PLAT_FAULT_FAIL},
        {"size", PLAT_OP_SIZE, 0, PLAT_FAULT_FAIL},
        {"stream record", PLAT_OP_ALLOC, 0, PLAT_FAULT_FAIL},
        {"key read", PLAT_OP_READ, 0, PLAT_FAULT_FAIL},
        {"key read short", PLAT_OP_READ, 0, PLAT_FAULT_SHORT},
        {"folder read", PLAT_OP_READ, 1, PLAT_FAULT_FAIL},
        {"folder read short", PLAT_OP_READ, 1, PLAT_FAULT_SHORT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SaveScene scene;
        ASSERT_TRUE(WriteFile(scene.game + "\\Install.ini", scene.Expand("save=<dir>\\custom")));
        fixture::Arm(c);
        EXPECT_EQ(scene.defaultFolder, scene.SaveFolder());
    }
}

// installation folder + "\save" fills the buffer exactly at 254 characters;
// at 255 there is no folder at all, and no deletion is tried.
TEST(SaveFolder, InstallationFolderTooLong) {
    SaveScene scene;
    char buffer[PATH_BUFFER_SIZE];

    SaveScene::SetInstallFolder(std::string(254, 'g'));
    EXPECT_EQ(std::string(254, 'g') + "\\save", scene.SaveFolder());

    SaveScene::SetInstallFolder(std::string(255, 'g'));
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(0, GetSaveFolder(buffer, sizeof buffer));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0, DeleteSaveData());
    EXPECT_EQ(0, PlatCallCount(PLAT_OP_DELETE));
}

// A save folder of n characters: names whose path would not fit in 259 are
// skipped ("\thumb000.gra" is 13 long, "\save000.sav" and "\syssave.dat" 12,
// "\qsave.sav" 10).
TEST(SavePurge, PathsThatDoNotFitAreSkipped) {
    const struct {
        size_t length;
        int deletions;
    } cases[] = {{246, 2003}, {247, 1003}, {248, 2}, {249, 2}, {250, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        SaveScene scene;
        std::string folder = scene.dir.path() + "\\";
        folder.append(c.length - folder.size(), 'x');
        ASSERT_TRUE(WriteFile(scene.game + "\\Install.ini", "save=" + folder));
        ASSERT_EQ(folder, scene.SaveFolder());
        PlatResetFaults();
        DeleteSaveData();
        EXPECT_EQ(c.deletions, PlatCallCount(PLAT_OP_DELETE));
    }
}

}  // namespace
