#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/tray_win32.h"

#include "app/dispatch.h"
#include "app/foreground_win32.h"
#include "app/instance_win32.h"
#include "remap/engine_life_win32.h"
#include "remap/remap_options.h"
#include "res/resource.h"
#include "settings/settings_win32.h"

bool StartedHidden;

namespace {

// Whether the window was closed before in this run.
bool ClosedBefore;

// Sent by Explorer to every top-level window when the taskbar is created
// anew; 0 until AddTray registers it.
UINT TaskbarCreatedMessage;

// Failed additions of the tray icon since the last success.
uint32_t TrayIconFailures;

// The newest icon and tooltip wanted, for the worker, which makes every
// call to the shell: the shell may keep a caller waiting, and the window's
// thread runs the keyboard hook. A balloon or an addition asked for stays
// wanted until the worker has made it; at the exit the worker's last call
// removes the icon when asked to.
SRWLOCK TrayLock = SRWLOCK_INIT;
CONDITION_VARIABLE TrayWake = CONDITION_VARIABLE_INIT;
NOTIFYICONDATAW TrayWanted;
bool TrayPending;
bool TrayBalloon;
bool TrayAdd;
bool TrayStopping;
bool TrayDelete;
HANDLE TrayThread;

// The application the open menu names, for its item's command.
wchar_t MenuApplication[MAX_PATH];

// The tray shows its icons at the display's small-icon size; a large icon
// scaled down there would blur. Loaded once each, as Explorer restarts add
// them again.
HICON SmallIcon(TrayIconKind kind)
{
    static HICON icons[3];
    static const WORD ids[3] = {IDI_APP, IDI_PAUSED, IDI_ELEVATED};
    if (icons[kind] == NULL) {
        LoadIconMetric(GetModuleHandleW(NULL), MAKEINTRESOURCEW(ids[kind]), LIM_SMALL, &icons[kind]);
    }
    return icons[kind];
}

NOTIFYICONDATAW TrayIconData(HWND window)
{
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_MESSAGE;
    data.uCallbackMessage = WM_TRAYICON;
    return data;
}

// The icon and the tooltip of the state now.
void SetTrayState(NOTIFYICONDATAW& data)
{
    const TrayStatus status = {active_settings, EnginePaused(), ForegroundElevated(),
                               RemapHold.left_alone ? ForegroundApplicationName() : nullptr, EngineRearmCount()};
    data.uFlags |= NIF_ICON | NIF_TIP;
    data.hIcon = SmallIcon(DecideTrayIcon(status));
    FormatTrayTip(PROGRAM_TITLE, status, data.szTip);
}

// The icon added: Explorer sends "TaskbarCreated" also when the icon is
// still there (a display scale or a Remote Desktop change), and NIM_ADD then
// fails; NIM_MODIFY succeeding says the icon is there.
bool AddIcon(NOTIFYICONDATAW& data)
{
    return Shell_NotifyIconW(NIM_ADD, &data) || Shell_NotifyIconW(NIM_MODIFY, &data);
}

DWORD WINAPI TrayThreadProc(void*)
{
    AcquireSRWLockExclusive(&TrayLock);
    for (;;) {
        while (!TrayPending && !TrayAdd && !TrayStopping) {
            SleepConditionVariableSRW(&TrayWake, &TrayLock, INFINITE, 0);
        }
        if (TrayStopping) {
            break;
        }
        NOTIFYICONDATAW data = TrayWanted;
        const bool balloon = TrayBalloon;
        const bool add = TrayAdd;
        TrayPending = false;
        TrayBalloon = false;
        TrayAdd = false;
        ReleaseSRWLockExclusive(&TrayLock);
        if (balloon) {
            data.uFlags |= NIF_INFO;
            data.dwInfoFlags = NIIF_INFO;
            lstrcpynW(data.szInfoTitle, L"Lumbrix は通知領域で動いています", ARRAYSIZE(data.szInfoTitle));
            lstrcpynW(data.szInfo,
                      L"ウィンドウを閉じても Lumbrix は動き続けます。アイコンをクリックすると設定ウィンドウが開きます。"
                      L"終了するには、アイコンを右クリックして［終了］を選びます。",
                      ARRAYSIZE(data.szInfo));
        }
        if (add) {
            PostMessageW(data.hWnd, WM_TRAY_ADDED, AddIcon(data), 0);
        } else {
            Shell_NotifyIconW(NIM_MODIFY, &data);
        }
        AcquireSRWLockExclusive(&TrayLock);
    }
    NOTIFYICONDATAW last = TrayWanted;
    const bool remove = TrayDelete;
    ReleaseSRWLockExclusive(&TrayLock);
    if (remove) {
        Shell_NotifyIconW(NIM_DELETE, &last);
    }
    return 0;
}

// Hands `data`'s icon and tooltip (and the balloon when `balloon`, the
// addition of the icon when `add`) to the worker, replacing what it has not
// shown yet.
void WishTray(const NOTIFYICONDATAW& data, bool balloon, bool add)
{
    AcquireSRWLockExclusive(&TrayLock);
    // Most foreground changes change nothing the icon shows.
    const bool same = !balloon && TrayWanted.hIcon == data.hIcon && lstrcmpW(TrayWanted.szTip, data.szTip) == 0;
    TrayWanted = data;
    TrayBalloon = TrayBalloon || balloon;
    TrayAdd = TrayAdd || add;
    TrayPending = TrayPending || !same;
    ReleaseSRWLockExclusive(&TrayLock);
    WakeConditionVariable(&TrayWake);
}

// The icon as the state now is, added again: after Explorer restarted (which
// drops every icon) and while the shell refuses it (at logon, before it
// takes icons), tried every TRAY_RETRY_MS for a while, as the worker
// reports (TrayAdded): a program started hidden has no other face.
void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    SetTrayState(data);
    WishTray(data, false, true);
}

void AppendMenuItem(HMENU menu, const TrayMenuItem& entry, const wchar_t* text)
{
    MENUITEMINFOW item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
    item.fType = entry.id == 0 ? MFT_SEPARATOR : MFT_STRING;
    item.fState = entry.checked ? MFS_CHECKED : MFS_UNCHECKED;
    item.wID = entry.id;
    item.dwTypeData = const_cast<wchar_t*>(text);
    if (entry.id == 0) {
        item.fMask = MIIM_FTYPE;
    }
    InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &item);
}

HMENU CreateTrayMenu()
{
    lstrcpynW(MenuApplication, LastApplicationName(), MAX_PATH);
    const TrayMenuState state = {active_settings, EnginePaused(), MenuApplication[0] != L'\0',
                                 FindExcludedApp(MenuApplication) >= 0, CanRestartElevated()};
    TrayMenuItem items[TRAY_MENU_MAX_ITEMS];
    const uint32_t count = LayOutTrayMenu(state, items);
    HMENU menu = CreatePopupMenu();
    wchar_t exclude_text[MAX_PATH + 32];
    for (uint32_t i = 0; i < count; ++i) {
        const wchar_t* text = TrayMenuText(items[i].id);
        if (items[i].id == IDM_EXCLUDE) {
            FormatExcludeItem(MenuApplication, exclude_text, ARRAYSIZE(exclude_text));
            text = exclude_text;
        }
        AppendMenuItem(menu, items[i], text);
    }
    return menu;
}

}  // namespace

void AddTray(HWND window)
{
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // Run as administrator, the program would not hear from a restarted
    // Explorer, which runs at a lower integrity level, and lose its icon.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, NULL);
    TrayThread = CreateThread(NULL, 0, TrayThreadProc, NULL, 0, NULL);
    AddTrayIcon(window);
}

uint32_t OpenTrayMenu(HWND window)
{
    POINT point = {0, 0};
    GetCursorPos(&point);
    HMENU menu = CreateTrayMenu();
    // Unless its owner is in the foreground, the menu stays open after a
    // click elsewhere; the posted null message lets it close on the next one.
    SetForegroundWindow(window);
    const BOOL chosen =
        TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY, point.x, point.y, window, NULL);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return static_cast<uint32_t>(chosen);
}

const wchar_t* MenuApplicationName()
{
    return MenuApplication;
}

bool TrayTaskbarCreated(HWND window, UINT message)
{
    if (TaskbarCreatedMessage == 0 || message != TaskbarCreatedMessage) {
        return false;
    }
    AddTrayIcon(window);
    return true;
}

bool TrayTimer(HWND window, WPARAM id)
{
    if (id != TRAY_RETRY_TIMER_ID) {
        return false;
    }
    AddTrayIcon(window);
    return true;
}

void TrayAdded(HWND window, bool added)
{
    if (added) {
        TrayIconFailures = 0;
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    } else if (KeepTryingTrayIcon(++TrayIconFailures)) {
        SetTimer(window, TRAY_RETRY_TIMER_ID, TRAY_RETRY_MS, NULL);
    } else {
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    }
}

void ShowTrayState(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    SetTrayState(data);
    WishTray(data, false, false);
}

void UpdateTrayTip(HWND window)
{
    // An icon still waiting for its retry is added now, with the tip.
    if (TrayIconFailures > 0) {
        AddTrayIcon(window);
        return;
    }
    ShowTrayState(window);
}

void ShowTrayBalloon(HWND window)
{
    if (ClosedBefore || StartedHidden) {
        ClosedBefore = true;
        return;
    }
    ClosedBefore = true;
    NOTIFYICONDATAW data = TrayIconData(window);
    SetTrayState(data);
    WishTray(data, true, false);
}

void RemoveTray(HWND window, DWORD wait_ms)
{
    KillTimer(window, TRAY_RETRY_TIMER_ID);
    AcquireSRWLockExclusive(&TrayLock);
    TrayStopping = true;
    TrayDelete = wait_ms > 0;
    ReleaseSRWLockExclusive(&TrayLock);
    WakeConditionVariable(&TrayWake);
    if (TrayThread != NULL && wait_ms > 0) {
        WaitForSingleObject(TrayThread, wait_ms);
    }
}
