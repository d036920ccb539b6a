// Runs a tiny script of physical key events and time steps through the
// engine and returns what the system receives, in order.
//
// Script: space-separated steps.
//   d:KEY / u:KEY     WM_KEYDOWN / WM_KEYUP (a second d: is an auto-repeat)
//   sd:KEY / su:KEY   WM_SYSKEYDOWN / WM_SYSKEYUP
//   t:MS              advance the clock; due hold timers fire
//   fail              the next hold timer cannot be started
//   o:OPTS            apply other options mid-script (letters as below)
//   x                 the engine is reset (exit, lock, foreground change)
//   blind / sight     from blind on, physical events reach the system without
//                     the hook and the system refuses injections (a window
//                     above ours, the sign-in screen); sight ends that alone
// KEY: a-z, 0-9, caps, lctrl, rctrl, lalt, ralt, lshift, ctrl, alt, space,
// semicolon, equals, comma, minus, period, slash, backtick, lbracket,
// backslash, rbracket, quote, oem102, or a virtual-key number of 2+ digits.
//
// Result: space-separated events. "162v"/"162^" is an injected press/release
// (tag 0), "162^#" one tagged as a masking event, "=67v" a physical event the
// hook passed on unchanged, "~67v" one that reached the system past the hook,
// "162^!" an injection the system refused. Swallowed physical events leave no
// mark.
#pragma once

#include <cstdint>
#include <string>

#include "remap/keyboard_hook.h"

// Options: any of 'c' capslock_to_ctrl, 's' swap_alt_for_ctrl, 'l' send_lang,
// 'd' use_dvorak. Resets the engine and the fake platform first.
std::string RunRemapScript(const char* options, const std::string& script);

// Applies the options, as a switch change in the window does.
void SetOptions(const char* options);

// Resets the engine and the fake platform and applies the options.
void StartEngine(const char* options);

uint32_t ScriptKey(const std::string& name);

HookKeyEvent PhysicalEvent(uintptr_t message, uint32_t vk);
