#include "app/dispatch.h"

#include <cwchar>
#include <initializer_list>

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
    case IDM_PAUSE:
        return CommandPause;
    case IDM_EXCLUDE:
        return CommandExclude;
    case IDC_EXCLUDE_REMOVE:
        return CommandRemoveExcluded;
    case IDC_EXCLUDE_LIST:
        return CommandListSelection;
    case IDM_RESTART_ELEVATED:
        return CommandRestartElevated;
    default:
        return MenuItemBox(id) < OPTION_BOX_COUNT ? CommandToggleBox : CommandNothing;
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

uint32_t MenuItemBox(uint32_t id)
{
    return id >= IDM_OPTION_FIRST && id < IDM_OPTION_FIRST + IDC_STARTUP ? id - IDM_OPTION_FIRST : OPTION_BOX_COUNT;
}

uint32_t LayOutTrayMenu(const TrayMenuState& state, TrayMenuItem* items)
{
    uint32_t count = 0;
    // The window's rows: boxes 1, 2, 3, then 0.
    const RemapSettings& settings = *state.settings;
    const int32_t on[] = {settings.capslock_to_ctrl, settings.send_lang, settings.use_dvorak,
                          settings.swap_alt_for_ctrl};
    for (uint32_t row = 0; row < 4; ++row) {
        items[count++] = {IDM_OPTION_FIRST + (row < 3 ? row + 1 : IDC_SWAP_ALT_CTRL), on[row] != 0};
    }
    items[count++] = {0, false};
    items[count++] = {IDM_PAUSE, state.paused};
    if (state.has_application) {
        items[count++] = {IDM_EXCLUDE, state.listed};
    }
    if (state.offers_restart) {
        items[count++] = {IDM_RESTART_ELEVATED, false};
    }
    items[count++] = {0, false};
    items[count++] = {IDM_SETTINGS, false};
    items[count++] = {IDM_EXIT, false};
    return count;
}

const wchar_t* TrayMenuText(uint32_t id)
{
    switch (id) {
    case IDM_OPTION_FIRST + IDC_CAPSLOCK_TO_CTRL:
        return L"CapsLockキーをCtrlキーに置き換える(&C)";
    case IDM_OPTION_FIRST + IDC_SEND_LANG:
        // Shorter than the box's label: a menu item reads best without nested parentheses.
        return L"左 Alt で IME オフ\u3001右 Alt で IME オン(&I)";
    case IDM_OPTION_FIRST + IDC_USE_DVORAK:
        return L"Dvorak配列を利用(&D)";
    case IDM_OPTION_FIRST + IDC_SWAP_ALT_CTRL:
        return L"AltキーとCtrlキーを入れ替える(&S)";
    case IDM_PAUSE:
        return L"一時停止(&P)";
    case IDM_RESTART_ELEVATED:
        return L"管理者として再起動(&A)";
    case IDM_SETTINGS:
        return L"設定ウィンドウを開く(&O)";
    case IDM_EXIT:
        return L"終了(&X)";
    default:
        return nullptr;
    }
}

namespace {

// Appends `text` to `out` at *at, leaving room for `keep` more units and
// the terminator of `units`; what does not fit is cut.
void Append(wchar_t* out, uint32_t units, uint32_t* at, const wchar_t* text, uint32_t keep = 0)
{
    for (; *text != L'\0' && *at + keep + 1 < units; ++text) {
        out[(*at)++] = *text;
    }
    out[*at] = L'\0';
}

uint32_t Units(const wchar_t* text)
{
    return static_cast<uint32_t>(std::wcslen(text));
}

}  // namespace

void FormatExcludeItem(const wchar_t* name, wchar_t* out, uint32_t units)
{
    // One text with the name's place in it, as the menu shows it.
    const wchar_t* const item = L"「%s」では Lumbrix を使わない(&E)";
    const wchar_t* const tail = std::wcsstr(item, L"%s") + 2;
    uint32_t at = 0;
    for (const wchar_t* head = item; head + 2 != tail; ++head) {
        const wchar_t unit[2] = {*head, L'\0'};
        Append(out, units, &at, unit);
    }
    for (; *name != L'\0'; ++name) {
        const wchar_t unit[3] = {*name, *name == L'&' ? L'&' : L'\0', L'\0'};
        if (at + Units(unit) + Units(tail) + 1 > units) {
            break;
        }
        Append(out, units, &at, unit);
    }
    Append(out, units, &at, tail);
}

TrayIconKind DecideTrayIcon(const TrayStatus& status)
{
    return status.paused ? TrayIconPaused : status.elevated_front ? TrayIconElevated : TrayIconRunning;
}

void FormatTrayTip(const wchar_t* title, const TrayStatus& status, wchar_t* out)
{
    wchar_t rearms[64] = L"";
    if (status.rearms > 0) {
        wchar_t digits[11];
        uint32_t n = status.rearms;
        uint32_t first = 10;
        digits[first] = L'\0';
        do {
            digits[--first] = static_cast<wchar_t>(L'0' + n % 10);
            n /= 10;
        } while (n > 0);
        uint32_t at = 0;
        Append(rearms, 64, &at, L"\nキーの受け取りを ");
        Append(rearms, 64, &at, digits + first);
        Append(rearms, 64, &at, L" 回再開しました。");
    }
    uint32_t at = 0;
    Append(out, TRAY_TIP_UNITS, &at, title);
    if (status.paused) {
        Append(out, TRAY_TIP_UNITS, &at, L"\n一時停止中です。");
    } else {
        // In the window's order, in the fewest words that still tell them apart.
        const RemapSettings& settings = *status.settings;
        const int32_t on[] = {settings.capslock_to_ctrl, settings.send_lang, settings.use_dvorak,
                              settings.swap_alt_for_ctrl};
        const wchar_t* const names[] = {L"CapsLock\u2192Ctrl", L"Alt で IME 切り替え", L"Dvorak", L"Alt\u21d4Ctrl"};
        const wchar_t* lead = L"\nオン: ";
        for (uint32_t i = 0; i < 4; ++i) {
            if (on[i] != 0) {
                Append(out, TRAY_TIP_UNITS, &at, lead);
                Append(out, TRAY_TIP_UNITS, &at, names[i]);
                lead = L"\u3001";
            }
        }
        if (lead[0] == L'\n') {
            Append(out, TRAY_TIP_UNITS, &at, L"\nすべての機能がオフです。");
        }
    }
    if (status.elevated_front) {
        Append(out, TRAY_TIP_UNITS, &at, L"\n管理者として実行中のアプリには働きません。");
    }
    if (status.left_alone != nullptr) {
        const wchar_t* const tail = L"」が前面にあるため止めています。";
        Append(out, TRAY_TIP_UNITS, &at, L"\n「");
        Append(out, TRAY_TIP_UNITS, &at, status.left_alone, Units(tail) + Units(rearms));
        Append(out, TRAY_TIP_UNITS, &at, tail);
    }
    Append(out, TRAY_TIP_UNITS, &at, rearms);
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

DialogKeyAction DecideDialogKey(uintptr_t vk, bool focus_on_link, bool focus_on_list)
{
    switch (vk) {
    case VK_DELETE:
        return focus_on_list ? DialogKeyRemove : DialogKeyToDialog;
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

ExitPlan PlanExit(bool session_ending)
{
    // Windows offers to force the shutdown about 5 s after WM_ENDSESSION;
    // a user's exit waits as long as a slow drive may need.
    return session_ending ? ExitPlan{4000, false, true} : ExitPlan{TRAY_EXIT_WAIT_MS + 15000, true, false};
}

TakeoverAction DecideTakeover(bool owned, uint32_t waited_ms)
{
    if (owned) {
        return TakeoverStart;
    }
    return waited_ms < INSTANCE_WAIT_MS ? TakeoverWait : TakeoverGiveUp;
}

ApplicationNaming DecideNaming(const wchar_t* class_name)
{
    if (std::wcscmp(class_name, L"ApplicationFrameWindow") == 0) {
        return NameByChildProcess;
    }
    for (const wchar_t* shell : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd", L"NotifyIconOverflowWindow",
                                 L"TopLevelWindowForOverflowXamlIsland", L"Progman", L"WorkerW"}) {
        if (std::wcscmp(class_name, shell) == 0) {
            return NameNoApplication;
        }
    }
    return NameByProcess;
}

FocusChoice DecideActivationFocus(bool shown, bool saved_usable)
{
    if (!shown) {
        return FocusStays;
    }
    return saved_usable ? FocusSaved : FocusFirstBox;
}

FocusChoice DecideRemoveFocus(bool remove_focused, bool remove_stays_enabled)
{
    return remove_focused && !remove_stays_enabled ? FocusList : FocusStays;
}

FocusChoice DecideMenuFocus(CommandAction action, bool ours_in_front, bool shown, bool ours_before)
{
    if (action == CommandShow || action == CommandDestroy || !ours_in_front || (shown && ours_before)) {
        return FocusStays;
    }
    return FocusApplication;
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
