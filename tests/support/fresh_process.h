// Puts the stand-in and every module-level value of the program back the way a
// new process starts, so that each test runs as if it were the only one.
#pragma once

#include "standin.h"

#include "effect/animation.h"
#include "effect/settings_file.h"
#include "host/entry.h"
#include "host/input_policy.h"
#include "host/saver_window.h"

#include <cstdint>

// A handle as the stand-in records it among a call's arguments.
inline int64_t HandleValue(const void* handle) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)); }

inline void StartFreshProcess()
{
    standin::Reset();
    SaverInstance = nullptr;
    OlderFamily = 0;
    PreviewMode = false;
    SaverWindow = nullptr;
    QueryCancelAutoPlayMessage = 0;
    ImeModule = nullptr;
    AssociateContext = nullptr;
    PreviousInputContext = nullptr;
    CloseAllowed = 0;
    InVerification = false;
    PasswordModule = nullptr;
    VerifyFunction = nullptr;
    LastAskTick = NoVerificationYet;
    MouseReference = POINT{0, 0};
    SaverSettings = SaverSettingsRecord{};
    EffectState = EffectStateRecord{};
    RandomState = 1;
}
