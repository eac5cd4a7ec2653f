// Stand-in for the private profile calls, over real INI files. It follows what
// the platform's profile functions do for the cases the program meets: section
// and key names compared without regard to letter case and blanks around them,
// the first matching section and key win, values trimmed, CRLF line ends. A file
// that starts with the UTF-16 byte-order mark is read and rewritten as UTF-16;
// any other file, and a new one, holds 8-bit text.
#include "profile.h"

#include "standin.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <vector>

namespace standin {

std::string ProfileFilePath(const char* path, bool ansi) {
    std::string native = path == nullptr ? "" : path;
    for (size_t i = 0; i < native.size(); i = ansi ? CharNextA(native.c_str() + i) - native.c_str() : i + 1)
        if (native[i] == '\\') native[i] = '/';
    return native;
}

}  // namespace standin

using namespace standin;

namespace {

// The platform reads an integer through a 30-character buffer.
constexpr size_t IntegerTextSize = 30;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char Utf16Mark[] = "\xFF\xFE";

bool IsUtf16(const std::string& bytes) { return bytes.compare(0, 2, Utf16Mark) == 0; }

// UTF-16 (little-endian) text after its mark, as UTF-8; an odd last byte is dropped.
std::string FromUtf16(const std::string& bytes) {
    std::wstring wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::string utf8;
    for (wchar_t c : wide) utf8 += c == L'\0' ? std::string(1, '\0') : Utf8(std::wstring(1, c).c_str());
    return utf8;
}

std::string ToUtf16(const std::string& utf8) {
    std::string bytes = Utf16Mark;
    for (wchar_t c : Wide(utf8)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

bool ReadLines(const std::string& path, std::vector<std::string>* lines, bool* utf16 = nullptr) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    if (utf16 != nullptr) *utf16 = IsUtf16(text);
    if (IsUtf16(text)) text = FromUtf16(text);
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines->push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines->push_back(line);
    return true;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines, bool utf16) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file << (utf16 ? ToUtf16(text) : text);
    return static_cast<bool>(file.flush());
}

// A section header's name, or false when the line is no header.
bool SectionName(const std::string& line, std::string* name) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] != '[') return false;
    size_t close = trimmed.rfind(']');
    if (close == std::string::npos) return false;
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

void SplitEntry(const std::string& line, std::string* key, std::string* value) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
        *key = Trim(line);
        value->clear();
    } else {
        *key = Trim(line.substr(0, equals));
        *value = Trim(line.substr(equals + 1));
    }
}

// Lines [first, end) of the first section of that name: first is the header.
bool FindSection(const std::vector<std::string>& lines, const std::string& section, size_t* first, size_t* end) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!SectionName(lines[i], &name) || !SameName(name, section)) continue;
        *first = i;
        size_t next = i + 1;
        while (next < lines.size() && !SectionName(lines[next], &name)) ++next;
        *end = next;
        return true;
    }
    return false;
}

bool FindKey(const std::vector<std::string>& lines, size_t first, size_t end, const std::string& key, size_t* index,
             std::string* fileKey, std::string* value) {
    for (size_t i = first + 1; i < end; ++i) {
        if (Trim(lines[i]).empty()) continue;
        SplitEntry(lines[i], fileKey, value);
        if (SameName(*fileKey, key)) {
            *index = i;
            return true;
        }
    }
    return false;
}

// As the platform copies a value into a caller's buffer: the text ends at a NUL,
// one pair of matching quotes around it is dropped, and it is cut to fit.
std::string CopyValue(const std::string& value, size_t bufferSize) {
    std::string text = value.substr(0, value.find('\0'));
    bool quoted = text.size() > 1 && (text[0] == '\'' || text[0] == '"') && text.back() == text[0];
    if (quoted) text.erase(0, 1);
    std::string copied = text.substr(0, bufferSize - 1);
    if (quoted && bufferSize >= text.size() && !copied.empty()) copied.pop_back();
    return copied;
}

// Blanks, an optional sign, then decimal digits up to the first other character;
// no digits give 0; larger numbers wrap modulo 2^32.
uint32_t ToInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + (text[i] - '0');
    return negative ? 0u - value : value;
}

std::string Text(LPCSTR text) { return text == nullptr ? "" : text; }

// An empty value counts as missing: the default comes back.
UINT ReadInteger(const char* name, const char* section, const char* key, INT fallback, const char* file, bool ansi) {
    if (RecordFails(name, {fallback}, Text(section))) return static_cast<UINT>(fallback);
    if (section == nullptr || key == nullptr || file == nullptr) return static_cast<UINT>(fallback);
    std::vector<std::string> lines;
    if (!ReadLines(ProfileFilePath(file, ansi), &lines)) return static_cast<UINT>(fallback);
    size_t first = 0, end = 0, index = 0;
    std::string fileKey, value;
    if (!FindSection(lines, Trim(section), &first, &end) ||
        !FindKey(lines, first, end, Trim(key), &index, &fileKey, &value))
        return static_cast<UINT>(fallback);
    std::string copied = CopyValue(value, IntegerTextSize);
    if (copied.empty()) return static_cast<UINT>(fallback);
    return ToInteger(copied);
}

// A null value deletes the key, a null key the whole section.
BOOL WriteString(const char* name, const char* section, const char* key, const char* value, const char* file,
                 bool ansi) {
    if (RecordFails(name, {}, Text(section))) return FALSE;
    if (section == nullptr || file == nullptr || file[0] == '\0') return FALSE;
    const std::string path = ProfileFilePath(file, ansi);
    std::vector<std::string> lines;
    bool utf16 = false;
    ReadLines(path, &lines, &utf16);

    size_t first = 0, end = 0, index = 0;
    std::string fileKey, oldValue;
    if (!FindSection(lines, Trim(section), &first, &end)) {
        if (key == nullptr || value == nullptr) return TRUE;
        if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
        lines.push_back("[" + Text(section) + "]");
        lines.push_back(Trim(key) + "=" + value);
    } else if (key == nullptr) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
                    lines.begin() + static_cast<std::ptrdiff_t>(end));
    } else if (FindKey(lines, first, end, Trim(key), &index, &fileKey, &oldValue)) {
        if (value == nullptr)
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
        else
            lines[index] = fileKey + "=" + value;
    } else {
        if (value == nullptr) return TRUE;
        size_t after = first + 1;
        for (size_t i = first + 1; i < end; ++i)
            if (!Trim(lines[i]).empty()) after = i + 1;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), Trim(key) + "=" + value);
    }
    return WriteLines(path, lines, utf16) ? TRUE : FALSE;
}

// The wide calls keep their text as UTF-8; a null pointer stays null.
struct Narrow {
    explicit Narrow(const wchar_t* text) : null(text == nullptr), utf8(Utf8(text)) {}
    const char* get() const { return null ? nullptr : utf8.c_str(); }
    bool null;
    std::string utf8;
};

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
    return ReadInteger("GetPrivateProfileIntA", section, key, fallback, file, true);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    return WriteString("WritePrivateProfileStringA", section, key, value, file, true);
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR file) {
    if (WideStub("GetPrivateProfileIntW", {fallback})) return 0;
    return ReadInteger("GetPrivateProfileIntW", Narrow(section).get(), Narrow(key).get(), fallback,
                       Narrow(file).get(), false);
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
    if (WideStub("WritePrivateProfileStringW")) return FALSE;
    return WriteString("WritePrivateProfileStringW", Narrow(section).get(), Narrow(key).get(), Narrow(value).get(),
                       Narrow(file).get(), false);
}
