// The hook's decision for one low-level keyboard event, free of the platform.
#pragma once

#include <cstdint>

struct HookKeyEvent {
    int32_t code;           // nCode of the hook call
    uintptr_t message;      // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    uint32_t vkCode;
    uint32_t flags;         // only LLKHF_INJECTED is read
    uintptr_t dwExtraInfo;
};

enum HookVerdict { Pass, Swallow };

// Judges one event under the current RemapOptions. Replacement events go out
// through InjectKey before it returns; Alt keys are routed to the Alt-tap
// switch while send_lang is on. Remembers nothing between events; a rewrite
// is never fed to another rule.
HookVerdict RemapKeyEvent(const HookKeyEvent& event);
