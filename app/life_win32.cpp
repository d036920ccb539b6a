#include <windows.h>

#include "app/life_win32.h"

#include "app/dispatch.h"
#include "app/foreground_win32.h"
#include "app/instance_win32.h"
#include "app/tray_win32.h"
#include "remap/engine_life_win32.h"
#include "settings/settings_win32.h"
#include "startup/startup_win32.h"

namespace {

// Set at the session's end: the exit's work then fits Windows' budget.
bool SessionEnding;

ULONGLONG TakeoverBegan;

void LookForHandover(HWND window)
{
    switch (DecideTakeover(InstanceHandedOver(), static_cast<uint32_t>(GetTickCount64() - TakeoverBegan))) {
    case TakeoverStart:
        KillTimer(window, TAKEOVER_TIMER_ID);
        WatchApplications(window);
        StartEngine(window, NoteForeground);
        break;
    case TakeoverWait:
        SetTimer(window, TAKEOVER_TIMER_ID, INSTANCE_POLL_MS, NULL);
        break;
    case TakeoverGiveUp:
        KillTimer(window, TAKEOVER_TIMER_ID);
        DestroyWindow(window);
        break;
    }
}

// What is left of the exit's deadline `until` (a GetTickCount64 time), at
// most `cap` milliseconds.
DWORD Left(ULONGLONG until, DWORD cap)
{
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG left = now < until ? until - now : 0;
    return left < cap ? static_cast<DWORD>(left) : cap;
}

}  // namespace

void StartProgram(HWND window)
{
    TakeoverBegan = GetTickCount64();
    LookForHandover(window);
}

void ProgramTimer(HWND window, WPARAM id)
{
    if (id == TAKEOVER_TIMER_ID) {
        LookForHandover(window);
    } else if (!TrayTimer(window, id) && EngineTimer(window, id)) {
        UpdateTrayTip(window);
        EngineRearm(window);
    }
}

void EndSession(HWND window, WPARAM ending)
{
    if (DecideEndSession(ending) == EndSessionExit) {
        SessionEnding = true;
        DestroyWindow(window);
    }
}

void EndProgram(HWND window)
{
    MarkInstanceExiting(window);
    KillTimer(window, TAKEOVER_TIMER_ID);
    StopEngine(window);
    const ExitPlan plan = PlanExit(SessionEnding);
    const ULONGLONG until = GetTickCount64() + plan.deadline_ms;
    // A shell that does not answer holds no lock the process's end waits for.
    RemoveTray(window, plan.remove_tray ? Left(until, TRAY_EXIT_WAIT_MS) : 0);
    bool done = true;
    if (plan.saves_first) {
        done = FinishSettingsSave(Left(until, INFINITE));
    }
    done = FinishStartupShortcut(Left(until, INFINITE)) && done;
    StopStartupReports();
    if (!plan.saves_first) {
        done = FinishSettingsSave(Left(until, INFINITE)) && done;
    }
    if (!done) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    PostQuitMessage(0);
}
