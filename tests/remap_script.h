// Runs a tiny script of physical key events and time steps through the
// engine and returns what the system receives, in order.
//
// Script: space-separated steps.
//   d:KEY / u:KEY     WM_KEYDOWN / WM_KEYUP (a second d: is an auto-repeat)
//   sd:KEY / su:KEY   WM_SYSKEYDOWN / WM_SYSKEYUP
//   late              the next key's hook call comes after Windows gave up
//                     waiting and handed the key on
//   queued            the next key was typed long ago and waited in line
//                     behind others; its call is on time
//   stall:MS          the thread is stuck for MS ms: the keys of the next
//                     steps are typed during it, a millisecond apart, and
//                     their calls come when it ends; Windows hands on each
//                     it gave up on (`t:` or `busy:` ends the keys)
//   id:KEY / iu:KEY   another program injects KEY down / up
//   ip:KEY / ic:BUTTON  another program injects KEY's press and release /
//                     a click of BUTTON, both in one call
//   raw:MS / iraw:MS  raw input reports the release of scan code 0x3A (the
//                     CapsLock key) as of MS milliseconds ago, from the
//                     keyboard / from injected input (no device)
//   c:BUTTON / cu:BUTTON  a mouse button (l, r, m, x1, x2) pressed / released
//   w:N / hw:N / mv   the wheel turned by N, tilted by N, the mouse moved
//   t:MS              advance the clock; due hold timers fire
//   busy:MS           advance the clock, the thread too busy for timers
//   fail              the next hold timer cannot be started
//   o:OPTS            apply other options mid-script (letters as below)
//   alone / mine      a window of an application left alone comes to the
//                     front (every switch out of force) / one of another
//   x                 the engine is reset (exit, lock, foreground change)
//   burst             three resets back to back (an unlock's desktop switch,
//                     session notice and hook re-armed), nothing landing
//   blind / sight     from blind on, physical events reach the system without
//                     the hook and the system refuses injections (the
//                     sign-in screen); sight ends that alone
//   up / front        a window above our integrity level comes to the front
//                     (keys pass the hook by, SendInput drops silently) /
//                     goes, with a reset
//   unk               a window whose process cannot be queried comes to the
//                     front (counted as above ours, but the hook sees its keys)
//   nomouse / above   no mouse hook can be installed from now on / the window
//                     under the cursor is above our integrity level
// KEY: a-z, 0-9, caps, lctrl, rctrl, lalt, ralt, lshift, ctrl, alt, space,
// semicolon, equals, comma, minus, period, slash, backtick, lbracket,
// backslash, rbracket, quote, oem102, or a virtual-key number of 2+ digits.
//
// Result: space-separated events. "162v"/"162^" is an injected press/release
// (tag 0), "162^#" one tagged as a masking event, "=67v" a physical event the
// hook passed on unchanged, "~67v" one that reached the system past the hook,
// "162^!" an injection the system refused, "@67v" another program's. Mouse
// events read "Lv", "L^", "W120" and so on, with the same marks. Swallowed
// physical events leave no mark.
#pragma once

#include <cstdint>
#include <string>

#include "remap/keyboard_hook.h"
#include "tests/fake_platform.h"

// Options: any of 'c' capslock_to_ctrl, 's' swap_alt_for_ctrl, 'l' send_lang,
// 'd' use_dvorak. Resets the engine and the fake platform first.
std::string RunRemapScript(const char* options, const std::string& script);

// Applies the options, as a switch change in the window does.
void SetOptions(const char* options);

// Resets the engine and the fake platform and applies the options.
void StartEngine(const char* options);

uint32_t ScriptKey(const std::string& name);

// A hook call now for an event typed at `time`.
HookKeyEvent PhysicalEvent(uintptr_t message, uint32_t vk, uint32_t time = Now());
