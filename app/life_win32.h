// The program's life around its window: the engine's start (after a
// takeover, once the old instance has gone), the timers that keep the
// engine and the tray icon alive, and the exit, at the user's word or at
// the session's end, with its one deadline.
#pragma once

#include <windows.h>

// WM_START_ENGINE, which the window's creation posts to itself: starts the
// engine (StartEngine, with the foreground reported to NoteForeground).
// After a takeover the old instance's hook goes first, so that no key is
// remapped twice: its end is waited for on TAKEOVER_TIMER_ID, the window
// answering its messages meanwhile, for up to INSTANCE_WAIT_MS; then this
// instance ends instead.
void StartProgram(HWND window);

// WM_TIMER: the takeover's wait, the tray icon's retries, and the engine's
// watchdog, whose re-arm shows its count in the tooltip before the new hook
// exists.
void ProgramTimer(HWND window, WPARAM id);

// WM_ENDSESSION: at the session's end (sign-out, restart, shutdown, an
// installer closing the program) the window is destroyed within Windows'
// budget (PlanExit).
void EndSession(HWND window, WPARAM ending);

// WM_DESTROY: each part stops in its order, all within one deadline
// (PlanExit): the engine first, letting go of the keys it holds while the
// hook still sees their releases; then the tray icon (at the user's exit
// only), the startup shortcut's worker and the files' savers, the saves
// first at the session's end. When a wait ran out the process ends at once
// (a worker may hold a lock inside COM or the file system that ExitProcess
// would wait for); else the quit message is posted.
void EndProgram(HWND window);
