// Prints what GetPrivateProfileIntW reads from each settings file named on the command line, key by
// key as the saver asks for them: the platform's reading of the settings-file table.

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        // The bench names the files in plain ASCII.
        std::wstring file(argv[i], argv[i] + std::char_traits<char>::length(argv[i]));
        int wait = static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"wait", 40, file.c_str()));
        int komakasa = static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"komakasa", 8, file.c_str()));
        int colmode = static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"colmode", 0, file.c_str()));
        printf("file %d wait=%d komakasa=%d colmode=%d\n", i, wait, komakasa, colmode);
    }
    return 0;
}
