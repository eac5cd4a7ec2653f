// Prints what GetPrivateProfileIntA reads from each settings file named on the command line, key by
// key as the saver asks for them. Built for Windows it shows the platform's reading; built natively
// against the stand-in it shows the stand-in's, so that the two can be compared on the same files.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        int wait = static_cast<int>(GetPrivateProfileIntA("TestScreenSaver", "wait", 40, argv[i]));
        int komakasa = static_cast<int>(GetPrivateProfileIntA("TestScreenSaver", "komakasa", 8, argv[i]));
        int colmode = static_cast<int>(GetPrivateProfileIntA("TestScreenSaver", "colmode", 0, argv[i]));
        printf("file %d wait=%d komakasa=%d colmode=%d\n", i, wait, komakasa, colmode);
    }
    return 0;
}
