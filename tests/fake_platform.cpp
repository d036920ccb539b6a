#include "tests/fake_platform.h"

#include <algorithm>
#include <deque>

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/remap_script.h"

std::vector<InjectedKey> injected_keys;
bool system_keys_down[256];
bool caps_lock_on;
bool injection_refused;
bool injection_dropped;

namespace {

std::deque<InjectedKey> landing;

struct FakeTimer {
    uintptr_t id;
    unsigned long long due;
};

std::vector<FakeTimer> timers;
unsigned long long now_ms;
uintptr_t next_timer_id = 1;
bool fail_next_timer;

}  // namespace

void SystemKeyEvent(uint32_t vk, bool down)
{
    bool& held = system_keys_down[vk & 0xFF];
    if (vk == VK_CAPITAL && down && !held) {
        caps_lock_on = !caps_lock_on;
    }
    held = down;
}

unsigned SendKeyInput(uint16_t vk, int isDown, uint32_t tag, uint32_t scan)
{
    injected_keys.push_back(InjectedKey{vk, isDown != 0, tag, scan, !injection_refused});
    if (injection_refused) {
        return 0;
    }
    if (!injection_dropped) {
        landing.push_back(injected_keys.back());
    }
    return 1;
}

size_t LandInjected(size_t count)
{
    for (; count > 0 && !landing.empty(); --count) {
        const InjectedKey key = landing.front();
        landing.pop_front();
        HookKeyEvent back = PhysicalEvent(key.down ? WM_KEYDOWN : WM_KEYUP, key.vk);
        back.flags = LLKHF_INJECTED;
        back.dwExtraInfo = key.tag;
        back.scanCode = key.scan;
        if (RemapKeyEvent(back) == Pass) {
            SystemKeyEvent(key.vk, key.down);
        }
    }
    return landing.size();
}

bool SystemKeyDown(uint16_t vk)
{
    return system_keys_down[static_cast<uint8_t>(vk)];
}

bool SystemKeyToggled(uint16_t vk)
{
    return vk == VK_CAPITAL && caps_lock_on;
}

uintptr_t StartHoldTimer()
{
    if (fail_next_timer) {
        fail_next_timer = false;
        return 0;
    }
    timers.push_back(FakeTimer{next_timer_id, now_ms + ALT_HOLD_MS});
    return next_timer_id++;
}

void CancelHoldTimer(uintptr_t timer_id)
{
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [timer_id](const FakeTimer& t) { return t.id == timer_id; }),
                 timers.end());
}

void ResetFakePlatform()
{
    injected_keys.clear();
    timers.clear();
    std::fill(std::begin(HeldKeys), std::end(HeldKeys), 0);
    std::fill(std::begin(system_keys_down), std::end(system_keys_down), false);
    caps_lock_on = false;
    injection_refused = false;
    injection_dropped = false;
    landing.clear();
    now_ms = 0;
    fail_next_timer = false;
}

void FailNextHoldTimer()
{
    fail_next_timer = true;
}

void AdvanceTime(unsigned ms)
{
    const unsigned long long end = now_ms + ms;
    for (;;) {
        auto next = std::min_element(timers.begin(), timers.end(),
                                     [](const FakeTimer& a, const FakeTimer& b) { return a.due < b.due; });
        if (next == timers.end() || next->due > end) {
            break;
        }
        now_ms = next->due;
        const uintptr_t id = next->id;
        next->due += ALT_HOLD_MS;
        AltTapTimerProc(nullptr, WM_TIMER, id, static_cast<unsigned long>(now_ms));
    }
    now_ms = end;
}

size_t PendingHoldTimers()
{
    return timers.size();
}

std::string FormatInjected(const InjectedKey& key)
{
    std::string text = std::to_string(key.vk) + (key.down ? "v" : "^");
    if (key.tag == SELF_MASK_TAG) {
        text += "#";
    } else if (key.tag != 0) {
        text += "@" + std::to_string(key.tag);
    }
    if (!key.taken) {
        text += "!";
    }
    return text;
}
