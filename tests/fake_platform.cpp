#include "tests/fake_platform.h"

#include <algorithm>
#include <deque>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/remap_script.h"

std::vector<InjectedKey> injected_keys;
bool system_keys_down[256];
bool caps_lock_on;
bool injection_refused;
bool injection_dropped;
bool mouse_watched;
bool mouse_hook_refused;
bool cursor_over_elevated;
std::vector<uintptr_t> system_buttons_down;

namespace {

std::deque<InjectedKey> landing;

struct FakeTimer {
    uintptr_t id;
    unsigned long long due;
    unsigned period;
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

void SystemMouseEvent(uintptr_t message)
{
    // A release's message is its press's + 1, but for the wheel's, which
    // hold nothing.
    if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL || message == WM_MOUSEMOVE) {
        return;
    }
    const auto held = std::find(system_buttons_down.begin(), system_buttons_down.end(), message - 1);
    if (held != system_buttons_down.end()) {
        system_buttons_down.erase(held);
    } else if (std::find(system_buttons_down.begin(), system_buttons_down.end(), message) == system_buttons_down.end()) {
        system_buttons_down.push_back(message);
    }
}

bool WatchMouse(bool on)
{
    mouse_watched = on && !mouse_hook_refused;
    return mouse_watched == on;
}

unsigned SendMouseInput(uintptr_t message, uint32_t mouse_data, uintptr_t extra)
{
    const bool refused = injection_refused || cursor_over_elevated;
    injected_keys.push_back(InjectedKey{0, 1, mouse_data, 0, !refused, message, extra});
    if (refused) {
        return 0;
    }
    if (!injection_dropped) {
        landing.push_back(injected_keys.back());
    }
    return 1;
}

uint32_t TickCount()
{
    return static_cast<uint32_t>(now_ms);
}

uint32_t Now()
{
    return static_cast<uint32_t>(now_ms);
}

unsigned SendKeyInput(uint16_t vk, int isDown, uintptr_t tag, uint32_t scan)
{
    injected_keys.push_back(InjectedKey{vk, isDown != 0, tag, scan, !injection_refused, 0, 0});
    if (injection_refused) {
        return 0;
    }
    if (!injection_dropped) {
        landing.push_back(injected_keys.back());
    }
    return 1;
}

bool SystemHoldsOnceLanded(uint32_t vk)
{
    bool down = system_keys_down[vk & 0xFF];
    for (const InjectedKey& key : landing) {
        if (key.mouse == 0 && key.tag != SELF_MASK_TAG && key.vk == vk) {
            down = key.down != 0;
        }
    }
    return down;
}

size_t LandInjected(size_t count)
{
    for (; count > 0 && !landing.empty(); --count) {
        const InjectedKey key = landing.front();
        landing.pop_front();
        if (key.mouse != 0) {
            // Our own mouse hook passes what is marked injected.
            if (!mouse_watched || RemapMouseEvent({key.mouse, LLMHF_INJECTED, key.extra, static_cast<uint32_t>(key.tag), false}) == Pass) {
                SystemMouseEvent(key.mouse);
            }
            continue;
        }
        HookKeyEvent back = PhysicalEvent(key.down ? WM_KEYDOWN : WM_KEYUP, key.vk);
        back.flags = LLKHF_INJECTED;
        back.dwExtraInfo = key.tag;
        back.scanCode = key.scan;
        back.time = Now();
        if (RemapKeyEvent(back) == Pass) {
            SystemKeyEvent(key.vk, key.down);
        }
    }
    return landing.size();
}

bool SystemKeyDown(uint16_t vk)
{
    static const uintptr_t buttons[] = {0, WM_LBUTTONDOWN, WM_RBUTTONDOWN, 0, WM_MBUTTONDOWN, WM_XBUTTONDOWN, WM_XBUTTONDOWN};
    if (vk < 7 && buttons[vk] != 0) {
        return std::find(system_buttons_down.begin(), system_buttons_down.end(), buttons[vk]) != system_buttons_down.end();
    }
    return system_keys_down[static_cast<uint8_t>(vk)];
}

bool SystemKeyToggled(uint16_t vk)
{
    return vk == VK_CAPITAL && caps_lock_on;
}

uintptr_t StartHoldTimer(unsigned ms)
{
    if (fail_next_timer) {
        fail_next_timer = false;
        return 0;
    }
    timers.push_back(FakeTimer{next_timer_id, now_ms + ms, ms});
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
    // What the hook keeps between calls (a key held back, a release owed to
    // the next reset) goes with a reset of the last run.
    ResetEngine();
    injected_keys.clear();
    timers.clear();
    // A new process: nothing held, recorded or on its way.
    for (uint8_t* record : {HeldKeys, PressRecord, OutputHolds, InFlight, InFlightDown}) {
        std::fill(record, record + 256, 0);
    }
    std::fill(std::begin(system_keys_down), std::end(system_keys_down), false);
    caps_lock_on = false;
    injection_refused = false;
    injection_dropped = false;
    mouse_watched = false;
    mouse_hook_refused = false;
    cursor_over_elevated = false;
    system_buttons_down.clear();
    KeyboardHookAnswered = 0;
    landing.clear();
    now_ms = 0;
    fail_next_timer = false;
    LateHookMs = 300;
    // Nothing in front that the hook cannot see, no reset left to finish.
    ForegroundReturnsToSight(0x2000, 0x2000);
    ResetEngine();
    injected_keys.clear();
}

void FailNextHoldTimer()
{
    fail_next_timer = true;
}

void AdvanceTime(unsigned ms, bool fire)
{
    const unsigned long long end = now_ms + ms;
    while (fire) {
        auto next = std::min_element(timers.begin(), timers.end(),
                                     [](const FakeTimer& a, const FakeTimer& b) { return a.due < b.due; });
        if (next == timers.end() || next->due > end) {
            break;
        }
        // A timer held up by a busy thread fires late, not in the past.
        now_ms = std::max(now_ms, next->due);
        const uintptr_t id = next->id;
        next->due += next->period;
        HoldTimerExpired(id);
    }
    now_ms = end;
}

size_t PendingHoldTimers()
{
    return timers.size();
}

std::string FormatMouse(uintptr_t message, uint32_t data)
{
    switch (message) {
    case WM_MOUSEWHEEL:
        return "W" + std::to_string(static_cast<int16_t>(data >> 16));
    case WM_MOUSEHWHEEL:
        return "H" + std::to_string(static_cast<int16_t>(data >> 16));
    case WM_MOUSEMOVE:
        return "mv";
    default:
        break;
    }
    const bool down = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN ||
                      message == WM_XBUTTONDOWN;
    const uintptr_t press = down ? message : message - 1;
    const char* button = press == WM_LBUTTONDOWN ? "L" : press == WM_RBUTTONDOWN ? "R" : press == WM_MBUTTONDOWN ? "M" : "X";
    return std::string(button) + (press == WM_XBUTTONDOWN ? std::to_string(data >> 16) : "") + (down ? "v" : "^");
}

std::string FormatInjected(const InjectedKey& key)
{
    if (key.mouse != 0) {
        return FormatMouse(key.mouse, key.tag) + (key.taken ? "" : "!");
    }
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
