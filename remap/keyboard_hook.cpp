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
enum ModifierRule : uint8_t {
    NO_RULE,
    CAPSLOCK_RULE,
    LCTRL_RULE,
    RCTRL_RULE,
    LALT_RULE,
    RALT_RULE,
    TRACK_RULE,  // a Ctrl or Alt that passes as itself, counted while held
    SLOW_FIRST,  // FirstStep only: the Alt-tap switch hears every key, or a reset is to be finished
};

const uint8_t FIRST_DVORAK_KEY = 'A';

// The key that replaces a press, by rule: a Dvorak rule is its key, a swap
// rule its side's other modifier. One table, so that either costs one load.
struct Replacements {
    uint8_t key[256];
};

constexpr Replacements MakeReplacements()
{
    Replacements table{};
    for (unsigned rule = FIRST_DVORAK_KEY; rule < 256; ++rule) {
        table.key[rule] = static_cast<uint8_t>(rule);
    }
    table.key[LCTRL_RULE] = VK_LMENU;
    table.key[RCTRL_RULE] = VK_RMENU;
    table.key[LALT_RULE] = VK_LCONTROL;
    table.key[RALT_RULE] = VK_RCONTROL;
    return table;
}

constexpr Replacements REPLACEMENT = MakeReplacements();

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

// The rules in force: KEY_RULES with every rule whose switch is off blanked
// (a Ctrl or Alt is then tracked), but for presses in progress.
KeyRules RulesInForce;

// The hook's first look at a key: its rule in force or, while the Alt-tap
// switch is on or a reset is to be finished, SLOW_FIRST for every key. So
// the common path needs no look at the switches to pass a key or to
// rewrite it.
KeyRules FirstStep;

// Whether every key goes the slow way to finish a reset.
bool CatchingUp;

// The event time of CapsLock's latest key-down: a raw release older than
// that belongs to an earlier press.
uint32_t CapsPressTime;

void SelectKeyRule(unsigned vk)
{
    const uint8_t rule = KEY_RULES.rule[vk];
    const uint8_t record = PressRecord[vk];
    uint8_t in_force = NO_RULE;
    if (record == PRESS_NONE || record == PRESS_STALE) {
        const int32_t on = rule >= FIRST_DVORAK_KEY ? RemapOptions.use_dvorak
                           : rule == CAPSLOCK_RULE  ? RemapOptions.capslock_to_ctrl
                                                    : RemapOptions.swap_alt_for_ctrl;
        // A stale key's next press must be recorded, whatever it becomes,
        // and so must a press of a key that another press holds down.
        const bool tracked = (rule >= LCTRL_RULE && rule <= RALT_RULE) || record == PRESS_STALE || OutputHolds[vk] != 0;
        in_force = on ? rule : tracked ? uint8_t{TRACK_RULE} : uint8_t{NO_RULE};
    } else if (record != PRESS_KEPT) {
        // A press in progress keeps the one rule that made it.
        in_force = rule;
    }
    RulesInForce.rule[vk] = in_force;
    const bool slow = RemapOptions.send_lang || CatchingUp || record == PRESS_ALT_TAP;
    FirstStep.rule[vk] = slow ? uint8_t{SLOW_FIRST} : in_force;
}

int IsPress(const HookKeyEvent& event)
{
    return event.message == WM_KEYDOWN || event.message == WM_SYSKEYDOWN;
}

AltTapState& AltTapSide(uint32_t vk)
{
    return vk == VK_LMENU ? alt_tap_left : alt_tap_right;
}

// Windows hands the event on without the hook's answer once it has waited
// LateHookMs; a press judged after that would come twice.
bool IsLate(const HookKeyEvent& event)
{
    return event.now - event.time >= LateHookMs && event.now - event.previous >= LateHookMs;
}

// A press that reached the system as it is: the key stands for itself until
// let go, and what it stood for goes, unless that is the key itself (an
// Alt acting as its own modifier), which the user's key now holds.
OUT_OF_LINE HookVerdict LatePress(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    uint8_t& record = PressRecord[vk];
    uint8_t stood_for = record > PRESS_STALE ? record : uint8_t{0};
    if (record == PRESS_ALT_TAP) {
        AltTapState& side = AltTapSide(vk);
        stood_for = static_cast<uint8_t>(side.held_key);
        if (stood_for != 0) {
            // Held for the side until now; LetGoOfHeldKey below takes it.
            HoldKey(stood_for);
        }
        AltTapDrop(side);
    }
    if (stood_for == vk) {
        LetGoOfKey(stood_for);
        HeldKeys[vk] = 0;
    } else if (stood_for != 0) {
        LetGoOfHeldKey(stood_for);
    }
    if (record != PRESS_KEPT) {
        record = PRESS_KEPT;
        HoldKey(static_cast<uint8_t>(vk));
    }
    SelectKeyRule(vk);
    return Pass;
}

// Out of line, like every path that injects, so that the hook's path for a
// key it passes needs no stack frame.
// The rule in force is read here rather than passed: only the event need
// outlive the look at the clock.
OUT_OF_LINE HookVerdict ReplacePress(const HookKeyEvent& event)
{
    if (IsLate(event)) {
        return LatePress(event);
    }
    const uint32_t key = event.vkCode;
    const uint32_t vk = REPLACEMENT.key[RulesInForce.rule[key]];
    uint8_t& record = PressRecord[key];
    if (record <= PRESS_STALE) {
        record = static_cast<uint8_t>(vk);
        HoldKey(static_cast<uint8_t>(vk));
    }
    InjectKey(static_cast<uint16_t>(vk), 1, 0);
    return Swallow;
}

// Masking releases around the press: only hooks that run ahead of this one
// see them; they are dropped when they come back.
OUT_OF_LINE HookVerdict MaskedCtrlPress(const HookKeyEvent& event)
{
    if (IsLate(event)) {
        return LatePress(event);
    }
    CapsPressTime = event.time;
    uint8_t& record = PressRecord[event.vkCode];
    if (record <= PRESS_STALE) {
        record = VK_LCONTROL;
        HoldKey(VK_LCONTROL);
    }
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    InjectKey(VK_LCONTROL, 1, 0);
    InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
    return Swallow;
}

// A Ctrl or Alt that no rule takes passes, counted: another key may stand
// for it too, and the system's key goes up only with the last of them.
OUT_OF_LINE HookVerdict TrackedPress(const HookKeyEvent& event)
{
    uint8_t& record = PressRecord[event.vkCode];
    if (record != PRESS_KEPT) {
        record = PRESS_KEPT;
        HoldKey(static_cast<uint8_t>(event.vkCode));
        SelectKeyRule(event.vkCode);
    }
    return Pass;
}

// A release goes the way its press went, whatever the rules say now, and
// lets go of its key unless another press still holds that key.
OUT_OF_LINE HookVerdict ReleaseAsPressed(uint8_t record, const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    PressRecord[vk] = PRESS_NONE;
    SelectKeyRule(vk);
    if (record == PRESS_KEPT) {
        // Up in the system now, whoever pressed it there; or still down for
        // the engine's presses, which let go of it later.
        const bool last = LetGoOfKey(static_cast<uint8_t>(vk));
        HeldKeys[vk] = !last;
        return last ? Pass : Swallow;
    }
    if (record == PRESS_STALE) {
        return Swallow;
    }
    LetGoOfHeldKey(record);
    if (OutputHolds[record] == 0) {
        SelectKeyRule(record);
    }
    return Swallow;
}

// The event itself, sent again behind what the engine injected before it,
// with the scan code and extended bit it came with (Alt+Right stays the
// arrow, not the numeric pad's 6). Not in HeldKeys: it is the user's own
// key, whose release passes on as it comes; but on its way like any other.
OUT_OF_LINE HookVerdict SendAgain(const HookKeyEvent& event)
{
    const uint32_t extended = (event.flags & LLKHF_EXTENDED) != 0 ? 0xE000 : 0;
    const uint16_t vk = static_cast<uint16_t>(event.vkCode);
    if (SendKeyInput(vk, IsPress(event), 0, event.scanCode | extended) != 0) {
        CountInFlight(vk, IsPress(event));
    }
    return Swallow;
}

// An injected event came back. Ours count in the system from now on; the
// masking ones are dropped. A key that passes as itself and is let go of by
// someone's injection is up: its next press is judged afresh.
OUT_OF_LINE HookVerdict CameBack(const HookKeyEvent& event)
{
    if (event.dwExtraInfo == SELF_MASK_TAG) {
        return Swallow;
    }
    const uint32_t vk = event.vkCode;
    if (vk < 256) {
        InjectionLanded(vk);
        if (!IsPress(event) && PressRecord[vk] == PRESS_KEPT) {
            PressRecord[vk] = PRESS_NONE;
            LetGoOfKey(static_cast<uint8_t>(vk));
            SelectKeyRule(vk);
        }
    }
    return Pass;
}

HookVerdict RouteSlow(const HookKeyEvent& event);

// What the press of a key with `rule` (not NO_RULE) does. SLOW_FIRST
// comes only from FirstStep.
ALWAYS_INLINE HookVerdict ApplyPressRule(uint8_t rule, const HookKeyEvent& event)
{
    // Letters and punctuation first: they are most of what anyone types.
    if (rule >= FIRST_DVORAK_KEY) {
        return ReplacePress(event);
    }
    if (rule == SLOW_FIRST) {
        return RouteSlow(event);
    }
    if (rule == CAPSLOCK_RULE) {
        return MaskedCtrlPress(event);
    }
    if (rule == TRACK_RULE) {
        return TrackedPress(event);
    }
    return ReplacePress(event);
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

// An Alt whose press went to the Alt-tap switch, or is to go there. Its
// rule matters only once the switch is off, when every key takes the slow
// way no more.
HookVerdict RouteAltKey(const HookKeyEvent& event, uint8_t& record)
{
    const uint32_t vk = event.vkCode;
    AltTapInterrupt(AltTapSide(vk == VK_LMENU ? VK_RMENU : VK_LMENU));
    const uint8_t was = record;
    record = IsPress(event) ? PRESS_ALT_TAP : PRESS_NONE;
    if (record != was && !RemapOptions.send_lang) {
        SelectKeyRule(vk);
    }
    if (IsPress(event)) {
        AltTapKeyDown(AltTapSide(vk), event.time);
    } else {
        AltTapKeyUp(AltTapSide(vk), event.time);
    }
    return Swallow;
}

// While send_lang is on the Alt keys belong to the Alt-tap switch, and every
// other key interrupts both sides first, so that a modifier press this
// injects goes out before the key itself or its replacement. An Alt that
// passes as itself is any other key until let go, and an Alt release whose
// press the switch never heard passes and touches nothing. A reset left to
// finish is finished first. Kept out of line so the common path of the hook
// stays free of calls.
OUT_OF_LINE HookVerdict RouteSlow(const HookKeyEvent& event)
{
    if (CatchingUp) {
        ResetEngine();
    }
    const uint32_t vk = event.vkCode;
    const int press = IsPress(event);
    const bool late = vk < 256 && IsLate(event);
    if (late && press) {
        return LatePress(event);
    }
    // What the engine injects now goes out behind this event.
    bool injected = false;
    if (vk == VK_LMENU || vk == VK_RMENU) {
        uint8_t& record = PressRecord[vk];
        if (press && record == PRESS_ALT_TAP && AltTapStale(AltTapSide(vk), event.time)) {
            // No auto-repeat waits that long: the release was hidden from
            // the hook, and this is a new press.
            injected = AltTapSide(vk).held_key != 0;
            AltTapKeyUp(AltTapSide(vk), event.time);
            record = PRESS_NONE;
            SelectKeyRule(vk);
        }
        const bool fresh = record == PRESS_NONE || record == PRESS_STALE;
        const bool heard = record == PRESS_ALT_TAP || (press && fresh && RemapOptions.send_lang);
        if (heard) {
            return RouteAltKey(event, record);
        }
        if (!press && record == PRESS_NONE) {
            return Pass;
        }
    }
    if (late) {
        // Handed on already: what its press became is let go of, nothing more.
        return ApplyOwnRule(event);
    }
    // A pending tap on either side turns into its modifier press now.
    const bool left = AltTapInterrupt(alt_tap_left);
    const bool right = AltTapInterrupt(alt_tap_right);
    // Then the key's own rule, never the Alt-tap switch again.
    const HookVerdict verdict = ApplyOwnRule(event);
    if (verdict == Pass && (left || right || injected)) {
        // What a hook injects enters the input stream behind the event it is
        // judging: passed on, this key would reach the application before its
        // modifier (Alt+F typing "f"). Sent again, it follows the modifier.
        return SendAgain(event);
    }
    return verdict;
}

}  // namespace

uint32_t LateHookMs = 300;

void RecordKeptKeys()
{
    // Only a key with a rule can be judged otherwise than it was pressed;
    // asking the system about the others would only cost time at each reset.
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (KEY_RULES.rule[vk] == NO_RULE) {
            continue;
        }
        uint8_t& record = PressRecord[vk];
        const bool own = !HeldKeys[vk] && SystemHolds(static_cast<uint16_t>(vk));
        if (record == PRESS_ALT_TAP && !own) {
            // An Alt that may still be held stays no tap.
            continue;
        }
        const bool replaced = record > PRESS_STALE;
        if (record == PRESS_ALT_TAP) {
            AltTapDrop(AltTapSide(vk));
        } else if (replaced) {
            // The reset lets go of what it stood for; a repeat is a new press.
            LetGoOfKey(record);
        }
        if (own && record != PRESS_KEPT) {
            // Its repeats reached the system where the hook was blind.
            HoldKey(static_cast<uint8_t>(vk));
        } else if (!own && record == PRESS_KEPT) {
            LetGoOfKey(static_cast<uint8_t>(vk));
        }
        record = own ? PRESS_KEPT : replaced || record == PRESS_STALE ? PRESS_STALE : PRESS_NONE;
    }
}

void RecordPassedKeys()
{
    for (unsigned vk = 0; vk < 256; ++vk) {
        const uint8_t record = PressRecord[vk];
        if (KEY_RULES.rule[vk] != NO_RULE && (record == PRESS_NONE || record == PRESS_STALE) && !HeldKeys[vk] &&
            SystemHolds(static_cast<uint16_t>(vk))) {
            PressRecord[vk] = PRESS_KEPT;
            HoldKey(static_cast<uint8_t>(vk));
        }
    }
}

void SelectKeyRules(bool catch_up)
{
    CatchingUp = catch_up;
    for (unsigned vk = 0; vk < 256; ++vk) {
        SelectKeyRule(vk);
    }
}

void RawKeyReleased(uint32_t scan, uint32_t time)
{
    const uint8_t record = PressRecord[VK_CAPITAL];
    if (scan != 0x3A || record <= PRESS_STALE || static_cast<int32_t>(time - CapsPressTime) < 0) {
        return;
    }
    // Should the hook get the release after all, it reaches nothing.
    PressRecord[VK_CAPITAL] = PRESS_STALE;
    SelectKeyRule(VK_CAPITAL);
    LetGoOfHeldKey(record);
}

HookVerdict RemapKeyEvent(const HookKeyEvent& event)
{
    // Low-level hooks are called with HC_ACTION; anything else (below zero,
    // HC_NOREMOVE) is not ours to judge.
    if (event.code != HC_ACTION) {
        return Pass;
    }
    // Our own replacements come back here flagged injected and must not be
    // remapped again, and our masking events are dropped; other programs'
    // synthetic keys are left alone. A physical key's extra-info field is
    // not ours to read.
    if (event.flags & LLKHF_INJECTED) {
        return CameBack(event);
    }
    const uint32_t vk = event.vkCode;
    if (vk >= 256) {
        // No rule out there, but the Alt-tap switch hears every key.
        return RemapOptions.send_lang || CatchingUp ? RouteSlow(event) : Pass;
    }
    const uint8_t first = FirstStep.rule[vk];
    if (IsPress(event)) {
        return first == NO_RULE ? Pass : ApplyPressRule(first, event);
    }
    return first == SLOW_FIRST ? RouteSlow(event) : ApplyRelease(event);
}
