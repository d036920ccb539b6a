// Alt-tap IME switch: a lone quick tap of left/right Alt sends IME off/on; a
// held or combined Alt acts as its side's modifier. One record per side.
// A press is judged by the event times of its key-down and key-up; the hold
// timer only presses the modifier while the Alt is still held. The press of
// another key (the user's or another program's, late or not), a click or a
// wheel turn, or a Shift, Ctrl, Windows key or mouse button already down,
// makes it a modifier. States and their invariants: alt_tap.cpp.
#pragma once

#include <cstdint>

#include "remap/keyboard_hook.h"

struct HWND__;

struct AltTapState {
    int32_t pressed;        // 1 from the first key-down of a press to its key-up
    int32_t interrupted;    // 1 once the press is no tap: it acts as its modifier
    uintptr_t timer_id;     // pending hold timer, 0 when none
    uint16_t modifier_key;  // injected while the Alt acts as a modifier
    uint16_t ime_key;       // injected for a lone tap
    uint16_t held_key;      // the modifier this press holds down in the system; 0 for none
    uint32_t down_time;     // event time of the press's first key-down
    uint32_t repeat_time;   // event time of its latest key-down
};

extern AltTapState alt_tap_left;
extern AltTapState alt_tap_right;

// 1 while a tap is pending on either side: every key then goes to the
// switch first (RouteEveryKey), and a mouse hook is in place.
extern uint8_t AltTapPending;

// Hold time counted from the first key-down of a press.
const unsigned ALT_HOLD_MS = 500;

// Longer than any keyboard's auto-repeat delay: a key-down of a held Alt
// that comes later than this after its last one is a new press, whose
// release the hook did not see.
const unsigned ALT_REPEAT_GAP_MS = 1100;

// Puts both records in their start state. Called once, before the first
// ApplyOptions and before the hook is installed.
void AltTapInit();

// A pending tap on either side becomes a press that is no tap, with nothing
// pressed yet: its next auto-repeat presses the modifier, its release sends
// no IME key. For when the Alt events stop reaching the switch as they
// were (the switch turned off), or may have been missed (a reset,
// `let_go`): then a modifier held is no longer held for its press, which
// the caller lets go of in the system; an auto-repeat presses it again.
void AltTapSettle(bool let_go);

// Whether a key-down at `time` of this side's Alt is a new press though the
// side is pressed: the press acts as its modifier, and the Alt has not
// repeated for ALT_REPEAT_GAP_MS, so its release was hidden from the hook.
bool AltTapStale(const AltTapState& state, uint32_t time);

// The side's Alt passes as itself from now on (the system holds it): the
// press ends without a word to the system; the modifier it held is no
// longer held for it (the caller lets go of it).
void AltTapDrop(AltTapState& state);

// A key-down of this side's Alt, first press or auto-repeat, at event
// time `time`.
void AltTapKeyDown(AltTapState& state, uint32_t time);

// A key-up of this side's Alt at event time `time`.
void AltTapKeyUp(AltTapState& state, uint32_t time);

// The press of any other key, a click or a wheel turn arrived. True when it
// turned a pending tap into its modifier's press just now.
bool AltTapInterrupt(AltTapState& state);

// A hook call came late: Windows may have dropped the mouse hook without a
// word. A pending tap gets a new one.
void AltTapRenewMouseWatch();

// The hold timer ran out. Has the platform's TIMERPROC form; reads idEvent.
void AltTapTimerProc(HWND__* hwnd, unsigned int message, uintptr_t idEvent, unsigned long time);

struct HookMouseEvent {
    uintptr_t message;    // the mouse message (wParam)
    uint32_t flags;       // MSLLHOOKSTRUCT's: LLMHF_INJECTED
    uintptr_t extra;      // its dwExtraInfo: the pen signature
    uint32_t mouse_data;  // its mouseData: the X button, the wheel's turn
    bool late;            // the call came after Windows handed the event on
};

// One low-level mouse event while a tap is pending. A button press or a
// wheel turn, physical or from the pen or a touch (Windows marks those with
// its pen signature even when injected), interrupts the pending tap: the
// modifier goes down, and the mouse event is sent again behind it with its
// extra info (SendMouseInput) and swallowed; unless it came late (the
// system has it already) or cannot be sent again, when it passes.
// Everything else passes.
HookVerdict AltTapMouseEvent(const HookMouseEvent& event);

// Platform seam of the modifiers: whether the system holds Shift, Ctrl, a
// Windows key or a mouse button down now (GetAsyncKeyState), whoever
// pressed it.
bool SystemModifierDown();

// Platform seam of the hold timer: start one ALT_HOLD_MS timer that calls
// AltTapTimerProc (returns its nonzero id, or 0 on failure), and cancel one.
uintptr_t StartHoldTimer();
void CancelHoldTimer(uintptr_t timer_id);

// Platform seam of the mouse: a low-level mouse hook that hands its events
// to AltTapMouseEvent is installed while `on`, and removed otherwise; called
// whenever a tap starts or ends pending. Returns whether one is in place
// (true when `on` is false): without one a tap pending cannot be told from
// Alt+click, and the press is made its modifier at once. And the one mouse
// event the switch sends: the button press or wheel turn of `message`, with
// `mouse_data` and `extra` as the hook gave them, at the cursor; returns 0
// when it was not sent: the system refused it, or the window under the
// cursor is above our integrity level and would drop it silently (UIPI).
bool WatchMouse(bool on);
unsigned SendMouseInput(uintptr_t message, uint32_t mouse_data, uintptr_t extra);
