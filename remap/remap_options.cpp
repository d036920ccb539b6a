#include "remap/remap_options.h"

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/win_keys.h"

// Static storage: every switch is off until the first ApplyOptions.
RemapOptionWords RemapOptions;

namespace {

// Whether the hook could see the last foreground window; it sees ours.
bool foreground_blind;

}  // namespace

RemapSettings& ApplyOptions(RemapSettings& settings)
{
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
    ResetEngine();
    return settings;
}

void ResetEngine()
{
    AltTapReset();
    RecordKeptKeys();
    // A lock switched on where the hook was blind: pressed again while the
    // system still holds the key, it would not switch off.
    if (RemapOptions.capslock_to_ctrl && PressRecord[VK_CAPITAL] == PRESS_KEPT) {
        SendKeyInput(VK_CAPITAL, 0, 0, 0);
        PressRecord[VK_CAPITAL] = PRESS_NONE;
    }
    SelectKeyRules();
    ReleaseHeldKeys();
    if (RemapOptions.capslock_to_ctrl && SystemKeyToggled(VK_CAPITAL)) {
        InjectKey(VK_CAPITAL, 1, 0);
        InjectKey(VK_CAPITAL, 0, 0);
    }
}

bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level)
{
    if (window_level == PROCESS_GONE) {
        return false;
    }
    const bool was_blind = foreground_blind;
    foreground_blind = window_level > own_level;
    return was_blind && !foreground_blind;
}

bool ForegroundBlind()
{
    return foreground_blind;
}
