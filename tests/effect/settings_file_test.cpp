// The settings file: where it is, what a load makes of it, and the profile files it lives in.
#include "effect/settings_file.h"

#include "profile.h"
#include "standin.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        folder.Enter();
        SaverSettings = SaverSettingsRecord{-7, -7, -7};
    }

    std::string WindowsIniPath() const { return SaverFolder::WindowsPath(folder.IniPath()); }

    SaverFolder folder;
};

void ExpectSettings(LONG wait, LONG komakasa, LONG colmode) {
    EXPECT_EQ(SaverSettings.wait, wait);
    EXPECT_EQ(SaverSettings.komakasa, komakasa);
    EXPECT_EQ(SaverSettings.colmode, colmode);
}

TEST_F(SettingsFile, MissingFileGivesTheDefaults) {
    LoadSettings();
    ExpectSettings(40, 8, 0);
}

// Both families: wide paths in UTF-8 here, 8-bit ones in code page 932. The room is
// counted in characters: 319 of them fit, though here they take 630 bytes.
TEST_F(SettingsFile, PathIsTheExecutablesFolderWithKelvoIniOrEmptyWhenUnknownOrCut) {
    std::string letters;
    for (int i = 0; i < 314; ++i) letters += "ł";
    const std::string longest = "C:\\" + letters + "\\b";  // 319 characters
    enum Family { Newer = 1, Older = 2, Both = 3 };
    struct Case {
        int families;
        std::string module;
        std::string path;
    } cases[] = {
        {Both, "D:\\Savers\\glow.scr", "D:\\Savers\\kelvo.ini"},
        {Both, "D:\\glow.scr", "D:\\kelvo.ini"},
        {Both, "C:\\A\\B\\C\\x.scr", "C:\\A\\B\\C\\kelvo.ini"},
        // No backslash after the first character: the whole path is kept.
        {Both, "\\glow.scr", "\\glow.scrkelvo.ini"},
        {Both, "glow.scr", "glow.scrkelvo.ini"},
        // The last backslash is a character's: in code page 932 the second byte of ソ and
        // 表 is a backslash's value, and 山 is a wide unit with 0x5C in it.
        {Newer, "C:\\Users\\Łódź\\ソード.scr", "C:\\Users\\Łódź\\kelvo.ini"},
        {Newer, "C:\\表\\山.scr", "C:\\表\\kelvo.ini"},
        {Newer, "C:\\Ελληνικά\\Кириллица.scr", "C:\\Ελληνικά\\kelvo.ini"},
        {Older, "C:\\A\\\x83\x5C\x81\x5B\x83\x68.scr", "C:\\A\\kelvo.ini"},     // ソード
        {Older, "C:\\\x95\x5C\\\x95\x5C.scr", "C:\\\x95\x5C\\kelvo.ini"},          // 表
        {Both, "", ""},                                           // GetModuleFileName fails
        {Newer, longest + "c", ""},                               // fills the 320-character buffer
        {Newer, "C:\\" + letters + letters + "\\glow.scr", ""},   // cut by the platform
        {Newer, longest, "C:\\" + letters + "\\kelvo.ini"},        // still fits
    };
    for (bool older : {false, true}) {
        UseFamily(older);
        for (const Case& c : cases) {
            if (!(c.families & (older ? Older : Newer))) continue;
            standin::moduleFileName = c.module;
            FamilyText path;
            std::wmemset(path.wide, L'x', SettingsPathBufferSize);
            SettingsFilePath(path);
            EXPECT_EQ(older ? std::string(path.narrow) : standin::Utf8(path.wide), c.path)
                << c.module.substr(0, 40) << " of " << c.module.size() << (older ? ", older family" : "");
        }
        // Every length: the folder and kelvo.ini while the module path fits, nothing after.
        for (size_t length = 7; length <= 330; ++length) {
            std::string module = "C:\\";
            for (size_t i = 7; i < length; ++i) module += older ? "x" : "ł";
            module += "\\b.s";
            standin::moduleFileName = module;
            FamilyText path;
            SettingsFilePath(path);
            EXPECT_EQ(older ? std::string(path.narrow) : standin::Utf8(path.wide),
                      length < 320 ? module.substr(0, module.size() - 3) + "kelvo.ini" : "")
                << length;
        }
    }
}

TEST_F(SettingsFile, WithoutAPathNothingIsReadAndTheDefaultsHold) {
    standin::moduleFileName = "";
    LoadSettings();
    ExpectSettings(40, 8, 0);
    EXPECT_EQ(standin::CountCalls("GetPrivateProfileIntW"), 0);
}

TEST_F(SettingsFile, KomakasaIsClampedIntoOneToSixtyFour) {
    struct Case {
        const char* text;
        LONG komakasa;
    } cases[] = {
        {"0", 1},          {"1", 1},   {"2", 2},         {"63", 63},          {"64", 64},
        {"65", 64},        {"1000", 64}, {"-5", 1},      {"4294967295", 1},   {"2147483648", 1},
        {"12345678901", 1}, {"99999999999999999999", 64},
    };
    for (const Case& c : cases) {
        folder.WriteIni(std::string("[TestScreenSaver]\r\nkomakasa=") + c.text + "\r\n");
        LoadSettings();
        EXPECT_EQ(SaverSettings.komakasa, c.komakasa) << c.text;
    }
}

// Wait and colmode are stored as read, on either family; whatever the file holds, a load ends with komakasa in range and never crashes.
TEST_F(SettingsFile, AnyContentLoadsAsReadWithKomakasaInRange) {
    struct Case {
        std::string content;
        LONG wait, komakasa, colmode;
    } cases[] = {
        {"[TestScreenSaver]\r\nwait=5\r\n", 5, 8, 0},
        {"[TestScreenSaver]\r\nwait=500\r\ncolmode=7\r\n", 500, 8, 7},
        {"[TestScreenSaver]\r\nwait=-20\r\ncolmode=-1\r\n", -20, 8, -1},
        {"[TestScreenSaver]\r\nwait=4294967295\r\n", -1, 8, 0},
        {"[TestScreenSaver]\r\ncolmode=2\r\n", 40, 8, 2},
        {"[TestScreenSaver]\r\nkomakasa=12\r\nwait=100\r\ncolmode=1\r\n", 100, 12, 1},
        {"", 40, 8, 0},
        {"garbage \x01\x02\xff\xfe no equals\n====\n[[[\n]]]\n", 40, 8, 0},
        {"[TestScreenSaver]\r\nkomakasa=\r\nwait=\r\ncolmode=\r\n", 40, 8, 0},  // empty values count as missing
        {"[TestScreenSaver]\r\nkomakasa=abc\r\nwait=-\r\n", 0, 1, 0},
        {"[TestScreenSaver]\nkomakasa=12abc\nwait= 25 \ncolmode=+2\n", 25, 12, 2},
        {"[testscreensaver]\nKOMAKASA=3\nWait=60\n", 60, 3, 0},
        {"  [ TestScreenSaver ]  \n  komakasa  =  5  \n", 40, 5, 0},
        {"[TestScreenSaver]\nkomakasa=\"12\"\nwait='30'\n", 30, 12, 0},
        {"[Other]\nkomakasa=3\n", 40, 8, 0},
        {"komakasa=3\nwait=9\n", 40, 8, 0},
        {"[TestScreenSaver]\nkomakasa=5\nkomakasa=9\n[TestScreenSaver]\nwait=7\n", 40, 5, 0},
        {"[TestScreenSaver]\rkomakasa=6\rwait=70\r", 70, 6, 0},
        {std::string("[TestScreenSaver]\nkomakasa=7\0junk\nwait=\0\n", 41), 40, 7, 0},
        // Read through a 30-character buffer: 29 nines, which wrap to a negative value.
        {"[TestScreenSaver]\nkomakasa=" + std::string(5000, '9') + "\n", 40, 1, 0},
        {"[TestScreenSaver]\nkomakasa=" + std::string(5000, '\xff') + "\n", 40, 1, 0},
    };
    for (bool older : {false, true}) {
        UseFamily(older);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.content.substr(0, 60) + (older ? ", older family" : ""));
            folder.WriteIni(c.content);
            LoadSettings();
            ExpectSettings(c.wait, c.komakasa, c.colmode);
        }
    }
}

// Another program may save the file as UTF-16 with a byte-order mark: it reads as the
// platform reads it, and a write keeps it UTF-16.
TEST_F(SettingsFile, AUtf16FileIsReadAndStaysUtf16) {
    const std::string text = "[TestScreenSaver]\r\nwait=70\r\nkomakasa=5\r\ncolmode=2\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    folder.WriteIni(utf16);
    LoadSettings();
    ExpectSettings(70, 5, 2);
    EXPECT_TRUE(WritePrivateProfileStringW(L"TestScreenSaver", L"wait", L"90", standin::Wide(WindowsIniPath()).c_str()));
    EXPECT_EQ(folder.ReadIni().substr(0, 2), "\xFF\xFE");
    LoadSettings();
    ExpectSettings(90, 5, 2);
    folder.WriteIni(utf16.substr(0, 13));  // cut inside a character
    LoadSettings();
    ExpectSettings(40, 8, 0);
}

TEST_F(SettingsFile, WritingReplacesInPlaceOrAddsKeysAndSections) {
    const std::string path = WindowsIniPath();
    folder.WriteIni("[Other]\r\nx=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("TestScreenSaver", "wait", "5", path.c_str()));
    EXPECT_EQ(folder.ReadIni(), "[Other]\r\nx=1\r\n\r\n[TestScreenSaver]\r\nwait=5\r\n");

    folder.WriteIni("; kept\r\n[testscreensaver]\r\nWAIT = 40\r\n\r\n[Other]\r\nx=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("TestScreenSaver", "komakasa", "", path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("TestScreenSaver", "wait", "100", path.c_str()));
    EXPECT_EQ(folder.ReadIni(), "; kept\r\n[testscreensaver]\r\nWAIT=100\r\nkomakasa=\r\n\r\n[Other]\r\nx=1\r\n");

    LoadSettings();
    ExpectSettings(100, 8, 0);
}

TEST_F(SettingsFile, WritingWithoutAPathOrIntoAMissingFolderFails) {
    EXPECT_FALSE(WritePrivateProfileStringA("TestScreenSaver", "wait", "5", ""));
    const std::string missing = SaverFolder::WindowsPath(folder.Path() + "/missing/kelvo.ini");
    EXPECT_FALSE(WritePrivateProfileStringA("TestScreenSaver", "wait", "5", missing.c_str()));
}

}  // namespace
