// One instance per session, across integrity levels: the named mutex, the
// handover to a running instance, and the restart as administrator, whose
// new instance takes over from the old one.
#pragma once

#include <windows.h>

#include "app/dispatch.h"
#include "res/version.h"

// The window class a launch looks for, and the program's name as its
// windows and its tray icon show it.
const wchar_t* const MAIN_WINDOW_CLASS = L"Lumbrix";
const wchar_t* const PROGRAM_TITLE = L"Lumbrix " LUMBRIX_VERSION;

// For the start, before the settings are read: takes the instance's mutex
// in the session's namespace, then looks for a running instance's window,
// and decides (DecideInstance). A running instance that is still starting
// or on its way out is waited for, claiming again every INSTANCE_POLL_MS
// for up to INSTANCE_WAIT_MS; InstanceWait comes back only when that time
// ran out, and the caller ends. With InstanceShowOther and
// InstanceTakeOver, *other is the running instance's window. `takeover`:
// started with "/takeover".
InstanceAction ClaimInstance(bool takeover, HWND* other);

// Brings the running instance's window forward without waiting on its
// process, which may be busy or ending: lets it take the foreground and
// posts it the tray icon's click, which every version shows the window for.
void ShowOtherInstance(HWND other);

// For a takeover, once this process's window exists: posts the running
// instance its exit command.
void EndOtherInstance(HWND other);

// Before the engine starts, so that no two hooks remap the same key:
// whether the old instance of a takeover has let go of the instance's
// mutex, claimed now without waiting; true at once without a takeover.
bool InstanceHandedOver();

// At the window's creation: lets through the one message a launch at a
// lower integrity level sends (the tray icon's click), and nothing more.
void OpenToLaunches(HWND window);

// At the exit's start: a launch that finds the window from now on waits
// for this process to end instead of handing over to it. The mark goes
// with the window (ForgetInstanceWindow at WM_NCDESTROY).
void MarkInstanceExiting(HWND window);
void ForgetInstanceWindow(HWND window);

// After the message loop, once every file is written: the next instance
// may start.
void ReleaseInstance();

// Reads this process's token, once, at the start, for the two questions
// below.
void ReadProcessToken();

// Whether this process is elevated (TokenElevation).
bool RunsElevated();

// Whether the tray menu offers the restart as administrator
// (OffersElevatedRestart on this process's token).
bool CanRestartElevated();

// Starts this executable again as administrator ("runas", "/takeover"),
// with `window` as the owner of the consent prompt, on a short-lived
// thread: the prompt waits for the user. The executable and its folder are
// held first (HoldExecutable), and the executable is named by the path the
// file system resolved, so that what the prompt elevates and where the
// elevated copy saves cannot be swapped meanwhile; both are held until
// the elevated copy has ended this one, or has ended itself, or
// INSTANCE_WAIT_MS passed. Nothing is started when they cannot be held. A
// cancelled prompt changes nothing; the new instance ends this one once
// its window exists.
void RestartElevated(HWND window);
