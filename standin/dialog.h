// Dialog side of the stand-in: the modal dialog manager and the controls of the
// settings dialog, scripted and read back by the tests.
#pragma once

#include "standin.h"

#include <functional>
#include <string>
#include <vector>

namespace standin {

// A control of a dialog made by DialogBoxParamA/W: the nine of template 2003,
// each a window of its own in the window table, in the template's order.
struct DialogControl {
    HWND handle = nullptr;
    HWND dialog = nullptr;
    int id = 0;  // -1 for the captions
    bool tabStop = false;
    std::string text;  // UTF-8
    int scrollMinimum = 0, scrollMaximum = 0, scrollPosition = 0;  // a scroll bar control starts with an empty range
    // List items in order. Text sent through the 8-bit interface is widened byte by
    // byte, as a system with a Western ANSI code page does, so code-page-932 bytes
    // arrive as mojibake there too.
    std::vector<std::wstring> items;
    int selection = -1;
};

// One modal dialog the program has shown, in order of opening.
struct DialogRecord {
    HWND handle = nullptr;
    HWND owner = nullptr;
    int templateId = 0;  // 0 when the template was named by a string
    bool wide = false;   // shown through DialogBoxParamW
    DLGPROC procedure = nullptr;
    LPARAM parameter = 0;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<HWND> children;  // child order, first on top; SetWindowPos changes it
    HWND focus = nullptr;        // where the dialog manager put the focus after opening
};
extern std::vector<DialogRecord> dialogs;

// There is no user: once WM_INITDIALOG has been answered, DialogBoxParamA/W runs
// this with the dialog's handle, and returns the value given to EndDialog. When
// the script is missing or does not end the dialog, the call records
// "DialogBox:not ended" and returns -1.
extern std::function<void(HWND dialog)> dialogScript;

// The control with that id in that dialog, still readable after the dialog has
// ended; null when there is none.
DialogControl* FindDialogControl(HWND dialog, int id);
// The controls of that dialog in its child order.
std::vector<const DialogControl*> ChildOrder(HWND dialog);

}  // namespace standin
