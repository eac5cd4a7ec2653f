// Stand-in for the modal dialog manager and the controls the settings dialog sets.
#include "dialog.h"

#include <algorithm>
#include <cstring>

namespace standin {

std::vector<DialogRecord> dialogs;
std::function<void(HWND dialog)> dialogScript;

namespace {

std::vector<DialogControl> controls;

int64_t Value(const void* handle) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)); }

DialogControl* ControlOf(HWND window) {
    for (DialogControl& control : controls)
        if (control.handle == window) return &control;
    return nullptr;
}

DialogRecord* DialogOf(HWND window) {
    for (DialogRecord& dialog : dialogs)
        if (dialog.handle == window) return &dialog;
    return nullptr;
}

bool Alive(HWND window) {
    Window* record = FindWindowRecord(window);
    return record != nullptr && record->alive;
}

bool IsScrollBar(HWND window) {
    Window* record = FindWindowRecord(window);
    return record != nullptr && record->alive && record->className == "ScrollBar" && ControlOf(window) != nullptr;
}

// The live control with that id, as the platform's dialog manager finds it.
DialogControl* LiveControl(HWND dialog, int id) {
    DialogControl* control = FindDialogControl(dialog, id);
    return control != nullptr && Alive(control->handle) ? control : nullptr;
}

// A window procedure cannot see which interface a message came through; the
// stand-in's SendMessageW says so while it delivers.
bool SentWide() { return sendingWide; }

std::wstring Widened(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

std::string Narrowed(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text) narrow += *text < 0x100 ? static_cast<char>(*text) : '?';
    return narrow;
}

// The dialog's window procedure: the dialog procedure first, then the platform's
// default dialog handling, of which only the close box matters here.
LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogRecord* dialog = DialogOf(window);
    if (dialog == nullptr || dialog->procedure == nullptr) return 0;
    INT_PTR result = dialog->procedure(window, message, wParam, lParam);
    if (message == WM_CLOSE && result == 0) return DialogWindowProc(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    return result;
}

void SetControlText(DialogControl& control, LPARAM lParam) {
    if (lParam == 0)
        control.text.clear();
    else if (SentWide())
        control.text = Narrowed(reinterpret_cast<const wchar_t*>(lParam));
    else
        control.text = reinterpret_cast<const char*>(lParam);
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    DialogControl* control = ControlOf(window);
    if (control == nullptr || message != WM_SETTEXT) return 0;
    SetControlText(*control, lParam);
    return TRUE;
}

// Like the platform's single-line edit, it tells its dialog about every change of
// its text, including one the program makes.
LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    DialogControl* control = ControlOf(window);
    if (control == nullptr || message != WM_SETTEXT) return 0;
    SetControlText(*control, lParam);
    HWND dialog = control->dialog;
    int id = control->id;
    DialogWindowProc(dialog, WM_COMMAND, MAKEWPARAM(id, EN_UPDATE), Value(window));
    DialogWindowProc(dialog, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), Value(window));
    return TRUE;
}

LRESULT CALLBACK ScrollBarProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

LRESULT CALLBACK ComboBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogControl* control = ControlOf(window);
    if (control == nullptr) return 0;
    int count = static_cast<int>(control->items.size());
    switch (message) {
    case CB_INSERTSTRING: {
        // Inserting never sorts, whatever the style; -1 appends.
        int index = static_cast<int>(wParam);
        if (index == -1) index = count;
        if (index < 0 || index > count || lParam == 0) return CB_ERR;
        std::wstring text = SentWide() ? std::wstring(reinterpret_cast<const wchar_t*>(lParam))
                                                      : Widened(reinterpret_cast<const char*>(lParam));
        control->items.insert(control->items.begin() + index, text);
        if (control->selection >= index) ++control->selection;
        return index;
    }
    case CB_SETCURSEL: {
        int index = static_cast<int>(wParam);
        if (index < 0 || index >= count) {
            control->selection = -1;
            return CB_ERR;
        }
        control->selection = index;
        return index;
    }
    case CB_GETCURSEL:
        return control->selection;
    default:
        return 0;
    }
}

struct ControlKind {
    int id;
    const char* className;
    const char* text;
    WNDPROC procedure;
};
// The controls of template 2003 whose state the program sets.
const ControlKind SettingsControls[] = {
    {1004, "Static", "Static", StaticProc},
    {1003, "ScrollBar", "", ScrollBarProc},
    {1002, "Edit", "", EditProc},
    {1005, "ComboBox", "", ComboBoxProc},
};

void EndRun(HWND window) {
    for (Window& record : windows)
        if (record.handle == window || record.parent == window) record.alive = false;
}

INT_PTR RunDialog(const char* name, bool wide, HINSTANCE instance, const void* templateName, HWND owner,
                  DLGPROC procedure, LPARAM parameter) {
    uintptr_t templateValue = reinterpret_cast<uintptr_t>(templateName);
    int templateId = templateValue < 0x10000 ? static_cast<int>(templateValue) : 0;
    Record(name, {Value(instance), templateId, Value(owner), Value(reinterpret_cast<void*>(procedure)), parameter});
    // The platform answers an owner that is no window with 0, not with -1.
    if (owner != nullptr && !Alive(owner)) return 0;
    if (procedure == nullptr) return -1;

    HWND handle = AddWindow(0, 0, "#32770", "", owner);
    Window* window = FindWindowRecord(handle);
    window->style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    window->procedure = DialogWindowProc;
    DialogRecord dialog;
    dialog.handle = handle;
    dialog.owner = owner;
    dialog.templateId = templateId;
    dialog.wide = wide;
    dialog.procedure = procedure;
    dialog.parameter = parameter;
    dialogs.push_back(dialog);

    HWND focus = nullptr;
    for (const ControlKind& kind : SettingsControls) {
        DialogControl control;
        control.handle = AddWindow(0, 0, kind.className, kind.text, handle);
        control.dialog = handle;
        control.id = kind.id;
        control.text = kind.text;
        FindWindowRecord(control.handle)->procedure = kind.procedure;
        controls.push_back(control);
        if (std::strcmp(kind.className, "ScrollBar") == 0) focus = control.handle;  // the first tab stop
    }

    DialogWindowProc(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), parameter);
    if (!DialogOf(handle)->ended && dialogScript) dialogScript(handle);
    EndRun(handle);
    const DialogRecord* done = DialogOf(handle);
    if (!done->ended) {
        Record("DialogBox:not ended", {Value(handle)});
        return -1;
    }
    return done->result;
}

}  // namespace

DialogControl* FindDialogControl(HWND dialog, int id) {
    for (DialogControl& control : controls)
        if (control.dialog == dialog && control.id == id) return &control;
    return nullptr;
}

namespace {
const bool ResetRegistered = (OnReset([] {
                                  dialogs.clear();
                                  controls.clear();
                                  dialogScript = nullptr;
                              }),
                              true);
}  // namespace

}  // namespace standin

using namespace standin;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                               LPARAM parameter) {
    return RunDialog("DialogBoxParamA", false, instance, templateName, owner, procedure, parameter);
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC procedure,
                               LPARAM parameter) {
    return RunDialog("DialogBoxParamW", true, instance, templateName, owner, procedure, parameter);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Record("EndDialog", {Value(dialog), static_cast<int64_t>(result)});
    DialogRecord* record = DialogOf(dialog);
    if (record == nullptr || !Alive(dialog)) return FALSE;
    record->ended = true;
    record->result = result;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Record("GetDlgItem", {Value(dialog), id});
    DialogControl* control = LiveControl(dialog, id);
    return control ? control->handle : nullptr;
}

// Like the platform, the text reaches the window as WM_SETTEXT, so an edit
// notifies its dialog.
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Record("SetWindowTextA", {Value(window)}, text ? text : "");
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return FALSE;
    if (ControlOf(window) != nullptr) return record->procedure(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
    record->title = text ? text : "";
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Record("SetDlgItemTextA", {Value(dialog), id}, text ? text : "");
    DialogControl* control = LiveControl(dialog, id);
    if (control == nullptr) return FALSE;
    WNDPROC procedure = FindWindowRecord(control->handle)->procedure;
    return procedure(control->handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    Record("GetDlgItemTextA", {Value(dialog), id, size});
    if (size <= 0) return 0;
    DialogControl* control = LiveControl(dialog, id);
    size_t length = control ? std::min(control->text.size(), static_cast<size_t>(size - 1)) : 0;
    if (length > 0) std::memcpy(text, control->text.data(), length);
    text[length] = '\0';
    return static_cast<UINT>(length);
}

BOOL WINAPI SetScrollRange(HWND window, int bar, int minimum, int maximum, BOOL redraw) {
    Record("SetScrollRange", {Value(window), bar, minimum, maximum, redraw});
    if (bar != SB_CTL || !IsScrollBar(window)) return FALSE;
    DialogControl* control = ControlOf(window);
    control->scrollMinimum = minimum;
    control->scrollMaximum = maximum;
    control->scrollPosition = std::clamp(control->scrollPosition, minimum, std::max(minimum, maximum));
    return TRUE;
}

// The platform keeps the thumb inside the range and answers the previous position.
int WINAPI SetScrollPos(HWND window, int bar, int position, BOOL redraw) {
    Record("SetScrollPos", {Value(window), bar, position, redraw});
    if (bar != SB_CTL || !IsScrollBar(window)) return 0;
    DialogControl* control = ControlOf(window);
    int previous = control->scrollPosition;
    control->scrollPosition = std::clamp(position, control->scrollMinimum,
                                         std::max(control->scrollMinimum, control->scrollMaximum));
    return previous;
}
