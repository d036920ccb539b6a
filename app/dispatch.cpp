#include "app/dispatch.h"

CommandAction DecideCommand(uint32_t id, intptr_t check_state)
{
    const bool checked = check_state == BST_CHECKED;
    switch (id) {
    case IDC_SWAP_ALT_CTRL:
    case IDC_CAPSLOCK_TO_CTRL:
    case IDC_SEND_LANG:
    case IDC_USE_DVORAK:
        return checked ? CommandOptionOn : CommandOptionOff;
    case IDC_STARTUP:
        return checked ? CommandCreateShortcut : CommandDeleteShortcut;
    case IDC_EXIT:
    case IDM_EXIT:
        return CommandDestroy;
    case IDM_SETTINGS:
        return CommandShow;
    default:
        return CommandNothing;
    }
}

int32_t* OptionSwitch(RemapSettings& settings, uint32_t id)
{
    switch (id) {
    case IDC_SWAP_ALT_CTRL:
        return &settings.swap_alt_for_ctrl;
    case IDC_CAPSLOCK_TO_CTRL:
        return &settings.capslock_to_ctrl;
    case IDC_SEND_LANG:
        return &settings.send_lang;
    case IDC_USE_DVORAK:
        return &settings.use_dvorak;
    default:
        return nullptr;
    }
}

TrayAction DecideTrayMessage(uintptr_t wParam, intptr_t lParam)
{
    if (wParam != TRAY_ICON_ID) {
        return TrayNothing;
    }
    if (lParam == WM_LBUTTONUP) {
        return TrayShow;
    }
    if (lParam == WM_RBUTTONUP) {
        return TrayOpenMenu;
    }
    return TrayNothing;
}

NotifyAction DecideNotification(uint32_t code)
{
    return code == NM_CLICK || code == NM_RETURN ? NotifyOpenLink : NotifyNothing;
}

EngineAction DecideSessionChange(uintptr_t event)
{
    switch (event) {
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
    case WTS_SESSION_LOCK:
        return EngineReset;
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
    case WTS_SESSION_UNLOCK:
        return EngineResetRearm;
    default:
        return EngineNothing;
    }
}

EngineAction DecidePowerEvent(uintptr_t event)
{
    return event == PBT_APMRESUMEAUTOMATIC ? EngineResetRearm : EngineNothing;
}

namespace {

// Whether the hook's last event came no earlier than the raw one, give or
// take the slack.
bool SeenByHook(uint32_t hook_time, uint32_t raw_time)
{
    return static_cast<int32_t>(hook_time - raw_time) >= -static_cast<int32_t>(HOOK_WATCH_SLACK_MS);
}

}  // namespace

HookWatchAction WatchRawKey(HookWatch& watch, uint32_t raw_time, uintptr_t input_code, uint32_t hook_time,
                            uint32_t now, bool foreground_blind)
{
    if (static_cast<int32_t>(raw_time - now) > 0) {
        raw_time = now;
    }
    // With our own window in front, Windows may not call our own hook at all.
    if (input_code == RIM_INPUT || foreground_blind || SeenByHook(hook_time, raw_time)) {
        return HookWatchNothing;
    }
    watch.raw_time = raw_time;
    if (watch.armed) {
        return HookWatchNothing;
    }
    watch.armed = true;
    watch.armed_time = raw_time;
    return HookWatchArm;
}

HookWatchAction WatchTimerFired(HookWatch& watch, uint32_t hook_time, bool foreground_blind)
{
    if (!foreground_blind && !SeenByHook(hook_time, watch.armed_time)) {
        watch.armed = false;
        const bool silent_since = watch.rearms > 0 && hook_time == watch.rearm_stamp;
        watch.rearms_in_row = silent_since ? watch.rearms_in_row + 1 : 1;
        ++watch.rearms;
        return HookWatchRearm;
    }
    if (!foreground_blind && !SeenByHook(hook_time, watch.raw_time)) {
        watch.armed_time = watch.raw_time;
        return HookWatchArm;
    }
    watch.armed = false;
    return HookWatchNothing;
}

void WatchRearmed(HookWatch& watch, uint32_t hook_time)
{
    watch.rearm_stamp = hook_time;
}

uint32_t HookWatchPeriod(const HookWatch& watch, uint32_t hook_time)
{
    uint32_t period = HOOK_WATCH_MS;
    if (watch.rearms > 0 && hook_time == watch.rearm_stamp) {
        for (uint32_t n = HOOK_WATCH_BACK_OFF_AFTER; n <= watch.rearms_in_row && period < HOOK_WATCH_LONGEST_MS; ++n) {
            period *= 2;
        }
    }
    return period < HOOK_WATCH_LONGEST_MS ? period : HOOK_WATCH_LONGEST_MS;
}

SessionWatchAction DecideSessionWatch(uint32_t error, uint32_t attempt)
{
    return error == RPC_S_INVALID_BINDING && attempt < SESSION_WATCH_ATTEMPTS ? SessionWatchWaitForService
                                                                              : SessionWatchDone;
}

bool KeepTryingTrayIcon(uint32_t attempts)
{
    return attempts <= TRAY_RETRY_ATTEMPTS;
}

DialogKeyAction DecideDialogKey(uintptr_t vk, bool focus_on_link)
{
    switch (vk) {
    case VK_ESCAPE:
    case VK_CANCEL:
        return DialogKeyHide;
    case VK_RETURN:
    case VK_EXECUTE:
        return focus_on_link ? DialogKeyToLink : DialogKeyDrop;
    default:
        return DialogKeyToDialog;
    }
}

bool StartsHidden(int argc, const wchar_t* const* argv)
{
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) {
        return false;
    }
    const wchar_t* const expected = L"/hide";
    for (int i = 0; i < 5; ++i) {
        // A shorter argument ends at its terminator, which matches no letter.
        if (argv[1][i] != expected[i]) {
            return false;
        }
    }
    return true;
}
