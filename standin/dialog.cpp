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
        control.text = Utf8(reinterpret_cast<const wchar_t*>(lParam));
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
    bool tabStop;
    WNDPROC procedure;
};
// The controls of template 2003, in its order.
const ControlKind SettingsControls[] = {
    {-1, "Static", "ウエイト", false, StaticProc},
    {1004, "Static", "Static", false, StaticProc},
    {1003, "ScrollBar", "", true, ScrollBarProc},
    {-1, "Static", "細かさ", false, StaticProc},
    {1002, "Edit", "", true, EditProc},
    {IDOK, "Button", "OK", true, StaticProc},
    {IDCANCEL, "Button", "ｷｬﾝｾﾙ", true, StaticProc},
    {1005, "ComboBox", "", true, ComboBoxProc},
    {-1, "Static", "色の変化", false, StaticProc},
};

HWND FirstTabStop(const DialogRecord& dialog) {
    for (HWND child : dialog.children)
        if (ControlOf(child)->tabStop) return child;
    return nullptr;
}

// WM_SETTEXT to a control, saying which interface sent the text.
BOOL SendText(HWND control, const void* text, bool wide) {
    bool outer = sendingWide;
    sendingWide = wide;
    BOOL done = FindWindowRecord(control)->procedure(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
    sendingWide = outer;
    return done;
}

void EndRun(HWND window) {
    for (Window& record : windows)
        if (record.handle == window || record.parent == window) record.alive = false;
}

INT_PTR RunDialog(const char* name, bool wide, HINSTANCE instance, const void* templateName, HWND owner,
                  DLGPROC procedure, LPARAM parameter) {
    uintptr_t templateValue = reinterpret_cast<uintptr_t>(templateName);
    int templateId = templateValue < 0x10000 ? static_cast<int>(templateValue) : 0;
    if (RecordFails(name, {Value(instance), templateId, Value(owner), Value(reinterpret_cast<void*>(procedure)), parameter}))
        return -1;
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

    for (const ControlKind& kind : SettingsControls) {
        DialogControl control;
        control.handle = AddWindow(0, 0, kind.className, kind.text, handle);
        control.dialog = handle;
        control.id = kind.id;
        control.tabStop = kind.tabStop;
        control.text = kind.text;
        FindWindowRecord(control.handle)->procedure = kind.procedure;
        controls.push_back(control);
        DialogOf(handle)->children.push_back(control.handle);
    }

    // As the platform does, the focus goes to the first tab stop as the child order
    // stands after WM_INITDIALOG, which may have changed it.
    HWND focus = FirstTabStop(*DialogOf(handle));
    if (DialogWindowProc(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), parameter) != 0)
        DialogOf(handle)->focus = FirstTabStop(*DialogOf(handle));
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

std::vector<const DialogControl*> ChildOrder(HWND dialog) {
    std::vector<const DialogControl*> order;
    if (DialogRecord* record = DialogOf(dialog))
        for (HWND child : record->children) order.push_back(ControlOf(child));
    return order;
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
    if (WideStub("DialogBoxParamW", {Value(owner)})) return 0;
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
    if (RecordFails("GetDlgItem", {Value(dialog), id})) return nullptr;
    DialogControl* control = LiveControl(dialog, id);
    return control ? control->handle : nullptr;
}

// Like the platform, the text reaches the window as WM_SETTEXT, so an edit
// notifies its dialog.
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (RecordFails("SetWindowTextA", {Value(window)}, text ? text : "")) return FALSE;
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return FALSE;
    if (ControlOf(window) != nullptr) return SendText(window, text, false);
    record->title = text ? text : "";
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    if (RecordFails("SetDlgItemTextA", {Value(dialog), id}, text ? text : "")) return FALSE;
    DialogControl* control = LiveControl(dialog, id);
    return control != nullptr && SendText(control->handle, text, false);
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
    if (RecordFails("SetScrollRange", {Value(window), bar, minimum, maximum, redraw})) return FALSE;
    if (bar != SB_CTL || !IsScrollBar(window)) return FALSE;
    DialogControl* control = ControlOf(window);
    control->scrollMinimum = minimum;
    control->scrollMaximum = maximum;
    control->scrollPosition = std::clamp(control->scrollPosition, minimum, std::max(minimum, maximum));
    return TRUE;
}

// The platform keeps the thumb inside the range and answers the previous position.
int WINAPI SetScrollPos(HWND window, int bar, int position, BOOL redraw) {
    if (RecordFails("SetScrollPos", {Value(window), bar, position, redraw})) return 0;
    if (bar != SB_CTL || !IsScrollBar(window)) return 0;
    DialogControl* control = ControlOf(window);
    int previous = control->scrollPosition;
    control->scrollPosition = std::clamp(position, control->scrollMinimum,
                                         std::max(control->scrollMinimum, control->scrollMaximum));
    return previous;
}

BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    if (WideStub("SetDlgItemTextW", {Value(dialog), id})) return FALSE;
    Record("SetDlgItemTextW", {Value(dialog), id}, Utf8(text));
    DialogControl* control = LiveControl(dialog, id);
    return control != nullptr && SendText(control->handle, text, true);
}

UINT WINAPI GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size) {
    if (WideStub("GetDlgItemTextW", {Value(dialog), id, size})) return 0;
    Record("GetDlgItemTextW", {Value(dialog), id, size});
    if (size <= 0) return 0;
    DialogControl* control = LiveControl(dialog, id);
    std::wstring wide = control ? Wide(control->text) : L"";
    size_t length = std::min(wide.size(), static_cast<size_t>(size - 1));
    wide.copy(text, length);
    text[length] = L'\0';
    return static_cast<UINT>(length);
}

// Only the child order of a dialog's controls: nothing here has a place on screen.
HWND WINAPI GetWindow(HWND window, UINT relation) {
    if (RecordFails("GetWindow", {Value(window), relation})) return nullptr;
    DialogRecord* dialog = relation == GW_CHILD ? DialogOf(window) : nullptr;
    if (dialog != nullptr) return dialog->children.empty() ? nullptr : dialog->children.front();
    DialogControl* control = ControlOf(window);
    if (control == nullptr || relation != GW_HWNDNEXT) return nullptr;
    std::vector<HWND>& children = DialogOf(control->dialog)->children;
    auto at = std::find(children.begin(), children.end(), window);
    return at + 1 == children.end() ? nullptr : *(at + 1);
}

// A window that is no dialog control: moved and sized, with the WM_SIZE the
// platform's default handling of the change would send.
static BOOL MoveOrdinaryWindow(HWND window, int x, int y, int width, int height, UINT flags) {
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return FALSE;
    if (!(flags & SWP_NOMOVE)) {
        record->x = x;
        record->y = y;
    }
    if (!(flags & SWP_NOSIZE) && (record->width != width || record->height != height)) {
        record->width = width;
        record->height = height;
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
    }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    if (RecordFails("SetWindowPos", {Value(window), Value(insertAfter), x, y, width, height, flags})) return FALSE;
    DialogControl* control = ControlOf(window);
    if (control == nullptr) return MoveOrdinaryWindow(window, x, y, width, height, flags);
    if (!Alive(window) || window == insertAfter) return FALSE;
    std::vector<HWND>& children = DialogOf(control->dialog)->children;
    auto after = std::find(children.begin(), children.end(), insertAfter);
    if (insertAfter != HWND_TOP && after == children.end()) return FALSE;
    children.erase(std::find(children.begin(), children.end(), window));
    if (insertAfter == HWND_TOP)
        children.insert(children.begin(), window);
    else
        children.insert(std::find(children.begin(), children.end(), insertAfter) + 1, window);
    return TRUE;
}
