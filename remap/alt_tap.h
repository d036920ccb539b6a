// Alt-tap IME switch: a lone quick tap of left/right Alt sends IME off/on; a
// held or combined Alt acts as its side's modifier. One record per side.
// A press is judged by the event times of its key-down and key-up; the hold
// timer only presses the modifier while the Alt is still held. The keyboard
// hook (keyboard_hook.cpp) hands it every event that can decide a tap, and
// holds back a key pressed while one is pending; nothing here calls back.
// States and their invariants: alt_tap.cpp.
#pragma once

#include <cstdint>

struct AltTapState {
    int32_t pressed;        // 1 from the first key-down of a press to its key-up
    int32_t interrupted;    // 1 once the press is no tap: it acts as its modifier
    uintptr_t timer_id;     // pending hold timer, 0 when none
    uint16_t modifier_key;  // injected while the Alt acts as a modifier
    uint16_t ime_key;       // injected for a lone tap
    uint16_t held_key;      // the modifier this press holds down in the system; 0 for none
    uint8_t alone;          // held_key is an Alt and the last key the system got pressed
    uint8_t unsure;         // settled by a reset: the Alt may have been let go of unseen
    uint32_t down_time;     // event time of the press's first key-down
    uint32_t repeat_time;   // event time of its latest key-down
};

extern AltTapState alt_tap_left;
extern AltTapState alt_tap_right;

// 1 while a tap is pending on either side.
extern uint8_t AltTapPending;

// 1 while the next press of any key, or a click, matters to a side: a tap
// pending, a press with no modifier down (settled), or an Alt alone. The
// hook then hands every key to the switch first.
extern uint8_t AltTapListening;

// Hold time counted from the first key-down of a press.
const unsigned ALT_HOLD_MS = 500;

// Longer than any keyboard's auto-repeat delay: a key-down of a held Alt
// that comes later than this after its last one is a new press, whose
// release the hook did not see.
const unsigned ALT_REPEAT_GAP_MS = 1100;

// Sent between an Alt's press and release that would otherwise reach the
// system alone (which opens the menu bar): a key code no layout assigns.
const uint16_t VK_MENU_MASK = 0xE8;

// Puts both records in their start state. Called once, before the first
// ApplyOptions and before the hook is installed.
void AltTapInit();

// A pending tap on either side becomes a press with nothing pressed yet
// (settled): its next auto-repeat, or the next press of another key,
// presses the modifier; its release sends no IME key. For when the Alt
// events stop reaching the switch as they were (the switch turned off), or
// may have been missed (a `reset`): then only the Alt's own repeat tells
// that it is still held, and presses the modifier; with `let_go` a
// modifier held is no longer held for its press, which the caller lets go
// of in the system.
void AltTapSettle(bool reset, bool let_go);

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

// A key-down of this side's Alt at event time `time` that reached the
// system as itself (a late hook call): the press is no tap, and the
// system's Alt stands for its modifier, or is let go of behind the
// modifier already down.
void AltTapLatePress(AltTapState& state, uint16_t vk, uint32_t time);

// Whether a key-up at `time` ends this pending side as a tap: released
// within ALT_HOLD_MS of the press, with no Shift held (Alt+Shift).
bool AltTapReleaseIsTap(const AltTapState& state, uint32_t time);

// A key-up of this side's Alt at event time `time`.
void AltTapKeyUp(AltTapState& state, uint32_t time);

// The press of any other key, a click or a wheel turn. True when it
// injected the side's modifier just now (a pending tap decided, or a
// settled press), which the press must follow. `follows`: the press reaches
// the system behind that modifier and is no Alt, so the Alt is not alone
// there (a late press is there already).
bool AltTapInterrupt(AltTapState& state, bool follows);

// The hold timer `timer_id` ran out: true when it decided a pending tap.
bool AltTapTimerExpired(uintptr_t timer_id);

// Platform seam of the timers: start one of `ms` that calls
// HoldTimerExpired (keyboard_hook.h) with its id (returns the nonzero id,
// or 0 on failure), and cancel one.
uintptr_t StartHoldTimer(unsigned ms);
void CancelHoldTimer(uintptr_t timer_id);
