// The keyboard hook's decisions. A key's life, by the records of
// key_injection.h (PressRecord, OutputHolds, HeldKeys, InFlight):
//
//   event              record becomes            holds / in flight
//   press, a rule      the replacement's code    HoldKey(replacement)
//   press, CapsLock    VK_LCONTROL               HoldKey(Ctrl)
//   press, Ctrl/Alt    PRESS_KEPT                HoldKey(itself)
//   press, no rule     PRESS_NONE                nothing: it passes
//   press, Alt at the  PRESS_ALT_TAP             the switch's (alt_tap.cpp)
//     Alt-tap switch
//   press, late        PRESS_KEPT (an Alt at the switch stays PRESS_ALT_TAP;
//                      a key held as its replacement keeps it, the stray
//                      press let go of)
//   press, an Alt tap  none yet: held back (HeldBack) until the tap is
//     pending          decided, then as its rule says behind the modifier
//   press sent again   unchanged                 in flight (SentAgain for
//     (behind a modifier)                        another program's, until back)
//   repeat             unchanged                 its replacement pressed again
//   release            PRESS_NONE                LetGoOfHeldKey: the last holder
//                                                injects the release, in flight
//   reset              PRESS_KEPT if the system holds the key itself,
//                      PRESS_STALE if replaced (its release reaches nothing)
//   injection back     unchanged                 InFlight counts down
//
// The rule of a key (RulesInForce) is chosen again (Reselect) only once no
// press or hold of it is in progress: a press keeps the rule that made it.
// While an Alt tap is pending one press is held back (HeldBack) until the
// tap is decided, and then judged by its own rule behind what the switch
// sent. Every key goes the slow way (RouteSlow) while the switch listens or
// a reset is to be finished; the others pass at one table load.
#include "remap/keyboard_hook.h"

#include "remap/alt_tap.h"
#include "remap/engine_check.h"
#include "remap/key_injection.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"

namespace {

// What happens to each physical key, by virtual-key code, in one flat table so
// that an ordinary key costs a single load on the hook's hot path. The rule
// names what kind of thing happens; the key a replacement sends is in
// REPLACEMENT, never in the rule.
enum KeyRule : uint8_t {
    NO_RULE,       // passes untouched
    REPLACE_RULE,  // replaced by REPLACEMENT: a Dvorak key, or a swapped Ctrl or Alt
    CAPSLOCK_RULE,
    TRACK_RULE,    // a Ctrl or Alt that passes as itself, counted while held
    SLOW_FIRST,    // first steps only: an Alt at the Alt-tap switch, the switch
                   // listening, or a reset to be finished
};

bool IsSwapKey(unsigned vk)
{
    return vk == VK_LCONTROL || vk == VK_RCONTROL || vk == VK_LMENU || vk == VK_RMENU;
}

struct KeyTable {
    uint8_t key[256];
};

// The key that replaces each physical key while its rule is in force.
constexpr KeyTable MakeReplacements()
{
    const uint8_t pairs[][2] = {
        {'B', 'X'}, {'C', 'J'}, {'D', 'E'}, {'E', VK_OEM_PERIOD}, {'F', 'U'},
        {'G', 'I'}, {'H', 'D'}, {'I', 'C'}, {'J', 'H'}, {'K', 'T'},
        {'L', 'N'}, {'N', 'B'}, {'O', 'R'}, {'P', 'L'}, {'Q', VK_OEM_7},
        {'R', 'P'}, {'S', 'O'}, {'T', 'Y'}, {'U', 'G'}, {'V', 'K'},
        {'W', VK_OEM_COMMA}, {'X', 'Q'}, {'Y', 'F'}, {'Z', VK_OEM_1},
        {VK_OEM_1, 'S'}, {VK_OEM_PLUS, VK_OEM_6}, {VK_OEM_COMMA, 'W'},
        {VK_OEM_MINUS, VK_OEM_4}, {VK_OEM_PERIOD, 'V'}, {VK_OEM_2, 'Z'},
        {VK_OEM_4, VK_OEM_2}, {VK_OEM_6, VK_OEM_PLUS}, {VK_OEM_7, VK_OEM_MINUS},
        {VK_LCONTROL, VK_LMENU}, {VK_RCONTROL, VK_RMENU}, {VK_LMENU, VK_LCONTROL}, {VK_RMENU, VK_RCONTROL},
    };
    KeyTable table{};
    for (const auto& pair : pairs) {
        table.key[pair[0]] = pair[1];
    }
    return table;
}

constexpr KeyTable REPLACEMENT = MakeReplacements();

// A replacement is recorded as the press's PressRecord: it must lie in the
// range of keys there, or it would read as one of the codes below it.
constexpr bool ReplacementsAreRecordable()
{
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (REPLACEMENT.key[vk] != 0 && !IsPressedKey(REPLACEMENT.key[vk])) {
            return false;
        }
    }
    return true;
}
static_assert(ReplacementsAreRecordable(), "a replacement key reads as a press code");

constexpr KeyTable MakeKeyRules()
{
    KeyTable table{};
    for (unsigned vk = 0; vk < 256; ++vk) {
        table.key[vk] = REPLACEMENT.key[vk] != 0 ? uint8_t{REPLACE_RULE} : uint8_t{NO_RULE};
    }
    table.key[VK_CAPITAL] = CAPSLOCK_RULE;
    return table;
}

constexpr KeyTable KEY_RULES = MakeKeyRules();

// The rules in force: KEY_RULES with every rule whose switch is off blanked
// (a Ctrl or Alt is then tracked), but for presses in progress.
KeyTable RulesInForce;

// Each key's first step while the Alt-tap switch does not listen: its rule
// in force, or SLOW_FIRST for an Alt at the switch, and for every key while
// a reset is to be finished.
KeyTable FirstRule;

constexpr KeyTable MakeEveryKeySlow()
{
    KeyTable table{};
    for (uint8_t& step : table.key) {
        step = SLOW_FIRST;
    }
    return table;
}

// The first step of every key while the Alt-tap switch listens.
constexpr KeyTable EVERY_KEY_SLOW = MakeEveryKeySlow();

// What the hook reads first: FirstRule, or EVERY_KEY_SLOW while the Alt-tap
// switch listens (FollowAltTap). So the common path needs no look at the
// switches or the tap to pass a key or to rewrite it.
const uint8_t* FirstStep = FirstRule.key;

// 1 where the rule in force was chosen with a press or a hold of the key
// in progress: it must be chosen again once they end. Elsewhere it is what
// the switches give, and a release leaves it as it is.
constexpr uint8_t (&Reselect)[256] = PerKey.reselect;

// Whether every key goes the slow way to finish a reset.
bool CatchingUp;

// The event time of CapsLock's latest key-down: a raw release older than
// that belongs to an earlier press.
uint32_t CapsPressTime;

void SelectKeyRule(unsigned vk)
{
    const uint8_t rule = KEY_RULES.key[vk];
    const uint8_t record = PressRecord[vk];
    uint8_t in_force = NO_RULE;
    if (record == PRESS_NONE || record == PRESS_STALE) {
        const int32_t on = rule == CAPSLOCK_RULE ? RemapOptions.capslock_to_ctrl
                           : IsSwapKey(vk)       ? RemapOptions.swap_alt_for_ctrl
                                                 : RemapOptions.use_dvorak;
        // A stale key's next press must be recorded, whatever it becomes,
        // and so must a press of a key that another press holds down.
        const bool tracked = IsSwapKey(vk) || record == PRESS_STALE || OutputHolds[vk] != 0;
        in_force = on && rule != NO_RULE ? rule : tracked ? uint8_t{TRACK_RULE} : uint8_t{NO_RULE};
    } else if (record != PRESS_KEPT) {
        // A press in progress keeps the one rule that made it.
        in_force = rule;
    }
    RulesInForce.key[vk] = in_force;
    Reselect[vk] = record != PRESS_NONE || OutputHolds[vk] != 0;
    const bool alt_tap = (RemapOptions.send_lang && (vk == VK_LMENU || vk == VK_RMENU)) || record == PRESS_ALT_TAP;
    FirstRule.key[vk] = CatchingUp || alt_tap ? uint8_t{SLOW_FIRST} : in_force;
}

// The hook is called with WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or
// WM_SYSKEYUP only: the presses are the even ones, one bit to test.
int IsPress(const HookKeyEvent& event)
{
    static_assert((WM_KEYDOWN & 1) == 0 && (WM_SYSKEYDOWN & 1) == 0 && (WM_KEYUP & 1) == 1 && (WM_SYSKEYUP & 1) == 1,
                  "a key-down message is odd");
    return (event.message & 1) == 0;
}

AltTapState& AltTapSide(uint32_t vk)
{
    return vk == VK_LMENU ? alt_tap_left : alt_tap_right;
}

// Windows hands the event on without the hook's answer once it has waited
// LateHookMs; a press judged after that would come twice.
bool IsLate(const HookKeyEvent& event)
{
    return event.now - event.wait_began >= LateHookMs;
}

bool IsAltKey(uint32_t vk)
{
    return vk == VK_LMENU || vk == VK_RMENU;
}

// A press held back while an Alt tap is pending, and the timer that
// decides the tap once it has been held KEY_HOLD_MS.
HookKeyEvent HeldBack;
bool HoldingBack;
uintptr_t HeldBackTimer;

// The release of the last press held back, once it went, until the hook
// sees it: it may have passed where the hook was blind (a hook dropped by
// Windows), before the press went. The next reset lets go of it; message
// 0 for none.
HookKeyEvent SentLate;

// Another program's click sent again behind a modifier, until it comes
// back: its release, sent in the same call, must follow it.
uintptr_t ClickOnItsWay;

}  // namespace

// The paths past the first step have external linkage: a compiler inlines
// a function of the file's own that has a single caller, which would give
// the first step a stack frame that every key that passes pays for.
void FollowAltTap();
HookVerdict ApplyOwnRule(const HookKeyEvent& event);
HookVerdict RouteSlow(const HookKeyEvent& event);

// A press that reached the system as it is. A key held as its replacement
// keeps it, and the stray press is let go of (a CapsLock's lock switched
// back); an Alt at the Alt-tap switch stays the switch's, which lets go of
// it behind the mask key if need be; any other key stands for itself until
// let go, and what it stood for goes, unless that is the key itself.
HookVerdict LatePress(const HookKeyEvent& event)
{
    const uint32_t vk = event.vkCode;
    uint8_t& record = PressRecord[vk];
    const bool fresh = record == PRESS_NONE || record == PRESS_STALE;
    if (record == PRESS_ALT_TAP || (IsAltKey(vk) && fresh && RemapOptions.send_lang)) {
        record = PRESS_ALT_TAP;
        AltTapLatePress(AltTapSide(vk), static_cast<uint16_t>(vk), event.time);
        SelectKeyRule(vk);
        FollowAltTap();
        return Pass;
    }
    if (IsPressedKey(record)) {
        if (OutputHolds[vk] == 0) {
            InjectKey(static_cast<uint16_t>(vk), 0, 0);
        }
        if (vk == VK_CAPITAL) {
            SwitchCapsLockBack();
        }
        return Pass;
    }
    if (record != PRESS_KEPT) {
        record = PRESS_KEPT;
        HoldKey(static_cast<uint8_t>(vk));
    }
    if (vk == VK_CAPITAL) {
        // Its lock went on (or off) in the system.
        SwitchCapsLockBack();
    }
    SelectKeyRule(vk);
    return Pass;
}

HookVerdict ReplacePress(const HookKeyEvent& event)
{
    if (IsLate(event)) {
        return LatePress(event);
    }
    const uintptr_t key = event.vkCode;
    const uint8_t vk = REPLACEMENT.key[key];
    uint8_t& record = PressRecord[key];
    if (!IsPressedKey(record)) {
        record = vk;
        HoldKey(vk);
    }
    InjectKey(vk, 1, 0);
    return Swallow;
}

// Masking releases around the press: only hooks that run ahead of this one
// see them; they are dropped when they come back.
HookVerdict MaskedCtrlPress(const HookKeyEvent& event)
{
    if (IsLate(event)) {
        return LatePress(event);
    }
    CapsPressTime = event.time;
    uint8_t& record = PressRecord[event.vkCode];
    if (!IsPressedKey(record)) {
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
HookVerdict TrackedPress(const HookKeyEvent& event)
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
HookVerdict ReleaseAsPressed(uint8_t record, uint32_t vk)
{
    PressRecord[vk] = PRESS_NONE;
    if (Reselect[vk]) {
        SelectKeyRule(vk);
    }
    if (record == PRESS_KEPT) {
        ENGINE_INVARIANT(OutputHolds[vk] != 0);
        // Up in the system now, whoever pressed it there; or still down for
        // the engine's presses, which let go of it later.
        const bool last = LetGoOfKey(static_cast<uint8_t>(vk));
        HeldKeys[vk] = !last;
        return last ? Pass : Swallow;
    }
    if (record == PRESS_STALE) {
        return Swallow;
    }
    // A press that became its replacement holds it until here.
    ENGINE_INVARIANT(OutputHolds[record] != 0);
    LetGoOfHeldKey(record);
    if (OutputHolds[record] == 0 && Reselect[record]) {
        SelectKeyRule(record);
    }
    return Swallow;
}

// The event itself, sent again behind what the engine injected before it,
// with the scan code and extended bit it came with (Alt+Right stays the
// arrow, not the numeric pad's 6), and another program's key with its own
// extra info, by which that program knows it. Not in HeldKeys: it is the
// user's own key, whose release passes on as it comes; but on its way like
// any other, so that it is known for the engine's own when it comes back,
// counted as sent at tick count `now`. False when the system refused it.
bool Resend(const HookKeyEvent& event, uint32_t now)
{
    const uint32_t extended = (event.flags & LLKHF_EXTENDED) != 0 ? 0xE000 : 0;
    const uintptr_t tag = (event.flags & LLKHF_INJECTED) != 0 ? event.dwExtraInfo : 0;
    const uint16_t vk = static_cast<uint16_t>(event.vkCode);
    if (SendKeyInput(vk, IsPress(event), tag, event.scanCode | extended) == 0) {
        return false;
    }
    CountInFlight(vk, IsPress(event), now);
    return true;
}

HookVerdict SendAgain(const HookKeyEvent& event, uint32_t now)
{
    Resend(event, now);
    return Swallow;
}

// After every call into the Alt-tap switch. The mouse is hooked while a tap
// is pending (or a click of ours is on its way back); without a mouse hook
// a click cannot be seen, and a pending tap is decided at once. Once no tap
// is pending, a press held back goes by its own rule, behind what the switch
// sent; and the keys go the slow way exactly while the switch listens.
void FollowAltTap()
{
    if (!WatchMouse(AltTapPending || ClickOnItsWay != 0) && AltTapPending) {
        AltTapInterrupt(alt_tap_left, false);
        AltTapInterrupt(alt_tap_right, false);
    }
    if (HoldingBack && !AltTapPending) {
        HoldingBack = false;
        CancelHoldTimer(HeldBackTimer);
        HeldBackTimer = 0;
        // It reaches the system behind the modifiers: no Alt is alone, but
        // for an Alt that it stands for (a swapped Ctrl).
        const uint32_t vk = HeldBack.vkCode;
        const bool alt = vk < 256 && RulesInForce.key[vk] == REPLACE_RULE && IsAltKey(REPLACEMENT.key[vk]);
        AltTapInterrupt(alt_tap_left, !alt);
        AltTapInterrupt(alt_tap_right, !alt);
        if (ApplyOwnRule(HeldBack) == Pass) {
            SendAgain(HeldBack, TickCount());
        }
        SentLate = HeldBack;
        SentLate.message = WM_KEYUP;
    }
    ENGINE_INVARIANT(!HoldingBack || AltTapPending);
    FirstStep = AltTapListening ? EVERY_KEY_SLOW.key : FirstRule.key;
}

// A press, a click or a turn of anyone's: a pending tap on either side (but
// an Alt's own) becomes its modifier, a settled one presses it, and the
// press held back goes next. True when the press must follow what this
// sent. `follows` as for AltTapInterrupt.
bool InterruptAltTaps(uint32_t vk, bool follows)
{
    // Not listening, the switch has nothing to decide, press or end.
    if (!AltTapListening) {
        return false;
    }
    const bool held = HoldingBack;
    const bool left = vk != VK_LMENU && AltTapInterrupt(alt_tap_left, follows);
    const bool right = vk != VK_RMENU && AltTapInterrupt(alt_tap_right, follows);
    FollowAltTap();
    return left || right || (held && !HoldingBack);
}

// An injected event came back. Ours count in the system from now on; the
// masking ones are dropped. A key that passes as itself and is let go of by
// another program's injection is up: its next press is judged afresh (a
// release of ours went out before that press, sent again behind it). Another
// program's press (a macro pad's, a remapper's ahead of ours re-sending the
// user's key) is a press inside a pending tap like the user's, sent again
// behind the modifier, and so is its release while that press is on its
// way (both came in one call). One of ours is a key held or on its way (a
// press holds its key until its release is sent, which then is on its
// way). A VK_PACKET carries a character, no key.
HookVerdict CameBack(const HookKeyEvent& event)
{
    if (event.dwExtraInfo == SELF_MASK_TAG) {
        return Swallow;
    }
    const uint32_t vk = event.vkCode;
    if (vk >= 256) {
        return Pass;
    }
    if (SentAgain[vk] && !IsPress(event)) {
        SentAgain[vk] = 0;
        return SendAgain(event, event.now);
    }
    const bool ours = InFlight[vk] != 0 || HeldKeys[vk] != 0;
    InjectionLanded(vk);
    if (ours && IsPress(event)) {
        SentAgain[vk] = 0;
    }
    if (vk == VK_CAPITAL && ours && !IsPress(event)) {
        CapsLockReleaseLanded();
    }
    if (!ours && !IsPress(event) && PressRecord[vk] == PRESS_KEPT) {
        PressRecord[vk] = PRESS_NONE;
        LetGoOfKey(static_cast<uint8_t>(vk));
        SelectKeyRule(vk);
    }
    if (AltTapListening && !ours && IsPress(event) && vk != VK_PACKET && InterruptAltTaps(0, true)) {
        SentAgain[vk] = 1;
        return SendAgain(event, event.now);
    }
    return Pass;
}

// The press held back goes now, behind the modifier of the tap it waited
// for; and its release too, when `released`.
void LetHeldBackGo(bool released)
{
    HookKeyEvent release = HeldBack;
    release.message = WM_KEYUP;
    InterruptAltTaps(0, true);
    if (released) {
        SentLate.message = 0;
        if (ApplyOwnRule(release) == Pass) {
            SendAgain(release, TickCount());
        }
    }
}

// What the press of a key with `rule` (not NO_RULE) does.
HookVerdict ApplyPressRule(uint8_t rule, const HookKeyEvent& event)
{
    switch (rule) {
    case REPLACE_RULE:
        return ReplacePress(event);
    case SLOW_FIRST:
        return RouteSlow(event);
    case CAPSLOCK_RULE:
        return MaskedCtrlPress(event);
    default:
        return TrackedPress(event);
    }
}

HookVerdict ApplyRelease(const HookKeyEvent& event)
{
    // Seen: no reset need let go of it.
    if (event.vkCode == SentLate.vkCode) {
        SentLate.message = 0;
    }
    const uint8_t record = PressRecord[event.vkCode];
    return record == PRESS_NONE ? Pass : ReleaseAsPressed(record, event.vkCode);
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
    const uint8_t rule = RulesInForce.key[vk];
    return rule == NO_RULE ? Pass : ApplyPressRule(rule, event);
}

// An Alt whose press went to the Alt-tap switch, or is to go there. Its
// rule matters only once the switch is off, when it takes the slow way no
// more. A release that ends a pending tap as its modifier lets the press
// held back go between the modifier's press and release.
HookVerdict RouteAltKey(const HookKeyEvent& event, uint8_t& record, int press)
{
    const uint32_t vk = event.vkCode;
    const uint8_t was = record;
    AltTapState& side = AltTapSide(vk);
    record = press ? PRESS_ALT_TAP : PRESS_NONE;
    if (record != was && !RemapOptions.send_lang) {
        SelectKeyRule(vk);
    }
    if (press) {
        // A click of ours dropped on its way (UIPI) never comes back.
        ClickOnItsWay = 0;
        AltTapKeyDown(side, event.time);
    } else {
        if (HoldingBack && side.pressed && !side.interrupted && !AltTapReleaseIsTap(side, event.time)) {
            AltTapInterrupt(side, true);
            FollowAltTap();
        }
        AltTapKeyUp(side, event.time);
    }
    FollowAltTap();
    return Swallow;
}

// The Alt keys while send_lang is on, every key while the switch listens or
// a reset is to be finished. A press, late or not, goes to the switch first
// (InterruptAltTaps), so that a modifier goes out before the key itself or
// its replacement; but the first press while a tap is pending, on time, is
// held back until the tap is decided (FollowAltTap lets it go): by its own
// release (a chord), the Alt's release (a tap, then the key), another press
// or its own repeat, the hold timer, KEY_HOLD_MS of it, or a reset or a
// switch change. Any other release changes nothing there (the end of a word
// rolled into the Alt). The Alt keys belong to the Alt-tap switch; an Alt
// that passes as itself is any other key until let go, and an Alt release
// whose press the switch never heard passes and touches nothing.
HookVerdict RouteSlow(const HookKeyEvent& event)
{
    // What the engine injects now goes out behind this event: the releases
    // of a reset finished here too.
    bool injected = CatchingUp;
    if (CatchingUp) {
        FinishReset();
    }
    const uint32_t vk = event.vkCode;
    const int press = IsPress(event);
    const bool late = vk < 256 && IsLate(event);
    const bool alt = IsAltKey(vk);
    if (alt && press && !late && PressRecord[vk] == PRESS_ALT_TAP && AltTapStale(AltTapSide(vk), event.time)) {
        // No auto-repeat waits that long: the release was hidden from the
        // hook, and this is a new press.
        injected = injected || AltTapSide(vk).held_key != 0;
        AltTapKeyUp(AltTapSide(vk), event.time);
        PressRecord[vk] = PRESS_NONE;
        SelectKeyRule(vk);
    }
    if (late) {
        // A stall long enough for Windows to give up on a call may have
        // cost the mouse hook too.
        WatchMouse(false);
    }
    if (press && AltTapPending && !HoldingBack && !alt && !late) {
        HeldBack = event;
        HoldingBack = true;
        HeldBackTimer = StartHoldTimer(KEY_HOLD_MS);
        FollowAltTap();
        return Swallow;
    }
    // A release of the press held back, late or not, follows that press.
    const bool own_release = !press && HoldingBack && vk == HeldBack.vkCode;
    if (press || own_release) {
        injected = InterruptAltTaps(vk, press && !late && !alt) || injected;
    } else if (late) {
        FollowAltTap();
    }
    if (late && press) {
        return LatePress(event);
    }
    if (alt) {
        uint8_t& record = PressRecord[vk];
        const bool fresh = record == PRESS_NONE || record == PRESS_STALE;
        if (record == PRESS_ALT_TAP || (press && fresh && RemapOptions.send_lang)) {
            return RouteAltKey(event, record, press);
        }
        if (!press && record == PRESS_NONE) {
            return Pass;
        }
    }
    // Then the key's own rule, never the Alt-tap switch again; a late
    // release lets go of what its press became, nothing more.
    const HookVerdict verdict = ApplyOwnRule(event);
    if (verdict == Pass && injected && (!late || own_release)) {
        // What a hook injects enters the input stream behind the event it is
        // judging: passed on, this key would reach the application before its
        // modifier (Alt+F typing "f"). Sent again, it follows the modifier.
        return SendAgain(event, event.now);
    }
    return verdict;
}


uint32_t LateHookMs = 300;
uint32_t KeyboardHookAnswered;

uint32_t LateHookLimitMs(uint32_t setting)
{
    return setting == 0 ? 300 : setting > 1000 ? 1000 : setting;
}

uint32_t HookWaitBegan(uint32_t& answered, uint32_t time, uint32_t now)
{
    uint32_t began = static_cast<int32_t>(time - answered) > 0 ? time : answered;
    if (static_cast<int32_t>(now - began) < 0) {
        began = now;
    }
    answered = now - began >= LateHookMs ? began + LateHookMs : now;
    return began;
}

void RecordKeptKeys()
{
    // Only a key with a rule can be judged otherwise than it was pressed;
    // asking the system about the others would only cost time at each reset.
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (KEY_RULES.key[vk] == NO_RULE) {
            continue;
        }
        uint8_t& record = PressRecord[vk];
        const bool own = !HeldKeys[vk] && SystemHolds(static_cast<uint16_t>(vk));
        if (record == PRESS_ALT_TAP && !own) {
            // An Alt that may still be held stays no tap.
            continue;
        }
        const bool replaced = IsPressedKey(record);
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
        if (KEY_RULES.key[vk] != NO_RULE && (record == PRESS_NONE || record == PRESS_STALE) && !HeldKeys[vk] &&
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

void RawKeyReleased(uintptr_t device, uint32_t scan, uint32_t time)
{
    if (device != 0 && scan == 0x3A && HoldingBack && HeldBack.scanCode == scan) {
        // The release of a CapsLock held back, which the hook may not get.
        LetHeldBackGo(true);
    }
    const uint8_t record = PressRecord[VK_CAPITAL];
    if (device == 0 || scan != 0x3A || !IsPressedKey(record) || static_cast<int32_t>(time - CapsPressTime) < 0) {
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
    // Wide, so that indexing by it needs no widening first.
    const uintptr_t vk = event.vkCode;
    if (vk >= 256) {
        // No rule out there, but the Alt-tap switch hears every key.
        return AltTapListening || CatchingUp ? RouteSlow(event) : Pass;
    }
    const uint8_t first = FirstStep[vk];
    if (IsPress(event)) {
        return first == NO_RULE ? Pass : ApplyPressRule(first, event);
    }
    return first == SLOW_FIRST ? RouteSlow(event) : ApplyRelease(event);
}

void HoldTimerExpired(uintptr_t timer_id)
{
    if (timer_id == HeldBackTimer && HoldingBack) {
        InterruptAltTaps(0, true);
    } else if (AltTapTimerExpired(timer_id)) {
        FollowAltTap();
    }
}

void SettleAltTaps(bool settle, bool reset, bool let_go)
{
    ClickOnItsWay = 0;
    if (HoldingBack) {
        // At a reset its release may have passed unseen, where the hook was
        // blind: it goes too, and a repeat is a new press.
        LetHeldBackGo(reset);
    }
    if (reset && SentLate.message != 0) {
        // A key the engine replaced is the reset's to let go of; one the
        // system refuses is sent again at the next reset.
        const HookKeyEvent release = SentLate;
        SentLate.message = 0;
        const bool itself = release.vkCode >= 256 || !IsPressedKey(PressRecord[release.vkCode]);
        if (itself && ApplyOwnRule(release) == Pass && !Resend(release, TickCount())) {
            SentLate = release;
        }
    }
    if (settle || reset) {
        AltTapSettle(reset, let_go);
    }
    FollowAltTap();
}

namespace {

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

HookVerdict RemapMouseEvent(const HookMouseEvent& event)
{
    // Windows' documented mark of mouse input made from the pen or a touch.
    const bool pen_or_touch = (event.extra & 0xFFFFFF00) == MI_WP_SIGNATURE;
    const bool injected = (event.flags & LLMHF_INJECTED) != 0 && !pen_or_touch;
    if (injected && ClickOnItsWay != 0) {
        if (event.message == ClickOnItsWay) {
            // Ours, back.
            ClickOnItsWay = 0;
            FollowAltTap();
            return Pass;
        }
        if (event.message == ClickOnItsWay + 1 && SendMouseInput(event.message, event.mouse_data, event.extra) != 0) {
            return Swallow;
        }
    }
    if (!IsClickOrWheel(event.message)) {
        if (event.late) {
            WatchMouse(false);
            FollowAltTap();
        }
        return Pass;
    }
    // Injected behind the click it judges, the modifier would come after
    // it; sent again, the click follows the modifier. Sent again late, it
    // would be a double click, or a press after its release; where it
    // cannot be sent again, the click goes on before the modifier rather
    // than not at all.
    if (!InterruptAltTaps(0, !event.late) || event.late ||
        SendMouseInput(event.message, event.mouse_data, event.extra) == 0) {
        return Pass;
    }
    if (injected && event.message != WM_MOUSEWHEEL && event.message != WM_MOUSEHWHEEL) {
        ClickOnItsWay = event.message;
        FollowAltTap();
    }
    return Swallow;
}
