// Random key streams under random options that change at random points:
// the Alt-tap records keep their invariants at every step, no key is left
// down in what the system receives once the stream ends with an exit (some
// keys released before it, the rest after, past the hook), and the IME keys
// come only from lone quick taps. Reproduce a failure with LUMBRIX_PROPERTY_SEED and look at
// the stream index it prints; LUMBRIX_PROPERTY_STREAMS runs more streams.
#include <array>
#include <cstdlib>
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

unsigned long long EnvNumber(const char* name, unsigned long long fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// A physical Alt press as the test sees it, to judge the IME keys.
struct AltPress {
    bool down = false;
    bool combined = false;
    unsigned long long since = 0;
};

struct Stream {
    std::mt19937_64 random;
    bool send_lang = false;
    unsigned long long now = 0;
    std::array<bool, 256> physical_down{};
    AltPress left, right;
    std::string log;
    size_t seen = 0;

    // Applies injected events to the system's view; returns IME keys seen.
    std::vector<uint16_t> Absorb()
    {
        std::vector<uint16_t> ime;
        for (; seen < injected_keys.size(); ++seen) {
            const InjectedKey& key = injected_keys[seen];
            log += " " + FormatInjected(key);
            if (key.tag == SELF_MASK_TAG) {
                continue;
            }
            if (key.vk == VK_IME_ON || key.vk == VK_IME_OFF) {
                ime.push_back(key.vk);
            }
        }
        return ime;
    }

    void Event(uint32_t vk, bool down)
    {
        const bool sys = random() % 4 == 0;
        const uintptr_t message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        log += std::string(" [") + (down ? "d:" : "u:") + std::to_string(vk) + "]";
        AltPress* self = vk == VK_LMENU ? &left : vk == VK_RMENU ? &right : nullptr;
        for (AltPress* press : {&left, &right}) {
            if (press != self && press->down) {
                press->combined = true;
            }
        }
        const bool lone_quick_tap = self != nullptr && !down && self->down && !self->combined && now - self->since < ALT_HOLD_MS;
        if (self != nullptr && down && !self->down) {
            *self = AltPress{true, false, now};
        }
        physical_down[vk] = down;

        const HookVerdict verdict = RemapKeyEvent(PhysicalEvent(message, vk));
        const std::vector<uint16_t> ime = Absorb();
        if (verdict == Pass) {
            log += " =" + std::to_string(vk);
            system_keys_down[vk] = down;
            ASSERT_FALSE(send_lang && self != nullptr) << "a physical Alt reached the system";
        }
        if (self != nullptr && !down) {
            const bool tapped = send_lang && lone_quick_tap;
            const uint16_t ime_key = vk == VK_LMENU ? VK_IME_OFF : VK_IME_ON;
            const std::vector<uint16_t> expected = tapped ? std::vector<uint16_t>(2, ime_key) : std::vector<uint16_t>();
            ASSERT_EQ(ime, expected) << "IME keys must come exactly from lone quick taps";
            self->down = false;
        } else {
            ASSERT_TRUE(ime.empty()) << "IME key outside an Alt release";
        }
    }

    void ChangeOptions(const char* options)
    {
        log += std::string(" [o:") + options + "]";
        const bool was_on = send_lang;
        StartOptions(options);
        // Turned on, the switch has heard no press yet: its next repeat
        // starts one.
        if (!was_on && send_lang) {
            left.down = right.down = false;
        }
        ASSERT_TRUE(Absorb().empty()) << "a switch change sent an IME key";
    }

    void StartOptions(const char* options)
    {
        SetOptions(options);
        send_lang = RemapOptions.send_lang != 0;
    }

    void Advance(unsigned ms)
    {
        log += " [t:" + std::to_string(ms) + "]";
        AdvanceTime(ms);
        now += ms;
        ASSERT_TRUE(Absorb().empty()) << "a timer sent an IME key";
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

void CheckStep(Stream&)
{
    ExpectInvariants(alt_tap_left, "left");
    ExpectInvariants(alt_tap_right, "right");
    ASSERT_FALSE(alt_tap_left.timer_id != 0 && alt_tap_right.timer_id != 0) << "two pending timers";
    const size_t records_waiting = (alt_tap_left.timer_id != 0) + (alt_tap_right.timer_id != 0);
    ASSERT_EQ(PendingHoldTimers(), records_waiting) << "a timer outlived its press";
}

void RunStream(Stream& s, size_t steps)
{
    for (size_t i = 0; i < steps; ++i) {
        const unsigned roll = static_cast<unsigned>(s.random() % 10);
        if (s.random() % 16 == 0) {
            s.ChangeOptions(OPTIONS[s.random() % std::size(OPTIONS)]);
        } else if (roll < 5) {
            s.Event(KEYS[s.random() % std::size(KEYS)], true);
        } else if (roll < 8) {
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
            const unsigned ms = roll == 8 ? static_cast<unsigned>(s.random() % 120) : static_cast<unsigned>(s.random() % 700);
            s.Advance(ms);
        }
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
        CheckStep(s);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
    for (uint32_t vk : KEYS) {
        if (s.physical_down[vk] && s.random() % 2 == 0) {
            s.Event(vk, false);
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
    s.log += " [exit]";
    ResetEngine();
    s.Absorb();
    // The hook is gone: the keys still held are released straight to the system.
    for (uint32_t vk : KEYS) {
        if (s.physical_down[vk]) {
            system_keys_down[vk] = false;
        }
    }
    s.Advance(2 * ALT_HOLD_MS);
    ASSERT_EQ(PendingHoldTimers(), 0u) << "a hold timer outlived the exit";
    ASSERT_TRUE(injected_keys.size() == s.seen) << "something was injected after the exit";
    for (unsigned vk = 0; vk < 256; ++vk) {
        ASSERT_FALSE(system_keys_down[vk]) << "key " << vk << " left down in what the system received";
    }
}

}  // namespace

TEST(RemapProperty, RandomStreamsLeaveNoKeyDown)
{
    const unsigned long long seed = EnvNumber("LUMBRIX_PROPERTY_SEED", 20261207);
    const unsigned long long streams = EnvNumber("LUMBRIX_PROPERTY_STREAMS", 100000);
    for (unsigned long long index = 0; index < streams; ++index) {
        Stream s;
        s.random.seed(seed * 1000003 + index);
        const char* options = OPTIONS[s.random() % std::size(OPTIONS)];
        StartEngine("");
        s.StartOptions(options);
        RunStream(s, 4 + s.random() % 40);
        if (::testing::Test::HasFailure()) {
            FAIL() << "seed " << seed << ", stream " << index << ", options \"" << options << "\":" << s.log;
        }
    }
}
