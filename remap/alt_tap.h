// Alt-tap IME switch: a lone quick tap of left/right Alt sends IME off/on; a
// held or combined Alt acts as its side's modifier. One record per side.
#pragma once

#include <cstdint>

struct HWND__;

struct AltTapState {
    int32_t pressed;        // 1 from the first key-down of a press to its key-up
    int32_t interrupted;    // 1 once another key's event arrived while pressed
    uintptr_t timer_id;     // pending hold timer, 0 when none
    uint16_t modifier_key;  // injected while the Alt acts as a modifier
    uint16_t ime_key;       // injected for a lone tap
};

extern AltTapState alt_tap_left;
extern AltTapState alt_tap_right;

// Hold time counted from the first key-down of a press.
const unsigned ALT_HOLD_MS = 500;

// Puts both records in their start state. Called once, before the first
// ApplyOptions and before the hook is installed.
void AltTapInit();

// Returns both records to their start state (keys kept), cancelling a
// pending hold timer: for when the Alt events stop reaching the switch.
// Injects nothing; a modifier held down is in HeldKeys.
void AltTapReset();

// A key-down of this side's Alt, first press or auto-repeat.
void AltTapKeyDown(AltTapState& state);

// A key-up of this side's Alt.
void AltTapKeyUp(AltTapState& state);

// An event of any other key, down or up, arrived.
void AltTapInterrupt(AltTapState& state);

// Injects the side's modifier key (down when isDown is 1) and cancels the
// pending hold timer.
void AltTapPressModifier(AltTapState& state, int isDown);

// The hold timer ran out. Has the platform's TIMERPROC form; reads idEvent.
void AltTapTimerProc(HWND__* hwnd, unsigned int message, uintptr_t idEvent, unsigned long time);

// Platform seam of the hold timer: start one ALT_HOLD_MS timer that calls
// AltTapTimerProc (returns its nonzero id, or 0 on failure), and cancel one.
uintptr_t StartHoldTimer();
void CancelHoldTimer(uintptr_t timer_id);
