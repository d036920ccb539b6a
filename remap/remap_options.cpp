#include "remap/remap_options.h"

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/win_keys.h"

// Static storage: every switch is off until the first ApplyOptions, and
// nothing is held.
RemapOptionWords RemapOptions;
uint8_t HeldKeys[256];

namespace {

// Whether the hook could see the last foreground window; it sees ours.
bool foreground_blind;

}  // namespace

RemapSettings& ApplyOptions(RemapSettings& settings)
{
    bool was_remapped[256];
    for (unsigned vk = 0; vk < 256; ++vk) {
        was_remapped[vk] = KeyIsRemapped(vk);
    }
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
    // Off, the switch hears no more Alt events: a pending hold timer would
    // press a modifier that no release follows.
    if (!settings.send_lang) {
        AltTapReset();
    }
    SelectKeyRules();
    ReleaseHeldKeys();
    // Its release will be swallowed: let it go now, or it stays down. Sent
    // as the user's own key, not held by the engine.
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (!was_remapped[vk] && KeyIsRemapped(vk) && SystemKeyDown(static_cast<uint16_t>(vk))) {
            SendKeyInput(static_cast<uint16_t>(vk), 0, 0, 0);
        }
    }
    return settings;
}

void ReleaseHeldKeys()
{
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (HeldKeys[vk]) {
            InjectKey(static_cast<uint16_t>(vk), 0, 0);
        }
    }
}

void ResetEngine()
{
    AltTapReset();
    ReleaseHeldKeys();
}

void ClearCapsLockToggle(bool toggled)
{
    if (RemapOptions.capslock_to_ctrl && toggled) {
        InjectKey(VK_CAPITAL, 1, 0);
        InjectKey(VK_CAPITAL, 0, 0);
    }
}

bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level)
{
    const bool was_blind = foreground_blind;
    foreground_blind = window_level > own_level;
    return was_blind && !foreground_blind;
}

bool ForegroundBlind()
{
    return foreground_blind;
}
