// Process entry: the command tail picks one mode; its result is the exit code.
#include "host/entry.h"

#include "effect/settings_dialog.h"
#include "host/input_policy.h"
#include "host/saver_window.h"
#include "resources/resource_ids.h"

HINSTANCE SaverInstance = nullptr;
LONG OlderFamily = 0;

namespace {

typedef DWORD(WINAPI* PwdChangePasswordFunction)(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2);

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 148-byte record");

// Exit code of a fault that carried no code of its own (STATUS_UNHANDLED_EXCEPTION).
constexpr UINT UnknownFaultExitCode = 0xC0000144;

// The fault guard. The cross compiler has no structured-exception blocks, so the
// guard is a top-level filter installed around the mode: a fault that nothing
// else handles withdraws the saver-running notice and ends the process here,
// with the fault's code as the exit code, never 0.
LONG WINAPI SaverFaultFilter(EXCEPTION_POINTERS* pointers)
{
    SetSaverRunning(FALSE);
    UINT code = UnknownFaultExitCode;
    if (pointers != nullptr && pointers->ExceptionRecord != nullptr && pointers->ExceptionRecord->ExceptionCode != 0)
        code = pointers->ExceptionRecord->ExceptionCode;
    ExitProcess(code);
}

// Room for the program's own path; a longer one is not looked for.
constexpr DWORD OwnPathRoom = 1024;

// The system starts the saver with the path from its settings, and without short
// names that path may hold blanks ("C:\Users\Anna Maria\...\kelvo.scr /p 1234").
// Unquoted, such a line is read past the whole path rather than from inside it.
// Returns the position behind the path, or null when the line does not begin with it.
const char* AfterOwnPath(const char* commandLine)
{
    char path[OwnPathRoom];
    DWORD length = GetModuleFileNameA(nullptr, path, OwnPathRoom);
    if (length == 0 || length >= OwnPathRoom) return nullptr;
    for (DWORD i = 0; i < length; ++i)
        if (commandLine[i] == '\0') return nullptr;
    if (static_cast<unsigned char>(commandLine[length]) > ' ') return nullptr;
    if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, commandLine, static_cast<int>(length), path,
                       static_cast<int>(length)) != CSTR_EQUAL)
        return nullptr;
    return commandLine + length;
}

const char* AfterProgramName(const char* commandLine)
{
    const char* position = commandLine;
    if (*position == '"') {
        // The name ends at the closing quote, even when a tail follows without a blank.
        do {
            position = CharNextA(position);
        } while (*position != '"' && *position != '\0');
        if (*position == '"') ++position;
    } else if (static_cast<unsigned char>(*position) > ' ') {
        while (static_cast<unsigned char>(*position) > ' ') position = CharNextA(position);
    }
    return position;
}

const char* SkipSpaces(const char* position)
{
    while (*position == ' ') ++position;
    return position;
}

// The owner of the settings dialog: the window named behind "c:", else the foreground window.
HWND SettingsOwner(const char* afterLetter)
{
    DWORD handle = 0;
    if (*afterLetter == ':') handle = ParseWindowHandle(afterLetter + 1);
    if (handle != 0) {
        HWND owner = WindowFromNumber(handle);
        if (IsWindow(owner)) return owner;
    }
    return GetForegroundWindow();
}

int RunMode(const char* tail)
{
    for (const char* position = tail;; ++position) {
        switch (*position) {
        case ' ':
        case '-':
        case '/':
            continue;
        case '\0':
            return RunSettingsDialog(nullptr);
        case 'S':
        case 's':
            return RunSaver(nullptr);
        case 'P':
        case 'p':
        case 'L':
        case 'l':
            return RunPreview(SkipSpaces(position + 1));
        case 'C':
        case 'c':
            return RunSettingsDialog(SettingsOwner(position + 1));
        case 'A':
        case 'a':
            if (!OlderFamily) return RefusedTail;
            return RunChangePassword(SkipSpaces(position + 1));
        default:
            return RefusedTail;
        }
    }
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SaverEntry();
}
#endif

void SaverEntry()
{
    const char* tail = CommandTail(GetCommandLineA());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(static_cast<UINT>(SaverMain(GetModuleHandleA(nullptr), nullptr, tail, show)));
}

const char* CommandTail(const char* commandLine)
{
    const char* position = AfterOwnPath(commandLine);
    if (position == nullptr) position = AfterProgramName(commandLine);
    while (*position != '\0' && static_cast<unsigned char>(*position) <= ' ') position = CharNextA(position);
    return position;
}

int SaverMain(HINSTANCE instance, HINSTANCE, const char* tail, int)
{
    SaverInstance = instance;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    OlderFamily = (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) ? 1 : 0;

    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(SaverFaultFilter);
    int result = RunMode(tail);
    SetUnhandledExceptionFilter(previousFilter);
    return result;
}

DWORD ParseWindowHandle(const char* text)
{
    DWORD value = 0;
    for (const char* position = text; *position >= '0' && *position <= '9'; ++position)
        value = value * 10 + static_cast<DWORD>(*position - '0');
    return value;
}

// Window handles are 32-bit values that the system sign-extends on x64; reading the
// number back the same way returns the very handle the system printed.
HWND WindowFromNumber(DWORD number)
{
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<LONG>(number)));
}

int RunPreview(const char* text)
{
    DWORD handle = ParseWindowHandle(text);
    if (handle == 0) return RefusedTail;
    HWND parent = WindowFromNumber(handle);
    if (!IsWindow(parent)) return RefusedTail;
    return RunSaver(parent);
}

int RunSettingsDialog(HWND owner)
{
    if (!RegisterSettingsClasses(SaverInstance)) return 0;
    // The wide dialog shows the template's Japanese texts right on any ANSI code page;
    // the older family has only the 8-bit one.
    if (OlderFamily)
        return static_cast<int>(
            DialogBoxParamA(SaverInstance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0));
    return static_cast<int>(
        DialogBoxParamW(SaverInstance, MAKEINTRESOURCEW(IDD_SETTINGS), owner, SettingsDialogProc, 0));
}

int RunChangePassword(const char* text)
{
    DWORD handle = ParseWindowHandle(text);
    HWND owner = nullptr;
    if (handle != 0 && IsWindow(WindowFromNumber(handle))) owner = WindowFromNumber(handle);
    if (owner == nullptr) owner = GetForegroundWindow();
    ChangePassword(owner);
    return 0;
}

void ChangePassword(HWND owner)
{
    HMODULE module = LoadLibraryA("MPR.DLL");
    if (module == nullptr) return;
    PwdChangePasswordFunction change =
        reinterpret_cast<PwdChangePasswordFunction>(GetProcAddress(module, "PwdChangePasswordA"));
    if (change != nullptr) change("SCRSAVE", owner, 0, 0);
    FreeLibrary(module);
}
