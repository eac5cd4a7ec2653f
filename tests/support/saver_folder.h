// A private folder for one test with the executable "in" it: the stand-in's module
// path names <folder>\kelvo.scr, so the settings file is <folder>/kelvo.ini.
#pragma once

#include "standin.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class SaverFolder {
public:
    SaverFolder() {
        char pattern[] = "/tmp/kelvo-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        path_ = pattern;
    }
    ~SaverFolder() {
        std::remove(IniPath().c_str());
        rmdir(path_.c_str());
    }
    SaverFolder(const SaverFolder&) = delete;
    SaverFolder& operator=(const SaverFolder&) = delete;

    // Points the module path here; call it after every stand-in reset.
    void Enter() const { standin::moduleFileName = WindowsPath(path_ + "/kelvo.scr"); }

    const std::string& Path() const { return path_; }
    std::string IniPath() const { return path_ + "/kelvo.ini"; }
    bool IniExists() const { return std::ifstream(IniPath()).good(); }
    void WriteIni(const std::string& content) const { std::ofstream(IniPath(), std::ios::binary) << content; }
    std::string ReadIni() const { return ReadFile(IniPath()); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

    // The stand-in's profile functions read backslashes as the platform does.
    static std::string WindowsPath(std::string path) {
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }

private:
    std::string path_;
};
