// What the settings window does with a click, a tray callback, a link
// notification or a dialog key, and whether the command line asks to start
// hidden: plain decisions on integers, free of the platform.
#pragma once

#include <cstdint>

#include "settings/remap_settings.h"

// Windows' numbers for the messages and codes decided on here, spelled as the
// Windows headers spell them; a Windows file includes <windows.h> and
// <commctrl.h> first and keeps their definitions.
#ifndef WM_USER
#define WM_USER 0x0400
#endif
#ifndef WM_LBUTTONUP
#define WM_LBUTTONUP 0x0202
#endif
#ifndef WM_RBUTTONUP
#define WM_RBUTTONUP 0x0205
#endif
#ifndef BST_CHECKED
#define BST_CHECKED 1
#endif
#ifndef NM_CLICK
#define NM_CLICK (0U - 2U)
#endif
#ifndef NM_RETURN
#define NM_RETURN (0U - 4U)
#endif
#ifndef VK_CANCEL
#define VK_CANCEL 0x03
#endif
#ifndef VK_RETURN
#define VK_RETURN 0x0D
#endif
#ifndef VK_ESCAPE
#define VK_ESCAPE 0x1B
#endif
#ifndef VK_EXECUTE
#define VK_EXECUTE 0x2B
#endif
#ifndef VK_DELETE
#define VK_DELETE 0x2E
#endif

// Child control ids, also the WM_COMMAND ids of the controls. Rows from top
// to bottom hold 1, 2, 3, 0, 4; the applications left alone follow.
const uint32_t IDC_SWAP_ALT_CTRL = 0;
const uint32_t IDC_CAPSLOCK_TO_CTRL = 1;
const uint32_t IDC_SEND_LANG = 2;
const uint32_t IDC_USE_DVORAK = 3;
const uint32_t IDC_STARTUP = 4;
const uint32_t IDC_EXIT = 5;
const uint32_t OPTION_BOX_COUNT = 5;
const uint32_t IDC_EXCLUDE_LIST = 8;
const uint32_t IDC_EXCLUDE_REMOVE = 9;

// Tray menu item ids; a switch's item is IDM_OPTION_FIRST + its box's id.
// 0 stands for a separator.
const uint32_t IDM_SETTINGS = 100;
const uint32_t IDM_EXIT = 101;
const uint32_t IDM_PAUSE = 110;
const uint32_t IDM_EXCLUDE = 111;
const uint32_t IDM_RESTART_ELEVATED = 112;
const uint32_t IDM_OPTION_FIRST = 120;

// The tray icon's id and its callback message.
const uint32_t TRAY_ICON_ID = 1000;
const uint32_t WM_TRAYICON = WM_USER + 1000;

// The startup shortcut's worker reports here whether the shortcut exists.
const uint32_t WM_STARTUP_SHORTCUT = WM_USER + 1001;

// Posted by the window's creation to itself: the engine starts once the
// window has been painted.
const uint32_t WM_START_ENGINE = WM_USER + 1003;

// The tray's worker reports here whether it got the icon into the tray
// (wParam nonzero).
const uint32_t WM_TRAY_ADDED = WM_USER + 1005;

// While a takeover waits for the old instance, it looks again on this timer
// every INSTANCE_POLL_MS.
const uint32_t TAKEOVER_TIMER_ID = 4;

enum CommandAction {
    CommandNothing,
    CommandOptionOn,        // the box's switch becomes 1, applied and saved
    CommandOptionOff,       // the box's switch becomes 0, applied and saved
    CommandCreateShortcut,
    CommandDeleteShortcut,
    CommandDestroy,
    CommandShow,
    CommandToggleBox,       // a switch's menu item: its box flips, then acts as if clicked
    CommandPause,           // the pause flips
    CommandExclude,         // the last application joins or leaves the list
    CommandRemoveExcluded,  // the name selected in the list goes
    CommandListSelection,   // the list's notice: the Remove button follows its selection
    CommandRestartElevated, // our own executable again, as administrator
};

enum TrayAction { TrayNothing, TrayShow, TrayOpenMenu };

enum NotifyAction { NotifyNothing, NotifyOpenLink };

// The tray icon is added again on a timer while the shell refuses it (at
// logon it may not take icons yet, and no "TaskbarCreated" follows).
const uint32_t TRAY_RETRY_TIMER_ID = 1;
const uint32_t TRAY_RETRY_MS = 2000;
const uint32_t TRAY_RETRY_ATTEMPTS = 60;

enum DialogKeyAction {
    DialogKeyToDialog, // the dialog manager's: Tab, Shift+Tab, Space and the rest
    DialogKeyHide,     // hide the window, as its close box does
    DialogKeyToLink,   // straight to the focused link, which opens on it
    DialogKeyDrop,
    DialogKeyRemove,   // the name selected in the list of applications left alone goes
};

// A WM_COMMAND: `id` is the low word of wParam, `check_state` the
// BM_GETCHECK answer of the box with that id (ignored for other ids). Only
// BST_CHECKED counts as on; indeterminate and anything else are off. The
// remove button's clicks remove; the list's own notices do nothing here.
CommandAction DecideCommand(uint32_t id, intptr_t check_state);

// The settings switch that option box `id` writes; null for the startup box,
// the Exit button and every other id.
int32_t* OptionSwitch(RemapSettings& settings, uint32_t id);

// The box whose switch the tray menu's item `id` flips; OPTION_BOX_COUNT
// for every other id.
uint32_t MenuItemBox(uint32_t id);

// What the tray menu shows when it opens.
struct TrayMenuState {
    const RemapSettings* settings;
    bool paused;
    bool has_application;  // an application window was in front before
    bool listed;           // and it is left alone
    bool offers_restart;   // the restart as administrator is offered (OffersElevatedRestart)
};

struct TrayMenuItem {
    uint32_t id;  // 0: a separator
    bool checked;
};

const uint32_t TRAY_MENU_MAX_ITEMS = 12;

// The tray menu from top to bottom into `items` (room for
// TRAY_MENU_MAX_ITEMS); returns how many. The four switches as the window's
// boxes show them, a separator, the pause, the last application's item when
// there is one, the restart as administrator when offered, a separator,
// Settings and Exit.
uint32_t LayOutTrayMenu(const TrayMenuState& state, TrayMenuItem* items);

// The text of menu item `id` with its access key; null for the
// application's item, which FormatExcludeItem writes.
const wchar_t* TrayMenuText(uint32_t id);

// "「<name>」では Lumbrix を使わない(&E)" into `out` (room for `units`, terminator
// included), a '&' of the name doubled so that it shows as itself; a name
// too long is cut.
void FormatExcludeItem(const wchar_t* name, wchar_t* out, uint32_t units);

// What the tray icon and its tooltip tell.
struct TrayStatus {
    const RemapSettings* settings;  // the switches
    bool paused;
    bool elevated_front;      // a window above our integrity level is in front
    const wchar_t* left_alone; // the application in front left alone, or null
    uint32_t rearms;          // the hook installed anew this often
};

enum TrayIconKind { TrayIconRunning, TrayIconPaused, TrayIconElevated };

// The pause wins over the administrator window: the hook is gone anyway.
TrayIconKind DecideTrayIcon(const TrayStatus& status);

// Tooltips hold this many units, terminator included.
const uint32_t TRAY_TIP_UNITS = 128;

// The tooltip into `out` (TRAY_TIP_UNITS): `title` on the first line, then
// the pause or else the switches that are on (or that all are off), then
// one line for each state that applies: an administrator window in front,
// the application in front left alone (its name cut so that the line
// fits), the re-arms once there were any.
void FormatTrayTip(const wchar_t* title, const TrayStatus& status, wchar_t* out);

// A WM_TRAYICON callback in the version-0 form: wParam the icon id, lParam
// the mouse message, both compared as whole words.
TrayAction DecideTrayMessage(uintptr_t wParam, intptr_t lParam);

// A WM_NOTIFY: a click or Return on a link opens it, whichever control sent it.
NotifyAction DecideNotification(uint32_t code);

// After `attempts` failed additions of the tray icon (the first at window
// creation), whether to try again on the retry timer.
bool KeepTryingTrayIcon(uint32_t attempts);

// A key pressed (WM_KEYDOWN) in the shown settings window. The dialog manager
// would turn Esc and Ctrl+Break into WM_COMMAND IDCANCEL (2), Enter and
// Execute into IDOK (1), the ids of two option boxes: none of them may reach
// it. `vk` is the whole wParam.
// Delete with the focus on the list of applications left alone removes the
// selected one.
DialogKeyAction DecideDialogKey(uintptr_t vk, bool focus_on_link, bool focus_on_list = false);

// One instance per session. A launch first takes the named mutex: it is
// this process's own (ClaimOwned), another's (ClaimTaken), another's made
// at a higher integrity level, which this one may not open (ClaimDenied),
// or not to be had at all (ClaimFailed). Then it looks for the running
// instance's window (an older version, which took no mutex, has one too)
// and whether that window is on its way out.
enum InstanceClaim { ClaimOwned, ClaimTaken, ClaimDenied, ClaimFailed };

enum InstanceAction {
    InstanceRun,        // this process is the instance
    InstanceShowOther,  // bring the running instance's window forward, and end
    InstanceTakeOver,   // (elevated, with /takeover) start, tell the running one to end, and wait for it
    InstanceWait,       // the running one is starting or exiting: claim again a moment later
};

// How long a launch waits, at most, for a running instance that is starting
// or exiting (longer than an exit's own waits), and how often it looks.
const uint32_t INSTANCE_WAIT_MS = 20000;
const uint32_t INSTANCE_POLL_MS = 50;

InstanceAction DecideInstance(InstanceClaim claim, bool window_found, bool window_exiting, bool takeover);

// Whether the tray menu offers the restart as administrator: only to a
// process not elevated whose token's TokenElevationType (`elevation_type`,
// 1 default, 2 full, 3 limited) is limited, a split administrator token. A
// standard user would elevate as another account, whose startup folder and
// session are not theirs.
bool OffersElevatedRestart(bool elevated, uint32_t elevation_type);

// The settings window's one notice line, the first that applies: started
// from the temporary folder, the `setting` file not saved at the start, the
// startup shortcut starting another copy, else the guide.
enum NoticeKind { NoticeTempFolder, NoticeUnsaved, NoticeOtherCopy, NoticeGuide };
NoticeKind ChooseNotice(bool in_temp_folder, bool settings_unsaved, bool shortcut_elsewhere);

// WM_ENDSESSION: its wParam is nonzero when the session ends (sign-out,
// restart, shutdown, or an installer closing the program), zero when another
// program cancelled the end and the run goes on.
enum EndSessionAction { EndSessionNothing, EndSessionExit };
EndSessionAction DecideEndSession(uintptr_t ending);

// The exit's one deadline, in milliseconds from the moment the engine has
// stopped, for every wait that follows; what runs first takes from the
// rest. At the session's end Windows offers the user to force the shutdown
// about 5 s after WM_ENDSESSION: the saves come first, and the tray is
// neither waited for nor asked to remove the icon (Explorer is going too).
// At the user's exit the tray goes first, its icon removed, then the
// startup shortcut's worker and the saves.
struct ExitPlan {
    uint32_t deadline_ms;
    bool remove_tray;   // the icon removed, its worker waited for (at most TRAY_EXIT_WAIT_MS)
    bool saves_first;   // the files' savers before the startup shortcut's worker
};
const uint32_t TRAY_EXIT_WAIT_MS = 2000;
ExitPlan PlanExit(bool session_ending);

// The restart as administrator: the new instance waits, answering its
// messages, for the old one to let go of the instance's mutex before its
// engine starts. `owned`: the mutex is this process's now; `waited_ms`:
// since the wait began.
enum TakeoverAction { TakeoverStart, TakeoverWait, TakeoverGiveUp };
TakeoverAction DecideTakeover(bool owned, uint32_t waited_ms);

// How the application of a foreground window of class `class_name` is
// named: by the window's own process; by the process of a child window of
// another process (a Store app's frame, whose own process hosts them all);
// or not at all (the taskbars, the tray's overflow, the desktop, which come
// to the front on the way to the tray icon's menu), though the window's own
// process still counts for leaving keys alone.
enum ApplicationNaming { NameByProcess, NameByChildProcess, NameNoApplication };
ApplicationNaming DecideNaming(const wchar_t* class_name);

// Where the keyboard focus goes.
enum FocusChoice {
    FocusStays,        // nothing moves it
    FocusFirstBox,     // the first option box
    FocusSaved,        // the control that had it when the window was last left
    FocusList,         // the list of applications left alone
    FocusApplication,  // the application that was in front before the tray menu
};

// The settings window takes the focus (shown, restored, brought forward):
// a hidden window keeps it itself and drops the keys that reach it; a shown
// one returns to the control that had it (`saved_usable`: that control
// still there and enabled), else to the first box.
FocusChoice DecideActivationFocus(bool shown, bool saved_usable);

// A removal from the list: the Remove button, about to be disabled while it
// has the focus, would leave the keyboard dead; the list takes it first.
FocusChoice DecideRemoveFocus(bool remove_focused, bool remove_stays_enabled);

// After the tray menu's command `action`: the menu needed our window in
// front, which Windows then gives the keyboard. Unless the command shows
// the window or ends the program, or another window was chosen in the
// meantime (`ours_in_front` false), the application in front before the
// menu gets it back; a window of ours that was in front before and is
// shown keeps it.
FocusChoice DecideMenuFocus(CommandAction action, bool ours_in_front, bool shown, bool ours_before);

// True when the command line holds exactly one argument after the program
// and its first five units are "/hide", compared case-sensitively; what
// follows them is not looked at. `argv` may be null when `argc` is 0.
bool StartsHidden(int argc, const wchar_t* const* argv);

// True when the command line holds exactly one argument after the program
// and it is "/takeover", as the restart as administrator gives it.
bool StartsTakingOver(int argc, const wchar_t* const* argv);
