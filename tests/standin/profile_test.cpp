// The stand-in's profile reading: the rows of the settings-file table that the program relies on
// ("both") read as the platform reads them under Wine (tests/e2e/test_saver.py checks that side).
#include "standin.h"
#include "tests/support/saver_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A body of the table: <none>, <empty>, or bytes with the escapes \r \n \xHH.
std::string Unescape(const std::string& body) {
    if (body == "<empty>") return std::string();
    std::string bytes;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 >= body.size()) {
            bytes += body[i];
        } else if (body[++i] == 'x') {
            bytes += static_cast<char>(std::strtoul(body.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += body[i] == 'r' ? '\r' : body[i] == 'n' ? '\n' : body[i];
        }
    }
    return bytes;
}

TEST(StandinProfile, ReadsTheTablesRowsThatTheProgramReliesOnAsThePlatformDoes) {
    const std::string here = __FILE__;
    std::ifstream table(here.substr(0, here.rfind("/standin/")) + "/e2e/profiles/cases.txt");
    ASSERT_TRUE(table.good());
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::string name, scope, body;
        int wait = 0, komakasa = 0, colmode = 0;
        if (line.empty() || line[0] == '#' || !(words >> name >> scope >> body >> wait >> komakasa >> colmode) ||
            scope != "both")
            continue;
        SCOPED_TRACE(name);
        ++rows;
        standin::Reset();
        SaverFolder folder;
        if (body != "<none>") folder.WriteIni(Unescape(body));
        const std::wstring file = standin::Wide(SaverFolder::WindowsPath(folder.IniPath()));
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"wait", 40, file.c_str())), wait);
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"komakasa", 8, file.c_str())), komakasa);
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"colmode", 0, file.c_str())), colmode);
    }
    EXPECT_GE(rows, 10);
}

}  // namespace

namespace {

// What the older family's stubs do, for every wide call the program may make there, and the
// stock objects it lacks; the 8-bit calls, and the newer family's wide ones, still work.
TEST(StandIn, OnTheOlderFamilyTheWideCallsFailAsTheirStubsDo) {
    standin::Reset();
    standin::platformId = VER_PLATFORM_WIN32_WINDOWS;
    standin::moduleFileName = "C:\\kelvo.scr";
    wchar_t text[64] = L"a";
    HWND window = standin::AddWindow(1, 1);
    EXPECT_EQ(GetModuleFileNameW(nullptr, text, 64), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"k", 5, L"C:\\kelvo.ini"), 0u);
    EXPECT_FALSE(WritePrivateProfileStringW(L"s", L"k", L"v", L"C:\\kelvo.ini"));
    EXPECT_EQ(lstrcatW(text, L"b"), nullptr);
    EXPECT_EQ(wsprintfW(text, L"%d", 7), 0);
    EXPECT_EQ(SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x")), 0);
    EXPECT_FALSE(SetDlgItemTextW(window, 1, L"x"));
    EXPECT_EQ(GetDlgItemTextW(window, 1, text, 64), 0u);
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(1), nullptr, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(GetStockObject(DC_BRUSH), nullptr);
    EXPECT_EQ(GetStockObject(DC_PEN), nullptr);
    char narrow[64];
    EXPECT_EQ(GetModuleFileNameA(nullptr, narrow, 64), 12u);

    standin::platformId = VER_PLATFORM_WIN32_NT;
    EXPECT_EQ(GetModuleFileNameW(nullptr, text, 64), 12u);
    EXPECT_NE(GetStockObject(DC_BRUSH), nullptr);
}

}  // namespace
