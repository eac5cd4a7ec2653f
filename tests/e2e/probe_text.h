// What the test programs under Wine share: texts in UTF-8 and percent-encoded, handles as numbers,
// a window's class, text and direct children.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace probe {

inline std::string Utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string result(static_cast<size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

// Letters, digits and a few marks as they are, every other byte percent-encoded, so that a value
// never holds a blank; an empty text becomes "%".
inline std::string Encode(const std::string& text)
{
    if (text.empty()) return "%";
    std::string result;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
            c == '-' || c == '#' || c == ':') {
            result += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            result += hex;
        }
    }
    return result;
}

inline unsigned long long HandleValue(const void* handle)
{
    return static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(handle));
}

inline std::string ClassOf(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return Utf8(name);
}

// Another process's window answers WM_GETTEXT itself; the timeout keeps a hung one from hanging us.
// Without an answer: the text the system keeps, or nothing when noAnswer is given.
inline std::string TextOf(HWND window, const char* noAnswer = nullptr)
{
    wchar_t text[1024] = L"";
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 3000,
                             &result)) {
        if (noAnswer) return noAnswer;
        InternalGetWindowText(window, text, 1024);
    }
    text[1023] = L'\0';
    return Utf8(text);
}

inline BOOL CALLBACK CollectChild(HWND window, LPARAM parameter)
{
    auto& list = *reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(parameter);
    if (GetParent(window) == list.first) list.second.push_back(window);
    return TRUE;
}

// The window's own children in child order, not their descendants.
inline std::vector<HWND> DirectChildren(HWND parent)
{
    std::pair<HWND, std::vector<HWND>> list{parent, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&list));
    return list.second;
}

}  // namespace probe
