#include <windows.h>
#include <commctrl.h>
#include <imm.h>

#include "app/main_window_win32.h"

#include "app/controls_win32.h"
#include "app/exclude_box_win32.h"
#include "app/window_controls_win32.h"
#include "app/foreground_win32.h"
#include "app/instance_win32.h"
#include "app/life_win32.h"
#include "app/shell_win32.h"
#include "app/tray_win32.h"
#include "remap/engine_life_win32.h"
#include "remap/remap_options.h"
#include "settings/settings_win32.h"
#include "startup/startup_win32.h"

namespace {

HFONT UiFont;

// The control that had the focus when the window was last left.
HWND SavedFocus;

void SetOption(HWND window, UINT id, int32_t value)
{
    *OptionSwitch(*active_settings, id) = value;
    RemapSettings& applied = ApplyOptionsInForce(*active_settings);
    if (SettingsFileKnown) {
        SaveSettingsInBackground(applied);
    }
    // The tooltip names the switches that are on.
    ShowTrayState(window);
}

void OnCreate(HWND window)
{
    UiFont = CreateCaptionFont(GetDpiForWindow(window));
    AddTray(window);
    OpenToLaunches(window);
    CreateWindowControls(window, UiFont);
    ScaleToDpi(window);
    // No control takes text: the IME's text services stay off this thread,
    // which runs the hook.
    ImmAssociateContextEx(window, NULL, IACE_CHILDREN);
    PostMessageW(window, WM_START_ENGINE, 0, 0);
}

// Shown, brought forward or restored, the window takes the focus itself
// (DefWindowProcW at activation) and hands it on (DecideActivationFocus), so
// that the keyboard works at once; hidden (in front for the tray menu), it
// keeps it and drops the keys.
void PassFocus(HWND window)
{
    const bool usable = SavedFocus != NULL && IsWindow(SavedFocus) && IsWindowEnabled(SavedFocus) &&
                        IsWindowVisible(SavedFocus);
    switch (DecideActivationFocus(IsWindowVisible(window) != FALSE, usable)) {
    case FocusSaved:
        SetFocus(SavedFocus);
        break;
    case FocusFirstBox:
        SetFocus(OptionBox(OPTION_ROWS[0]));
        break;
    default:
        break;
    }
}

// Restored when minimised, and brought to the front. Already in front
// (hidden, for the tray menu), it passes the focus on itself.
void ShowSettingsWindow(HWND window)
{
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    if (GetFocus() == window) {
        PassFocus(window);
    }
}

// A click on a box, a tray menu item, a button or a key of the list. A
// switch's menu item flips its box and goes the way of a click on it. The
// menu's application item acts on `application`, the name it showed.
CommandAction OnCommand(HWND window, WPARAM wParam, const wchar_t* application)
{
    const UINT id = LOWORD(wParam);
    const UINT box = id < OPTION_BOX_COUNT ? id : MenuItemBox(id);
    const LRESULT check = box < OPTION_BOX_COUNT ? SendMessageW(OptionBox(box), BM_GETCHECK, 0, 0) : 0;
    const CommandAction action = DecideCommand(id, check);
    switch (action) {
    case CommandOptionOn:
        SetOption(window, id, 1);
        break;
    case CommandOptionOff:
        SetOption(window, id, 0);
        break;
    case CommandCreateShortcut:
        WishStartupShortcut(true);
        break;
    case CommandDeleteShortcut:
        WishStartupShortcut(false);
        break;
    case CommandDestroy:
        DestroyWindow(window);
        break;
    case CommandShow:
        ShowSettingsWindow(window);
        break;
    case CommandToggleBox:
        SendMessageW(OptionBox(box), BM_SETCHECK, check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        OnCommand(window, box, application);
        break;
    case CommandPause:
        PauseEngine(window, !EnginePaused());
        ShowTrayState(window);
        break;
    case CommandExclude:
    case CommandRemoveExcluded:
    case CommandListSelection:
        if (ChangeExcluded(action, application)) {
            DecideLeftAlone();
            ShowTrayState(window);
        }
        break;
    case CommandRestartElevated:
        RestartElevated(window);
        break;
    case CommandNothing:
        break;
    }
    return action;
}

// The menu needs our window in front, and Windows gives it the keyboard:
// after a command that does not show the window, the application in front
// before the menu gets it back (see DecideMenuFocus).
void OpenMenu(HWND window)
{
    const HWND front = GetForegroundWindow();
    // Foreground events come late or, under some systems, not at all: the
    // window in front as the menu opens counts as seen.
    if (front != NULL && front != window) {
        NoteForeground(front);
    }
    const HWND before = LastFrontWindow();
    const CommandAction action = OnCommand(window, OpenTrayMenu(window), MenuApplicationName());
    if (action != CommandDestroy && before != NULL &&
        DecideMenuFocus(action, GetForegroundWindow() == window, IsWindowVisible(window) != FALSE,
                        before == window) == FocusApplication) {
        SetForegroundWindow(before);
    }
}

void OnTrayIcon(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (DecideTrayMessage(wParam, lParam)) {
    case TrayShow:
        ShowSettingsWindow(window);
        break;
    case TrayOpenMenu:
        OpenMenu(window);
        break;
    case TrayNothing:
        break;
    }
}

void OnNotify(LPARAM lParam)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (DecideNotification(header->code) == NotifyOpenLink) {
        const NMLINK* link = reinterpret_cast<const NMLINK*>(lParam);
        OpenLinkInBackground(link->item.szUrl);
    }
}

// Left, the window keeps in mind which control had the focus.
void OnActivate(HWND window, WPARAM wParam)
{
    const HWND focus = GetFocus();
    if (LOWORD(wParam) == WA_INACTIVE && focus != NULL && IsChild(window, focus)) {
        SavedFocus = focus;
    }
}

// Moved to a monitor of another scale, or the scale changed: the caption font
// for the new DPI, the suggested rectangle, every control measured anew.
void OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    const HFONT old_font = UiFont;
    UiFont = CreateCaptionFont(HIWORD(wParam));
    SetControlsFont(window, UiFont);
    DeleteObject(old_font);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(window, HIWORD(wParam));
}

// Closing only hides: the program lives on in the tray.
void OnClose(HWND window)
{
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    ShowTrayBalloon(window);
}

// Unless another click is on its way, the startup box shows what is there.
void OnStartupShortcut(WPARAM exists, LPARAM wish)
{
    if (StartupReportIsLatest(wish)) {
        SendMessageW(OptionBox(IDC_STARTUP), BM_SETCHECK, exists ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_COMMAND:
        OnCommand(window, wParam, LastApplicationName());
        break;
    case WM_NOTIFY:
        OnNotify(lParam);
        break;
    case WM_TRAYICON:
        OnTrayIcon(window, wParam, lParam);
        break;
    case WM_TRAY_ADDED:
        TrayAdded(window, wParam != 0);
        break;
    case WM_STARTUP_SHORTCUT:
        OnStartupShortcut(wParam, lParam);
        break;
    case WM_START_ENGINE:
        StartProgram(window);
        break;
    case WM_INPUT:
        EngineRawInput(window, wParam, lParam);
        break;
    case WM_WTSSESSION_CHANGE:
        EngineSessionChange(window, wParam);
        break;
    case WM_POWERBROADCAST:
        EnginePowerEvent(window, wParam);
        return TRUE;
    case WM_TIMER:
        ProgramTimer(window, wParam);
        break;
    case WM_FOREGROUND_CHANGED:
        ShowTrayState(window);
        break;
    case WM_ACTIVATE:
        OnActivate(window, wParam);
        break;
    case WM_SETFOCUS:
        PassFocus(window);
        break;
    case WM_DPICHANGED:
        OnDpiChanged(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
        EndProgram(window);
        DeleteObject(UiFont);
        return 0;
    case WM_NCDESTROY:
        ForgetInstanceWindow(window);
        break;
    case WM_ENDSESSION:
        EndSession(window, wParam);
        return 0;
    default:
        TrayTaskbarCreated(window, message);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool IsSettingsDialogMessage(HWND window, MSG* message)
{
    if (message->hwnd != window && !IsChild(window, message->hwnd)) {
        return false;
    }
    // Hidden, the window is in front only for the tray menu: no key typed
    // meanwhile may press a control.
    if (message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST && !IsWindowVisible(window)) {
        return true;
    }
    if (message->message == WM_KEYDOWN) {
        switch (DecideDialogKey(message->wParam, GetFocus() == NoticeControl(), IsExcludeList(GetFocus()))) {
        case DialogKeyHide:
            SendMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case DialogKeyToLink:
            return false;
        case DialogKeyDrop:
            return true;
        case DialogKeyRemove:
            SendMessageW(window, WM_COMMAND, IDC_EXCLUDE_REMOVE, 0);
            return true;
        case DialogKeyToDialog:
            break;
        }
    }
    return IsDialogMessageW(window, message) != FALSE;
}
