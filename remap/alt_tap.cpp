// The Alt-tap switch, one record per side. Every decision about a tap is
// made in this file; the hook hands it the events (keyboard_hook.cpp:
// RouteSlow for the user's keys, CameBack for other programs' presses; the
// mouse hook AltTapMouseEvent).
//
// States, read from the fields:
//   idle         pressed 0                                nothing sent
//   tap pending  pressed 1, interrupted 0                 nothing sent yet; the hold
//                                                         timer runs (unless none could
//                                                         start); the mouse is hooked
//   modifier     pressed 1, interrupted 1, held_key != 0  the modifier is down
//   no tap       pressed 1, interrupted 1, held_key 0     settled: nothing down, no
//                                                         IME key at the release
//
// Events, and where each is decided:
//   Alt down      AltTapKeyDown. idle -> tap pending; -> modifier at once when
//                 Shift, Ctrl, a Windows key or a mouse button is down
//                 (OtherModifierDown) or no mouse hook can be installed
//                 (FollowPending). A repeat: tap pending -> modifier once
//                 ALT_HOLD_MS past the press; modifier, no tap -> one more
//                 modifier press (-> modifier).
//   Alt up        AltTapKeyUp. tap pending -> the IME key when released within
//                 ALT_HOLD_MS of the press by event times, else the modifier
//                 pressed and let go; modifier -> let go; -> idle.
//   other press   AltTapInterrupt (a key, the user's or another program's,
//                 late or not) and AltTapMouseEvent (a button or the wheel):
//                 tap pending -> modifier. A release changes nothing.
//   hold timer    AltTapTimerProc: tap pending -> modifier.
//   reset/switch  AltTapSettle: tap pending -> no tap; a reset also lets go of
//                 the modifier (modifier -> no tap).
//   lost release  AltTapStale (an Alt silent past ALT_REPEAT_GAP_MS presses
//                 anew: released first) and AltTapDrop (a late Alt passes as
//                 itself): -> idle.
//
// Invariants: timer_id != 0 only in tap pending; interrupted only while
// pressed; at most one side in tap pending (each Alt's press interrupts the
// other); AltTapPending is 1 exactly while a side is in tap pending, and
// then a mouse hook is in place and every key takes the hook's slow way.
#include "remap/alt_tap.h"

#include "remap/keyboard_hook.h"
#include "remap/key_injection.h"
#include "remap/win_keys.h"

#include <initializer_list>

// The rare paths stay out of line, so that the common ones (an Alt's press
// and release with nothing in the way, a mouse event that passes) need no
// stack frame for them.
#if defined(_MSC_VER)
#define OUT_OF_LINE __declspec(noinline)
#else
#define OUT_OF_LINE __attribute__((noinline))
#endif

AltTapState alt_tap_left;
AltTapState alt_tap_right;
uint8_t AltTapPending;

namespace {

bool Pending(const AltTapState& state)
{
    return state.pressed != 0 && state.interrupted == 0;
}

void CancelTimer(AltTapState& state)
{
    if (state.timer_id != 0) {
        CancelHoldTimer(state.timer_id);
        state.timer_id = 0;
    }
}

void PressModifier(AltTapState& state);

// Without a mouse hook a click cannot be seen: each pending press is no
// tap, and acts as its modifier at once.
OUT_OF_LINE void DecideUnwatched()
{
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        if (Pending(*state)) {
            CancelTimer(*state);
            state->interrupted = 1;
            PressModifier(*state);
        }
    }
}

// The mouse and every key matter only while a tap can still become a
// modifier.
void FollowPending()
{
    const bool pending = Pending(alt_tap_left) || Pending(alt_tap_right);
    if (pending == (AltTapPending != 0)) {
        return;
    }
    if (!WatchMouse(pending) && pending) {
        DecideUnwatched();
        return;
    }
    AltTapPending = pending;
    RouteEveryKey(pending);
}

// One more key-down of the press's modifier; the first one holds it.
// modifier_key is read at the first: the switches may change mid-press.
OUT_OF_LINE void PressModifier(AltTapState& state)
{
    if (state.held_key == 0) {
        state.held_key = state.modifier_key;
        HoldKey(static_cast<uint8_t>(state.held_key));
    }
    InjectKey(state.held_key, 1, 0);
}

OUT_OF_LINE void LetGoOfModifier(AltTapState& state)
{
    LetGoOfHeldKey(static_cast<uint8_t>(state.held_key));
    state.held_key = 0;
}

void ReleaseModifier(AltTapState& state)
{
    if (state.held_key != 0) {
        LetGoOfModifier(state);
    }
}

// The press is no tap: its modifier goes down.
OUT_OF_LINE void Decide(AltTapState& state)
{
    CancelTimer(state);
    state.interrupted = 1;
    PressModifier(state);
    FollowPending();
}

// Each of those keys and buttons asked on its own, the engine's releases on
// their way counted.
OUT_OF_LINE bool EachModifierDown()
{
    for (uint16_t vk : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LWIN, VK_RWIN, VK_LBUTTON, VK_RBUTTON,
                        VK_MBUTTON, VK_XBUTTON1, VK_XBUTTON2}) {
        if (SystemHolds(vk)) {
            return true;
        }
    }
    return false;
}

// Shift, Ctrl, a Windows key or a mouse button down in the system, the
// engine's own included, makes an Alt pressed now a modifier from its
// press: Alt+Shift switches input languages, Ctrl+Alt is a chord, and a
// drag under way takes the modifier at its drop.
// The system is asked once, unless the engine holds a Ctrl it may not
// have yet (the other Alt's, just now); only then does each key's own
// answer count, where a release of the engine's may still be on its way.
bool OtherModifierDown()
{
    return (HeldKeys[VK_LCONTROL] || HeldKeys[VK_RCONTROL] || SystemModifierDown()) && EachModifierDown();
}

bool IsClickOrWheel(uintptr_t message)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        return true;
    default:
        return false;
    }
}

}  // namespace

void AltTapInit()
{
    alt_tap_left = AltTapState{0, 0, 0, VK_LMENU, VK_IME_OFF, 0, 0, 0};
    alt_tap_right = AltTapState{0, 0, 0, VK_RMENU, VK_IME_ON, 0, 0, 0};
}

void AltTapSettle(bool let_go)
{
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        CancelTimer(*state);
        if (state->pressed != 0) {
            state->interrupted = 1;
        }
        if (let_go && state->held_key != 0) {
            LetGoOfKey(static_cast<uint8_t>(state->held_key));
            state->held_key = 0;
        }
    }
    FollowPending();
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
    state.pressed = 0;
    state.interrupted = 0;
    state.held_key = 0;
    FollowPending();
}

void AltTapKeyDown(AltTapState& state, uint32_t time)
{
    if (state.pressed == 0) {
        state.pressed = 1;
        state.interrupted = 0;
        state.down_time = time;
        state.repeat_time = time;
        if (OtherModifierDown()) {
            Decide(state);
            return;
        }
        // A timer that cannot start leaves the release to judge by the times.
        state.timer_id = StartHoldTimer();
        FollowPending();
        return;
    }
    state.repeat_time = time;
    if (state.interrupted == 0) {
        // A repeat while the tap is pending: the hold time counts from the
        // first key-down, and a busy thread's timer may be late.
        if (time - state.down_time >= ALT_HOLD_MS) {
            Decide(state);
        }
        return;
    }
    PressModifier(state);
}

void AltTapKeyUp(AltTapState& state, uint32_t time)
{
    if (state.interrupted == 0) {
        CancelTimer(state);
        if (time - state.down_time < ALT_HOLD_MS) {
            InjectKey(state.ime_key, 1, 0);
            InjectKey(state.ime_key, 0, 0);
        } else {
            // Held past the hold time, though the timer did not say so.
            PressModifier(state);
        }
    }
    ReleaseModifier(state);
    state.pressed = 0;
    state.interrupted = 0;
    FollowPending();
}

bool AltTapInterrupt(AltTapState& state)
{
    if (!Pending(state)) {
        return false;
    }
    Decide(state);
    return true;
}

void AltTapTimerProc(HWND__*, unsigned int, uintptr_t idEvent, unsigned long)
{
    // An expiry that belongs to neither pending press (a late timer message
    // after its cancellation) must not press a modifier nobody releases.
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        if (idEvent != 0 && idEvent == state->timer_id && Pending(*state)) {
            Decide(*state);
            return;
        }
    }
    CancelHoldTimer(idEvent);
}

OUT_OF_LINE void AltTapRenewMouseWatch()
{
    if (AltTapPending) {
        WatchMouse(false);
        AltTapPending = 0;
        RouteEveryKey(false);
        FollowPending();
    }
}

HookVerdict AltTapMouseEvent(const HookMouseEvent& event)
{
    // Windows' documented mark of mouse input made from the pen or a touch.
    const bool pen_or_touch = (event.extra & 0xFFFFFF00) == MI_WP_SIGNATURE;
    if (((event.flags & LLMHF_INJECTED) != 0 && !pen_or_touch) || !IsClickOrWheel(event.message)) {
        if (event.late) {
            AltTapRenewMouseWatch();
        }
        return Pass;
    }
    const bool left = AltTapInterrupt(alt_tap_left);
    const bool right = AltTapInterrupt(alt_tap_right);
    // Injected behind the click it judges, the modifier would come after
    // it; sent again, the click follows the modifier. Sent again late, it
    // would be a double click, or a press after its release; where it
    // cannot be sent again, the click goes on before the modifier rather
    // than not at all.
    if ((!left && !right) || event.late || SendMouseInput(event.message, event.mouse_data, event.extra) == 0) {
        return Pass;
    }
    return Swallow;
}
