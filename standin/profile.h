// Profile side of the stand-in: GetPrivateProfileIntA and
// WritePrivateProfileStringA over real INI text files on disk.
#pragma once

#include <string>

namespace standin {

// The native file that a profile path names. The program builds Windows paths
// (it cuts the module path at its last backslash), so every backslash becomes
// '/' and nothing else changes: tests give a module file name such as
// "\tmp\kelvo-test\kelvo.scr" and get /tmp/kelvo-test/kelvo.ini. A path of the
// 8-bit calls is in the stand-in's ANSI code page, 932, whose second bytes may have
// a backslash's value without being one.
std::string ProfileFilePath(const char* path, bool ansi = false);

}  // namespace standin
