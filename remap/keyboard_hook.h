// The hook's decision for one low-level keyboard event, free of the platform.
#pragma once

#include <cstdint>

struct HookKeyEvent {
    int32_t code;           // nCode of the hook call
    uintptr_t message;      // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    uint32_t vkCode;
    uint32_t flags;         // LLKHF_INJECTED decides; LLKHF_EXTENDED goes with a key sent again
    uintptr_t dwExtraInfo;
    uint32_t scanCode;      // goes with a key sent again, never decides
};

enum HookVerdict { Pass, Swallow };

// Judges one event: a press under the rules in force (SelectKeyRules), a
// release the way its press went (PressRecord). Replacement events go out
// through InjectKey before it returns, and a key that must follow a modifier
// injected for it is sent again as it came; Alt keys are routed to the
// Alt-tap switch while send_lang is on. A rewrite is never fed to another
// rule.
HookVerdict RemapKeyEvent(const HookKeyEvent& event);

// Forgets every press record; a key with a rule that the system holds down
// and the engine did not press is the user's, pressed where the engine did
// not see it or under other rules: it becomes PRESS_KEPT.
void RecordKeptKeys();

// Puts the rules of the switches in RemapOptions in force, but for the keys
// whose press record is PRESS_KEPT, which have none until let go. The reset
// calls it once the records are made, before the next event is judged.
void SelectKeyRules();
