// The shortcut in the user's Startup folder that starts the program hidden.
#pragma once

#include <windows.h>

#include "startup/shortcut_path.h"

// A file operation on the shortcut path: PathFileExistsW or DeleteFileW.
typedef BOOL(WINAPI* ShortcutFileOp)(LPCWSTR path);

// Builds "<Startup folder>\<exe file name>.lnk" into *out (heap-allocated,
// freed with HeapFree). Returns 1 when a path was stored, 0 when none was.
BOOL GetStartupShortcutPath(const wchar_t* executable_path, wchar_t** out);

// Runs `operation` on the shortcut path; 0 when no path could be built.
BOOL WithStartupShortcut(ShortcutFileOp operation);

// Whether the running executable lies in the user's temporary folder
// (GetTempPathW), both paths in their long form: Explorer copies an exe
// started from inside a zip there, where its `setting` file and any shortcut
// to it are lost when the folder is cleaned. False when either path cannot
// be found. Asks the disk: for the window's creation, before the hook.
bool ExecutableInTempFolder();

// Reads the shortcut, when there is one, for what it starts
// (StartsThisCopy); one that cannot be read counts as another copy's. Needs
// COM initialised on the calling thread. Asks the disk: for the window's
// creation, before the hook, and for the wish threads.
ShortcutState ReadStartupShortcut();

// Writes the shortcut: target the executable, arguments "/hide". Needs COM
// initialised on the calling thread (single-threaded apartment).
void CreateStartupShortcut();

// The startup box's wish, carried out away from the calling thread, which
// runs the keyboard hook: the Startup folder may be on a network or cloud
// drive, and COM and the file write can take seconds. `exists` is whether
// a shortcut to this copy is there now. Each wish carried out is reported to
// `window` as `message`: wParam 1 when a shortcut to this copy exists
// afterwards, else 0, and
// lParam the wish, for StartupReportIsLatest. Call once before the first wish.
void TrackStartupShortcut(HWND window, UINT message, bool exists);

// Creates (`wanted`) or deletes the shortcut on a short-lived thread of its
// own. Wishes are carried out one at a time, each as the latest wish stands
// then, so that the last one wins.
void WishStartupShortcut(bool wanted);

// Whether a report's lParam is the latest wish: no click came after it, so
// the box may show the report's result.
bool StartupReportIsLatest(LPARAM wish);

// For the exit: carries out the latest wish on a thread of its own unless
// it was tried already (the box then shows its outcome, which a later
// attempt could silently undo) or is done, after the thread at work on one
// before, and reports; the wish threads would otherwise be cut off with a
// shortcut half written. True when that thread is through within
// `wait_ms`; false when the time ran out, and COM or the file system may
// still hold a lock: the caller then ends the process with
// TerminateProcess rather than ExitProcess.
bool FinishStartupShortcut(DWORD wait_ms);

// No more reports: for the window's destruction, after the exit's
// FinishStartupShortcut. A thread still at work then posts nothing.
void StopStartupReports();
