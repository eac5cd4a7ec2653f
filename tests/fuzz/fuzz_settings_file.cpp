// Fuzz target: the settings file. The input is the whole of kelvo.ini. A load always ends with
// komakasa in 1..64; the dialog opens on it with every control within its range; and what OK
// saves is what the next load reads.

#include "dialog.h"
#include "effect/settings_dialog.h"
#include "effect/settings_file.h"
#include "host/entry.h"
#include "resources/resource_ids.h"
#include "standin.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The platform's BN_CLICKED, which the stand-in does not declare.
constexpr WORD ButtonClicked = 0;

constexpr LONG WaitMinimum = 10;
constexpr LONG WaitMaximum = 200;

SaverFolder folder;
bool pressOk;

void Fail(const char* what, long long expected, long long got)
{
    std::fprintf(stderr, "settings fuzz: %s (expected %lld, got %lld)\n", what, expected, got);
    std::abort();
}

void CheckKomakasa(const char* when)
{
    if (SaverSettings.komakasa < 1 || SaverSettings.komakasa > 64) Fail(when, 1, SaverSettings.komakasa);
}

struct Shown {
    std::string field;
    std::string label;
    int position = 0;
    int selection = 0;
};
Shown shown;

void Answer(HWND dialog)
{
    shown.field = standin::FindDialogControl(dialog, IDC_KOMAKASA_EDIT)->text;
    shown.label = standin::FindDialogControl(dialog, IDC_WAIT_LABEL)->text;
    shown.position = standin::FindDialogControl(dialog, IDC_WAIT_SCROLLBAR)->scrollPosition;
    shown.selection = standin::FindDialogControl(dialog, IDC_COLMODE_LIST)->selection;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(pressOk ? IDOK : IDCANCEL, ButtonClicked), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartFreshProcess();
    folder.Enter();
    folder.WriteIni(std::string(reinterpret_cast<const char*>(data), size));

    LoadSettings();
    CheckKomakasa("komakasa after a load");
    const LONG komakasa = SaverSettings.komakasa;
    const LONG colmode = SaverSettings.colmode;

    // Half the inputs are confirmed, half cancelled, without spending an input byte on it.
    pressOk = (size & 1) != 0;
    standin::dialogScript = Answer;
    const int result = RunSettingsDialog(nullptr);
    if (result != (pressOk ? IDOK : IDCANCEL)) Fail("dialog result", pressOk ? IDOK : IDCANCEL, result);

    char expectedField[16];
    std::snprintf(expectedField, sizeof expectedField, "%d", static_cast<int>(komakasa));
    if (shown.field != expectedField) Fail("the field shows komakasa", komakasa, std::atoll(shown.field.c_str()));
    const LONG wait = SaverSettings.wait;
    if (wait < WaitMinimum || wait > WaitMaximum) Fail("wait after opening", WaitMinimum, wait);
    if (shown.position != wait) Fail("scroll position", wait, shown.position);
    char expectedLabel[16];
    std::snprintf(expectedLabel, sizeof expectedLabel, "%3d", static_cast<int>(wait));
    if (shown.label != expectedLabel) Fail("wait label", wait, std::atoll(shown.label.c_str()));
    const int expectedSelection = colmode >= 0 && colmode <= 2 ? static_cast<int>(colmode) : -1;
    if (shown.selection != expectedSelection) Fail("colour mode selection", expectedSelection, shown.selection);

    if (pressOk) {
        LoadSettings();
        if (SaverSettings.komakasa != komakasa) Fail("komakasa saved and read back", komakasa, SaverSettings.komakasa);
        if (SaverSettings.wait != wait) Fail("wait saved and read back", wait, SaverSettings.wait);
        if (SaverSettings.colmode != expectedSelection)
            Fail("colmode saved and read back", expectedSelection, SaverSettings.colmode);
    } else if (standin::CountCalls("WritePrivateProfileStringW") != 0) {
        Fail("Cancel wrote the file", 0, standin::CountCalls("WritePrivateProfileStringW"));
    }
    return 0;
}
