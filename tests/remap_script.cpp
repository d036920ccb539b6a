#include "tests/remap_script.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"

void SetOptions(const char* options)
{
    RemapSettings settings{};
    settings.capslock_to_ctrl = std::strchr(options, 'c') != nullptr;
    settings.swap_alt_for_ctrl = std::strchr(options, 's') != nullptr;
    settings.send_lang = std::strchr(options, 'l') != nullptr;
    settings.use_dvorak = std::strchr(options, 'd') != nullptr;
    ApplyOptions(settings);
}

void StartEngine(const char* options)
{
    ResetFakePlatform();
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

HookKeyEvent PhysicalEvent(uintptr_t message, uint32_t vk)
{
    return HookKeyEvent{HC_ACTION, message, vk, 0, 0, 0};
}

std::string RunRemapScript(const char* options, const std::string& script)
{
    StartEngine(options);
    std::vector<std::string> out;
    std::istringstream steps(script);
    std::string step;
    bool blind = false;
    while (steps >> step) {
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        const size_t seen = injected_keys.size();
        if (verb == "o") {
            SetOptions(arg.c_str());
        } else if (verb == "x") {
            ResetEngine();
        } else if (verb == "blind" || verb == "sight") {
            blind = verb == "blind";
            injection_refused = blind;
        } else if (verb == "fail") {
            FailNextHoldTimer();
        } else if (verb == "t") {
            AdvanceTime(static_cast<unsigned>(std::stoul(arg)));
        } else {
            static const std::map<std::string, uintptr_t> messages = {
                {"d", WM_KEYDOWN}, {"u", WM_KEYUP}, {"sd", WM_SYSKEYDOWN}, {"su", WM_SYSKEYUP}};
            auto message = messages.find(verb);
            if (message == messages.end()) {
                ADD_FAILURE() << "unknown step in script: " << step;
                continue;
            }
            const HookKeyEvent event = PhysicalEvent(message->second, ScriptKey(arg));
            const HookVerdict verdict = blind ? Pass : RemapKeyEvent(event);
            for (size_t i = seen; i < injected_keys.size(); ++i) {
                out.push_back(FormatInjected(injected_keys[i]));
            }
            if (verdict == Pass) {
                const bool down = event.message == WM_KEYDOWN || event.message == WM_SYSKEYDOWN;
                out.push_back((blind ? "~" : "=") + std::to_string(event.vkCode) + (down ? "v" : "^"));
                SystemKeyEvent(event.vkCode, down);
            }
            LandInjected();
            continue;
        }
        for (size_t i = seen; i < injected_keys.size(); ++i) {
            out.push_back(FormatInjected(injected_keys[i]));
        }
        LandInjected();
    }
    std::string joined;
    for (const std::string& token : out) {
        joined += (joined.empty() ? "" : " ") + token;
    }
    return joined;
}
