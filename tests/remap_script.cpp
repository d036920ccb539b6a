#include "tests/remap_script.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/keyboard_hook.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"

namespace {

RemapSettings ScriptSettings;

}  // namespace

void SetOptions(const char* options)
{
    RemapSettings& settings = ScriptSettings;
    settings.capslock_to_ctrl = std::strchr(options, 'c') != nullptr;
    settings.swap_alt_for_ctrl = std::strchr(options, 's') != nullptr;
    settings.send_lang = std::strchr(options, 'l') != nullptr;
    settings.use_dvorak = std::strchr(options, 'd') != nullptr;
    ApplyOptionsInForce(settings);
}

void StartEngine(const char* options)
{
    ResetFakePlatform();
    RemapHold = OptionsHold{};
    AltTapInit();
    SetOptions(options);
}

uint32_t ScriptKey(const std::string& name)
{
    static const std::map<std::string, uint32_t> names = {
        {"caps", VK_CAPITAL},   {"lctrl", VK_LCONTROL},  {"rctrl", VK_RCONTROL},
        {"lalt", VK_LMENU},     {"ralt", VK_RMENU},      {"lshift", VK_LSHIFT},
        {"ctrl", VK_CONTROL},   {"alt", VK_MENU},        {"space", VK_SPACE},
        {"semicolon", VK_OEM_1}, {"equals", VK_OEM_PLUS}, {"comma", VK_OEM_COMMA},
        {"minus", VK_OEM_MINUS}, {"period", VK_OEM_PERIOD}, {"slash", VK_OEM_2},
        {"backtick", VK_OEM_3}, {"lbracket", VK_OEM_4},  {"backslash", VK_OEM_5},
        {"rbracket", VK_OEM_6}, {"quote", VK_OEM_7},     {"oem102", VK_OEM_102},
    };
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
        return static_cast<uint32_t>(name[0] - 'a' + 'A');
    }
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') {
        return static_cast<uint32_t>(name[0]);
    }
    auto found = names.find(name);
    if (found != names.end()) {
        return found->second;
    }
    char* end = nullptr;
    const unsigned long vk = std::strtoul(name.c_str(), &end, 10);
    EXPECT_TRUE(!name.empty() && *end == '\0') << "unknown key in script: " << name;
    return static_cast<uint32_t>(vk);
}

HookKeyEvent PhysicalEvent(uintptr_t message, uint32_t vk, uint32_t time)
{
    // Each call is a hook call, waited for as the binding says.
    return HookKeyEvent{HC_ACTION, message, vk, 0, 0, 0, time, Now(), HookWaitBegan(KeyboardHookAnswered, time, Now())};
}

namespace {

// Integrity levels as Windows numbers them: ours is medium.
const uint32_t MEDIUM_LEVEL = 0x2000;
const uint32_t HIGH_LEVEL = 0x3000;

// A mouse step's message and mouse data; 0 when the step is no mouse step.
uintptr_t MouseStep(const std::string& verb, const std::string& arg, uint32_t* data)
{
    static const std::map<std::string, uintptr_t> buttons = {
        {"l", WM_LBUTTONDOWN}, {"r", WM_RBUTTONDOWN}, {"m", WM_MBUTTONDOWN}, {"x1", WM_XBUTTONDOWN}, {"x2", WM_XBUTTONDOWN}};
    *data = 0;
    if (verb == "w" || verb == "hw") {
        *data = (static_cast<uint32_t>(std::stoi(arg)) & 0xFFFF) << 16;
        return verb == "w" ? WM_MOUSEWHEEL : WM_MOUSEHWHEEL;
    }
    if (verb == "mv") {
        return WM_MOUSEMOVE;
    }
    auto button = buttons.find(arg);
    if ((verb != "c" && verb != "cu") || button == buttons.end()) {
        return 0;
    }
    *data = arg[0] == 'x' ? static_cast<uint32_t>(arg[1] - '0') << 16 : 0;
    return button->second + (verb == "cu" ? 1 : 0);
}

}  // namespace

std::string RunRemapScript(const char* options, const std::string& script)
{
    StartEngine(options);
    std::vector<std::string> out;
    std::istringstream steps(script);
    std::string step;
    bool blind = false;
    bool late = false;
    bool queued = false;
    // A stall: when it ends, when the keys typed during it were, and when
    // Windows could next call the hook.
    uint32_t stall_end = 0, stall_typed = 0, windows_free = 0;
    while (steps >> step) {
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        size_t seen = injected_keys.size();
        std::string mark;
        uint32_t mouse_data = 0;
        const uintptr_t mouse = MouseStep(verb, arg, &mouse_data);
        static const std::map<std::string, uintptr_t> messages = {
            {"d", WM_KEYDOWN}, {"u", WM_KEYUP}, {"sd", WM_SYSKEYDOWN}, {"su", WM_SYSKEYUP},
            {"id", WM_KEYDOWN}, {"iu", WM_KEYUP}};
        auto message = messages.find(verb);
        if (verb == "o") {
            SetOptions(arg.c_str());
        } else if (verb == "alone" || verb == "mine") {
            RemapHold.left_alone = verb == "alone";
            ApplyOptionsInForce(ScriptSettings);
        } else if (verb == "x") {
            ResetEngine();
        } else if (verb == "burst") {
            // An unlock's notices, back to back: nothing lands in between.
            for (int i = 0; i < 3; ++i) {
                ResetEngine();
            }
        } else if (verb == "blind" || verb == "sight") {
            blind = verb == "blind";
            injection_refused = blind;
        } else if (verb == "up") {
            blind = true;
            injection_dropped = true;
            ForegroundReturnsToSight(HIGH_LEVEL, MEDIUM_LEVEL);
        } else if (verb == "front") {
            blind = false;
            injection_dropped = false;
            if (ForegroundReturnsToSight(MEDIUM_LEVEL, MEDIUM_LEVEL)) {
                ResetEngine();
            }
        } else if (verb == "fail") {
            FailNextHoldTimer();
        } else if (verb == "t" || verb == "busy") {
            stall_end = 0;
            AdvanceTime(static_cast<unsigned>(std::stoul(arg)), verb == "t");
        } else if (verb == "stall") {
            stall_typed = windows_free = Now();
            stall_end = Now() + static_cast<uint32_t>(std::stoul(arg));
        } else if (verb == "nomouse") {
            mouse_hook_refused = true;
        } else if (verb == "above") {
            cursor_over_elevated = true;
        } else if (verb == "unk") {
            ForegroundReturnsToSight(UNKNOWN_INTEGRITY, MEDIUM_LEVEL);
        } else if (verb == "late") {
            late = true;
        } else if (verb == "queued") {
            queued = true;
        } else if (verb == "raw" || verb == "iraw") {
            RawKeyReleased(verb == "raw" ? 1 : 0, 0x3A, Now() - static_cast<uint32_t>(std::stoul(arg)));
        } else if (verb == "ip" || verb == "ic") {
            // Another program's press and release in one call: both reach
            // the hooks before anything injected lands.
            uint32_t data = 0;
            const uintptr_t click = MouseStep("c", arg, &data);
            for (uintptr_t up : {0, 1}) {
                const uint32_t vk = ScriptKey(verb == "ip" ? arg : "0");
                HookKeyEvent event = PhysicalEvent(up ? WM_KEYUP : WM_KEYDOWN, vk);
                event.flags = LLKHF_INJECTED;
                event.dwExtraInfo = 7;
                const bool passed = verb == "ip" ? RemapKeyEvent(event) == Pass
                                                 : !mouse_watched ||
                                                       RemapMouseEvent({click + up, LLMHF_INJECTED, 7, data, false}) == Pass;
                for (; seen < injected_keys.size(); ++seen) {
                    out.push_back(FormatInjected(injected_keys[seen]));
                }
                if (passed && verb == "ip") {
                    out.push_back("@" + std::to_string(vk) + (up ? "^" : "v"));
                    SystemKeyEvent(vk, !up);
                } else if (passed) {
                    out.push_back("@" + FormatMouse(click + up, data));
                    SystemMouseEvent(click + up);
                }
            }
        } else if (mouse != 0) {
            const bool hooked = mouse_watched && !blind;
            if (!hooked || RemapMouseEvent({mouse, 0, 0, mouse_data, false}) == Pass) {
                mark = (hooked ? "=" : "~") + FormatMouse(mouse, mouse_data);
                SystemMouseEvent(mouse);
            }
        } else if (message != messages.end()) {
            const uint32_t vk = ScriptKey(arg);
            const bool down = message->second == WM_KEYDOWN || message->second == WM_SYSKEYDOWN;
            const std::string key = std::to_string(vk) + (down ? "v" : "^");
            uint32_t typed = Now();
            if (stall_end != 0) {
                // Typed during the stall, a millisecond apart; Windows
                // waits for one call at a time, and gives up on each
                // LateHookMs after it began to.
                typed = stall_typed++;
                const uint32_t began = std::max(typed, windows_free);
                late = began + LateHookMs <= stall_end;
                windows_free = late ? began + LateHookMs : stall_end;
                AdvanceTime(stall_end - Now(), false);
            }
            if (late) {
                // Windows hands it on while the thread is busy; the call
                // reaches the hook after that.
                out.push_back("~" + key);
                SystemKeyEvent(vk, down);
                AdvanceTime(stall_end != 0 ? 0 : LateHookMs, false);
            } else if (queued) {
                // Typed a while ago, it waited in line behind other keys,
                // whose calls were answered just now.
                typed -= 2 * LateHookMs;
                KeyboardHookAnswered = Now();
            }
            queued = false;
            HookKeyEvent event = PhysicalEvent(message->second, vk, typed);
            if (verb[0] == 'i') {
                event.flags = LLKHF_INJECTED;
                event.dwExtraInfo = 7;
            }
            const HookVerdict verdict = blind ? Pass : RemapKeyEvent(event);
            if (verdict == Pass && !late) {
                mark = (blind ? "~" : verb[0] == 'i' ? "@" : "=") + key;
                SystemKeyEvent(event.vkCode, down);
            }
            late = false;
        } else {
            ADD_FAILURE() << "unknown step in script: " << step;
            continue;
        }
        for (size_t i = seen; i < injected_keys.size(); ++i) {
            out.push_back(FormatInjected(injected_keys[i]));
        }
        if (!mark.empty()) {
            out.push_back(mark);
        }
        LandInjected();
    }
    std::string joined;
    for (const std::string& token : out) {
        joined += (joined.empty() ? "" : " ") + token;
    }
    return joined;
}
