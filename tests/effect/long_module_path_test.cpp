// An executable path too long for the settings path: on real folders, the file of the folder
// that the cut path would name is neither read nor written, and no file appears anywhere.
#include "effect/settings_dialog.h"
#include "effect/settings_file.h"

#include "dialog.h"
#include "resources/resource_ids.h"
#include "standin.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

// GetModuleFileNameA is given room for this many characters, NUL included.
constexpr size_t ModulePathRoom = 320;
const char Planted[] = "[TestScreenSaver]\r\nwait=77\r\nkomakasa=3\r\ncolmode=2\r\n";

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* directory = opendir(folder.c_str())) {
        while (dirent* entry = readdir(directory)) names.insert(entry->d_name);
        closedir(directory);
    }
    return names;
}

class LongModulePath : public ::testing::Test {
protected:
    void SetUp() override {
        StartFreshProcess();
        char pattern[] = "/tmp/kelvo-long-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base = pattern;
    }

    void TearDown() override {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            std::remove((*it + "/kelvo.ini").c_str());
            rmdir(it->c_str());
        }
        rmdir(base.c_str());
    }

    // A folder under base whose module path ("<folder>/kelvo.scr") is exactly that long, made of two levels so that a
    // cut inside the second leaves a path into the first: the wrong folder, which gets a settings file of its own.
    std::string FolderForModuleLength(size_t length) {
        const std::string scr = "/kelvo.scr";
        outer = base + "/" + std::string(120, 'o');
        size_t innerLength = length - outer.size() - 1 - scr.size();
        std::string inner = outer + "/" + std::string(innerLength, 'i');
        mkdir(outer.c_str(), 0755);
        mkdir(inner.c_str(), 0755);
        made = {outer, inner};
        std::ofstream(outer + "/kelvo.ini", std::ios::binary) << Planted;
        standin::moduleFileName = SaverFolder::WindowsPath(inner + scr);
        EXPECT_EQ(standin::moduleFileName.size(), length);
        return inner;
    }

    std::string base;
    std::string outer;
    std::vector<std::string> made;
};

TEST_F(LongModulePath, APathThatFitsReadsItsOwnFolder) {
    const std::string inner = FolderForModuleLength(ModulePathRoom - 1);
    std::ofstream(inner + "/kelvo.ini", std::ios::binary) << "[TestScreenSaver]\r\nkomakasa=21\r\n";
    LoadSettings();
    EXPECT_EQ(SaverSettings.komakasa, 21);
}

// One character more and GetModuleFileNameA cuts the path: the settings are the defaults, not those of the folder the
// cut path names, and OK still ends the dialog as confirmed while writing no file, there or anywhere else.
TEST_F(LongModulePath, ACutPathGivesTheDefaultsAndOkWritesNothing) {
    for (size_t length : {ModulePathRoom, ModulePathRoom + 1, ModulePathRoom + 200}) {
        SCOPED_TRACE(length);
        const std::string inner = FolderForModuleLength(length);
        const std::set<std::string> before = Entries(outer), beforeInner = Entries(inner);
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        const std::set<std::string> beforeHere = Entries(here);

        LoadSettings();
        EXPECT_EQ(std::vector<LONG>({SaverSettings.wait, SaverSettings.komakasa, SaverSettings.colmode}),
                  std::vector<LONG>({40, 8, 0}));

        standin::dialogScript = [](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); };
        EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDialogProc, 0), IDOK);
        EXPECT_EQ(standin::FindDialogControl(standin::dialogs.back().handle, IDC_KOMAKASA_EDIT)->text, "8");
        EXPECT_EQ(standin::CountCalls("WritePrivateProfileStringW"), 0);
        EXPECT_EQ(SaverFolder::ReadFile(outer + "/kelvo.ini"), Planted);
        EXPECT_EQ(Entries(outer), before);
        EXPECT_EQ(Entries(inner), beforeInner);
        EXPECT_EQ(Entries(here), beforeHere);
        TearDown();
        SetUp();
    }
}

}  // namespace
