// kelvo-dialog-probe: reads back what the settings dialog tests under Wine need to see. Every
// command prints one JSON object per line (texts in UTF-8).
//
//   kelvo-dialog-probe resources <path>   kelvo.scr loaded as a data file: the bytes of dialog 2003,
//                                         string block 1, group icon 104 and icon 1 found under
//                                         the Japanese language, every language each exists in,
//                                         string 1 through LoadStringW and the icon made from its
//                                         resource bytes
//   kelvo-dialog-probe state <dialog>     a running dialog (handle in decimal) seen from outside:
//                                         owner, controls, scroll bar, label, field, list items
//                                         (through the wide interface) and the focus
//   kelvo-dialog-probe profile <path>...  what GetPrivateProfileIntW reads from each settings file, key
//                                         by key as the saver asks for them (paths in plain ASCII)
//   kelvo-dialog-probe measure <path> [id utf8-hex]...
//                                         dialog 2003 made hidden in this process from kelvo.scr:
//                                         the font it got, and for every text (the template's and
//                                         those given, each for the control of that id) the space
//                                         it needs, the space its control gives it, missing glyphs

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe_text.h"

namespace {

constexpr WORD Japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr int SettingsDialog = 2003;
constexpr int WaitScrollBar = 1003;
constexpr int ColourModeList = 1005;
constexpr UINT ReadTimeoutMs = 3000;

std::string Json(const std::string& text)
{
    std::string result = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            result += '\\';
            result += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            result += escaped;
        } else {
            result += static_cast<char>(c);
        }
    }
    return result + "\"";
}

std::string Hex(const void* data, DWORD size)
{
    std::string result;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; i < size; i++) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        result += pair;
    }
    return result;
}

using probe::HandleValue;

std::string Json(const wchar_t* text) { return Json(probe::Utf8(text)); }

// A text given on the command line as the hexadecimal digits of its UTF-8 bytes, so that it
// passes through any ANSI code page unharmed.
std::wstring FromHex(const char* hex)
{
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes += static_cast<char>(strtoul(pair, nullptr, 16));
    }
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &result[0], size);
    return result;
}

// ---------------------------------------------------------------- resources

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter)
{
    reinterpret_cast<std::vector<WORD>*>(parameter)->push_back(language);
    return TRUE;
}

struct Found {
    const void* data = nullptr;
    DWORD size = 0;
};

Found DumpResource(HMODULE module, int type, int name)
{
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(name), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    Found found;
    HRSRC resource = FindResourceExW(module, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(name), Japanese);
    if (resource) {
        found.size = SizeofResource(module, resource);
        HGLOBAL loaded = LoadResource(module, resource);
        found.data = loaded ? LockResource(loaded) : nullptr;
    }
    std::string list;
    for (WORD language : languages) list += (list.empty() ? "" : ",") + std::to_string(language);
    printf("{\"what\":\"resource\",\"type\":%d,\"name\":%d,\"languages\":[%s],\"found\":%s,\"hex\":\"%s\"}\n", type, name,
           list.c_str(), found.data ? "true" : "false", found.data ? Hex(found.data, found.size).c_str() : "");
    return found;
}

int Resources(const char* path)
{
    // LOAD_LIBRARY_AS_DATAFILE maps the file without running it, as the system's display
    // properties do when they list the screen savers.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("{\"what\":\"error\",\"load\":%lu}\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    DumpResource(module, 5, SettingsDialog);  // RT_DIALOG
    DumpResource(module, 6, 1);               // RT_STRING block 1: strings 0..15
    Found group = DumpResource(module, 14, 104);  // RT_GROUP_ICON
    Found icon = DumpResource(module, 3, 1);      // RT_ICON

    wchar_t name[64] = L"";
    int length = LoadStringW(module, 1, name, 64);
    printf("{\"what\":\"string\",\"id\":1,\"length\":%d,\"text\":%s}\n", length, Json(name).c_str());

    // What the system would pick from the group for a 32 x 32 icon, and whether those bytes make one.
    int chosen = group.data ? LookupIconIdFromDirectoryEx(static_cast<PBYTE>(const_cast<void*>(group.data)), TRUE, 32, 32,
                                                          LR_DEFAULTCOLOR)
                            : 0;
    int width = 0, height = 0;
    HICON made = icon.data ? CreateIconFromResourceEx(static_cast<PBYTE>(const_cast<void*>(icon.data)), icon.size, TRUE,
                                                      0x00030000, 32, 32, LR_DEFAULTCOLOR)
                           : nullptr;
    if (made) {
        ICONINFO info{};
        if (GetIconInfo(made, &info)) {
            BITMAP mask{};
            GetObjectW(info.hbmMask, sizeof mask, &mask);
            width = mask.bmWidth;
            height = info.hbmColor ? mask.bmHeight : mask.bmHeight / 2;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
        DestroyIcon(made);
    }
    printf("{\"what\":\"icon\",\"chosen\":%d,\"made\":%s,\"width\":%d,\"height\":%d}\n", chosen,
           made ? "true" : "false", width, height);
    FreeLibrary(module);
    return 0;
}

// ---------------------------------------------------------------- a running dialog

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, ReadTimeoutMs, &result)) return -2;
    return static_cast<LRESULT>(result);
}

std::string RectJson(RECT rect)
{
    char text[96];
    snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

int State(HWND dialog)
{
    if (!IsWindow(dialog)) {
        printf("{\"what\":\"error\",\"window\":\"gone\"}\n");
        return 1;
    }
    RECT window{}, client{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    DWORD processId = 0;
    DWORD thread = GetWindowThreadProcessId(dialog, &processId);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(thread, &gui);
    int focusId = gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0;

    printf("{\"what\":\"dialog\",\"hwnd\":%llu,\"owner\":%llu,\"unicode\":%s,\"visible\":%s,\"title\":%s,\"rect\":%s,"
           "\"client\":%s,\"origin\":[%ld,%ld],\"focus\":%d,\"active\":%s,\"style\":%lu}\n",
           HandleValue(dialog), HandleValue(GetWindow(dialog, GW_OWNER)), IsWindowUnicode(dialog) ? "true" : "false",
           IsWindowVisible(dialog) ? "true" : "false", Json(probe::TextOf(dialog, "<no answer>")).c_str(),
           RectJson(window).c_str(), RectJson(client).c_str(), origin.x, origin.y, focusId, gui.hwndActive == dialog ? "true" : "false",
           static_cast<unsigned long>(GetWindowLongW(dialog, GWL_STYLE)));

    for (HWND child : probe::DirectChildren(dialog)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        printf("{\"what\":\"control\",\"hwnd\":%llu,\"id\":%d,\"class\":%s,\"text\":%s,\"rect\":%s,\"visible\":%s}\n",
               HandleValue(child), GetDlgCtrlID(child), Json(probe::ClassOf(child)).c_str(),
               Json(probe::TextOf(child, "<no answer>")).c_str(), RectJson(rect).c_str(), IsWindowVisible(child) ? "true" : "false");
    }

    HWND scrollBar = GetDlgItem(dialog, WaitScrollBar);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    BOOL gotInfo = GetScrollInfo(scrollBar, SB_CTL, &info);
    printf("{\"what\":\"scroll\",\"position\":%d,\"info\":%s,\"minimum\":%d,\"maximum\":%d,\"info_position\":%d}\n",
           GetScrollPos(scrollBar, SB_CTL), gotInfo ? "true" : "false", info.nMin, info.nMax, info.nPos);

    HWND list = GetDlgItem(dialog, ColourModeList);
    LRESULT count = Ask(list, CB_GETCOUNT, 0, 0);
    std::string items;
    for (LRESULT i = 0; i < count && i < 64; i++) {
        wchar_t text[256] = L"";
        LRESULT length = Ask(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length >= 0 && length < 255) Ask(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items += (items.empty() ? "" : ",") + Json(text);
    }
    printf("{\"what\":\"list\",\"count\":%ld,\"selected\":%ld,\"dropped\":%ld,\"items\":[%s]}\n", static_cast<long>(count),
           static_cast<long>(Ask(list, CB_GETCURSEL, 0, 0)), static_cast<long>(Ask(list, CB_GETDROPPEDSTATE, 0, 0)),
           items.c_str());
    return 0;
}

// ---------------------------------------------------------------- fit of the texts

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void Measure(HDC context, const char* owner, int id, const std::wstring& text, LONG room)
{
    SIZE size{};
    GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
    std::vector<WORD> glyphs(text.size() + 1);
    int missing = 0;
    if (!text.empty() &&
        GetGlyphIndicesW(context, text.c_str(), static_cast<int>(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) !=
            GDI_ERROR) {
        for (size_t i = 0; i < text.size(); i++) missing += glyphs[i] == 0xFFFF ? 1 : 0;
    }
    printf("{\"what\":\"text\",\"owner\":\"%s\",\"id\":%d,\"text\":%s,\"width\":%ld,\"height\":%ld,\"room\":%ld,"
           "\"missing\":%d}\n",
           owner, id, Json(text.c_str()).c_str(), size.cx, size.cy, room, missing);
}

int MeasureTexts(const char* path, int extraCount, char** extras)
{
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("{\"what\":\"error\",\"load\":%lu}\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(SettingsDialog), nullptr, QuietDialogProc, 0);
    if (!dialog) {
        printf("{\"what\":\"error\",\"dialog\":%lu}\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HDC context = GetDC(dialog);
    HGDIOBJ previous = SelectObject(context, font);
    LOGFONTW asked{};
    GetObjectW(font, sizeof asked, &asked);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(context, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    RECT client{};
    GetClientRect(dialog, &client);
    printf("{\"what\":\"font\",\"asked\":%s,\"height\":%ld,\"face\":%s,\"charset\":%d,\"ascent\":%ld,\"line\":%ld,"
           "\"acp\":%u,\"client\":%s}\n",
           Json(asked.lfFaceName).c_str(), asked.lfHeight, Json(face).c_str(), metrics.tmCharSet, metrics.tmAscent,
           metrics.tmHeight, GetACP(), RectJson(client).c_str());

    for (HWND child : probe::DirectChildren(dialog)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        RECT inside{};
        GetClientRect(child, &inside);
        wchar_t text[256] = L"";
        GetWindowTextW(child, text, 256);
        printf("{\"what\":\"control\",\"id\":%d,\"class\":%s,\"rect\":%s,\"client\":%s}\n", GetDlgCtrlID(child),
               Json(probe::ClassOf(child)).c_str(), RectJson(rect).c_str(), RectJson(inside).c_str());
        if (text[0]) Measure(context, "template", GetDlgCtrlID(child), text, inside.right);
    }
    // Texts the program puts in at run time, measured against the control given on the command line.
    for (int i = 0; i + 1 < extraCount; i += 2) {
        int id = atoi(extras[i]);
        RECT inside{};
        GetClientRect(GetDlgItem(dialog, id), &inside);
        Measure(context, "program", id, FromHex(extras[i + 1]), inside.right);
    }
    SelectObject(context, previous);
    ReleaseDC(dialog, context);
    DestroyWindow(dialog);
    FreeLibrary(module);
    return 0;
}

}  // namespace

int Profiles(int count, char** paths)
{
    for (int i = 0; i < count; i++) {
        std::wstring file(paths[i], paths[i] + strlen(paths[i]));
        printf("{\"what\":\"profile\",\"file\":%d,\"wait\":%d,\"komakasa\":%d,\"colmode\":%d}\n", i + 1,
               static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"wait", 40, file.c_str())),
               static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"komakasa", 8, file.c_str())),
               static_cast<int>(GetPrivateProfileIntW(L"TestScreenSaver", L"colmode", 0, file.c_str())));
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[1], "resources") == 0) return Resources(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "state") == 0)
        return State(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoull(argv[2], nullptr, 0))));
    if (argc >= 3 && strcmp(argv[1], "measure") == 0) return MeasureTexts(argv[2], argc - 3, argv + 3);
    if (argc >= 2 && strcmp(argv[1], "profile") == 0) return Profiles(argc - 2, argv + 2);
    fprintf(stderr, "usage: kelvo-dialog-probe resources <path> | state <dialog> | profile <path>... | measure <path> "
                    "[id utf8-hex]...\n");
    return 2;
}
