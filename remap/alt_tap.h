// Alt-tap IME switch: a lone quick tap of left/right Alt sends IME off/on; a
// held or combined Alt acts as its side's modifier. One record per side.
// A press is judged by the event times of its key-down and key-up; the hold
// timer only presses the modifier while the Alt is still held. Another key,
// a click or a wheel turn, or a Shift, Ctrl or Windows key already down,
// makes it a modifier.
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

// An event of any other key, down or up, a click or a wheel turn arrived.
// True when it turned a pending tap into its modifier's press just now.
bool AltTapInterrupt(AltTapState& state);

// The hold timer ran out. Has the platform's TIMERPROC form; reads idEvent.
void AltTapTimerProc(HWND__* hwnd, unsigned int message, uintptr_t idEvent, unsigned long time);

// One low-level mouse event while a tap is pending: `message` the mouse
// message (wParam), `flags` and `extra` from MSLLHOOKSTRUCT. A button press
// or a wheel turn, physical or from the pen or a touch (Windows marks those
// with its pen signature even when injected), interrupts the pending tap:
// the modifier goes down, and the mouse event is sent again behind it
// (SendMouseInput) and swallowed. Everything else passes.
HookVerdict AltTapMouseEvent(uintptr_t message, uint32_t flags, uintptr_t extra, uint32_t mouse_data);

// Platform seam of the hold timer: start one ALT_HOLD_MS timer that calls
// AltTapTimerProc (returns its nonzero id, or 0 on failure), and cancel one.
uintptr_t StartHoldTimer();
void CancelHoldTimer(uintptr_t timer_id);

// Platform seam of the mouse: a low-level mouse hook that hands its events
// to AltTapMouseEvent is installed while `on`, and removed otherwise; called
// whenever a tap starts or ends pending. And the one mouse event the switch
// sends: the button press or wheel turn of `message`, with `mouse_data` as
// the hook gave it, at the cursor, marked as the engine's own.
void WatchMouse(bool on);
unsigned SendMouseInput(uintptr_t message, uint32_t mouse_data);
