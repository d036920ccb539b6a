// The hook's decision for one low-level keyboard event, free of the platform.
#pragma once

#include <cstdint>

struct HookKeyEvent {
    int32_t code;           // nCode of the hook call
    uintptr_t message;      // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    uint32_t vkCode;
    uint32_t flags;         // LLKHF_INJECTED decides; LLKHF_EXTENDED goes with a key sent again
    uintptr_t dwExtraInfo;
    uint32_t scanCode;      // goes with a key sent again, never decides
    uint32_t time;          // the event's tick count: how long an Alt was held
    uint32_t now;           // the tick count as the hook was called
    uint32_t wait_began;    // when Windows began waiting for this call (HookWaitBegan)
};

enum HookVerdict { Pass, Swallow };

// How long Windows waits for a low-level hook before it hands the event on
// without it: a press whose call comes later than that has reached the
// system as it is. 300 ms unless the platform says otherwise.
extern uint32_t LateHookMs;

// LateHookMs for the user's LowLevelHooksTimeout, 0 when unset: 300 ms by
// default, and never more than the second that Windows 10 1709 and later
// wait whatever the setting (a call 1-5 s late would otherwise reach the
// system twice, as itself and replaced).
uint32_t LateHookLimitMs(uint32_t setting);

// When Windows began waiting for the hook call at tick count `now` for an
// event of tick count `time`, given `answered`, when it was done with the
// call before; updates `answered` for the next call. Windows calls one at a
// time: a key that waited in line behind others (a burst, a slow hook
// ahead of ours) is waited for only from the moment the call before was
// answered, or given up on LateHookMs after its own wait began, when that
// call was late itself. An event time outside that span (another
// program's injection may carry any) is bounded by it. A call is late
// when `now` is LateHookMs past this.
uint32_t HookWaitBegan(uint32_t& answered, uint32_t time, uint32_t now);

// When Windows was done with the keyboard hook's last call.
extern uint32_t KeyboardHookAnswered;

// How long a key pressed while an Alt tap is pending is held back at most,
// with the Alt still down, before the Alt counts as its modifier: a roll
// out of the tap overlaps for less; a chord (Alt+Tab held for the
// switcher) waits no longer than this.
const unsigned KEY_HOLD_MS = 200;

// Judges one event: a press under the rules in force (SelectKeyRules), a
// repeat and a release the way the press went (PressRecord). Replacement
// events go out through InjectKey before it returns, and a key that must
// follow a modifier injected for it is sent again as it came; Alt keys are
// routed to the Alt-tap switch while send_lang is on, and while the switch
// listens every press, another program's included, goes there first: the
// first one while a tap is pending is held back until the tap is decided. A
// rewrite is never fed to another rule. A press whose call comes late
// passes untouched, and its key passes as itself until let go (a CapsLock
// that is Ctrl is let go of at once, its lock switched back). The engine's
// own injections coming back are counted as landed.
HookVerdict RemapKeyEvent(const HookKeyEvent& event);

// After events that the hook may not have seen (a blind period, a hook
// installed anew): a key the system holds on the user's behalf passes as
// itself until let go (PRESS_KEPT), whatever became of its press; the other
// records are forgotten, for the reset lets go of what they stood for and
// a repeat is a new press, but an Alt's press at the Alt-tap switch, which
// stays no tap until the Alt is let go.
void RecordKeptKeys();

// At a switch change: only keys the system holds that no press in progress
// explains (passed while their rule was off, or pressed again where the
// hook was blind after a reset) become PRESS_KEPT.
void RecordPassedKeys();

// Puts the rules of the switches in RemapOptions in force, but for the keys
// with a press in progress, which keep going as they were pressed. While
// `catch_up` every key first takes the slow path, where the next event the
// hook sees resets the engine again (ResetEngine left work undone).
void SelectKeyRules(bool catch_up);

// A release of the key with scan code `scan`, reported by raw input at
// event time `time` from the raw device `device` (the handle as a number;
// 0 for injected input, which only a device's release may stand for),
// which the hook may never get: the keyboard
// layout swallows CapsLock's release while Shift is down on a US layout
// with the Japanese IME, and a JIS 英数 pressed with Shift as CapsLock has
// none once Shift is let go. A CapsLock press that became Ctrl and came no
// later than `time` is released as the hook would have released it; raw
// input may come first, and the hook's release, if any, is then swallowed.
void RawKeyReleased(uintptr_t device, uint32_t scan, uint32_t time);

// A timer of StartHoldTimer ran out: an Alt's hold timer, or the one of a
// key held back KEY_HOLD_MS, which makes the pending tap its modifier.
void HoldTimerExpired(uintptr_t timer_id);

// At a reset or a switch change: a key held back goes now, behind the
// modifier of the tap it waited for (pressed under the rules it was pressed
// under), and at a `reset` is let go of too; then, for a `reset` or to
// `settle`, AltTapSettle(reset, let_go).
void SettleAltTaps(bool settle, bool reset, bool let_go);

struct HookMouseEvent {
    uintptr_t message;    // the mouse message (wParam)
    uint32_t flags;       // MSLLHOOKSTRUCT's: LLMHF_INJECTED
    uintptr_t extra;      // its dwExtraInfo: the pen signature
    uint32_t mouse_data;  // its mouseData: the X button, the wheel's turn
    bool late;            // the call came after Windows handed the event on
};

// One low-level mouse event while a tap is pending. A button press or a
// wheel turn, the user's, another program's, the pen's or a touch's
// (Windows marks those with its pen signature even when injected), makes
// the tap its modifier (a key held back goes first), and is sent again
// behind it with its extra info (SendMouseInput) and swallowed; unless it
// came late (the system has it already) or cannot be sent again, when it
// passes. Another program's button release that comes while its press,
// sent again, is on its way is sent again behind it. Everything else passes.
HookVerdict RemapMouseEvent(const HookMouseEvent& event);

// Platform seam of the mouse: a low-level mouse hook that hands its events
// to RemapMouseEvent is installed while `on`, and removed otherwise. Returns
// whether one is in place (true when `on` is false). And the one mouse
// event the engine sends: the button press or release, or the wheel turn,
// of `message`, with `mouse_data` and `extra` as the hook gave them, at the
// cursor; returns 0 when it was not sent: the system refused it, or the
// window under the cursor is above our integrity level and would drop it
// silently (UIPI).
bool WatchMouse(bool on);
unsigned SendMouseInput(uintptr_t message, uint32_t mouse_data, uintptr_t extra);
