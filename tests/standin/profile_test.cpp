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
