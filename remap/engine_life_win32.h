// The engine's life on Windows, driven by the window's messages: its start
// once the window is painted, the watchdog that installs the keyboard hook
// anew when raw input shows that Windows stopped calling it, the resets at
// session and power changes, and its stop. Everything runs on the window's
// thread, the one that answers the hook.
#pragma once

#include <windows.h>

#include <cstdint>

#include "remap/remap_win32.h"

// At the message the window's creation posts to itself, after its first
// paint: asks for the session's notices and for the resume from sleep (on
// Modern Standby machines it is broadcast to no one unasked), readies the
// Alt-tap switch, watches the foreground (telling `report`, which tells
// EngineLeaveAlone, of the window in front before anything else), applies
// *active_settings, installs the keyboard hook and asks for raw keyboard
// input at `window`.
void StartEngine(HWND window, ForegroundReport report);

// Whether the application in front is left alone, as the program decided:
// every switch goes out of force (RemapHold.left_alone, ApplyOptionsInForce
// of *active_settings), and back into force when it no longer is.
void EngineLeaveAlone(bool left_alone);

// WM_INPUT: a raw key the hook has not been called for yet arms the
// watchdog's timer (HOOK_WATCH_TIMER_ID at `window`); a release goes to the
// engine as well.
void EngineRawInput(HWND window, WPARAM wParam, LPARAM lParam);

// WM_TIMER of `window` with timer `id`: the watchdog's check or the retry
// of the raw-input request. True when the check found the hook dropped: the
// re-arm is counted (EngineRearmCount), and the caller shows the count and
// then calls EngineRearm, so that nothing on this thread waits on another
// program once a new hook is in place. False for every other timer.
bool EngineTimer(HWND window, WPARAM id);

// Installs the hook anew and lets go of what the engine holds.
void EngineRearm(HWND window);

// WM_WTSSESSION_CHANGE, WM_POWERBROADCAST: lets go of what the engine holds,
// and after an unlock or a resume installs the hook anew. Each also asks
// again for raw input that Windows refused before.
void EngineSessionChange(HWND window, WPARAM event);
void EnginePowerEvent(HWND window, WPARAM event);

// For the window's destruction: lets go of every key the engine holds while
// the hook still sees their releases, removes the hook, the foreground watch
// and raw input, then stops asking for the session's and the power
// notices (the hook being gone, that call may wait).
void StopEngine(HWND window);

// The tray's pause: lets go of every key the engine holds while the hook
// still sees their releases, puts every switch out of force (so that a
// reset while paused switches no lock), then removes the keyboard hook and
// any mouse hook; the watchdog stays quiet and session and power changes
// install nothing until the resume, which puts the switches back in force
// and installs the hook again as a re-arm does. Not saved: every start runs.
void PauseEngine(HWND window, bool pause);
bool EnginePaused();

// How often in this run the watchdog installed the hook anew.
uint32_t EngineRearmCount();
