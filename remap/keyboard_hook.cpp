#include "remap/keyboard_hook.h"

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"

#if defined(_MSC_VER)
#define OUT_OF_LINE __declspec(noinline)
#define ALWAYS_INLINE __forceinline
#else
#define OUT_OF_LINE __attribute__((noinline))
#define ALWAYS_INLINE inline __attribute__((always_inline))
#endif

namespace {

// What happens to each physical key, by virtual-key code, in one flat table so
// that an ordinary key costs a single load on the hook's hot path: 0 passes,
// a small code names a modifier rule, and any value from 'A' up is the key
// that the Dvorak layout puts in that place.
enum ModifierRule : uint8_t { NO_RULE, CAPSLOCK_RULE, LCTRL_RULE, RCTRL_RULE, LALT_RULE, RALT_RULE };

const uint8_t FIRST_DVORAK_KEY = 'A';

// The key each swap rule injects, by rule.
const uint8_t SWAPPED[] = {0, 0, VK_LMENU, VK_RMENU, VK_LCONTROL, VK_RCONTROL};

struct KeyRules {
    uint8_t rule[256];
};

constexpr KeyRules MakeKeyRules()
{
    const uint8_t dvorak[][2] = {
        {'B', 'X'}, {'C', 'J'}, {'D', 'E'}, {'E', VK_OEM_PERIOD}, {'F', 'U'},
        {'G', 'I'}, {'H', 'D'}, {'I', 'C'}, {'J', 'H'}, {'K', 'T'},
        {'L', 'N'}, {'N', 'B'}, {'O', 'R'}, {'P', 'L'}, {'Q', VK_OEM_7},
        {'R', 'P'}, {'S', 'O'}, {'T', 'Y'}, {'U', 'G'}, {'V', 'K'},
        {'W', VK_OEM_COMMA}, {'X', 'Q'}, {'Y', 'F'}, {'Z', VK_OEM_1},
        {VK_OEM_1, 'S'}, {VK_OEM_PLUS, VK_OEM_6}, {VK_OEM_COMMA, 'W'},
        {VK_OEM_MINUS, VK_OEM_4}, {VK_OEM_PERIOD, 'V'}, {VK_OEM_2, 'Z'},
        {VK_OEM_4, VK_OEM_2}, {VK_OEM_6, VK_OEM_PLUS}, {VK_OEM_7, VK_OEM_MINUS},
    };
    KeyRules table{};
    for (const auto& pair : dvorak) {
        table.rule[pair[0]] = pair[1];
    }
    table.rule[VK_CAPITAL] = CAPSLOCK_RULE;
    table.rule[VK_LCONTROL] = LCTRL_RULE;
    table.rule[VK_RCONTROL] = RCTRL_RULE;
    table.rule[VK_LMENU] = LALT_RULE;
    table.rule[VK_RMENU] = RALT_RULE;
    return table;
}

constexpr KeyRules KEY_RULES = MakeKeyRules();

int IsPress(const HookKeyEvent& event)
{
    return event.message == WM_KEYDOWN || event.message == WM_SYSKEYDOWN;
}

// Out of line, like every path that injects, so that the hook's path for a
// key it passes needs no stack frame.
OUT_OF_LINE HookVerdict Replace(uint16_t vk, const HookKeyEvent& event)
{
    InjectKey(vk, IsPress(event), 0);
    return Swallow;
}

// Masking releases around the press: only hooks that run ahead of this one
// see them; they are dropped when they come back.
OUT_OF_LINE HookVerdict MaskedCtrlPress()
{
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    InjectKey(VK_LCONTROL, 1, 0);
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    return Swallow;
}

// Step after the Alt-tap routing: the one rule, if any, of this key.
ALWAYS_INLINE HookVerdict ApplyKeyRule(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    const uint8_t rule = vk < 256 ? KEY_RULES.rule[vk] : uint8_t{NO_RULE};
    // Letters and punctuation first: they are most of what anyone types.
    if (rule >= FIRST_DVORAK_KEY) {
        return RemapOptions.use_dvorak ? Replace(rule, event) : Pass;
    }
    if (rule == NO_RULE) {
        return Pass;
    }
    if (rule != CAPSLOCK_RULE) {
        return RemapOptions.swap_alt_for_ctrl ? Replace(SWAPPED[rule], event) : Pass;
    }
    if (!RemapOptions.capslock_to_ctrl) {
        return Pass;
    }
    return IsPress(event) ? MaskedCtrlPress() : Replace(VK_LCONTROL, event);
}

// While send_lang is on the Alt keys belong to the Alt-tap switch, and every
// other key interrupts both sides first, so that a modifier press this
// injects goes out before the key itself or its replacement. Kept out of line
// so the common path of the hook stays free of calls.
OUT_OF_LINE HookVerdict RouteAltTap(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    if (vk == VK_LMENU || vk == VK_RMENU) {
        AltTapState& self = vk == VK_LMENU ? alt_tap_left : alt_tap_right;
        AltTapInterrupt(vk == VK_LMENU ? alt_tap_right : alt_tap_left);
        if (IsPress(event)) {
            AltTapKeyDown(self);
        } else {
            AltTapKeyUp(self);
        }
        return Swallow;
    }
    // A pending tap on either side turns into its modifier press now.
    const bool modifier_sent = alt_tap_left.timer_id != 0 || alt_tap_right.timer_id != 0;
    AltTapInterrupt(alt_tap_left);
    AltTapInterrupt(alt_tap_right);
    const HookVerdict verdict = ApplyKeyRule(event);
    if (verdict == Pass && modifier_sent) {
        // What a hook injects enters the input stream behind the event it is
        // judging: passed on, this key would reach the application before its
        // modifier (Alt+F typing "f"). Sent again, it follows the modifier.
        return Replace(static_cast<uint16_t>(event.vkCode), event);
    }
    return verdict;
}

}  // namespace

HookVerdict RemapKeyEvent(const HookKeyEvent& event)
{
    if (event.code < 0 || event.code == HC_NOREMOVE) {
        return Pass;
    }
    // Before the injected test: a masking event is dropped whoever sent it.
    if (event.dwExtraInfo == SELF_MASK_TAG) {
        return Swallow;
    }
    // Our own replacements come back here flagged injected and must not be
    // remapped again; other programs' synthetic keys are left alone too.
    if (event.flags & LLKHF_INJECTED) {
        return Pass;
    }

    if (RemapOptions.send_lang) {
        return RouteAltTap(event);
    }
    return ApplyKeyRule(event);
}
