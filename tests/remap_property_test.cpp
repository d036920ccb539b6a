// Random key streams in a small model of the desktop around the hook. The
// user presses, auto-repeats and releases keys, clicks and turns the wheel;
// other programs send presses and releases, often both in one call, and
// click; the switches change; and Windows does what it does to a hook: what
// the hook injects lands only after the hook has seen it come back, and
// later still if the thread has not pumped; a call can arrive after Windows
// gave up waiting for it; a busy thread's timers fire late; resets come in
// bursts (desktop switch, unlock, re-arm); the layout swallows CapsLock's
// release (a US layout with the Japanese IME while Shift is down; JIS, where
// Shift+英数 is CapsLock, once Shift is up), which only raw input reports;
// keys are hidden from the hook (a window above our integrity level, whose
// SendInput does nothing while saying it did; the sign-in screen and another
// desktop, which refuse it; a dropped hook).
// The model keeps its own table of what each physical key stands for, never
// the engine's records: a press gives its mapped key, a repeat and the
// release follow the press, a key shared by several held keys goes up with
// the last of them, and a reset after a blind period may let go of a held
// key until its next repeat. An Alt is a tap if let go of within ALT_HOLD_MS
// of its press, before any other press by anyone, late or not, with no Ctrl,
// Windows key or button held at its press nor Shift at its release; the
// first key pressed during it is held back: rolled out of the tap if the Alt
// goes up first, a chord if the key does. The system never gets a lone Alt
// of the switch (nothing pressed since, no Shift, Ctrl or Windows key held).
// Checked at every step: each event gives exactly the modifier press due,
// then its key or click; every key pressed while seen keeps its mapped key
// down in the system until its own release; a mouse hook is there exactly
// while a tap is pending; the Alt-tap records keep their invariants. At the
// end no key or button is down and, with CapsLock as Ctrl, the lock is off.
// Replay a failure with LUMBRIX_PROPERTY_SEED, LUMBRIX_PROPERTY_FIRST at the
// index it prints and LUMBRIX_PROPERTY_STREAMS one past it (alone: more).
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"
#include "tests/remap_script.h"

namespace {

const uint32_t KEYS[] = {VK_CAPITAL, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LSHIFT, VK_LWIN, 'A', 'B', 'Q', 'J', 'X', '1'};
const uintptr_t CLICKS[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_XBUTTONDOWN, WM_MOUSEWHEEL, WM_MOUSEMOVE};
const uint16_t VK_JIS_EISU = 0xF0;
const char* const OPTIONS[] = {"", "c", "s", "cs", "l", "cl", "sl", "csl", "d", "cd", "sd", "csd", "ld", "cld", "sld", "csld"};

// Integrity levels: ours is medium.
const uint32_t MEDIUM_LEVEL = 0x2000;
const uint32_t HIGH_LEVEL = 0x3000;

bool IsAlt(uint32_t vk)
{
    return vk == VK_LMENU || vk == VK_RMENU;
}

unsigned long long EnvNumber(const char* name, unsigned long long fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// What hides keys from the hook, and how the program learns that it ended.
enum Blindness { Sighted, Elevated, Locked, OtherDesktop, HookDropped, BLINDNESS_KINDS };

// What the layout makes of the CapsLock key (scan code 0x3A).
enum Layout { Us, UsWithIme, Jis, LAYOUTS };

typedef std::vector<std::pair<uint16_t, bool>> Keys;

// What one physical key's press stands for, as the user sees it.
struct Press {
    bool down = false;
    bool alt_tap = false;    // went to the Alt-tap switch
    bool decided = false;    // Alt-tap: acts as its modifier
    bool in_system = false;  // `mapped` is down in the system on its behalf
    bool free = false;       // cannot be told from the outside: not checked until let go
    uint16_t mapped = 0;     // the key it holds down in the system; 0 for none yet
    unsigned long long since = 0, last = 0;
    bool timed = false;      // Alt-tap: a hold timer runs
    uint16_t sent = 0;       // the key code the layout gave the press
    bool knocked = false;    // `mapped` was let go of in the system by another key's release
    bool stale = false;      // replaced, then let go of by a reset: its release reaches nothing
    unsigned long long timer_from = 0;  // Alt-tap: when its hook call started the timer
};

struct Stream {
    std::mt19937_64 random;
    bool logging = false;
    std::string log;
    unsigned long long now = 0;
    Blindness blind = Sighted;
    Layout layout = Us;
    std::array<Press, 256> press{};
    std::vector<uintptr_t> buttons;
    // The system holds the key because its physical key reached it.
    std::array<bool, 256> system_physical{};
    // A CapsLock reached the system as itself, and no reset came since.
    bool lock_touched = false;
    // How long Windows waits for a hook call; a stall of the thread, and
    // whether the next key was typed during it.
    unsigned wait = 300;
    uint32_t stall_began = 0, stall_length = 0, stall_answered = 0;
    // The window in front cannot be queried; a reset may wait for a key.
    bool unqueryable = false, reset_deferred = false, chained = false;
    unsigned long long call_time = 0;
    // Keys moved where the hook was blind, or the system refused a reset's
    // releases: what the keys held then stand for is past telling until let
    // go, and so is each Alt's next press (maybe a repeat of one let go unseen).
    bool blind_keys = false;
    std::array<bool, 2> alt_unsure{};
    size_t seen = 0;
    // The key held back by a pending tap and since when; the last one sent,
    // which a reset lets go of; one moved unseen while held; the switch's Alt
    // when it is the last key pressed in the system; another program's click
    // sent again.
    uint32_t held_back = 0, timer_sent = 0, held_unsure = 0, alt_last = 0;
    unsigned long long held_since = 0;
    uintptr_t click_on_way = 0;
    // Failures before this stream: its replay stops where it failed itself.
    int earlier_failures = 0;

    bool Failed() const
    {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() > earlier_failures;
    }

    void Note(const std::string& text)
    {
        if (logging) {
            log += " " + text;
        }
    }

    unsigned Roll(unsigned n) { return static_cast<unsigned>(random() % n); }

    // The key a fresh press of `vk` stands for under the switches in force.
    static uint16_t MapsTo(uint32_t vk)
    {
        static const struct {
            uint32_t vk;
            const int32_t* on;
            uint32_t to;
        } rules[] = {
            {VK_CAPITAL, &RemapOptions.capslock_to_ctrl, VK_LCONTROL}, {'B', &RemapOptions.use_dvorak, 'X'},
            {VK_LCONTROL, &RemapOptions.swap_alt_for_ctrl, VK_LMENU},  {'Q', &RemapOptions.use_dvorak, VK_OEM_7},
            {VK_RCONTROL, &RemapOptions.swap_alt_for_ctrl, VK_RMENU},  {'J', &RemapOptions.use_dvorak, 'H'},
            {VK_LMENU, &RemapOptions.swap_alt_for_ctrl, VK_LCONTROL},  {VK_RMENU, &RemapOptions.swap_alt_for_ctrl, VK_RCONTROL},
            {'X', &RemapOptions.use_dvorak, 'Q'},
        };
        for (const auto& rule : rules) {
            if (rule.vk == vk && *rule.on) {
                return static_cast<uint16_t>(rule.to);
            }
        }
        return static_cast<uint16_t>(vk);
    }

    // Whether a held key other than `vk` stands for `key` too.
    bool OtherHolder(uint32_t vk, uint16_t key) const
    {
        return std::any_of(std::begin(KEYS), std::end(KEYS),
                           [&](uint32_t other) { return other != vk && press[other].down && press[other].mapped == key; });
    }

    // Whether a held key (an Alt, with `alts_only`) has a press past telling.
    bool AnyFree(bool alts_only = false) const
    {
        return std::any_of(std::begin(KEYS), std::end(KEYS),
                           [&](uint32_t vk) { return press[vk].down && press[vk].free && (!alts_only || IsAlt(vk)); });
    }

    // What was injected since the last look, masking events aside; never a
    // lone Alt of the switch.
    Keys Injected()
    {
        Keys keys;
        for (; seen < injected_keys.size(); ++seen) {
            const InjectedKey& key = injected_keys[seen];
            Note(FormatInjected(key));
            const bool alt = key.mouse == 0 && IsAlt(key.vk);
            const bool chord = Held({VK_LSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LWIN}) || system_keys_down[VK_LSHIFT] ||
                               system_keys_down[VK_LCONTROL] || system_keys_down[VK_RCONTROL] || system_keys_down[VK_LWIN];
            EXPECT_FALSE(alt && !key.down && alt_last == key.vk && RemapOptions.send_lang && !RemapOptions.swap_alt_for_ctrl &&
                         !AnyFree() && blind == Sighted && !blind_keys && !chord) << "a lone Alt reached the system";
            const bool switchs = alt && press[key.vk].alt_tap && press[key.vk].mapped == key.vk && !OtherHolder(key.vk, key.vk);
            alt_last = (key.down || key.mouse != 0) && key.tag != SELF_MASK_TAG ? (switchs ? key.vk : 0) : alt_last;
            if (key.mouse != 0) {
                keys.emplace_back(static_cast<uint16_t>(key.mouse), true);
            } else if (key.tag != SELF_MASK_TAG && key.vk != VK_MENU_MASK) {
                keys.emplace_back(key.vk, key.down);
            }
        }
        return keys;
    }

    // Lets what was injected land, all of it or a random share, and looks at it.
    void Land(bool all = false)
    {
        const unsigned roll = all ? 0 : Roll(8);
        LandInjected(roll < 5 ? static_cast<size_t>(-1) : roll);
        Injected();
    }

    // A physical key reaches the system unhooked; its release lets go of it.
    void SystemPhysical(uint32_t vk, bool down)
    {
        SystemKeyEvent(vk, down);
        system_physical[vk] = down;
        alt_last = down ? 0 : alt_last;
        for (uint32_t other : KEYS) {
            press[other].knocked = press[other].knocked || (!down && other != vk && press[other].mapped == vk);
        }
    }

    // A key's mapped key goes up unless another held key stands for it too.
    void LetGo(uint32_t vk, Keys& expected)
    {
        Press& p = press[vk];
        // Not twice after a reset let go of it; a key passing as itself passes its release.
        if (p.mapped != 0 && !OtherHolder(vk, p.mapped)) {
            if (p.in_system || (!p.alt_tap && p.mapped == p.sent)) {
                expected.emplace_back(p.mapped, false);
            }
        } else if (p.mapped != 0) {
            for (uint32_t other : KEYS) {
                if (other != vk && press[other].mapped == p.mapped) {
                    press[other].in_system = true;
                    press[other].free = press[other].free || p.free;
                }
            }
        }
        p = Press{};
    }

    // Whether a held key stands for one of `keys` in the system.
    bool Held(std::initializer_list<uint16_t> keys) const
    {
        return std::any_of(std::begin(KEYS), std::end(KEYS), [&](uint32_t vk) {
            const Press& p = press[vk];
            return p.down && p.in_system && !p.free && std::find(keys.begin(), keys.end(), p.mapped) != keys.end();
        });
    }

    void Decide(Press& side, uint32_t alt, Keys& expected)
    {
        side.decided = true;
        side.timed = false;
        side.mapped = side.mapped != 0 ? side.mapped : MapsTo(alt);
        side.in_system = true;
        side.knocked = false;
        expected.emplace_back(side.mapped, true);
    }

    bool PendingTap() const
    {
        return (press[VK_LMENU].alt_tap && !press[VK_LMENU].decided) || (press[VK_RMENU].alt_tap && !press[VK_RMENU].decided);
    }

    // A pending Alt tap, on either side but `own`, turns into its modifier, a
    // settled one presses it; then the key held back goes by its own rule.
    void InterruptTaps(uint32_t own, Keys& expected)
    {
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            Press& side = press[alt];
            if (alt != own && side.down && side.alt_tap && (!side.decided || (side.mapped == 0 && !side.stale))) {
                Decide(side, alt, expected);
            }
        }
        LetHeldBackGo(expected);
    }

    void LetHeldBackGo(Keys& expected)
    {
        if (held_back != 0 && !PendingTap()) {
            for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
                if (press[alt].alt_tap && press[alt].down && press[alt].mapped == 0 && !press[alt].stale) {
                    Decide(press[alt], alt, expected);
                }
            }
            // Let go of at the next reset if it passes as itself; sent where
            // the hook is blind, what its next press finds is past telling.
            held_unsure = blind != Sighted ? held_back : held_unsure;
            Press& p = press[timer_sent = std::exchange(held_back, 0)];
            p = p.mapped != 0 ? p : Press{true, false, false, true, p.free, MapsTo(p.sent), now, now, false, p.sent};
            p.in_system = true;
            p.knocked = false;
            system_physical[p.sent] = p.mapped == p.sent;
            expected.emplace_back(p.mapped, true);
        }
    }

    // The Alt-tap switch's side of an event of its own Alt. A key-down over
    // ALT_REPEAT_GAP_MS after the last is a new press: no keyboard waits so long.
    void AltTapEvent(uint32_t vk, bool down, Keys& expected)
    {
        Press& side = press[vk];
        if (down && !side.down) {
            const bool timed = Roll(8) != 0;
            // Whether another held key is a modifier may be past telling.
            side = Press{true, true, false, false, side.free || AnyFree(), 0, now, now, timed, static_cast<uint16_t>(vk)};
            side.timer_from = call_time;
            if (Held({VK_LCONTROL, VK_RCONTROL, VK_LWIN}) || !buttons.empty()) {
                Decide(side, vk, expected);
            } else if (!timed && !side.free) {
                FailNextHoldTimer();
            }
        } else if (down && !side.decided) {
            if (now - side.since >= ALT_HOLD_MS) {
                Decide(side, vk, expected);
                LetHeldBackGo(expected);
            }
        } else if (down) {
            Decide(side, vk, expected);
        } else if (!side.decided && now - side.since < ALT_HOLD_MS && !Held({VK_LSHIFT})) {
            // A tap: the IME key, then the key held back.
            const uint16_t key = vk == VK_LMENU ? VK_IME_OFF : VK_IME_ON;
            expected.insert(expected.end(), {{key, true}, {key, false}});
            side = Press{};
            LetHeldBackGo(expected);
        } else if (!side.decided) {
            Decide(side, vk, expected);
            LetHeldBackGo(expected);
        }
        side.last = now;
        if (!down && side.decided) {
            LetGo(vk, expected);
        } else if (!down) {
            side = Press{};
        }
    }

    // The key code the hook gets for physical key `vk`; 0 when the layout
    // swallows it, but for a CapsLock passed as itself: that is the system's.
    uint32_t LayoutKey(uint32_t vk, bool down) const
    {
        const Press& p = press[vk];
        if (vk != VK_CAPITAL || layout == Us) {
            return vk;
        }
        const bool shift = press[VK_LSHIFT].down;
        if (down) {
            return p.down ? p.sent : layout == Jis && !shift ? VK_JIS_EISU : VK_CAPITAL;
        }
        const bool lost = blind == Sighted && p.sent == VK_CAPITAL && p.mapped != VK_CAPITAL && held_back != vk &&
                          (layout == Jis ? !shift : shift);
        return lost ? 0 : p.sent;
    }

    // An input event reaches the hook after all before it, the engine's own
    // included. One typed in the stall of the one before, judged by its own
    // time, waits until Windows gave up on that one, before what it injected;
    // none is late while a reset is left to finish, which a call on time does.
    void Event(uint32_t key, bool down)
    {
        Press& p = press[key];
        const uint32_t vk = LayoutKey(key, down);
        const bool chain = chained && blind == Sighted && vk != 0;
        chained = false;
        Land(true);
        KeyboardHookAnswered = chain ? stall_answered : KeyboardHookAnswered;
        const bool late = chain ? stall_length >= 2 * wait : blind == Sighted && !reset_deferred && vk != 0 && Roll(16) == 0;
        const uint32_t typed = chain ? stall_began + Roll(wait) : Now();
        const unsigned long long at_call = call_time = now;
        now = chain ? typed : now;
        if (late && !chain) {
            stall_began = Now();
            stall_length = wait + (Roll(2) != 0 ? Roll(2 * wait) : 0);
        }
        Note(std::string(blind != Sighted ? "[blind " : late ? "[late " : "[") + (down ? "d:" : "u:") + std::to_string(vk) + "]");
        if (blind != Sighted || late) {
            // Windows hands the key to the system without the hook's answer.
            SystemPhysical(vk, down);
        }
        if (blind != Sighted) {
            blind_keys = true;
            // A key held back, then moved unseen: what its next press finds is past telling.
            held_unsure = key == held_back ? key : held_unsure;
            held_back = key == held_back ? 0 : held_back;
            if (down && !p.down) {
                p = Press{true, false, false, true, false, static_cast<uint16_t>(vk), now, now, false, static_cast<uint16_t>(vk)};
            } else if (!down) {
                p = Press{};
            }
            return;
        }
        const bool sys = Roll(4) == 0;
        const uintptr_t message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        // An on-time press but an Alt's depends on other held keys only via a tap.
        const bool plain_press = down && !late && !IsAlt(vk);
        const bool was_free = p.free || AnyFree(plain_press);
        // A release of an unknown press, or one passing as is, may let go of others'.
        const bool passes_as_is = p.mapped == 0 && !p.stale && !p.alt_tap;
        for (uint32_t other : KEYS) {
            Press& o = press[other];
            o.knocked = o.knocked || (!down && other != key && o.down && (p.free || passes_as_is) &&
                                      (o.mapped == vk || o.mapped == p.mapped));
        }
        Keys expected;
        HookVerdict verdict = Swallow;
        // The release of the key held back decides the tap: a chord.
        const bool own_release = !down && held_back == key;
        if (own_release) {
            InterruptTaps(0, expected);
        }
        if (vk == 0) {
            // Only raw input hears this release.
            LetGo(key, expected);
            RawKeyReleased(1, 0x3A, Now());
        } else {
            const bool alt = IsAlt(vk);
            if (late && down) {
                // Passed on untouched: the key is itself now; what it stood for goes.
                InterruptTaps(alt ? vk : 0, expected);
                const bool going = p.down && (p.mapped != 0 || p.alt_tap);
                if (alt && !going) {
                    p.free = p.free || std::exchange(alt_unsure[vk == VK_LMENU ? 0 : 1], false);
                }
                if (alt && (going ? p.alt_tap : RemapOptions.send_lang != 0)) {
                    // Still the switch's: the Alt is its modifier, or a stray repeat goes.
                    if (!p.down || p.mapped == 0) {
                        p = Press{true, true, true, true, p.free, static_cast<uint16_t>(vk), now, now, false, static_cast<uint16_t>(vk)};
                    } else if (p.mapped != vk && !OtherHolder(key, static_cast<uint16_t>(vk))) {
                        expected.emplace_back(static_cast<uint16_t>(vk), false);
                    }
                    p.decided = true;
                    p.timed = false;
                    p.last = now;
                    alt_last = OtherHolder(key, static_cast<uint16_t>(vk)) ? 0 : vk;
                    LetHeldBackGo(expected);
                } else if (p.down && !p.alt_tap && p.mapped != 0 && p.mapped != vk) {
                    // A repeat of a key held as its replacement keeps it; the stray key goes.
                    if (!OtherHolder(key, static_cast<uint16_t>(vk))) {
                        expected.emplace_back(static_cast<uint16_t>(vk), false);
                    }
                } else {
                    const bool free = p.free;
                    if (p.down && p.mapped != vk) {
                        LetGo(key, expected);
                    }
                    p = Press{true, false, false, true, free, static_cast<uint16_t>(vk), now, now, false, static_cast<uint16_t>(vk)};
                    if (vk == VK_CAPITAL && RemapOptions.capslock_to_ctrl) {
                        // Let go of at once, its lock switched back: the next repeat is Ctrl.
                        const Keys back = {{VK_CAPITAL, false}, {VK_CAPITAL, true}, {VK_CAPITAL, false}};
                        expected.insert(expected.end(), back.begin(), back.begin() + (caps_lock_on ? 3 : 1));
                        p = Press{true, false, false, false, false, 0, now, now, false, VK_CAPITAL};
                    }
                }
            } else {
                if (alt && down && p.alt_tap && p.decided && now - p.last > ALT_REPEAT_GAP_MS) {
                    // No keyboard waits that long to repeat: a new press.
                    LetGo(key, expected);
                }
                // A key let go of by a reset comes back as a new press.
                const bool going = p.down && (p.mapped != 0 || p.alt_tap);
                const bool routed = alt && (going ? p.alt_tap : down && RemapOptions.send_lang != 0);
                if (down && !going && key == held_unsure) {
                    p.free = true;
                    held_unsure = 0;
                }
                if (alt && down && !going) {
                    p.free = std::exchange(alt_unsure[vk == VK_LMENU ? 0 : 1], false) || p.free;
                }
                if (routed && p.down && !going) {
                    p = Press{false, false, false, false, p.free};
                }
                // Behind an Alt past telling, the key is past telling too, and
                // so is the key held back that a reset lets go of.
                const bool may_hold = down && !alt && held_back == 0 && (PendingTap() || AnyFree(true));
                const bool hold = may_hold && PendingTap() && !AnyFree(true);
                if (may_hold && !hold && timer_sent != 0) {
                    press[std::exchange(timer_sent, 0)].free = true;
                }
                if (down && !hold) {
                    InterruptTaps(routed ? vk : 0, expected);
                }
                if (hold) {
                    // Held back until the tap is decided.
                    held_back = key;
                    held_since = at_call;
                    p.down = true;
                    p.sent = static_cast<uint16_t>(vk);
                } else if (routed) {
                    AltTapEvent(vk, down, expected);
                } else if (late && !own_release && (p.mapped == vk || p.mapped == 0)) {
                    // Windows has let this release through already.
                    p = Press{};
                } else if (down) {
                    if (!p.down || p.mapped == 0) {
                        p = Press{true, false, false, true, p.free, MapsTo(vk), now, now, false, static_cast<uint16_t>(vk)};
                    }
                    p.free = p.free || may_hold;
                    p.in_system = true;
                    p.knocked = false;
                    expected.emplace_back(p.mapped, true);
                } else if (p.mapped == 0) {
                    // Let go of by a reset: passes as is, but a replaced key's.
                    if (!p.stale) {
                        expected.emplace_back(static_cast<uint16_t>(vk), false);
                    }
                    p = Press{};
                } else {
                    LetGo(key, expected);
                }
            }
            system_physical[vk] = down && !p.alt_tap && p.mapped == vk;
            now = at_call;
            if (late && !chain) {
                // The thread was busy all the while.
                AdvanceTime(stall_length, false);
                now += stall_length;
            }
            // Late: typed before the stall; on time, maybe queued behind answered keys.
            const bool queued = !late && !chain && Roll(16) == 0 && !IsAlt(vk);
            KeyboardHookAnswered = queued ? Now() : KeyboardHookAnswered;
            HookKeyEvent event = PhysicalEvent(message, vk, queued ? Now() - 2 * wait : typed);
            event.scanCode = key == VK_CAPITAL ? 0x3A : 0;
            verdict = RemapKeyEvent(event);
            timer_sent = !down && key == timer_sent ? 0 : timer_sent;
            stall_answered = KeyboardHookAnswered;
            if (key == VK_CAPITAL && !down) {
                RawKeyReleased(1, 0x3A, Now());
            }
        }
        Keys sent = Injected();
        if (verdict == Pass && !late) {
            Note("=" + std::to_string(vk));
            SystemKeyEvent(vk, down);
            alt_last = down ? 0 : alt_last;
            sent.emplace_back(static_cast<uint16_t>(vk), down);
        }
        const bool deferred = std::exchange(reset_deferred, reset_deferred && vk == 0);
        if (!was_free && !p.free && !deferred) {
            ASSERT_EQ(sent, expected) << "(sent, expected) for key " << vk << (down ? " down" : " up")
                                      << ": the modifier due, then its own key";
        }
        Land();
        chained = late && !chain && Roll(2) == 0;
        if (!chained && late && Roll(2) == 0) {
            // Windows drops a hook that keeps it waiting.
            GoBlind(HookDropped);
        }
    }

    // A click, a release, a wheel turn or a move. A pending tap has the mouse
    // hook: a click or turn, the user's or another program's, makes it the
    // modifier and comes again behind it; a program's release, sent in the
    // same call as its press, follows that press sent again.
    void Mouse(uintptr_t message, bool foreign = false)
    {
        const bool press_or_turn = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_XBUTTONDOWN ||
                                   message == WM_MOUSEWHEEL;
        if (!foreign || press_or_turn) {
            Land(true);
        }
        const bool pending = PendingTap();
        Note("[" + FormatMouse(message, 1u << 16) + (foreign ? "@]" : "]"));
        if (blind == Sighted && !AnyFree(true) && (!foreign || press_or_turn)) {
            ASSERT_EQ(mouse_watched, pending) << "a mouse hook exactly while a tap is pending";
        }
        const bool hooked = mouse_watched && blind == Sighted;
        // Handed on late, a click still interrupts, and is not sent again.
        const bool late = hooked && !foreign && Roll(8) == 0;
        Keys expected;
        if (pending && blind == Sighted && press_or_turn) {
            InterruptTaps(0, expected);
            if (!late) {
                expected.emplace_back(static_cast<uint16_t>(message), true);
            }
        }
        if (foreign && !press_or_turn && std::exchange(click_on_way, 0) == message - 1) {
            expected.emplace_back(static_cast<uint16_t>(message), true);
        }
        click_on_way = foreign && press_or_turn && !expected.empty() && message != WM_MOUSEWHEEL ? message : 0;
        if (!hooked || RemapMouseEvent({message, foreign ? 1u : 0u, foreign ? 7u : 0u, 0, late}) == Pass) {
            SystemMouseEvent(message);
            alt_last = press_or_turn ? 0 : alt_last;
        }
        const Keys sent = Injected();
        if (!AnyFree(true)) {
            ASSERT_EQ(sent, expected) << "the modifier, then the click";
        }
        if (!foreign || !press_or_turn) {
            Land();
        }
    }

    // Another program injects a press and a release of `vk`: the press comes
    // again behind a pending tap's modifier. Raw input reports no device.
    void Foreign(uint32_t vk)
    {
        const bool batched = Roll(2) != 0;  // both in one call: nothing lands in between
        for (bool down : {true, false}) {
            if (down || !batched) {
                Land(true);
            }
            Note(std::string(down ? "[id:" : "[iu:") + std::to_string(vk) + "]");
            Keys expected;
            if (down) {
                InterruptTaps(0, expected);
            }
            expected.emplace_back(static_cast<uint16_t>(vk), down);
            HookKeyEvent event = PhysicalEvent(down ? WM_KEYDOWN : WM_KEYUP, vk);
            event.flags = LLKHF_INJECTED;
            event.dwExtraInfo = 7;
            const HookVerdict verdict = RemapKeyEvent(event);
            if (vk == VK_CAPITAL && !down) {
                RawKeyReleased(0, 0x3A, Now());
            }
            Keys sent = Injected();
            if (verdict == Pass) {
                SystemKeyEvent(vk, down);
                alt_last = down ? 0 : alt_last;
                sent.emplace_back(static_cast<uint16_t>(vk), down);
            }
            for (uint32_t other : KEYS) {
                press[other].knocked = press[other].knocked || (!down && press[other].mapped == vk);
            }
            lock_touched = lock_touched || vk == VK_CAPITAL;
            if (!AnyFree()) {
                ASSERT_EQ(sent, expected) << "another program's key: the modifier due, then the key";
            }
            if (!down || !batched) {
                Land();
            }
        }
    }

    // The focus goes to a window the hook sees but cannot query, or away.
    void Unqueryable(bool on)
    {
        Note(on ? "[unqueryable]" : "[queryable]");
        unqueryable = on;
        if (ForegroundReturnsToSight(on ? UNKNOWN_INTEGRITY : MEDIUM_LEVEL, MEDIUM_LEVEL)) {
            Reset("focus");
        }
    }

    // Each held key's mapped key is down in the system, once all has landed.
    void ExpectHeldKeysDown()
    {
        if (blind != Sighted || LandInjected(0) != 0) {
            return;
        }
        for (uint32_t vk : KEYS) {
            const Press& p = press[vk];
            if (p.down && p.in_system && !p.free && !p.knocked && p.mapped != 0) {
                ASSERT_TRUE(system_keys_down[p.mapped]) << "key " << vk << " is held, its key " << p.mapped << " is not";
            }
        }
        if (RemapOptions.capslock_to_ctrl && !press[VK_CAPITAL].down && !lock_touched) {
            ASSERT_FALSE(caps_lock_on) << "the CapsLock lock is on with CapsLock as Ctrl";
        }
    }

    // A switch changes: the keys held keep going as they were pressed; a
    // CapsLock that passes as itself when it becomes Ctrl is let go.
    void ChangeOptions(const char* options)
    {
        Note(std::string("[o:") + options + "]");
        Keys expected;
        if (held_back != 0) {
            InterruptTaps(0, expected);
        }
        SetOptions(options);
        Press& caps = press[VK_CAPITAL];
        if (blind == Sighted && RemapOptions.capslock_to_ctrl && caps.down && caps.mapped == VK_CAPITAL) {
            caps.mapped = 0;
            caps.in_system = false;
            system_physical[VK_CAPITAL] = false;
        }
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            press[alt].decided = press[alt].decided || (!RemapOptions.send_lang && press[alt].alt_tap);
        }
        // First the key held back, behind its modifier.
        Keys sent = Injected();
        const size_t flushed = std::min(sent.size(), expected.size());
        const bool sure = !AnyFree() && !blind_keys;
        if (sure) {
            ASSERT_EQ(Keys(sent.begin(), sent.begin() + flushed), expected) << "a key held back goes first";
        }
        for (size_t i = sure ? flushed : sent.size(); i < sent.size(); ++i) {
            ASSERT_EQ(sent[i].first, VK_CAPITAL) << "a switch change lets go of nothing but a CapsLock that becomes Ctrl";
        }
        Land();
    }

    // Keys may have moved unseen: one the system holds itself passes as
    // itself, others may be let go until their next repeat, no Alt is a tap.
    void Reset(const char* why)
    {
        Note(std::string("[reset ") + why + "]");
        Keys flushed;
        if (held_back != 0) {
            // The key held back goes, pressed and let go of.
            const uint32_t key = held_back;
            const Press kept = press[key];
            InterruptTaps(0, flushed);
            LetGo(key, flushed);
            timer_sent = 0;
            press[key] = Press{true, false, false, false, kept.free, 0, 0, 0, false, kept.sent};
            system_physical[kept.sent] = false;
        }
        // The key held back that went last is let go of if it passes as itself.
        const Press& sent = press[std::exchange(timer_sent, 0)];
        system_physical[sent.sent] = system_physical[sent.sent] && !(sent.down && sent.mapped == sent.sent && !blind_keys);
        blind_keys = blind_keys || injection_refused;
        // A key the system holds itself that the engine may hold too (another
        // press, or one past telling) cannot be told from one it holds alone.
        const bool unsure = AnyFree();
        for (uint32_t vk : KEYS) {
            system_physical[vk] = system_physical[vk] && SystemHoldsOnceLanded(vk);
            press[vk].free = press[vk].free || (press[vk].down && system_physical[vk] &&
                                                (unsure || OtherHolder(vk, static_cast<uint16_t>(vk))));
        }
        for (uint32_t vk : KEYS) {
            Press& p = press[vk];
            const uint16_t code = p.sent != 0 ? p.sent : static_cast<uint16_t>(vk);
            if (!p.down) {
                continue;
            }
            // An Alt that is its own modifier may have repeated where the
            // hook was blind: the engine cannot tell, and holds it as before.
            if (system_physical[code] && !(p.alt_tap && p.mapped == code)) {
                p = Press{true, false, false, true, p.free, code, p.since, p.last, false, code};
            } else {
                // Let go of: the switch's Alt stays no tap, others press anew.
                p.stale = p.stale || p.alt_tap || (p.mapped != 0 && p.mapped != p.sent);
                p.decided = true;
                p.in_system = false;
                p.mapped = 0;
            }
            if (vk == VK_CAPITAL && p.mapped == VK_CAPITAL && RemapOptions.capslock_to_ctrl) {
                p.mapped = 0;
                p.in_system = false;
                system_physical[vk] = false;
            }
        }
        reset_deferred = unqueryable;
        lock_touched = lock_touched && (reset_deferred || InFlight[VK_CAPITAL] != 0);
        ResetEngine();
        for (const auto& key : Injected()) {
            const bool held_back_key = std::find(flushed.begin(), flushed.end(), key) != flushed.end();
            ASSERT_TRUE(!key.second || key.first == VK_CAPITAL || held_back_key || blind_keys || unsure)
                << "a reset presses nothing but the lock and a key held back: " << key.first;
        }
    }

    // Time passes; on a busy thread (`timers` false) no timer fires.
    void Advance(unsigned ms, bool timers = true)
    {
        Note((timers ? "[t:" : "[busy:") + std::to_string(ms) + "]");
        AdvanceTime(ms, timers);
        now += ms;
        Keys sent = Injected();
        Keys expected;
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            // The first timer due decides: the Alt's, or the key held back's.
            Press& side = press[alt];
            const bool pending = timers && side.down && side.alt_tap && !side.decided;
            const bool alt_due = pending && side.timed && now - side.timer_from >= ALT_HOLD_MS;
            if (pending && held_back != 0 && now - held_since >= KEY_HOLD_MS &&
                (!alt_due || held_since + KEY_HOLD_MS < side.timer_from + ALT_HOLD_MS)) {
                InterruptTaps(0, expected);
            } else if (alt_due) {
                Decide(side, alt, expected);
                LetHeldBackGo(expected);
            }
        }
        // A tap let go of where the hook is blind is still pending to the engine.
        if (blind == Sighted && !AnyFree(true)) {
            ASSERT_EQ(sent, expected) << "the hold timer presses the modifier of a tap held past the hold time";
        }
        Land();
    }

    // A window above ours takes the focus, the session is locked, another
    // desktop comes up, or Windows drops the hook.
    void GoBlind(Blindness kind)
    {
        Note("[blind " + std::to_string(kind) + "]");
        blind = kind;
        if (kind == Elevated) {
            // A CapsLock held back may go, dropped, and stay on its way: the
            // lock is switched off only at a reset a second later.
            lock_touched = lock_touched || (press[VK_CAPITAL].down && (held_back == VK_CAPITAL || press[VK_CAPITAL].free));
            injection_dropped = true;
            ASSERT_FALSE(ForegroundReturnsToSight(HIGH_LEVEL, MEDIUM_LEVEL));
        } else if (kind == Locked || kind == OtherDesktop) {
            // The sign-in or secure desktop has the keyboard before the notice.
            injection_refused = true;
            Reset(kind == Locked ? "lock" : "desktop");
        }
    }

    // Windows sends the notices of one change back to back; what the
    // program injected may or may not have come back in between.
    void BackInSight()
    {
        static const std::vector<const char*> notices[BLINDNESS_KINDS] = {
            {}, {"focus"}, {"desktop", "unlock", "re-arm"}, {"desktop"}, {"re-arm"}};
        Note("[sight]");
        const Blindness kind = std::exchange(blind, Sighted);
        injection_refused = false;
        injection_dropped = false;
        ASSERT_TRUE(kind != Elevated || ForegroundReturnsToSight(MEDIUM_LEVEL, MEDIUM_LEVEL));
        for (const char* why : notices[kind]) {
            Reset(why);
            if (Failed()) {
                return;
            }
            LandInjected(Roll(3));
        }
        Land();
        if (std::exchange(blind_keys, false)) {
            alt_unsure.fill(true);
            for (uint32_t vk : KEYS) {
                press[vk].free = press[vk].free || press[vk].down;
            }
        }
    }
};

void CheckStep(Stream& s)
{
    // The engine checks the Alt-tap records' invariants at each change (timers
    // only while pending, one side pending at most); flags stay flags.
    for (const AltTapState* state : {&alt_tap_left, &alt_tap_right}) {
        ASSERT_TRUE((state->pressed == 0 || state->pressed == 1) && (state->interrupted == 0 || state->interrupted == 1));
    }
    const size_t records_waiting = (alt_tap_left.timer_id != 0) + (alt_tap_right.timer_id != 0) + (s.held_back != 0);
    ASSERT_TRUE(s.AnyFree(true) || s.blind != Sighted || s.blind_keys || PendingHoldTimers() == records_waiting)
        << "a timer outlived its press";
    s.ExpectHeldKeysDown();
}

void Step(Stream& s)
{
    const unsigned roll = s.chained ? (s.Roll(2) != 0 ? 2 : 13) : s.Roll(26);  // a key typed in a stall next
    if (roll == 0 && (s.blind == Sighted || s.blind == HookDropped)) {
        s.ChangeOptions(OPTIONS[s.Roll(std::size(OPTIONS))]);
    } else if (roll == 24 && s.blind == Sighted) {
        s.Foreign(s.Roll(2) != 0 ? 'F' : VK_CAPITAL);
    } else if (roll == 25 && s.blind == Sighted) {
        if (s.unqueryable && s.Roll(2) != 0) {
            s.Reset("desktop");
        } else {
            s.Unqueryable(!s.unqueryable);
        }
    } else if (roll == 1 && !s.unqueryable) {
        if (s.blind == Sighted) {
            s.GoBlind(static_cast<Blindness>(1 + s.Roll(BLINDNESS_KINDS - 1)));
        } else {
            s.BackInSight();
        }
    } else if (roll < 12) {
        s.Event(KEYS[s.Roll(std::size(KEYS))], true);
    } else if (roll == 12 && s.Roll(4) == 0) {
        // Another program clicks a button the user does not hold.
        const uintptr_t click = CLICKS[s.Roll(3)];
        if (std::find(s.buttons.begin(), s.buttons.end(), click) == s.buttons.end()) {
            s.Mouse(click, true);
            s.Mouse(click + 1, true);
        }
    } else if (roll == 12) {
        const uintptr_t click = CLICKS[s.Roll(std::size(CLICKS))];
        const auto held = std::find(s.buttons.begin(), s.buttons.end(), click);
        if (held != s.buttons.end()) {
            s.buttons.erase(held);
            s.Mouse(click + 1);
        } else {
            if (click != WM_MOUSEWHEEL && click != WM_MOUSEMOVE) {
                s.buttons.push_back(click);
            }
            s.Mouse(click);
        }
    } else if (roll < 20) {
        std::vector<uint32_t> held;
        std::copy_if(std::begin(KEYS), std::end(KEYS), std::back_inserter(held), [&](uint32_t vk) { return s.press[vk].down; });
        if (!held.empty()) {
            s.Event(held[s.Roll(static_cast<unsigned>(held.size()))], false);
        }
    } else {
        s.Advance(roll < 22 ? s.Roll(120) : s.Roll(700), s.Roll(6) != 0);
    }
}

void RunStream(Stream& s, size_t steps)
{
    for (size_t i = 0; i < steps && !s.Failed(); ++i) {
        Step(s);
        if (!s.Failed()) {
            CheckStep(s);
        }
    }
    // The user lets go of everything, the blind period ends, one more key.
    for (uint32_t vk : KEYS) {
        if (s.press[vk].down && !s.Failed()) {
            s.Event(vk, false);
        }
    }
    if (s.Failed()) {
        return;
    }
    s.chained = false;
    for (uintptr_t click : std::vector<uintptr_t>(s.buttons)) {
        s.Mouse(click + 1);
    }
    s.buttons.clear();
    if (s.blind != Sighted) {
        s.BackInSight();
    }
    if (s.unqueryable) {
        s.Unqueryable(false);
    }
    const uint32_t last = KEYS[s.Roll(std::size(KEYS))];
    s.Event(last, true);
    s.Event(last, false);
    if (s.Failed()) {
        return;
    }
    s.Advance(2 * ALT_HOLD_MS);
    s.Land(true);
    for (unsigned vk = 0; vk < 256; ++vk) {
        ASSERT_FALSE(system_keys_down[vk]) << "key " << vk << " left down in what the system received";
    }
    ASSERT_FALSE(RemapOptions.capslock_to_ctrl && caps_lock_on && !s.lock_touched)
        << "the CapsLock lock stays on with CapsLock as Ctrl";
    ASSERT_TRUE(system_buttons_down.empty()) << "a mouse button left down";

    s.Note("[exit]");
    ResetEngine();
    s.Land(true);
    s.Advance(2 * ALT_HOLD_MS);
    ASSERT_EQ(PendingHoldTimers(), 0u) << "a hold timer outlived the exit";
    for (unsigned vk = 0; vk < 256; ++vk) {
        ASSERT_FALSE(system_keys_down[vk]) << "key " << vk << " down after the exit";
    }
}

// One stream from its seed; the same seed gives the same stream.
void PlayStream(unsigned long long seed, bool logging, std::string* log)
{
    Stream s;
    s.random.seed(seed);
    s.logging = logging;
    s.earlier_failures = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    const char* options = OPTIONS[s.Roll(std::size(OPTIONS))];
    s.layout = static_cast<Layout>(s.Roll(LAYOUTS));
    // LowLevelHooksTimeout as the user may have set it; Windows waits at most a second.
    const unsigned setting = std::array<unsigned, 4>{0, 200, 1000, 5000}[s.Roll(4)];
    s.wait = setting == 0 ? 300 : std::min(setting, 1000u);
    StartEngine("");
    LateHookMs = LateHookLimitMs(setting);
    caps_lock_on = s.Roll(4) == 0;
    s.Note(std::string("[start o:") + options + " layout " + std::to_string(s.layout) + (caps_lock_on ? " lock on]" : "]"));
    SetOptions(options);
    s.Land(true);
    RunStream(s, 4 + s.Roll(60));
    *log = s.log;
}

}  // namespace

TEST(RemapProperty, RandomStreamsInABlindingDesktopLeaveNoKeyDown)
{
    const unsigned long long seed = EnvNumber("LUMBRIX_PROPERTY_SEED", 20261207);
    const unsigned long long streams = EnvNumber("LUMBRIX_PROPERTY_STREAMS", 100000);
    std::printf("property seed %llu, %llu streams\n", seed, streams);
    std::string log;
    for (unsigned long long index = EnvNumber("LUMBRIX_PROPERTY_FIRST", 0); index < streams; ++index) {
        PlayStream(seed * 1000003 + index, false, &log);
        if (::testing::Test::HasFailure()) {
            PlayStream(seed * 1000003 + index, true, &log);
            FAIL() << "seed " << seed << ", stream " << index << ":" << log;
        }
    }
}
