// The engine's life beside the window: when a change of the session or the
// power state resets it, when the keyboard hook counts as dropped and is
// installed anew, and when the session service is asked again. Plain
// decisions on integers, free of the platform.
#pragma once

#include <cstdint>

// Windows' numbers for the messages and codes decided on here, spelled as the
// Windows headers spell them; a Windows file includes <windows.h> first and
// keeps their definitions.
#ifndef WTS_CONSOLE_CONNECT
#define WTS_CONSOLE_CONNECT 0x1
#define WTS_CONSOLE_DISCONNECT 0x2
#define WTS_REMOTE_CONNECT 0x3
#define WTS_REMOTE_DISCONNECT 0x4
#define WTS_SESSION_LOCK 0x7
#define WTS_SESSION_UNLOCK 0x8
#endif
#ifndef PBT_APMRESUMEAUTOMATIC
#define PBT_APMRESUMEAUTOMATIC 0x12
#endif

// What a change of the session or the power state asks of the engine.
enum EngineAction {
    EngineNothing,
    EngineReset,       // key releases are made where the hook never sees them
    EngineResetRearm,  // as EngineReset, and the hook may have been dropped
};

// The keyboard hook's watchdog. Windows removes a hook without notice when
// one call answers too late, and says nothing. Raw keyboard input reaches the
// window past the hook chain: a raw key event that the hook has still not
// been called for a while later means that the hook is gone. The raw event
// carries its time, the hook the tick count of its last call or install
// (both tick counts, which wrap); the window compares the two at each raw
// event, and again when the check timer fires. A hook call may come before
// its raw event or after it. With no key pressed nothing wakes.
struct HookWatch {
    uint32_t armed_time;      // the raw event that armed the check timer
    uint32_t raw_time;        // the latest raw event the hook had not been called for
    bool armed;               // the check timer runs
    uint32_t rearm_stamp;     // the hook's stamp right after the last re-arm
    uint32_t rearms_in_row;   // re-arms with no hook call between them, up to the last
    uint32_t rearms;          // every re-arm of the run
};

// Long enough for a hook call still on its way behind its raw event.
const uint32_t HOOK_WATCH_TIMER_ID = 2;
const uint32_t HOOK_WATCH_MS = 300;

// A hook re-armed this often in a row without being called once is not
// helped by more of the same every HOOK_WATCH_MS (each re-arm lets go of
// the keys the user holds): the wait doubles from there, up to a minute.
const uint32_t HOOK_WATCH_BACK_OFF_AFTER = 3;
const uint32_t HOOK_WATCH_LONGEST_MS = 60000;

// How much later than the hook's last call a raw event may be stamped and
// still count as seen: the two stamps need not come from one reading of
// the clock, and a re-arm resets keys the user may still hold. A hook that
// is gone stays silent for the keys after it; one of them is caught.
const uint32_t HOOK_WATCH_SLACK_MS = 100;

// wParam's code of a WM_INPUT that came while a window of ours had the
// focus (RIM_INPUTSINK: another's).
#ifndef RIM_INPUT
#define RIM_INPUT 0
#endif

enum HookWatchAction {
    HookWatchNothing,  // the check timer is not needed (killed when it fired)
    HookWatchArm,      // the check timer runs (on) for another period
    HookWatchRearm,    // kill the timer; install the hook anew, then reset the engine
};

// A raw keyboard event of `raw_time` (WM_INPUT's code `input_code`, handled
// at tick `now`), the hook's stamp `hook_time`: HookWatchArm when the hook
// has not been called since that event, the timer is not armed yet, the
// event came while another program's window had the focus and that window
// is one whose keys the hook sees; else HookWatchNothing. A raw event
// stamped later than `now` carries a time its sender made up: it counts as
// of `now`.
HookWatchAction WatchRawKey(HookWatch& watch, uint32_t raw_time, uintptr_t input_code, uint32_t hook_time,
                            uint32_t now, bool foreground_blind);

// The check timer fired. HookWatchRearm, counted, when the hook has still
// not been called for the raw event that armed it, a whole period later;
// HookWatchArm when it has, but not for a later raw event, which then gets
// its own period; else HookWatchNothing. Nothing either while the
// foreground is blind to the hook.
HookWatchAction WatchTimerFired(HookWatch& watch, uint32_t hook_time, bool foreground_blind);

// After a re-arm: `hook_time` is the stamp of the hook as it now stands.
void WatchRearmed(HookWatch& watch, uint32_t hook_time);

// The check timer's period for the hook's stamp `hook_time`: HOOK_WATCH_MS,
// or longer while re-arms keep finding the hook silent.
uint32_t HookWatchPeriod(const HookWatch& watch, uint32_t hook_time);

// Raw keyboard input that could not be asked for (the watchdog's eyes) is
// asked for again on this timer, and at each session or power event.
const uint32_t RAW_INPUT_RETRY_TIMER_ID = 3;
const uint32_t RAW_INPUT_RETRY_MS = 10000;

// A WM_WTSSESSION_CHANGE with `event` in wParam: locked or disconnected
// resets, unlocked or connected also re-arms the hook; the rest is nothing.
EngineAction DecideSessionChange(uintptr_t event);

// A WM_POWERBROADCAST with `event` in wParam: the automatic resume from
// sleep re-arms the hook; the rest is nothing.
EngineAction DecidePowerEvent(uintptr_t event);

// The session's lock and unlock notices are asked for at the engine's
// start. Before the session service is up (a start at logon), the request
// fails with RPC_S_INVALID_BINDING: a worker waits, at most
// SESSION_SERVICE_WAIT_MS each time, for the service to say it is ready
// ("Global\TermSrvReadyEvent") and asks again itself, up to
// SESSION_WATCH_ATTEMPTS times in all.
#ifndef RPC_S_INVALID_BINDING
#define RPC_S_INVALID_BINDING 1702L
#endif
const uint32_t SESSION_SERVICE_WAIT_MS = 120000;
const uint32_t SESSION_WATCH_ATTEMPTS = 5;

enum SessionWatchAction { SessionWatchDone, SessionWatchWaitForService };

// The request number `attempt` (the first is 1) ended with `error` (0: it
// was granted): whether to wait for the service and ask again.
SessionWatchAction DecideSessionWatch(uint32_t error, uint32_t attempt);

