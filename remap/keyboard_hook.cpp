#include "remap/keyboard_hook.h"

#include "remap/alt_tap.h"
#include "remap/key_injection.h"
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
enum ModifierRule : uint8_t { NO_RULE, CAPSLOCK_RULE, LCTRL_RULE, RCTRL_RULE, LALT_RULE, RALT_RULE, ALT_TAP_FIRST };

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

// The rules whose switch is on: KEY_RULES with every other rule blanked.
KeyRules RulesInForce;

// The hook's first look at a key: its rule in force or, while the Alt-tap
// switch is on, ALT_TAP_FIRST for every key. So the common path needs no
// look at the switches to pass a key or to rewrite it.
KeyRules FirstStep;

// A key the system held at the last reset has no rule until let go: its
// repeats pass as its first press did, at no cost on the hook's paths.
void SelectKeyRule(unsigned vk)
{
    const uint8_t rule = KEY_RULES.rule[vk];
    const int32_t on = rule >= FIRST_DVORAK_KEY ? RemapOptions.use_dvorak
                       : rule == CAPSLOCK_RULE  ? RemapOptions.capslock_to_ctrl
                                                : RemapOptions.swap_alt_for_ctrl;
    RulesInForce.rule[vk] = on && PressRecord[vk] != PRESS_KEPT ? rule : uint8_t{NO_RULE};
    FirstStep.rule[vk] = RemapOptions.send_lang ? uint8_t{ALT_TAP_FIRST} : RulesInForce.rule[vk];
}

int IsPress(const HookKeyEvent& event)
{
    return event.message == WM_KEYDOWN || event.message == WM_SYSKEYDOWN;
}

// Out of line, like every path that injects, so that the hook's path for a
// key it passes needs no stack frame.
OUT_OF_LINE HookVerdict ReplacePress(uint8_t vk, const HookKeyEvent& event)
{
    PressRecord[event.vkCode] = vk;
    InjectKey(vk, 1, 0);
    return Swallow;
}

// Masking releases around the press: only hooks that run ahead of this one
// see them; they are dropped when they come back.
OUT_OF_LINE HookVerdict MaskedCtrlPress(const HookKeyEvent& event)
{
    PressRecord[event.vkCode] = VK_LCONTROL;
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    InjectKey(VK_LCONTROL, 1, 0);
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    return Swallow;
}

// A release goes the way its press went, whatever the rules say now: the
// replacement's release, or the key's own when it passed or was never seen.
OUT_OF_LINE HookVerdict ReleaseAsPressed(uint8_t record, const HookKeyEvent& event)
{
    PressRecord[event.vkCode] = PRESS_NONE;
    if (record == PRESS_KEPT) {
        SelectKeyRule(event.vkCode);
    }
    if (record <= PRESS_ALT_TAP) {
        return Pass;
    }
    InjectKey(record, 0, 0);
    return Swallow;
}

// The event itself, sent again behind what the engine injected before it,
// with the scan code and extended bit it came with (Alt+Right stays the
// arrow, not the numeric pad's 6). Not in HeldKeys: it is the user's own
// key, whose release passes on as it comes.
OUT_OF_LINE HookVerdict SendAgain(const HookKeyEvent& event)
{
    const uint32_t extended = (event.flags & LLKHF_EXTENDED) != 0 ? 0xE000 : 0;
    SendKeyInput(static_cast<uint16_t>(event.vkCode), IsPress(event), 0, event.scanCode | extended);
    return Swallow;
}

HookVerdict RouteAltTap(const HookKeyEvent& event);

// What the press of a key with `rule` (not NO_RULE) does. ALT_TAP_FIRST
// comes only from FirstStep.
ALWAYS_INLINE HookVerdict ApplyPressRule(uint8_t rule, const HookKeyEvent& event)
{
    // Letters and punctuation first: they are most of what anyone types.
    if (rule >= FIRST_DVORAK_KEY) {
        return ReplacePress(rule, event);
    }
    if (rule == ALT_TAP_FIRST) {
        return RouteAltTap(event);
    }
    if (rule != CAPSLOCK_RULE) {
        return ReplacePress(SWAPPED[rule], event);
    }
    return MaskedCtrlPress(event);
}

ALWAYS_INLINE HookVerdict ApplyRelease(const HookKeyEvent& event)
{
    const uint8_t record = PressRecord[event.vkCode];
    return record == PRESS_NONE ? Pass : ReleaseAsPressed(record, event);
}

// A key's own rule once the Alt-tap switch has heard it.
HookVerdict ApplyOwnRule(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    if (vk >= 256) {
        return Pass;
    }
    if (!IsPress(event)) {
        return ApplyRelease(event);
    }
    const uint8_t rule = RulesInForce.rule[vk];
    return rule == NO_RULE ? Pass : ApplyPressRule(rule, event);
}

// While send_lang is on the Alt keys belong to the Alt-tap switch, and every
// other key interrupts both sides first, so that a modifier press this
// injects goes out before the key itself or its replacement. An Alt that the
// system held at the last reset is any other key until let go, and an Alt
// release whose press the switch never heard passes and touches nothing.
// Kept out of line so the common path of the hook stays free of calls.
OUT_OF_LINE HookVerdict RouteAltTap(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    if (vk == VK_LMENU || vk == VK_RMENU) {
        uint8_t& record = PressRecord[vk];
        const int press = IsPress(event);
        if (press ? record != PRESS_KEPT : record == PRESS_ALT_TAP) {
            AltTapState& self = vk == VK_LMENU ? alt_tap_left : alt_tap_right;
            AltTapInterrupt(vk == VK_LMENU ? alt_tap_right : alt_tap_left);
            record = press ? PRESS_ALT_TAP : PRESS_NONE;
            if (press) {
                AltTapKeyDown(self);
            } else {
                AltTapKeyUp(self);
            }
            return Swallow;
        }
        if (record == PRESS_NONE) {
            return Pass;
        }
    }
    // A pending tap on either side turns into its modifier press now.
    const bool modifier_sent = alt_tap_left.timer_id != 0 || alt_tap_right.timer_id != 0;
    AltTapInterrupt(alt_tap_left);
    AltTapInterrupt(alt_tap_right);
    // Then the key's own rule, never the Alt-tap switch again.
    const HookVerdict verdict = ApplyOwnRule(event);
    if (verdict == Pass && modifier_sent) {
        // What a hook injects enters the input stream behind the event it is
        // judging: passed on, this key would reach the application before its
        // modifier (Alt+F typing "f"). Sent again, it follows the modifier.
        return SendAgain(event);
    }
    return verdict;
}

}  // namespace

void RecordKeptKeys()
{
    // Only a key with a rule can be judged otherwise than it was pressed;
    // asking the system about the others would only cost time at each reset.
    for (unsigned vk = 0; vk < 256; ++vk) {
        const bool kept = KEY_RULES.rule[vk] != NO_RULE && !HeldKeys[vk] && SystemKeyDown(static_cast<uint16_t>(vk));
        PressRecord[vk] = kept ? PRESS_KEPT : PRESS_NONE;
    }
}

void SelectKeyRules()
{
    for (unsigned vk = 0; vk < 256; ++vk) {
        SelectKeyRule(vk);
    }
}

HookVerdict RemapKeyEvent(const HookKeyEvent& event)
{
    if (event.code < 0 || event.code == HC_NOREMOVE) {
        return Pass;
    }
    // Our own replacements come back here flagged injected and must not be
    // remapped again, and our masking events are dropped; other programs'
    // synthetic keys are left alone. A physical key's extra-info field is
    // not ours to read.
    if (event.flags & LLKHF_INJECTED) {
        return event.dwExtraInfo == SELF_MASK_TAG ? Swallow : Pass;
    }
    const uint32_t vk = event.vkCode;
    if (vk >= 256) {
        // No rule out there, but the Alt-tap switch hears every key.
        return RemapOptions.send_lang ? RouteAltTap(event) : Pass;
    }
    const uint8_t first = FirstStep.rule[vk];
    if (IsPress(event)) {
        return first == NO_RULE ? Pass : ApplyPressRule(first, event);
    }
    return first == ALT_TAP_FIRST ? RouteAltTap(event) : ApplyRelease(event);
}
