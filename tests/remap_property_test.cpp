// Random key streams in a small model of the desktop around the hook: the
// user presses, auto-repeats and releases keys, the switches change, and at
// random points Windows hides keys from the hook and refuses injections (a
// window above our integrity level, the sign-in screen, another desktop) or
// drops the hook, each period ending with the event the program gets for it.
// The system's keys and its CapsLock lock are computed from what passed and
// what the system took, never from the engine's own records.
// Checked: the Alt-tap records keep their invariants at every step; outside
// blind periods each press gives exactly one press of the key it maps to and
// the IME keys come exactly from lone quick taps; once the user holds
// nothing, the blind period is over and the engine has judged one more key,
// no key is down and, with CapsLock as Ctrl, the lock is off.
// Reproduce a failure with LUMBRIX_PROPERTY_SEED and the stream index it
// prints; LUMBRIX_PROPERTY_STREAMS runs more streams.
#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"
#include "tests/remap_script.h"

namespace {

const uint32_t KEYS[] = {VK_CAPITAL, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LSHIFT, 'A', 'B', 'Q', 'J', '1'};
const char* const OPTIONS[] = {"", "c", "s", "cs", "l", "cl", "sl", "csl", "d", "cd", "sd", "csd", "ld", "cld", "sld", "csld"};

// Integrity levels: ours is medium.
const uint32_t MEDIUM_LEVEL = 0x2000;
const uint32_t HIGH_LEVEL = 0x3000;

unsigned long long EnvNumber(const char* name, unsigned long long fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// What hides keys from the hook, and how the program learns that it ended.
enum Blindness { Sighted, Elevated, Locked, OtherDesktop, HookDropped, BLINDNESS_KINDS };

// An Alt press as the Alt-tap switch has heard it, to judge the IME keys.
struct AltPress {
    bool down = false;
    bool combined = false;
    unsigned long long since = 0;
};

struct Stream {
    std::mt19937_64 random;
    bool logging = false;
    std::string log;
    unsigned long long now = 0;
    Blindness blind = Sighted;
    std::array<bool, 256> physical_down{};
    // Keys the engine pressed and has not let go of, and keys whose presses
    // pass as they come since the system held them at a reset.
    std::array<bool, 256> engine_down{};
    std::array<bool, 256> passes_as_is{};
    AltPress left, right;
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

    // The key a fresh press of `vk` stands for under the switches in force.
    uint32_t MapsTo(uint32_t vk) const
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
        };
        for (const auto& rule : rules) {
            if (rule.vk == vk && *rule.on && !passes_as_is[vk]) {
                return rule.to;
            }
        }
        return vk;
    }

    // Takes in what was injected since the last look: the keys the engine
    // holds in the system, the presses among them, the IME keys. A last key
    // equal to `own` in both key and direction is the user's key sent again.
    void Absorb(std::vector<uint16_t>* presses, std::vector<uint16_t>* ime, uint32_t own = 0, bool own_down = false)
    {
        const size_t last = injected_keys.size() - 1;
        for (; seen < injected_keys.size(); ++seen) {
            const InjectedKey& key = injected_keys[seen];
            if (logging) {
                Note(FormatInjected(key));
            }
            if (key.tag == SELF_MASK_TAG) {
                continue;
            }
            // The engine lets go of a press of its own even when the system
            // refused it, and of a release until the system takes it.
            const bool sent_again = seen == last && key.vk == own && key.down == own_down;
            if (!sent_again && (key.down || key.taken)) {
                engine_down[key.vk] = key.down;
            }
            if (!key.taken) {
                continue;
            }
            if (key.down && presses != nullptr) {
                presses->push_back(key.vk);
            }
            if ((key.vk == VK_IME_ON || key.vk == VK_IME_OFF) && ime != nullptr) {
                ime->push_back(key.vk);
            }
        }
    }

    void ExpectNothingNew(const char* what)
    {
        std::vector<uint16_t> ime;
        Absorb(nullptr, &ime);
        ASSERT_TRUE(ime.empty()) << what << " sent an IME key";
    }

    // Before the engine is reset: from then on the keys the system holds
    // for the user pass as they are (but for a CapsLock that is to act as
    // Ctrl, which is let go), and the Alt-tap switch has heard no press.
    void BeforeReset(bool caps_as_ctrl)
    {
        for (uint32_t vk = 0; vk < 256; ++vk) {
            passes_as_is[vk] = physical_down[vk] && system_keys_down[vk] && !engine_down[vk] &&
                               !(vk == VK_CAPITAL && caps_as_ctrl);
        }
        left = right = AltPress{};
    }

    // The engine is told that keys may have moved where it could not see.
    void Reset()
    {
        BeforeReset(RemapOptions.capslock_to_ctrl != 0);
        ResetEngine();
        ExpectNothingNew("a reset");
    }

    void Event(uint32_t vk, bool down)
    {
        if (logging) {
            Note(std::string(blind != Sighted ? "[blind " : "[") + (down ? "d:" : "u:") + std::to_string(vk) + "]");
        }
        physical_down[vk] = down;
        if (blind != Sighted) {
            SystemKeyEvent(vk, down);
            if (!down) {
                passes_as_is[vk] = false;
            }
            return;
        }
        const bool sys = random() % 4 == 0;
        const uintptr_t message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        const bool routed_alt = RemapOptions.send_lang && !passes_as_is[vk] && (vk == VK_LMENU || vk == VK_RMENU);
        AltPress* self = !routed_alt ? nullptr : vk == VK_LMENU ? &left : &right;
        // The release of an Alt press the switch never heard passes alone.
        const bool unheard = self != nullptr && !down && !self->down;
        // A pending tap turns into its modifier press at this key.
        uint32_t modifier_sent = 0;
        for (AltPress* press : {&left, &right}) {
            if (press != self && press->down && !unheard) {
                if (!press->combined && now - press->since < ALT_HOLD_MS) {
                    const bool swap = RemapOptions.swap_alt_for_ctrl != 0;
                    modifier_sent = press == &left ? (swap ? VK_LCONTROL : VK_LMENU) : (swap ? VK_RCONTROL : VK_RMENU);
                }
                press->combined = true;
            }
        }
        const bool lone_quick_tap = self != nullptr && !down && self->down && !self->combined && now - self->since < ALT_HOLD_MS;
        if (self != nullptr && down && !self->down) {
            *self = AltPress{true, false, now};
        }
        const uint32_t target = MapsTo(vk);

        const HookVerdict verdict = RemapKeyEvent(PhysicalEvent(message, vk));
        std::vector<uint16_t> presses;
        std::vector<uint16_t> ime;
        Absorb(&presses, &ime, routed_alt ? 0 : vk, down);
        if (verdict == Pass) {
            Note("=" + std::to_string(vk));
            SystemKeyEvent(vk, down);
            ASSERT_FALSE(routed_alt && !unheard) << "a physical Alt reached the system";
            if (down) {
                presses.push_back(static_cast<uint16_t>(vk));
            }
        }
        if (!down) {
            passes_as_is[vk] = false;
        }
        if (down && !routed_alt) {
            size_t count = 0;
            for (uint16_t key : presses) {
                count += key == target;
            }
            ASSERT_EQ(count, modifier_sent == target ? 2u : 1u) << "key " << vk << " must give one press of " << target;
        }
        if (self != nullptr && !down) {
            const uint16_t ime_key = vk == VK_LMENU ? VK_IME_OFF : VK_IME_ON;
            const std::vector<uint16_t> expected = lone_quick_tap ? std::vector<uint16_t>(2, ime_key) : std::vector<uint16_t>();
            ASSERT_EQ(ime, expected) << "IME keys must come exactly from lone quick taps";
            self->down = false;
        } else {
            ASSERT_TRUE(ime.empty()) << "IME key outside an Alt release";
        }
    }

    void ChangeOptions(const char* options)
    {
        Note(std::string("[o:") + options + "]");
        BeforeReset(std::strchr(options, 'c') != nullptr);
        SetOptions(options);
        ExpectNothingNew("a switch change");
    }

    void Advance(unsigned ms)
    {
        Note("[t:" + std::to_string(ms) + "]");
        AdvanceTime(ms);
        now += ms;
        ExpectNothingNew("a timer");
    }

    // A window above ours takes the focus, the session is locked, another
    // desktop comes up, or Windows drops the hook.
    void GoBlind(Blindness kind)
    {
        Note("[blind " + std::to_string(kind) + "]");
        blind = kind;
        if (kind == Elevated) {
            injection_refused = true;
            ASSERT_FALSE(ForegroundReturnsToSight(HIGH_LEVEL, MEDIUM_LEVEL));
        } else if (kind == Locked || kind == OtherDesktop) {
            // The sign-in screen or the secure desktop has the keyboard by
            // the time the notification arrives.
            injection_refused = true;
            Reset();
        }
    }

    void BackInSight()
    {
        Note("[sight]");
        const Blindness kind = blind;
        blind = Sighted;
        injection_refused = false;
        if (kind == Elevated) {
            ASSERT_TRUE(ForegroundReturnsToSight(MEDIUM_LEVEL, MEDIUM_LEVEL));
        }
        Reset();
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

void CheckStep()
{
    ExpectInvariants(alt_tap_left, "left");
    ExpectInvariants(alt_tap_right, "right");
    ASSERT_FALSE(alt_tap_left.timer_id != 0 && alt_tap_right.timer_id != 0) << "two pending timers";
    const size_t records_waiting = (alt_tap_left.timer_id != 0) + (alt_tap_right.timer_id != 0);
    ASSERT_EQ(PendingHoldTimers(), records_waiting) << "a timer outlived its press";
}

void Step(Stream& s)
{
    const unsigned roll = static_cast<unsigned>(s.random() % 24);
    if (roll == 0 && (s.blind == Sighted || s.blind == HookDropped)) {
        s.ChangeOptions(OPTIONS[s.random() % std::size(OPTIONS)]);
    } else if (roll == 1) {
        if (s.blind == Sighted) {
            s.GoBlind(static_cast<Blindness>(1 + s.random() % (BLINDNESS_KINDS - 1)));
        } else {
            s.BackInSight();
        }
    } else if (roll < 13) {
        s.Event(KEYS[s.random() % std::size(KEYS)], true);
    } else if (roll < 20) {
        std::vector<uint32_t> held;
        for (uint32_t vk : KEYS) {
            if (s.physical_down[vk]) {
                held.push_back(vk);
            }
        }
        if (!held.empty()) {
            s.Event(held[s.random() % held.size()], false);
        }
    } else {
        s.Advance(roll < 22 ? static_cast<unsigned>(s.random() % 120) : static_cast<unsigned>(s.random() % 700));
    }
}

void RunStream(Stream& s, size_t steps)
{
    for (size_t i = 0; i < steps; ++i) {
        Step(s);
        if (s.Failed()) {
            return;
        }
        CheckStep();
        if (s.Failed()) {
            return;
        }
    }
    // The user lets go of everything, the blind period ends, one more key.
    for (uint32_t vk : KEYS) {
        if (s.physical_down[vk]) {
            s.Event(vk, false);
            if (s.Failed()) {
                return;
            }
        }
    }
    if (s.blind != Sighted) {
        s.BackInSight();
    }
    const uint32_t last = KEYS[s.random() % std::size(KEYS)];
    s.Event(last, true);
    s.Event(last, false);
    if (s.Failed()) {
        return;
    }
    s.Advance(2 * ALT_HOLD_MS);
    for (unsigned vk = 0; vk < 256; ++vk) {
        ASSERT_FALSE(system_keys_down[vk]) << "key " << vk << " left down in what the system received";
    }
    ASSERT_FALSE(RemapOptions.capslock_to_ctrl && caps_lock_on) << "the CapsLock lock stays on with CapsLock as Ctrl";

    s.Note("[exit]");
    ResetEngine();
    s.ExpectNothingNew("the exit");
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
    const char* options = OPTIONS[s.random() % std::size(OPTIONS)];
    StartEngine("");
    caps_lock_on = s.random() % 4 == 0;
    s.Note(std::string("[start o:") + options + (caps_lock_on ? " lock on]" : "]"));
    SetOptions(options);
    s.ExpectNothingNew("the start");
    RunStream(s, 4 + s.random() % 60);
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
