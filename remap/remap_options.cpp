#include "remap/remap_options.h"

#include <cstring>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/win_keys.h"

// Static storage: every switch is off until the first ApplyOptions.
RemapOptionWords RemapOptions;

namespace {

// What the hook can see of the last foreground window; it sees ours at start.
bool foreground_blind;
bool foreground_elevated;

// A reset that the system did not let finish.
bool reset_pending;

// A lock switch-off was due while CapsLock events of ours were on their
// way: it is made when the last of them has come back.
bool lock_off_owed;

// A CapsLock that is to act as Ctrl cannot switch its lock off. One the
// system still holds is let go first: pressed again while held, it would not
// switch the lock.
void LetGoOfCapsLock()
{
    if (RemapOptions.capslock_to_ctrl && PressRecord[VK_CAPITAL] == PRESS_KEPT) {
        if (SendKeyInput(VK_CAPITAL, 0, 0, 0) != 0) {
            CountInFlight(VK_CAPITAL, 0, TickCount());
        }
        PressRecord[VK_CAPITAL] = PRESS_NONE;
        LetGoOfKey(VK_CAPITAL);
    }
}

// `in_flight` is how many CapsLock events of ours were on their way before
// this call: until they have come back, the lock that the system reports is
// not yet the one they leave, and switching it again could switch it on.
void SwitchLockOff(uint8_t in_flight)
{
    lock_off_owed = RemapOptions.capslock_to_ctrl && in_flight != 0;
    if (RemapOptions.capslock_to_ctrl && in_flight == 0 && SystemKeyToggled(VK_CAPITAL)) {
        // The press counts as on its way too: landing, it would otherwise
        // take the count of the release behind it, and the key would look
        // held until that release lands.
        if (InjectKey(VK_CAPITAL, 1, 0) != 0) {
            CountInFlight(VK_CAPITAL, 1, TickCount());
        }
        InjectKey(VK_CAPITAL, 0, 0);
    }
}

}  // namespace

RemapSettings& ApplyOptions(RemapSettings& settings)
{
    // A key held back by a pending tap goes under the rules it was pressed under.
    SettleAltTaps(!settings.send_lang, false, false);
    RemapOptions.capslock_to_ctrl = settings.capslock_to_ctrl;
    RemapOptions.swap_alt_for_ctrl = settings.swap_alt_for_ctrl;
    RemapOptions.send_lang = settings.send_lang;
    RemapOptions.use_dvorak = settings.use_dvorak;

    // With the swap on, a held Alt must act as its own side's Ctrl, just as
    // the swap rule makes it when the Alt-tap switch is off.
    if (settings.swap_alt_for_ctrl) {
        alt_tap_left.modifier_key = VK_LCONTROL;
        alt_tap_right.modifier_key = VK_RCONTROL;
    } else {
        alt_tap_left.modifier_key = VK_LMENU;
        alt_tap_right.modifier_key = VK_RMENU;
    }
    RecordPassedKeys();
    const uint8_t caps_in_flight = InFlight[VK_CAPITAL];
    LetGoOfCapsLock();
    ReleaseHeldKeys(false);
    SwitchLockOff(caps_in_flight);
    SelectKeyRules(reset_pending);
    return settings;
}

OptionsHold RemapHold;

RemapSettings& ApplyOptionsInForce(RemapSettings& settings)
{
    if (RemapHold.paused || RemapHold.left_alone) {
        RemapSettings off{};
        ApplyOptions(off);
        return settings;
    }
    return ApplyOptions(settings);
}

void ResetEngine()
{
    // What the reset sends itself is on its way anew.
    if (!foreground_elevated && TickCount() - InFlightTime > IN_FLIGHT_MS) {
        std::memset(InFlight, 0, sizeof InFlight);
        std::memset(SentAgain, 0, sizeof SentAgain);
    }
    SettleAltTaps(false, true, !foreground_elevated);
    if (foreground_elevated) {
        reset_pending = true;
        SelectKeyRules(true);
        return;
    }
    RecordKeptKeys();
    const uint8_t caps_in_flight = InFlight[VK_CAPITAL];
    LetGoOfCapsLock();
    reset_pending = !ReleaseHeldKeys(true);
    SwitchLockOff(caps_in_flight);
    SelectKeyRules(reset_pending);
}

void FinishReset()
{
    foreground_elevated = false;
    ResetEngine();
}

void CapsLockReleaseLanded()
{
    if (lock_off_owed && InFlight[VK_CAPITAL] == 0) {
        SwitchLockOff(0);
    }
}

void SwitchCapsLockBack()
{
    const uint8_t caps_in_flight = InFlight[VK_CAPITAL];
    LetGoOfCapsLock();
    SwitchLockOff(caps_in_flight);
}

bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level)
{
    if (window_level == PROCESS_GONE) {
        return false;
    }
    const bool was_blind = foreground_blind;
    foreground_elevated = window_level != OWN_PROCESS && window_level > own_level;
    foreground_blind = foreground_elevated || window_level == OWN_PROCESS;
    return was_blind && !foreground_blind;
}

bool ForegroundElevated()
{
    return foreground_elevated;
}
