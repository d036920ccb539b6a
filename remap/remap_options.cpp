#include "remap/remap_options.h"

#include "remap/alt_tap.h"
#include "remap/win_keys.h"

// Static storage: every switch is off until the first ApplyOptions.
RemapOptionWords RemapOptions;

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
    return settings;
}
