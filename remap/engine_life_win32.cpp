#include <windows.h>
#include <wtsapi32.h>

#include "remap/engine_life_win32.h"

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/engine_life.h"
#include "remap/remap_options.h"
#include "remap/remap_win32.h"
#include "settings/remap_settings.h"

namespace {

HookWatch KeyboardHookWatch;

// Whether Windows took the request for raw keyboard input: without it the
// watchdog is blind, and the request is made again.
bool RawKeyboardWatched;

// On Modern Standby machines the resume is not broadcast to every window:
// only a window registered for it hears of it.
HPOWERNOTIFY ResumeNotice;

// Requests for the session's lock and unlock notices made so far.
uint32_t SessionWatchAttempts;

// wtsapi32 is no known DLL: imported, it would be looked for beside the exe
// first, so it is loaded from the system folder only, while it is needed.
HMODULE SessionLibrary;

FARPROC SessionFunction(const char* name)
{
    return SessionLibrary != NULL ? GetProcAddress(SessionLibrary, name) : NULL;
}

// The window a thread waiting for the session service asks for, cleared
// when the window goes; the lock is held across the request, so that no
// request is made for a window already gone.
SRWLOCK ServiceWaitLock = SRWLOCK_INIT;
HWND ServiceWaitTarget;

// The event may not even exist yet: it is looked for again every
// SERVICE_POLL_MS.
const DWORD SERVICE_POLL_MS = 500;

// Asks for WM_WTSSESSION_CHANGE at `window` (locks, unlocks, connections of
// this session): 0 when granted, else the error. May be called again after
// a refusal.
uint32_t WatchSession(HWND window)
{
    typedef BOOL(WINAPI * RegisterFunction)(HWND, DWORD);
    if (SessionLibrary == NULL) {
        SessionLibrary = LoadLibraryExW(L"wtsapi32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    RegisterFunction watch = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void (*)()>(SessionFunction("WTSRegisterSessionNotification")));
    if (watch == NULL) {
        return ERROR_PROC_NOT_FOUND;
    }
    return watch(window, NOTIFY_FOR_THIS_SESSION) ? 0 : GetLastError();
}

// Waits up to SESSION_SERVICE_WAIT_MS for the session service to say that
// it is ready (the event "Global\TermSrvReadyEvent" set).
void WaitForServiceReady()
{
    const ULONGLONG until = GetTickCount64() + SESSION_SERVICE_WAIT_MS;
    HANDLE ready = NULL;
    while ((ready = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\TermSrvReadyEvent")) == NULL &&
           GetTickCount64() < until) {
        Sleep(SERVICE_POLL_MS);
    }
    if (ready != NULL) {
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(ready, now < until ? static_cast<DWORD>(until - now) : 0);
        CloseHandle(ready);
    }
}

// The request is a call to a service still starting: it is made here, not
// on the window's thread, which answers the keyboard hook.
DWORD WINAPI ServiceWaitThread(void*)
{
    SessionWatchAction next = SessionWatchWaitForService;
    while (next == SessionWatchWaitForService) {
        WaitForServiceReady();
        AcquireSRWLockExclusive(&ServiceWaitLock);
        next = ServiceWaitTarget != NULL
                   ? DecideSessionWatch(WatchSession(ServiceWaitTarget), ++SessionWatchAttempts)
                   : SessionWatchDone;
        ReleaseSRWLockExclusive(&ServiceWaitLock);
    }
    return 0;
}

// On a short-lived thread, waits for the session service and asks again for
// `window`, as often as DecideSessionWatch allows, unless
// StopWatchingSession came first.
void WaitForSessionService(HWND window)
{
    AcquireSRWLockExclusive(&ServiceWaitLock);
    ServiceWaitTarget = window;
    ReleaseSRWLockExclusive(&ServiceWaitLock);
    HANDLE thread = CreateThread(NULL, 0, ServiceWaitThread, NULL, 0, NULL);
    if (thread != NULL) {
        CloseHandle(thread);
    }
}

// Stops asking, before the window goes; a waiting thread asks nothing then.
// A request at work, which can wait without bound on a service that does
// not answer, is not waited for: the exit has a deadline, and the process
// ends soon with the registration.
void StopWatchingSession(HWND window)
{
    if (!TryAcquireSRWLockExclusive(&ServiceWaitLock)) {
        return;
    }
    ServiceWaitTarget = NULL;
    ReleaseSRWLockExclusive(&ServiceWaitLock);
    typedef BOOL(WINAPI * UnregisterFunction)(HWND);
    UnregisterFunction stop = reinterpret_cast<UnregisterFunction>(
        reinterpret_cast<void (*)()>(SessionFunction("WTSUnRegisterSessionNotification")));
    if (stop != NULL) {
        stop(window);
    }
    if (SessionLibrary != NULL) {
        FreeLibrary(SessionLibrary);
        SessionLibrary = NULL;
    }
}

// Asks for the session's lock and unlock notices; at logon the service may
// not be up yet, and a worker waits for it.
void WatchSessionChanges(HWND window)
{
    if (DecideSessionWatch(WatchSession(window), ++SessionWatchAttempts) == SessionWatchWaitForService) {
        WaitForSessionService(window);
    }
}

void WatchRawInput(HWND window)
{
    RawKeyboardWatched = WatchRawKeyboard(window);
    if (RawKeyboardWatched) {
        KillTimer(window, RAW_INPUT_RETRY_TIMER_ID);
    } else {
        SetTimer(window, RAW_INPUT_RETRY_TIMER_ID, RAW_INPUT_RETRY_MS, NULL);
    }
}

void OnEngineEvent(HWND window, EngineAction action)
{
    if (!RawKeyboardWatched) {
        WatchRawInput(window);
    }
    if (action == EngineNothing || RemapHold.paused) {
        return;
    }
    // The new hook first: with the old one dead, the releases the reset
    // injects would pass no hook, and raw input would count them against it.
    // This thread judges no key in between.
    if (action == EngineResetRearm) {
        InstallKeyboardHook();
    }
    ResetEngine();
}

bool OnHookWatchTimer(HWND window)
{
    if (RemapHold.paused) {
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        return false;
    }
    switch (WatchTimerFired(KeyboardHookWatch, KeyboardHookTime, ForegroundElevated())) {
    case HookWatchRearm:
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        return true;
    case HookWatchNothing:
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        return false;
    case HookWatchArm:
        return false;
    }
    return false;
}

}  // namespace

// After the window's first paint, which at a cold logon (theme, Japanese
// font fallback) can outlast the hook's time-out, so that a hook already
// installed would be dropped before its first key. The session service,
// also slow at logon, is asked before the hook exists.
void StartEngine(HWND window, ForegroundReport report)
{
    RedrawWindow(window, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    WatchSessionChanges(window);
    ResumeNotice = RegisterSuspendResumeNotification(window, DEVICE_NOTIFY_WINDOW_HANDLE);
    AltTapInit();
    // Whether the application in front is left alone is known before the
    // switches first go in force: applied for it, they would switch a lit
    // CapsLock off with no hook yet to see the events come back.
    WatchForeground(report);
    // Options before the hook, so that no event is judged under other ones.
    ApplyOptionsInForce(*active_settings);
    InstallKeyboardHook();
    WatchRawInput(window);
}

void EngineLeaveAlone(bool left_alone)
{
    if (left_alone != RemapHold.left_alone) {
        RemapHold.left_alone = left_alone;
        ApplyOptionsInForce(*active_settings);
    }
}

// A raw key the hook has not been called for yet: the hook gets a moment to
// catch up before it counts as dropped. A timer that cannot be set would
// leave the watch armed, and blind, for good.
void EngineRawInput(HWND window, WPARAM wParam, LPARAM lParam)
{
    const uint32_t time = static_cast<uint32_t>(GetMessageTime());
    if (IsRawKeyboardEvent(lParam, time) && !RemapHold.paused &&
        WatchRawKey(KeyboardHookWatch, time, GET_RAWINPUT_CODE_WPARAM(wParam), KeyboardHookTime, GetTickCount(),
                    ForegroundElevated()) == HookWatchArm &&
        SetTimer(window, HOOK_WATCH_TIMER_ID, HookWatchPeriod(KeyboardHookWatch, KeyboardHookTime), NULL) == 0) {
        KeyboardHookWatch.armed = false;
    }
}

bool EngineTimer(HWND window, WPARAM id)
{
    if (id == HOOK_WATCH_TIMER_ID) {
        return OnHookWatchTimer(window);
    }
    if (id == RAW_INPUT_RETRY_TIMER_ID) {
        WatchRawInput(window);
    }
    return false;
}

void EngineRearm(HWND window)
{
    OnEngineEvent(window, EngineResetRearm);
    WatchRearmed(KeyboardHookWatch, KeyboardHookTime);
}

void EngineSessionChange(HWND window, WPARAM event)
{
    OnEngineEvent(window, DecideSessionChange(event));
}

void EnginePowerEvent(HWND window, WPARAM event)
{
    OnEngineEvent(window, DecidePowerEvent(event));
}

// Keys released after the hook is gone would never reach the engine: what
// it holds is let go before.
void StopEngine(HWND window)
{
    StopWatchingRawKeyboard();
    KillTimer(window, RAW_INPUT_RETRY_TIMER_ID);
    KillTimer(window, HOOK_WATCH_TIMER_ID);
    StopWatchingForeground();
    ResetEngine();
    RemoveKeyboardHook();
    // The hook is gone: the thread may wait now.
    StopWatchingSession(window);
    if (ResumeNotice != NULL) {
        UnregisterSuspendResumeNotification(ResumeNotice);
        ResumeNotice = NULL;
    }
}

void PauseEngine(HWND window, bool pause)
{
    if (pause == RemapHold.paused) {
        return;
    }
    if (pause) {
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        KeyboardHookWatch.armed = false;
        ResetEngine();
        RemapHold.paused = true;
        ApplyOptionsInForce(*active_settings);
        WatchMouse(false);
        RemoveKeyboardHook();
        return;
    }
    RemapHold.paused = false;
    ApplyOptionsInForce(*active_settings);
    EngineRearm(window);
}

bool EnginePaused()
{
    return RemapHold.paused;
}

uint32_t EngineRearmCount()
{
    return KeyboardHookWatch.rearms;
}
