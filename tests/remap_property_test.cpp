// Random key streams in a small model of the desktop around the hook. The
// user presses, auto-repeats and releases keys, the switches change, and
// Windows does what it does to a hook: what the hook injects lands only
// after the hook has seen it come back, and later still if the thread has
// not pumped; a hook call can arrive after Windows gave up waiting for it;
// resets come in bursts (desktop switch, unlock, re-arm); keys are hidden
// from the hook (a window above our integrity level, whose SendInput does
// nothing while saying it did; the sign-in screen and another desktop, which
// refuse it; a dropped hook).
// The model's expectations are the rules as the user sees them, kept in its
// own table of what each physical key stands for, never in the engine's
// records: a press gives its mapped key, a repeat and the release follow
// the press, a key shared by several held keys goes up with the last of
// them, and a reset after a blind period may let go of a held key until its
// next repeat. Checked at every step: each event gives exactly the modifier
// press due, then its key, and nothing else; every key pressed while seen
// keeps its mapped key down in the system until its own release; the
// Alt-tap records keep their invariants. At the end: nothing is down and,
// with CapsLock as Ctrl, the lock is off.
// Reproduce a failure with LUMBRIX_PROPERTY_SEED and the stream index it
// prints; LUMBRIX_PROPERTY_STREAMS runs more streams.
#include <array>
#include <cstdlib>
#include <cstring>
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

const uint32_t KEYS[] = {VK_CAPITAL, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LSHIFT, 'A', 'B', 'Q', 'J', 'X', '1'};
const char* const OPTIONS[] = {"", "c", "s", "cs", "l", "cl", "sl", "csl", "d", "cd", "sd", "csd", "ld", "cld", "sld", "csld"};

// Integrity levels: ours is medium.
const uint32_t MEDIUM_LEVEL = 0x2000;
const uint32_t HIGH_LEVEL = 0x3000;

// A held key repeats at least this often; a model key-down of a held key
// comes no later.
const unsigned long long REPEAT_MS = 1000;

unsigned long long EnvNumber(const char* name, unsigned long long fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// What hides keys from the hook, and how the program learns that it ended.
enum Blindness { Sighted, Elevated, Locked, OtherDesktop, HookDropped, BLINDNESS_KINDS };

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
};

struct Stream {
    std::mt19937_64 random;
    bool logging = false;
    std::string log;
    unsigned long long now = 0;
    Blindness blind = Sighted;
    std::array<Press, 256> press{};
    // The system holds the key because its physical key reached it; and
    // the engine may hold it for a key released where the hook was blind.
    std::array<bool, 256> system_physical{};
    std::array<bool, 256> orphaned{};
    size_t seen = 0;
    // Failures recorded before this stream: a replay for its log stops where
    // the stream failed, not where the first run did.
    int earlier_failures = 0;

    bool Failed() const
    {
        return earlier_failures == 0 ? ::testing::Test::HasFailure()
                                     : ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() >
                                           earlier_failures;
    }

    void Note(const std::string& text)
    {
        if (logging) {
            log += " " + text;
        }
    }

    unsigned Roll(unsigned n) { return static_cast<unsigned>(random() % n); }

    uint16_t Modifier(uint32_t alt) const
    {
        const bool swap = RemapOptions.swap_alt_for_ctrl != 0;
        return static_cast<uint16_t>(alt == VK_LMENU ? (swap ? VK_LCONTROL : VK_LMENU) : (swap ? VK_RCONTROL : VK_RMENU));
    }

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
        for (uint32_t other : KEYS) {
            if (other != vk && press[other].down && press[other].mapped == key) {
                return true;
            }
        }
        return false;
    }

    bool AnyFree() const
    {
        for (uint32_t vk : KEYS) {
            if (press[vk].down && press[vk].free) {
                return true;
            }
        }
        return false;
    }

    // What was injected since the last look, masking events aside, and
    // whether the engine's own view of it is consistent.
    Keys Injected()
    {
        Keys keys;
        for (; seen < injected_keys.size(); ++seen) {
            const InjectedKey& key = injected_keys[seen];
            Note(FormatInjected(key));
            if (key.tag != SELF_MASK_TAG) {
                keys.emplace_back(key.vk, key.down);
            }
        }
        return keys;
    }

    void Land()
    {
        const unsigned roll = Roll(8);
        LandInjected(roll < 5 ? static_cast<size_t>(-1) : roll);
        Injected();
    }

    void SystemPhysical(uint32_t vk, bool down)
    {
        SystemKeyEvent(vk, down);
        system_physical[vk] = down;
    }

    // A pending Alt tap, on either side but `own`, turns into its modifier.
    void InterruptTaps(uint32_t own, Keys& expected)
    {
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            Press& side = press[alt];
            if (alt != own && side.down && side.alt_tap && !side.decided) {
                side.decided = true;
                side.mapped = Modifier(alt);
                side.in_system = true;
                expected.emplace_back(side.mapped, true);
            }
        }
    }

    // A key's mapped key goes up unless another held key stands for it too.
    void LetGo(uint32_t vk, Keys& expected)
    {
        Press& p = press[vk];
        if (p.mapped != 0 && !OtherHolder(vk, p.mapped)) {
            expected.emplace_back(p.mapped, false);
        } else if (p.mapped != 0) {
            for (uint32_t other : KEYS) {
                if (other != vk && press[other].mapped == p.mapped) {
                    press[other].in_system = !p.free;
                }
            }
        }
        p = Press{};
    }

    // The Alt-tap switch's side of an event of its own Alt.
    void AltTapEvent(uint32_t vk, bool down, Keys& expected)
    {
        Press& side = press[vk];
        if (down && !side.down) {
            side = Press{true, true, false, false, false, 0, now, now};
        } else if (down && !side.decided && now - side.since >= ALT_HOLD_MS) {
            side.decided = true;
            side.mapped = Modifier(vk);
            side.in_system = true;
            expected.emplace_back(side.mapped, true);
        } else if (down && side.decided) {
            side.mapped = side.mapped != 0 ? side.mapped : Modifier(vk);
            side.in_system = true;
            expected.emplace_back(side.mapped, true);
        } else if (!down && !side.decided) {
            const uint16_t key = now - side.since < ALT_HOLD_MS ? (vk == VK_LMENU ? VK_IME_OFF : VK_IME_ON) : Modifier(vk);
            expected.emplace_back(key, true);
            expected.emplace_back(key, false);
        }
        side.last = now;
        if (!down && side.decided) {
            LetGo(vk, expected);
        } else if (!down) {
            side = Press{};
        }
    }

    void Event(uint32_t vk, bool down)
    {
        Press& p = press[vk];
        const bool late = blind == Sighted && Roll(16) == 0;
        Note(std::string(blind != Sighted ? "[blind " : late ? "[late " : "[") + (down ? "d:" : "u:") + std::to_string(vk) + "]");
        if (blind != Sighted || late) {
            // Windows hands the key to the system without the hook's answer.
            SystemPhysical(vk, down);
        }
        if (blind != Sighted) {
            if (down && !p.down) {
                p = Press{true, false, false, true, false, static_cast<uint16_t>(vk), now, now};
            } else if (!down) {
                orphaned[p.mapped] = true;
                p = Press{};
            }
            return;
        }
        const bool sys = Roll(4) == 0;
        const uintptr_t message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        const bool was_free = p.free;
        Keys expected;
        if (late && down) {
            // Passed on untouched: the key is itself from now on, and what
            // it stood for before goes.
            if (p.down && p.mapped != vk) {
                const Press keep = p;
                LetGo(vk, expected);
                p = keep;
            }
            p = Press{true, false, false, true, false, static_cast<uint16_t>(vk), now, now};
        } else {
            const bool alt = vk == VK_LMENU || vk == VK_RMENU;
            const bool routed = alt && (p.down ? p.alt_tap : RemapOptions.send_lang != 0);
            InterruptTaps(routed ? vk : 0, expected);
            if (routed) {
                AltTapEvent(vk, down, expected);
            } else if (late && p.mapped == vk) {
                // Windows has let this release through already.
                p = Press{};
            } else if (down) {
                if (!p.down || p.mapped == 0) {
                    p = Press{true, false, false, true, false, MapsTo(vk), now, now};
                }
                p.in_system = true;
                expected.emplace_back(p.mapped, true);
            } else if (p.mapped == 0) {
                // Let go by a reset: the release passes as it is.
                expected.emplace_back(static_cast<uint16_t>(vk), false);
                p = Press{};
            } else {
                LetGo(vk, expected);
            }
        }

        system_physical[vk] = down && p.mapped == vk;
        const HookVerdict verdict = RemapKeyEvent(PhysicalEvent(message, vk));
        Keys sent = Injected();
        if (verdict == Pass && !late) {
            Note("=" + std::to_string(vk));
            SystemKeyEvent(vk, down);
            sent.emplace_back(static_cast<uint16_t>(vk), down);
        }
        if (!was_free && !AnyFree()) {
            ASSERT_EQ(sent, expected) << "(sent, expected) for key " << vk << (down ? " down" : " up")
                                      << ": the modifier due, then its own key";
        }
        Land();
    }

    // Whether `vk` is down in what the system received, counting what is
    // still on its way.
    void ExpectHeldKeysDown()
    {
        if (blind != Sighted || LandInjected(0) != 0) {
            return;
        }
        for (uint32_t vk : KEYS) {
            const Press& p = press[vk];
            if (p.down && p.in_system && !p.free && p.mapped != 0) {
                ASSERT_TRUE(system_keys_down[p.mapped]) << "key " << vk << " is held, its key " << p.mapped << " is not";
            }
        }
        if (RemapOptions.capslock_to_ctrl && !press[VK_CAPITAL].down) {
            ASSERT_FALSE(caps_lock_on) << "the CapsLock lock is on with CapsLock as Ctrl";
        }
    }

    // A switch changes: the keys held keep going as they were pressed; a
    // CapsLock that passes as itself when it becomes Ctrl is let go.
    void ChangeOptions(const char* options)
    {
        Note(std::string("[o:") + options + "]");
        SetOptions(options);
        Press& caps = press[VK_CAPITAL];
        if (RemapOptions.capslock_to_ctrl && caps.down && caps.mapped == VK_CAPITAL) {
            caps.mapped = 0;
            caps.in_system = false;
            system_physical[VK_CAPITAL] = false;
        }
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            if (!RemapOptions.send_lang && press[alt].alt_tap) {
                press[alt].decided = true;
            }
        }
        for (const auto& key : Injected()) {
            ASSERT_EQ(key.first, VK_CAPITAL) << "a switch change lets go of nothing but a CapsLock that becomes Ctrl";
        }
        Land();
    }

    // The engine is told that keys may have moved where it could not see: a
    // key the system holds itself passes as itself, the others may have
    // been let go until their next repeat, and no Alt press is a tap any more.
    void Reset(const char* why)
    {
        Note(std::string("[reset ") + why + "]");
        for (uint32_t vk : KEYS) {
            press[vk].free = press[vk].free || (press[vk].down && system_physical[vk] &&
                                                (orphaned[vk] || OtherHolder(vk, static_cast<uint16_t>(vk))));
        }
        for (uint32_t vk : KEYS) {
            Press& p = press[vk];
            if (!p.down) {
                continue;
            }
            if (system_physical[vk]) {
                p = Press{true, false, false, true, p.free, static_cast<uint16_t>(vk), p.since, p.last};
            } else {
                p.decided = true;
                p.in_system = false;
            }
            if (vk == VK_CAPITAL && p.mapped == VK_CAPITAL && RemapOptions.capslock_to_ctrl) {
                p.mapped = 0;
                p.in_system = false;
                system_physical[vk] = false;
            }
        }
        orphaned.fill(false);
        ResetEngine();
        for (const auto& key : Injected()) {
            ASSERT_TRUE(!key.second || key.first == VK_CAPITAL) << "a reset presses nothing but the lock: " << key.first;
        }
    }

    // Windows sends the notices of one change back to back; what the
    // program injected may or may not have come back in between.
    void Burst(std::initializer_list<const char*> whys)
    {
        for (const char* why : whys) {
            Reset(why);
            if (Failed()) {
                return;
            }
            LandInjected(Roll(3));
        }
        Land();
    }

    void Advance(unsigned ms)
    {
        Note("[t:" + std::to_string(ms) + "]");
        AdvanceTime(ms);
        now += ms;
        Keys sent = Injected();
        Keys expected;
        for (uint32_t alt : {uint32_t{VK_LMENU}, uint32_t{VK_RMENU}}) {
            Press& side = press[alt];
            if (side.down && side.alt_tap && !side.decided && now - side.since >= ALT_HOLD_MS) {
                side.decided = true;
                side.mapped = Modifier(alt);
                side.in_system = true;
                expected.emplace_back(side.mapped, true);
            }
        }
        ASSERT_EQ(sent, expected) << "the hold timer presses the modifier of a tap held past the hold time";
        Land();
    }

    // A window above ours takes the focus, the session is locked, another
    // desktop comes up, or Windows drops the hook.
    void GoBlind(Blindness kind)
    {
        Note("[blind " + std::to_string(kind) + "]");
        blind = kind;
        if (kind == Elevated) {
            injection_dropped = true;
            ASSERT_FALSE(ForegroundReturnsToSight(HIGH_LEVEL, MEDIUM_LEVEL));
        } else if (kind == Locked || kind == OtherDesktop) {
            // The sign-in screen or the secure desktop has the keyboard by
            // the time the notice arrives.
            injection_refused = true;
            Reset(kind == Locked ? "lock" : "desktop");
        }
    }

    void BackInSight()
    {
        Note("[sight]");
        const Blindness kind = blind;
        blind = Sighted;
        injection_refused = false;
        injection_dropped = false;
        if (kind == Elevated) {
            ASSERT_TRUE(ForegroundReturnsToSight(MEDIUM_LEVEL, MEDIUM_LEVEL));
            Burst({"focus"});
        } else if (kind == Locked) {
            Burst({"desktop", "unlock", "re-arm"});
        } else if (kind == OtherDesktop) {
            Burst({"desktop"});
        } else {
            Burst({"re-arm"});
        }
    }
};

void ExpectInvariants(const AltTapState& state, const char* side)
{
    ASSERT_TRUE(state.pressed == 0 || state.pressed == 1) << side;
    ASSERT_TRUE(state.interrupted == 0 || state.interrupted == 1) << side;
    ASSERT_TRUE(state.timer_id == 0 || (state.pressed == 1 && state.interrupted == 0))
        << side << ": a timer is pending only during a pending tap";
    ASSERT_TRUE(state.interrupted == 0 || state.pressed == 1) << side << ": interrupted only while pressed";
}

void CheckStep(Stream& s)
{
    ExpectInvariants(alt_tap_left, "left");
    ExpectInvariants(alt_tap_right, "right");
    ASSERT_FALSE(alt_tap_left.timer_id != 0 && alt_tap_right.timer_id != 0) << "two pending timers";
    const size_t records_waiting = (alt_tap_left.timer_id != 0) + (alt_tap_right.timer_id != 0);
    ASSERT_EQ(PendingHoldTimers(), records_waiting) << "a timer outlived its press";
    s.ExpectHeldKeysDown();
}

void Step(Stream& s)
{
    const unsigned roll = s.Roll(24);
    if (roll == 0 && (s.blind == Sighted || s.blind == HookDropped)) {
        s.ChangeOptions(OPTIONS[s.Roll(std::size(OPTIONS))]);
    } else if (roll == 1) {
        if (s.blind == Sighted) {
            s.GoBlind(static_cast<Blindness>(1 + s.Roll(BLINDNESS_KINDS - 1)));
        } else {
            s.BackInSight();
        }
    } else if (roll < 13) {
        const uint32_t vk = KEYS[s.Roll(std::size(KEYS))];
        if (!s.press[vk].down || s.now - s.press[vk].last <= REPEAT_MS) {
            s.Event(vk, true);
        }
    } else if (roll < 20) {
        std::vector<uint32_t> held;
        for (uint32_t vk : KEYS) {
            if (s.press[vk].down) {
                held.push_back(vk);
            }
        }
        if (!held.empty()) {
            s.Event(held[s.Roll(static_cast<unsigned>(held.size()))], false);
        }
    } else {
        s.Advance(roll < 22 ? s.Roll(120) : s.Roll(700));
    }
}

void RunStream(Stream& s, size_t steps)
{
    for (size_t i = 0; i < steps; ++i) {
        Step(s);
        if (s.Failed()) {
            return;
        }
        CheckStep(s);
        if (s.Failed()) {
            return;
        }
    }
    // The user lets go of everything, the blind period ends, one more key.
    for (uint32_t vk : KEYS) {
        if (s.press[vk].down) {
            s.Event(vk, false);
            if (s.Failed()) {
                return;
            }
        }
    }
    if (s.blind != Sighted) {
        s.BackInSight();
    }
    const uint32_t last = KEYS[s.Roll(std::size(KEYS))];
    s.Event(last, true);
    s.Event(last, false);
    if (s.Failed()) {
        return;
    }
    s.Advance(2 * ALT_HOLD_MS);
    LandInjected();
    s.Injected();
    for (unsigned vk = 0; vk < 256; ++vk) {
        ASSERT_FALSE(system_keys_down[vk]) << "key " << vk << " left down in what the system received";
    }
    ASSERT_FALSE(RemapOptions.capslock_to_ctrl && caps_lock_on) << "the CapsLock lock stays on with CapsLock as Ctrl";

    s.Note("[exit]");
    ResetEngine();
    LandInjected();
    s.Injected();
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
    StartEngine("");
    caps_lock_on = s.Roll(4) == 0;
    s.Note(std::string("[start o:") + options + (caps_lock_on ? " lock on]" : "]"));
    SetOptions(options);
    LandInjected();
    s.Injected();
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
    for (unsigned long long index = 0; index < streams; ++index) {
        PlayStream(seed * 1000003 + index, false, &log);
        if (::testing::Test::HasFailure()) {
            PlayStream(seed * 1000003 + index, true, &log);
            FAIL() << "seed " << seed << ", stream " << index << ":" << log;
        }
    }
}
