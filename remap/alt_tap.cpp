#include "remap/alt_tap.h"

#include "remap/key_injection.h"
#include "remap/win_keys.h"

#include <initializer_list>

AltTapState alt_tap_left;
AltTapState alt_tap_right;

void AltTapInit()
{
    alt_tap_left = AltTapState{0, 0, 0, VK_LMENU, VK_IME_OFF};
    alt_tap_right = AltTapState{0, 0, 0, VK_RMENU, VK_IME_ON};
}

void AltTapReset()
{
    for (AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        if (state->timer_id != 0) {
            CancelHoldTimer(state->timer_id);
        }
        state->pressed = 0;
        state->interrupted = 0;
        state->timer_id = 0;
    }
}

void AltTapPressModifier(AltTapState& state, int isDown)
{
    // modifier_key is read afresh: ApplyOptions may have changed it mid-press.
    InjectKey(state.modifier_key, isDown, 0);
    if (state.timer_id != 0) {
        CancelHoldTimer(state.timer_id);
        state.timer_id = 0;
    }
}

void AltTapKeyDown(AltTapState& state)
{
    if (state.pressed == 0) {
        state.pressed = 1;
        // A failed start stores 0: the press then counts as held at once.
        state.timer_id = StartHoldTimer();
    } else if (state.timer_id != 0) {
        // Auto-repeat while the tap is pending: the hold time keeps counting
        // from the first key-down.
    } else {
        AltTapPressModifier(state, 1);
    }
}

void AltTapKeyUp(AltTapState& state)
{
    if (state.interrupted != 0 || state.timer_id == 0) {
        AltTapPressModifier(state, 0);
    } else {
        InjectKey(state.ime_key, 1, 0);
        CancelHoldTimer(state.timer_id);
        state.timer_id = 0;
        InjectKey(state.ime_key, 0, 0);
    }
    state.pressed = 0;
    state.interrupted = 0;
}

void AltTapInterrupt(AltTapState& state)
{
    if (state.pressed == 0 || state.interrupted != 0) {
        return;
    }
    if (state.timer_id != 0) {
        AltTapPressModifier(state, 1);
    }
    state.interrupted = 1;
}

void AltTapTimerProc(HWND__*, unsigned int, uintptr_t idEvent, unsigned long)
{
    // An expiry that belongs to neither pending press (a late timer message
    // after its cancellation) must not press a modifier nobody releases.
    AltTapState* state = nullptr;
    if (idEvent != 0 && idEvent == alt_tap_left.timer_id) {
        state = &alt_tap_left;
    } else if (idEvent != 0 && idEvent == alt_tap_right.timer_id) {
        state = &alt_tap_right;
    } else {
        CancelHoldTimer(idEvent);
        return;
    }
    AltTapPressModifier(*state, 1);
}
