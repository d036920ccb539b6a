#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/tray_win32.h"

#include "app/dispatch.h"
#include "app/exclude_box_win32.h"
#include "app/instance_win32.h"
#include "app/main_window_win32.h"
#include "remap/engine_life_win32.h"
#include "remap/remap_options.h"
#include "remap/remap_win32.h"
#include "res/resource.h"

bool StartedHidden;

namespace {

// Whether the window was closed before in this run.
bool ClosedBefore;

// Sent by Explorer to every top-level window when the taskbar is created
// anew; 0 until AddTray registers it.
UINT TaskbarCreatedMessage;

// Failed additions of the tray icon since the last success.
uint32_t TrayIconFailures;

// The newest icon and tooltip wanted, for the worker; a balloon asked for
// stays wanted until the worker has shown it.
SRWLOCK TrayLock = SRWLOCK_INIT;
CONDITION_VARIABLE TrayWake = CONDITION_VARIABLE_INIT;
NOTIFYICONDATAW TrayWanted;
bool TrayPending;
bool TrayBalloon;
bool TrayStopping;
HANDLE TrayThread;

// How long the exit waits for a shell that does not answer.
const DWORD TRAY_EXIT_WAIT_MS = 2000;

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

// Also called again after Explorer restarts, which drops every icon. While
// the shell refuses it (at logon, before it takes icons) it is tried again
// every TRAY_RETRY_MS for a while: a program started hidden has no other
// face.
void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    data.uFlags = NIF_MESSAGE;
    data.uCallbackMessage = WM_TRAYICON;
    SetTrayState(data);
    if (Shell_NotifyIconW(NIM_ADD, &data)) {
        TrayIconFailures = 0;
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    } else if (KeepTryingTrayIcon(++TrayIconFailures)) {
        SetTimer(window, TRAY_RETRY_TIMER_ID, TRAY_RETRY_MS, NULL);
    } else {
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    }
}

DWORD WINAPI TrayThreadProc(void*)
{
    AcquireSRWLockExclusive(&TrayLock);
    for (;;) {
        while (!TrayPending && !TrayStopping) {
            SleepConditionVariableSRW(&TrayWake, &TrayLock, INFINITE, 0);
        }
        if (TrayStopping) {
            break;
        }
        NOTIFYICONDATAW data = TrayWanted;
        const bool balloon = TrayBalloon;
        TrayPending = false;
        TrayBalloon = false;
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
        Shell_NotifyIconW(NIM_MODIFY, &data);
        AcquireSRWLockExclusive(&TrayLock);
    }
    ReleaseSRWLockExclusive(&TrayLock);
    return 0;
}

// Hands `data`'s icon and tooltip (and the balloon when `balloon`) to the
// worker, replacing what it has not shown yet.
void WishTray(const NOTIFYICONDATAW& data, bool balloon)
{
    AcquireSRWLockExclusive(&TrayLock);
    // Most foreground changes change nothing the icon shows.
    const bool same = !balloon && TrayWanted.hIcon == data.hIcon && lstrcmpW(TrayWanted.szTip, data.szTip) == 0;
    TrayWanted = data;
    TrayBalloon = TrayBalloon || balloon;
    TrayPending = TrayPending || !same;
    ReleaseSRWLockExclusive(&TrayLock);
    WakeConditionVariable(&TrayWake);
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
    const wchar_t* application = LastApplicationName();
    const TrayMenuState state = {active_settings, EnginePaused(), application[0] != L'\0',
                                 ApplicationListed(application), CanRestartElevated()};
    TrayMenuItem items[TRAY_MENU_MAX_ITEMS];
    const uint32_t count = LayOutTrayMenu(state, items);
    HMENU menu = CreatePopupMenu();
    wchar_t exclude_text[MAX_PATH + 32];
    for (uint32_t i = 0; i < count; ++i) {
        const wchar_t* text = TrayMenuText(items[i].id);
        if (items[i].id == IDM_EXCLUDE) {
            FormatExcludeItem(application, exclude_text, ARRAYSIZE(exclude_text));
            text = exclude_text;
        }
        AppendMenuItem(menu, items[i], text);
    }
    return menu;
}

void OpenTrayMenu(HWND window)
{
    POINT point = {0, 0};
    GetCursorPos(&point);
    HMENU menu = CreateTrayMenu();
    // Unless its owner is in the foreground, the menu stays open after a
    // click elsewhere; the posted null message lets it close on the next one.
    SetForegroundWindow(window);
    TrackPopupMenuEx(menu, 0, point.x, point.y, window, NULL);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
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

void TrayIconMessage(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (DecideTrayMessage(wParam, lParam)) {
    case TrayShow:
        ShowSettingsWindow(window);
        break;
    case TrayOpenMenu:
        OpenTrayMenu(window);
        break;
    case TrayNothing:
        break;
    }
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

void ShowTrayState(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    SetTrayState(data);
    WishTray(data, false);
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
    WishTray(data, true);
}

void RemoveTray(HWND window)
{
    KillTimer(window, TRAY_RETRY_TIMER_ID);
    AcquireSRWLockExclusive(&TrayLock);
    TrayStopping = true;
    ReleaseSRWLockExclusive(&TrayLock);
    WakeConditionVariable(&TrayWake);
    if (TrayThread != NULL) {
        WaitForSingleObject(TrayThread, TRAY_EXIT_WAIT_MS);
        CloseHandle(TrayThread);
    }
    NOTIFYICONDATAW data = TrayIconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
}
