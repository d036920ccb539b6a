// The Alt-tap switch, one record per side. Every decision about a tap is
// made in this file; the keyboard hook hands it the events (its RouteSlow
// the user's keys, CameBack other programs' presses, RemapMouseEvent the
// clicks, HoldTimerExpired the timers), and lets a key it held back go once
// no tap is pending.
//
// States, read from the fields:
//   idle         pressed 0                                nothing sent
//   tap pending  pressed 1, interrupted 0                 nothing sent yet; the hold
//                                                         timer runs (unless none could
//                                                         start); the mouse is hooked;
//                                                         the hook may hold back a key
//   modifier     pressed 1, interrupted 1, held_key != 0  the modifier is down; `alone`
//                                                         while its Alt was the last key
//                                                         pressed in the system
//   settled      pressed 1, interrupted 1, held_key 0     nothing down, no IME key at
//                                                         the release; `unsure` after a
//                                                         reset
//
// Events, and where each is decided:
//   Alt down      AltTapKeyDown. idle -> tap pending; -> modifier at once when
//                 Ctrl, a Windows key or a mouse button is down
//                 (OtherModifierDown). A repeat: tap pending -> modifier once
//                 ALT_HOLD_MS past the press; modifier, settled -> one more
//                 modifier press (-> modifier, alone).
//   Alt late      AltTapLatePress: -> modifier, the system's Alt standing for it.
//   Alt up        AltTapKeyUp. tap pending -> the IME key when AltTapReleaseIsTap,
//                 else the modifier pressed and let go; -> idle. A modifier
//                 alone is let go of behind the mask key, unless Shift, Ctrl
//                 or a Windows key is held.
//   other press   AltTapInterrupt (a key, the user's or another program's, a
//                 click, the wheel): tap pending, settled but not unsure ->
//                 modifier; alone ends. A release changes nothing.
//   hold timer    AltTapTimerExpired: tap pending -> modifier.
//   reset/switch  AltTapSettle: tap pending -> settled; a reset also lets go
//                 of the modifier (modifier -> settled).
//   lost release  AltTapStale (an Alt silent past ALT_REPEAT_GAP_MS presses
//                 anew: released first) and AltTapDrop (the system holds the
//                 Alt itself): -> idle.
//
// Invariants (checked by Follow): timer_id != 0 only in tap pending;
// interrupted only while pressed; alone only while an Alt is held for the
// press; at most one side in tap pending (each Alt's press interrupts the
// other); AltTapPending and AltTapListening say what the records say.
#include "remap/alt_tap.h"

#include "remap/engine_check.h"
#include "remap/key_injection.h"
#include "remap/win_keys.h"

#include <initializer_list>

AltTapState alt_tap_left;
AltTapState alt_tap_right;
uint8_t AltTapPending;
uint8_t AltTapListening;

namespace {

bool Pending(const AltTapState& state)
{
    return state.pressed != 0 && state.interrupted == 0;
}

bool Listens(const AltTapState& state)
{
    return state.pressed != 0 && (state.interrupted == 0 || (state.held_key == 0 && state.unsure == 0) || state.alone != 0);
}

bool IsAlt(uint16_t vk)
{
    return vk == VK_LMENU || vk == VK_RMENU;
}

void Follow()
{
    for (const AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        ENGINE_INVARIANT(state->timer_id == 0 || Pending(*state));
        ENGINE_INVARIANT(state->interrupted == 0 || state->pressed != 0);
        ENGINE_INVARIANT(state->alone == 0 || (IsAlt(state->held_key) && state->pressed != 0));
    }
    ENGINE_INVARIANT(!(Pending(alt_tap_left) && Pending(alt_tap_right)));
    AltTapPending = Pending(alt_tap_left) || Pending(alt_tap_right);
    AltTapListening = Listens(alt_tap_left) || Listens(alt_tap_right);
}

void CancelTimer(AltTapState& state)
{
    if (state.timer_id != 0) {
        CancelHoldTimer(state.timer_id);
        state.timer_id = 0;
    }
}

// An Alt went down in the system, now the last key pressed there: each Alt
// held for a side is alone.
void AltWentDown()
{
    alt_tap_left.alone = IsAlt(alt_tap_left.held_key);
    alt_tap_right.alone = IsAlt(alt_tap_right.held_key);
}

// One more key-down of the press's modifier; the first one holds it.
// modifier_key is read at the first: the switches may change mid-press.
void PressModifier(AltTapState& state)
{
    if (state.held_key == 0) {
        state.held_key = state.modifier_key;
        HoldKey(static_cast<uint8_t>(state.held_key));
    }
    InjectKey(state.held_key, 1, 0);
    state.unsure = 0;
    if (IsAlt(state.held_key)) {
        AltWentDown();
    }
}

bool AnyHeld(std::initializer_list<uint16_t> keys)
{
    for (uint16_t vk : keys) {
        if (SystemHolds(vk)) {
            return true;
        }
    }
    return false;
}

bool ShiftHeld()
{
    return AnyHeld({VK_LSHIFT, VK_RSHIFT});
}

// An Alt let go of in the system while it is the last key pressed there
// opens the menu bar, or the ribbon's key tips; with Shift, Ctrl or a
// Windows key held it is a chord (Alt+Shift switches input languages).
// Masked even when another press still holds it: that press lets go of
// an Alt that is no longer alone. At a `reset`, which lets go of those
// keys too, whatever is held.
void MaskIfAlone(const AltTapState& state, bool reset)
{
    if (state.alone != 0 && (reset || !AnyHeld({VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LWIN, VK_RWIN}))) {
        InjectKey(VK_MENU_MASK, 1, 0);
        InjectKey(VK_MENU_MASK, 0, 0);
        alt_tap_left.alone = 0;
        alt_tap_right.alone = 0;
    }
}

void ReleaseModifier(AltTapState& state)
{
    if (state.held_key != 0) {
        MaskIfAlone(state, false);
        LetGoOfHeldKey(static_cast<uint8_t>(state.held_key));
        state.held_key = 0;
        state.alone = 0;
    }
}

// The press is no tap: its modifier goes down.
void Decide(AltTapState& state)
{
    CancelTimer(state);
    state.interrupted = 1;
    PressModifier(state);
}

// Ctrl, a Windows key or a mouse button down in the system, the engine's
// own included, makes an Alt pressed now a modifier from its press:
// Ctrl+Alt is a chord, and a drag under way takes the modifier at its drop.
// (Shift waits for the release: let go of first, it was the end of a word.)
// Each is asked as SystemHolds knows it: what the engine has on its way
// (the other Alt's Ctrl, a key held back just sent) counts.
bool OtherModifierDown()
{
    return AnyHeld({VK_LCONTROL, VK_RCONTROL, VK_LWIN, VK_RWIN, VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1,
                    VK_XBUTTON2});
}

}  // namespace

void AltTapInit()
{
    alt_tap_left = AltTapState{0, 0, 0, VK_LMENU, VK_IME_OFF, 0, 0, 0, 0, 0};
    alt_tap_right = AltTapState{0, 0, 0, VK_RMENU, VK_IME_ON, 0, 0, 0, 0, 0};
    Follow();
}

void AltTapSettle(bool reset, bool let_go)
{
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        CancelTimer(*state);
        if (state->pressed != 0) {
            state->interrupted = 1;
            state->unsure = state->unsure || reset;
        }
        if (let_go && state->held_key != 0) {
            // The reset lets go of it with the rest.
            MaskIfAlone(*state, true);
            LetGoOfKey(static_cast<uint8_t>(state->held_key));
            state->held_key = 0;
            state->alone = 0;
        }
    }
    Follow();
}

bool AltTapStale(const AltTapState& state, uint32_t time)
{
    return state.pressed != 0 && state.interrupted != 0 && time - state.repeat_time > ALT_REPEAT_GAP_MS;
}

void AltTapDrop(AltTapState& state)
{
    CancelTimer(state);
    if (state.held_key != 0) {
        LetGoOfKey(static_cast<uint8_t>(state.held_key));
    }
    state = AltTapState{0, 0, 0, state.modifier_key, state.ime_key, 0, 0, 0, 0, 0};
    Follow();
}

void AltTapKeyDown(AltTapState& state, uint32_t time)
{
    state.repeat_time = time;
    if (state.pressed == 0) {
        state.pressed = 1;
        state.interrupted = 0;
        state.unsure = 0;
        state.down_time = time;
        if (OtherModifierDown()) {
            Decide(state);
        } else {
            // A timer that cannot start leaves the release to judge by the times.
            state.timer_id = StartHoldTimer(ALT_HOLD_MS);
        }
    } else if (state.interrupted != 0) {
        PressModifier(state);
    } else if (time - state.down_time >= ALT_HOLD_MS) {
        // A repeat while the tap is pending: the hold time counts from the
        // first key-down, and a busy thread's timer may be late.
        Decide(state);
    }
    Follow();
}

void AltTapLatePress(AltTapState& state, uint16_t vk, uint32_t time)
{
    CancelTimer(state);
    state.down_time = state.pressed != 0 ? state.down_time : time;
    state.repeat_time = time;
    state.pressed = 1;
    state.interrupted = 1;
    if (state.held_key == 0) {
        // Only the engine can let go of it now: its release is swallowed.
        state.held_key = vk;
        HoldKey(static_cast<uint8_t>(vk));
        HeldKeys[vk] = 1;
    } else if (state.held_key != vk && OutputHolds[vk] == 0) {
        // A stray repeat: the modifier stays, the system's Alt goes.
        InjectKey(vk, 0, 0);
    }
    AltWentDown();
    Follow();
}

bool AltTapReleaseIsTap(const AltTapState& state, uint32_t time)
{
    return time - state.down_time < ALT_HOLD_MS && !ShiftHeld();
}

void AltTapKeyUp(AltTapState& state, uint32_t time)
{
    if (Pending(state)) {
        CancelTimer(state);
        if (AltTapReleaseIsTap(state, time)) {
            InjectKey(state.ime_key, 1, 0);
            InjectKey(state.ime_key, 0, 0);
            // A key the system got pressed: the other Alt is not alone.
            alt_tap_left.alone = 0;
            alt_tap_right.alone = 0;
        } else {
            // Held past the hold time, though the timer did not say so, or
            // with Shift: Alt+Shift.
            PressModifier(state);
        }
    }
    ReleaseModifier(state);
    state.pressed = 0;
    state.interrupted = 0;
    Follow();
}

bool AltTapInterrupt(AltTapState& state, bool follows)
{
    bool pressed = false;
    if (Pending(state)) {
        Decide(state);
        pressed = true;
    } else if (state.pressed != 0 && state.held_key == 0 && state.unsure == 0) {
        // Settled: the Alt the user holds is the one the system knows of.
        PressModifier(state);
        pressed = true;
    }
    if (follows) {
        state.alone = 0;
    }
    Follow();
    return pressed;
}

bool AltTapTimerExpired(uintptr_t timer_id)
{
    // An expiry that belongs to neither pending press (a late timer message
    // after its cancellation) must not press a modifier nobody releases.
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        if (timer_id != 0 && timer_id == state->timer_id && Pending(*state)) {
            Decide(*state);
            Follow();
            return true;
        }
    }
    CancelHoldTimer(timer_id);
    return false;
}
