#include "remap/alt_tap.h"

#include "remap/keyboard_hook.h"
#include "remap/key_injection.h"
#include "remap/win_keys.h"

#include <initializer_list>

AltTapState alt_tap_left;
AltTapState alt_tap_right;

namespace {

bool Pending(const AltTapState& state)
{
    return state.pressed != 0 && state.interrupted == 0;
}

// The mouse matters only while a tap can still become a modifier.
void FollowMouse()
{
    WatchMouse(Pending(alt_tap_left) || Pending(alt_tap_right));
}

void CancelTimer(AltTapState& state)
{
    if (state.timer_id != 0) {
        CancelHoldTimer(state.timer_id);
        state.timer_id = 0;
    }
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
}

void ReleaseModifier(AltTapState& state)
{
    if (state.held_key != 0) {
        LetGoOfHeldKey(static_cast<uint8_t>(state.held_key));
    }
    state.held_key = 0;
}

// The press is no tap: its modifier goes down.
void Decide(AltTapState& state)
{
    CancelTimer(state);
    state.interrupted = 1;
    PressModifier(state);
    FollowMouse();
}

// Shift, Ctrl or a Windows key down in the system, the engine's own
// included, makes an Alt pressed now a modifier from its press: Alt+Shift
// switches input languages, Ctrl+Alt is a chord.
bool OtherModifierDown()
{
    for (uint16_t vk : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LWIN, VK_RWIN}) {
        if (SystemHolds(vk)) {
            return true;
        }
    }
    return false;
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
    FollowMouse();
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
    FollowMouse();
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
        FollowMouse();
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
    FollowMouse();
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

HookVerdict AltTapMouseEvent(uintptr_t message, uint32_t flags, uintptr_t extra, uint32_t mouse_data)
{
    // Windows' documented mark of mouse input made from the pen or a touch.
    const bool pen_or_touch = (extra & 0xFFFFFF00) == MI_WP_SIGNATURE;
    if (((flags & LLMHF_INJECTED) != 0 && !pen_or_touch) || !IsClickOrWheel(message)) {
        return Pass;
    }
    const bool left = AltTapInterrupt(alt_tap_left);
    const bool right = AltTapInterrupt(alt_tap_right);
    if (!left && !right) {
        return Pass;
    }
    // Injected behind the click it judges, the modifier would come after
    // it; sent again, the click follows the modifier.
    SendMouseInput(message, mouse_data);
    return Swallow;
}
