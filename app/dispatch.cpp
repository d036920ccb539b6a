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
    case IDM_RESTART_ELEVATED:
        return CommandRestartElevated;
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

EndSessionAction DecideEndSession(uintptr_t ending)
{
    return ending != 0 ? EndSessionExit : EndSessionNothing;
}

ExitWaits ExitWaitsFor(bool session_ending)
{
    // Windows ends a program about 5 s after its WM_ENDSESSION.
    return session_ending ? ExitWaits{2000, 2000} : ExitWaits{10000, 5000};
}

InstanceAction DecideInstance(InstanceClaim claim, bool window_found, bool window_exiting, bool takeover)
{
    const bool live = window_found && !window_exiting;
    switch (claim) {
    case ClaimOwned:   // a live window here is an older version's, which took no mutex
    case ClaimFailed:  // without a mutex the window is all there is to go by
        return live ? InstanceShowOther : InstanceRun;
    case ClaimTaken:
    case ClaimDenied:
        if (!live) {
            return InstanceWait;
        }
        return takeover ? InstanceTakeOver : InstanceShowOther;
    }
    return InstanceRun;
}

bool OffersElevatedRestart(bool elevated, uint32_t elevation_type)
{
    // TokenElevationTypeLimited
    return !elevated && elevation_type == 3;
}

bool StartsTakingOver(int argc, const wchar_t* const* argv)
{
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) {
        return false;
    }
    const wchar_t* const expected = L"/takeover";
    for (int i = 0;; ++i) {
        if (argv[1][i] != expected[i]) {
            return false;
        }
        if (expected[i] == L'\0') {
            return true;
        }
    }
}

NoticeKind ChooseNotice(bool in_temp_folder, bool settings_unsaved, bool shortcut_elsewhere)
{
    if (in_temp_folder) {
        return NoticeTempFolder;
    }
    if (settings_unsaved) {
        return NoticeUnsaved;
    }
    return shortcut_elsewhere ? NoticeOtherCopy : NoticeGuide;
}
