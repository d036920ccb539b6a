#!/usr/bin/python3
"""End-to-end tests of lumbrix.exe under Wine, driven by physical keystrokes.

The real program runs in a Wine prefix of its own on an Xvfb display of its
own (:93 to :96, whichever is free). Keys and clicks enter through XTEST as a
keyboard and a mouse would deliver them; the key probe (key_probe.exe) sits in
front of the program's hook and in the focused window and records what the
hook chain and the application see. Each case writes the `setting` file
beside a scratch copy of lumbrix.exe, which has a guide-ja.html beside it as
in the release zip, before starting it.

Usage: run_e2e.py --lumbrix EXE --probe EXE --version X.Y --out DIR [--only NAME ...]
The settings window's screenshot lands in DIR; so do the probe logs and
Wine's output of a failed case, kept from run to run.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_harness import (OPENED_PAGE, PROBE_TAG, Display, Failure, Hook, Msg, Probe, Wine,  # noqa: E402
                         is_down, is_injected, parse_window, wait_for)

# The whole run stays well inside CTest's ten minutes.
RUN_LIMIT_S = 540

# ---- keyboard facts ------------------------------------------------------------

# evdev keycodes of a US keyboard, by legend or name.
KEYCODES = {
    "grave": 49, "1": 10, "2": 11, "3": 12, "4": 13, "5": 14, "6": 15, "7": 16, "8": 17, "9": 18, "0": 19,
    "minus": 20, "equal": 21,
    "q": 24, "w": 25, "e": 26, "r": 27, "t": 28, "y": 29, "u": 30, "i": 31, "o": 32, "p": 33,
    "lbracket": 34, "rbracket": 35, "return": 36,
    "a": 38, "s": 39, "d": 40, "f": 41, "g": 42, "h": 43, "j": 44, "k": 45, "l": 46,
    "semicolon": 47, "apostrophe": 48, "backslash": 51,
    "z": 52, "x": 53, "c": 54, "v": 55, "b": 56, "n": 57, "m": 58, "comma": 59, "period": 60, "slash": 61,
    "lshift": 50, "rshift": 62, "lctrl": 37, "rctrl": 105, "lalt": 64, "ralt": 108,
    "space": 65, "caps": 66, "f12": 96, "tab": 23, "escape": 9, "delete": 119,
}
PUNCTUATION = {"`": "grave", "-": "minus", "=": "equal", "[": "lbracket", "]": "rbracket", ";": "semicolon",
               "'": "apostrophe", "\\": "backslash", ",": "comma", ".": "period", "/": "slash", " ": "space"}

# The two layouts as printed on the keys: position for position, what a US
# QWERTY keyboard and a Dvorak keyboard carry.
QWERTY_ROWS = ["`1234567890-=", "qwertyuiop[]\\", "asdfghjkl;'", "zxcvbnm,./"]
DVORAK_ROWS = ["`1234567890[]", "',.pyfgcrl/=\\", "aoeuidhtns-", ";qjkxbmwvz"]
TO_DVORAK = {q: d for qrow, drow in zip(QWERTY_ROWS, DVORAK_ROWS) for q, d in zip(qrow, drow)}
TO_QWERTY = {d: q for q, d in TO_DVORAK.items()}
TO_DVORAK[" "] = TO_QWERTY[" "] = " "
US_SHIFTED = dict(zip("`1234567890-=[]\\;',./", "~!@#$%^&*()_+{}|:\"<>?"))

# Windows virtual-key codes.
VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL = 16, 17, 18, 20
VK_IME_ON, VK_IME_OFF = 22, 26
VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU = 162, 163, 164, 165
VK_F12 = 123
SELF_MASK_TAG = 52
US_OEM_VK = {";": 186, "=": 187, ",": 188, "-": 189, ".": 190, "/": 191, "`": 192, "[": 219, "\\": 220,
             "]": 221, "'": 222}


def vk_of(char):
    """The virtual key that carries `char` on the US layout."""
    if char.isalpha() or char.isdigit() or char == " ":
        return ord(char.upper())
    return US_OEM_VK[char]


def key_name(char):
    return PUNCTUATION.get(char, char)


def taps(text):
    """Key tokens that type `text` (lower-case legends) one tap at a time."""
    return " ".join(key_name(c) for c in text)


# ---- the `setting` file ----------------------------------------------------------

def setting_text(caps=0, swap=0, lang=0, dvorak=0):
    return ("capslock_to_ctrl=%d\nswap_alt_for_ctrl=%d\nsend_lang=%d\nuse_dvorak=%d"
            % (caps, swap, lang, dvorak)).encode("ascii")


# ---- what the probe saw ------------------------------------------------------------

MESSAGE_WORD = {"keydown": "down", "syskeydown": "down", "keyup": "up", "syskeyup": "up",
                "char": "char", "syschar": "syschar"}


def is_sentinel(record):
    return record.vk == VK_F12 if isinstance(record, Hook) else (
        record.name in ("keydown", "keyup", "syskeydown", "syskeyup") and record.wparam == VK_F12)


class View:
    """The records of one step, minus the sentinel key that closed it."""

    def __init__(self, records, frequency):
        self.records = [r for r in records if not is_sentinel(r)]
        self.frequency = frequency

    def hooks(self):
        return [r for r in self.records if isinstance(r, Hook)]

    def messages(self):
        return [r for r in self.records if isinstance(r, Msg)]

    @staticmethod
    def hook_word(h):
        source = "inj" if is_injected(h) else "phys"
        tag = ""
        if h.extra == PROBE_TAG:
            tag = " probe"
        elif h.extra:
            tag = " tag%d" % h.extra
        return "%s %s %d%s %s" % (source, "down" if is_down(h) else "up", h.vk, tag, "drop" if h.next else "pass")

    def chain(self):
        """Every hook call the probe saw, in the order it entered them:
        source, direction, key, tag, and whether the rest of the chain let it
        through. An event injected while a later hook judges another one
        enters the probe's hook within that call, so after it."""
        return [self.hook_word(h) for h in self.hooks()]

    def injected(self):
        return [w for w in self.chain() if w.startswith("inj ")]

    def app(self):
        """The key messages the focused application received."""
        return ["%s %d" % (MESSAGE_WORD.get(m.name, m.name), m.wparam) for m in self.messages()]

    def chars(self):
        return "".join(chr(m.wparam) for m in self.messages() if m.name == "char")

    def ms(self, ticks):
        return ticks * 1000.0 / self.frequency

    def describe(self):
        if not self.records:
            return "  the probe saw nothing"
        start = self.records[0].qpc
        lines = ["  what the probe saw (hook: first in the chain; msg: the focused window):"]
        for r in self.records:
            at = "%9.2f ms" % self.ms(r.qpc - start)
            if isinstance(r, Hook):
                lines.append("  %s  hook %-28s flags=%#x scan=%d" % (at, self.hook_word(r), r.flags, r.scan))
            else:
                lines.append("  %s  msg  %-10s %-4d lparam=%#010x extra=%#x"
                             % (at, r.name, r.wparam, r.lparam, r.extra))
        return "\n".join(lines)


KEEP = object()


# ---- a session: one display, one prefix, one scratch folder --------------------------

class Session:
    def __init__(self, lumbrix, probe, version, out):
        self.lumbrix_source = lumbrix
        self.version = version
        self.probe_source = probe
        self.out = out
        self.workdir = tempfile.mkdtemp(prefix="e2e-run-", dir="/tmp")
        self.run_name = time.strftime("%Y%m%d-%H%M%S")
        self.display = Display(range(93, 97), self.workdir)
        self.wine = None
        self.folder = None
        self.probe = None
        self.probe_count = 0
        self.program_count = 0
        self.program_logs = {}  # each lumbrix.exe process started: its Wine log
        self.case_logs = []  # folders with the logs of the case under way
        self.programs = []
        self.pressed = []
        # Wine's own CapsLock toggle (desktop-wide), which X's Lock follows.
        self.wine_caps = False
        self.caps_sent = 0
        self.caps_scanned = 0
        self.caps_records_seen = 0
        self.sent = 0

    # -- set-up and tear-down

    def start(self):
        self.display.start()
        self.wine = Wine(self.display)
        self.wine.boot()
        self.folder = self.wine.drive_c("e2e")
        os.makedirs(self.folder)
        shutil.copy(self.lumbrix_source, os.path.join(self.folder, "lumbrix.exe"))
        with open(self.guide_path, "wb") as out:
            out.write(GUIDE_PAGE)
        shutil.copy(self.probe_source, self.wine.drive_c("key_probe.exe"))

    def close(self):
        try:
            self.end_case()
        finally:
            if self.wine:
                self.wine.close()
            self.display.close()
            shutil.rmtree(self.workdir, ignore_errors=True)

    @property
    def exe(self):
        return "C:\\e2e\\lumbrix.exe"

    @property
    def guide_path(self):
        return os.path.join(self.folder, "guide-ja.html")

    @property
    def setting_path(self):
        return os.path.join(self.folder, "setting")

    def write_setting(self, content):
        if content is None:
            if os.path.exists(self.setting_path):
                os.remove(self.setting_path)
        else:
            with open(self.setting_path, "wb") as out:
                out.write(content)

    def read_setting(self):
        try:
            with open(self.setting_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def start_program(self, args=(), env=None):
        self.program_count += 1
        self.case_logs.append(os.path.join(self.workdir, "lumbrix%d" % self.program_count))
        os.makedirs(self.case_logs[-1])
        process = self.wine.start(self.exe, list(args), cwd=self.folder, log=self.case_logs[-1] + "/wine.log", env=env)
        self.programs.append(process)
        self.program_logs[process] = self.case_logs[-1] + "/wine.log"
        return process

    def launch(self, setting, args=(), in_front=False, env=None):
        """Writes `setting` (bytes, None for no file, KEEP for the file as it
        is), starts lumbrix.exe and then a probe whose hook lies in front of
        the program's, and gives the probe the keyboard once the program's
        window is up. `in_front`: the probe starts first, its hook behind the
        program's, and the program's window keeps the keyboard."""
        if setting is not KEEP:
            self.write_setting(setting)
        for attempt in (1, 2):
            program = None
            try:
                if in_front:
                    self.start_probe()
                program = self.start_program(args, env)
                if not in_front:
                    self.start_probe(after="Lumbrix")
                if not (len(args) == 1 and args[0].startswith("/hide")):
                    # Shown, the window takes the focus: only then can it be taken back.
                    wait_for(lambda: self.main_windows() and is_visible(self), 20, "the settings window to be shown")
                break
            except Failure:
                if attempt == 2 or program is None or not self.wine_refused(program):
                    raise
                print("    Wine could not set up lumbrix.exe's process: started once more", flush=True)
                if self.probe:
                    self.probe.quit()
                    self.probe = None
                self.programs.remove(program)
        if not in_front:
            self.focus_probe()
        return program

    def wine_refused(self, program):
        """Whether Wine failed to set up `program`'s process, as it now and then
        does on this kernel, before any of the program ran."""
        if program.poll() != 1:
            return False
        with open(self.program_logs[program], "rb") as log:
            return b"failed to map the shared user data" in log.read()

    def start_probe(self, after=None):
        self.probe_count += 1
        folder = self.wine.drive_c("probe%d" % self.probe_count)
        self.case_logs.append(folder)
        try:
            self.probe = Probe(self.wine, self.wine.drive_c("key_probe.exe"), folder, after=after)
        except Failure as failure:
            raise Failure("%s (lumbrix.exe: %s)" % (failure, ", ".join(
                "running" if p.poll() is None else "ended with %d" % p.returncode for p in self.programs) or "none"))
        self.caps_sent = self.caps_scanned = self.caps_records_seen = 0

    def end_case(self):
        if self.probe:
            for keycode in list(reversed(self.pressed)):
                self.key(keycode, False)
            if self.caps_sent > self.caps_records_seen:
                try:
                    self.sync_caps_lock()
                except Failure:
                    pass
            self.probe.quit()
            self.probe = None
        for process in self.programs:
            self.wine.stop(process)
        self.programs = []

    def keep_logs(self, name):
        target = os.path.join(self.out, "failed-%s-%s" % (self.run_name, name))
        os.makedirs(target)
        for folder in self.case_logs:
            for log in (f for f in os.listdir(folder) if f.endswith(".log")):
                shutil.copy(os.path.join(folder, log), os.path.join(target, os.path.basename(folder) + "-" + log))
        return target

    # -- windows

    def windows(self):
        return self.probe.windows()

    def main_windows(self):
        return [w for w in self.windows() if w.kind == "top" and w.cls == "Lumbrix"]

    def main_window(self):
        """The program's window and its controls."""
        found = []
        current = None
        for w in self.windows():
            if w.kind == "top":
                current = (w, []) if w.cls == "Lumbrix" else None
                if current:
                    found.append(current)
            elif current:
                current[1].append(w)
        if len(found) != 1:
            raise Failure("expected one window of class Lumbrix, found %d" % len(found))
        return found[0]

    def control(self, ident, cls="Button"):
        window, children = self.main_window()
        for child in children:
            if child.id == ident and child.cls.lower() == cls.lower():
                return child
        raise Failure("no %s control with id %d in the settings window" % (cls, ident))

    def focus_probe(self):
        """Gives the keyboard back to the probe's window."""
        self.probe.command("focus")
        self.display.focus(self.probe.xwindow)

        def focused():
            foreground = self.probe.foreground()
            return (self.display.focused() == self.probe.xwindow and foreground is not None
                    and foreground.hwnd == self.probe.hwnd)
        wait_for(focused, 10, "the probe's window to take the focus")

    def click_control(self, control):
        self.display.click((control.left + control.right) // 2, (control.top + control.bottom) // 2)

    def screenshot(self, name):
        """Saves the settings window as the screen shows it, once two shots
        in a row agree (painting has finished)."""
        window = self.main_window()[0]
        crop = "%dx%d+%d+%d" % (window.right - window.left, window.bottom - window.top, window.left, window.top)
        path = os.path.join(self.out, name)
        shots = []

        def steady():
            shot = os.path.join(self.workdir, "shot-%d.png" % len(shots))
            self.display.screenshot(shot, crop)
            with open(shot, "rb") as f:
                shots.append(f.read())
            return len(shots) > 1 and shots[-1] == shots[-2]
        wait_for(steady, 10, "the settings window to be painted", interval=0.1)
        with open(path, "wb") as out:
            out.write(shots[-1])
        return path

    def post(self, hwnd, message, wparam=0, lparam=0):
        self.probe.command("post %x %x %x %x" % (hwnd, message, wparam, lparam))

    # -- keys

    def key(self, keycode, down):
        if down and keycode != KEYCODES["caps"] and self.caps_sent > self.caps_records_seen:
            self.sync_caps_lock()
        self.display.key(keycode, down)
        self.sent += 1
        if keycode == KEYCODES["caps"]:
            self.caps_sent += 1
        if down:
            self.pressed.append(keycode)
        elif keycode in self.pressed:
            self.pressed.remove(keycode)

    def sync_caps_lock(self):
        """Sets X's Lock to Wine's CapsLock toggle, which flips whenever a
        CapsLock press gets through the whole hook chain."""
        def caught_up():
            records = self.probe.records()
            while self.caps_scanned < len(records):
                r = records[self.caps_scanned]
                self.caps_scanned += 1
                if isinstance(r, Hook) and r.vk == VK_CAPITAL:
                    if not is_injected(r):
                        self.caps_records_seen += 1
                    if is_down(r) and not r.next:
                        self.wine_caps = not self.wine_caps
            return self.caps_records_seen >= self.caps_sent
        wait_for(caught_up, 10, "the probe to see every CapsLock event")
        self.display.set_caps_lock(self.wine_caps)

    def send(self, tokens):
        """Sends key tokens: NAME taps, NAME+ presses, NAME- releases."""
        for token in tokens.split():
            if token.endswith("+"):
                self.key(KEYCODES[token[:-1]], True)
            elif token.endswith("-") and len(token) > 1:
                self.key(KEYCODES[token[:-1]], False)
            else:
                self.key(KEYCODES[token], True)
                self.key(KEYCODES[token], False)

    def inject(self, *events):
        """Has the probe inject (virtual key, 1 press or 0 release) events,
        as another program would."""
        self.probe.command("inject " + " ".join("%d %d" % e for e in events))

    def mark(self):
        self.sent = 0
        return self.probe.mark()

    def settle(self, mark, timeout=20, repeats=False):
        """Closes a step: a tap of F12, which nothing remaps, goes through
        after everything before it; returns what the probe saw up to it.
        Unless keys repeat, the hook must have seen each key sent once."""
        sent = self.sent
        self.send("f12")
        try:
            wait_for(lambda: any(isinstance(r, Msg) and r.name == "keyup" and r.wparam == VK_F12
                                 for r in self.probe.since(mark)),
                     timeout, "the closing F12 to reach the probe's window (has the probe lost the focus?)")
        except Failure as failure:
            raise Failure("%s\n%s" % (failure, View(self.probe.since(mark), self.probe.frequency).describe()))
        view = View(self.probe.since(mark), self.probe.frequency)
        physical = [h for h in view.hooks() if not is_injected(h)]
        if len(physical) != sent and not repeats:
            raise Failure("%d physical key events were sent but the hook saw %d\n%s"
                          % (sent, len(physical), view.describe()))
        return view

    def keys(self, tokens, timeout=20):
        mark = self.mark()
        self.send(tokens)
        return self.settle(mark, timeout)

    def wait_record(self, mark, predicate, timeout, what):
        return wait_for(lambda: next((r for r in self.probe.since(mark) if predicate(r)), None), timeout, what)


def wait_exit(program, what, timeout=30):
    try:
        return program.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after %s" % what)


def expect(actual, expected, what, view=None):
    if actual != expected:
        raise Failure("%s\n  expected: %r\n  actual:   %r%s"
                      % (what, expected, actual, "\n" + view.describe() if view else ""))


def expect_true(condition, what, view=None):
    if not condition:
        raise Failure(what + ("\n" + view.describe() if view else ""))


def masked_ctrl_press():
    """What a CapsLock press turns into: Ctrl pressed between two releases
    tagged for the program's own hook to drop."""
    masked = "inj up %d tag%d drop" % (VK_LCONTROL, SELF_MASK_TAG)
    return [masked, "inj down %d pass" % VK_LCONTROL, masked]


# The key sent between the press and the release of an Alt held alone.
MENU_MASK = ["inj down 232 pass", "inj up 232 pass"]


def replaced(physical_vk, injected_vk):
    """A key the program swallows and replaces, pressed and released."""
    return ["phys down %d drop" % physical_vk, "inj down %d pass" % injected_vk,
            "phys up %d drop" % physical_vk, "inj up %d pass" % injected_vk]


def passed(vk):
    return ["phys down %d pass" % vk, "phys up %d pass" % vk]


# ---- cases ------------------------------------------------------------------------

CASES = []


def case(name):
    """Registers a case."""
    def register(function):
        CASES.append((name, function))
        return function
    return register


@case("capslock")
def capslock_alone(s):
    s.launch(setting_text(caps=1))
    v = s.keys("caps+ c caps-")
    expect(v.chain(), ["phys down 20 drop"] + masked_ctrl_press() + passed(67) +
           ["phys up 20 drop", "inj up 162 pass"], "CapsLock+C in the hook chain", v)
    expect(v.app(), ["down 17", "down 67", "char 3", "up 67", "up 17"], "CapsLock+C in the application", v)
    v = s.keys("caps caps")
    tap = ["phys down 20 drop"] + masked_ctrl_press() + ["phys up 20 drop", "inj up 162 pass"]
    expect(v.chain(), tap + tap, "two CapsLock taps in the hook chain", v)
    expect(v.app(), ["down 17", "up 17", "down 17", "up 17"], "two CapsLock taps in the application", v)


@case("dvorak")
def dvorak_alone(s):
    s.launch(setting_text(dvorak=1))
    word = "hello, world."
    v = s.keys(taps("".join(TO_QWERTY[c] for c in word)))
    expect(v.chars(), word, "a word typed on the QWERTY positions of its Dvorak letters", v)

    # Every key of the three letter rows and the two keys right of the digits.
    physical = "qwertyuiop[]asdfghjkl;'zxcvbnm,./-="
    v = s.keys(taps(physical))
    expect(v.chars(), "".join(TO_DVORAK[c] for c in physical), "the letter rows under Dvorak", v)
    chain = []
    for c in physical:
        chain += passed(vk_of(c)) if TO_DVORAK[c] == c else replaced(vk_of(c), vk_of(TO_DVORAK[c]))
    expect(v.chain(), chain, "the letter rows in the hook chain", v)

    v = s.keys(taps("1234567890 am"))
    expect(v.chars(), "1234567890 am", "digits, space, A and M under Dvorak", v)
    expect(v.injected(), [], "digits, space, A and M are never replaced", v)

    v = s.keys("lshift+ j q slash lshift-")
    expect(v.chars(), "H" + US_SHIFTED["'"] + "Z", "Shift with Dvorak", v)


@case("alt-ctrl-swap")
def swap_alone(s):
    s.launch(setting_text(swap=1))
    v = s.keys("lctrl")
    expect(v.chain(), replaced(VK_LCONTROL, VK_LMENU), "left Ctrl in the hook chain", v)
    expect(v.app(), ["down 18", "up 18"], "left Ctrl in the application", v)
    v = s.keys("rctrl")
    expect(v.chain(), replaced(VK_RCONTROL, VK_RMENU), "right Ctrl in the hook chain", v)
    expect(v.app(), ["down 18", "up 18"], "right Ctrl in the application", v)
    for side, physical, injected in (("left", VK_LMENU, VK_LCONTROL), ("right", VK_RMENU, VK_RCONTROL)):
        v = s.keys("%salt+ c %salt-" % (side[0], side[0]))
        expect(v.chain(), ["phys down %d drop" % physical, "inj down %d pass" % injected] + passed(67) +
               ["phys up %d drop" % physical, "inj up %d pass" % injected],
               "%s Alt+C in the hook chain" % side, v)
        expect(v.app(), ["down 17", "down 67", "char 3", "up 67", "up 17"], "%s Alt+C in the application" % side, v)
    v = s.keys("lctrl+ c lctrl-")
    expect(v.app(), ["down 18", "down 67", "syschar 99", "up 67", "up 18"], "left Ctrl+C acts as Alt+C", v)


def check_hold(s, physical_name, physical_vk, modifier_vk):
    """Holds an Alt key alone until its modifier is injected; returns the
    delay from the press to the modifier."""
    mark = s.mark()
    s.send(physical_name + "+")
    modifier = s.wait_record(mark, lambda r: isinstance(r, Hook) and is_injected(r) and r.vk == modifier_vk,
                             5, "the held Alt key to act as a modifier")
    s.send(physical_name + "-")
    v = s.settle(mark)
    # Held alone, an Alt would open the menu bar: a masking key goes first.
    masked = MENU_MASK if modifier_vk == VK_LMENU else []
    expect(v.chain(), replaced(physical_vk, modifier_vk)[:3] + masked + replaced(physical_vk, modifier_vk)[3:],
           "an Alt key held alone", v)
    press = v.hooks()[0]
    return v, v.ms(modifier.qpc - press.qpc)


@case("alt-tap")
def alt_tap_alone(s):
    s.launch(setting_text(lang=1))
    for side, vk, ime in (("l", VK_LMENU, VK_IME_OFF), ("r", VK_RMENU, VK_IME_ON)):
        v = s.keys(side + "alt")
        expect(v.chain(), ["phys down %d drop" % vk, "phys up %d drop" % vk,
                           "inj down %d pass" % ime, "inj up %d pass" % ime], "a lone Alt tap", v)
        expect(v.app(), ["down %d" % ime, "up %d" % ime], "a lone Alt tap in the application: no Alt", v)

    v, delay = check_hold(s, "lalt", VK_LMENU, VK_LMENU)
    expect_true(480 <= delay <= 1500, "the held Alt became a modifier after %.0f ms, not at about 500 ms"
                % delay, v)
    print("    left Alt held alone: Alt pressed %.0f ms after the key" % delay)
    expect(v.app(), ["down 18", "down 232", "up 232", "up 18"], "a held Alt in the application", v)

    # The C pressed while the Alt is pending is held back; let go of first,
    # it is a chord: the Alt, then C pressed and let go of.
    v = s.keys("lalt+ c lalt-")
    expect(v.chain(), ["phys down 164 drop", "phys down 67 drop", "phys up 67 drop", "inj down 164 pass",
                       "inj down 67 pass", "inj up 67 pass", "phys up 164 drop", "inj up 164 pass"],
           "Alt+C in the hook chain", v)
    expect([a for a in v.app() if "char" not in a], ["down 18", "down 67", "up 67", "up 18"],
           "Alt+C in the application", v)
    v = s.keys("lalt+ k lalt-")
    expect([a for a in v.app() if "char" not in a], ["down 18", "down 75", "up 75", "up 18"],
           "a nested chord: Alt+K", v)
    # K rolled out of a right Alt tap: IME on, then k without Alt.
    v = s.keys("ralt+ k+ ralt- k-")
    expect(v.chain(), ["phys down 165 drop", "phys down 75 drop", "phys up 165 drop", "inj down 22 pass",
                       "inj up 22 pass", "inj down 75 pass", "phys up 75 pass"], "K rolled out of the tap", v)
    expect([a for a in v.app() if "char" not in a], ["down 22", "up 22", "down 75", "up 75"],
           "K rolled out of the tap in the application", v)
    expect(v.chars(), "k", "K rolled out of the tap types k", v)

    v = s.keys("lalt+ ralt lalt-")
    expect(v.chain(), ["phys down 164 drop", "phys down 165 drop", "inj down 164 pass", "phys up 165 drop",
                       "inj down 22 pass", "inj up 22 pass", "phys up 164 drop", "inj up 164 pass"],
           "right Alt tapped while left Alt is held", v)

    v = s.keys("lalt")
    expect(v.injected(), ["inj down 26 pass", "inj up 26 pass"], "a tap right after a combination", v)

    # The end of a word rolled into the tap: A's release changes nothing.
    v = s.keys("a+ ralt+ a- ralt-")
    expect(v.injected(), ["inj down 22 pass", "inj up 22 pass"], "a key let go of inside the tap: still a tap", v)


# Alt+C typed at once: C must come as a system key (menu access keys), not as
# typed text.
@case("alt-tap-combined")
def alt_tap_combined(s):
    s.launch(setting_text(lang=1))
    v = s.keys("lalt+ c lalt-")
    expect([m.name for m in v.messages()], ["syskeydown", "syskeydown", "syschar", "syskeyup", "keyup"],
           "Alt+C typed at once with Alt-tap on reaches the application as Alt+C", v)


@case("capslock+dvorak")
def capslock_with_dvorak(s):
    s.launch(setting_text(caps=1, dvorak=1))
    v = s.keys("caps+ c caps-")
    expect(v.chain(), ["phys down 20 drop"] + masked_ctrl_press() + replaced(67, 74) +
           ["phys up 20 drop", "inj up 162 pass"], "CapsLock+C under Dvorak in the hook chain", v)
    expect(v.app(), ["down 17", "down 74", "char 10", "up 74", "up 17"], "CapsLock+C under Dvorak is Ctrl+J", v)


@case("swap+alt-tap")
def swap_with_alt_tap(s):
    s.launch(setting_text(swap=1, lang=1))
    v = s.keys("lalt ralt")
    expect(v.injected(), ["inj down 26 pass", "inj up 26 pass", "inj down 22 pass", "inj up 22 pass"],
           "Alt taps with the swap on", v)
    v = s.keys("lalt+ c lalt-")
    expect(v.chain(), ["phys down 164 drop", "phys down 67 drop", "phys up 67 drop", "inj down 162 pass",
                       "inj down 67 pass", "inj up 67 pass", "phys up 164 drop", "inj up 162 pass"],
           "left Alt+C with the swap on", v)
    expect(v.app(), ["down 17", "down 67", "char 3", "up 67", "up 17"], "left Alt+C acts as Ctrl+C", v)
    v, delay = check_hold(s, "ralt", VK_RMENU, VK_RCONTROL)
    expect_true(480 <= delay <= 1500, "the held right Alt became right Ctrl after %.0f ms" % delay, v)
    v = s.keys("lctrl rctrl")
    expect(v.chain(), replaced(VK_LCONTROL, VK_LMENU) + replaced(VK_RCONTROL, VK_RMENU),
           "Ctrl keys give Alt and never reach the Alt-tap switch", v)


def scan_word(record):
    """Scan code with 0x100 for the extended bit: of a hook call, or of a key
    message's lParam."""
    if isinstance(record, Hook):
        return record.scan | (0x100 if record.flags & 1 else 0)
    return (record.lparam >> 16) & 0x1FF


def click_probe(s, tokens_before, tokens_after, tokens_held=None):
    """Presses keys, clicks in the middle of the probe's window (with
    `tokens_held` typed while the button is down), presses more keys;
    returns what the probe saw."""
    probe = [w for w in s.windows() if w.kind == "top" and w.cls == "LumbrixKeyProbe"][0]
    x, y = (probe.left + probe.right) // 2, (probe.top + probe.bottom) // 2
    mark = s.mark()
    s.send(tokens_before)
    if tokens_held is None:
        s.display.click(x, y)
    else:
        d = s.display
        d.move(x, y)
        for down in (1, 0):
            d.xtst.XTestFakeButtonEvent(d.handle, 1, down, 0)
            d.x11.XSync(d.handle, 0)
            time.sleep(0.1)
            if down:
                s.send(tokens_held)
                time.sleep(0.3)
    s.send(tokens_after)
    return s.settle(mark)


@case("alt-click")
def alt_click(s):
    for swap, modifier, held in ((0, VK_LMENU, 1), (1, VK_LCONTROL, 2)):
        s.launch(setting_text(swap=swap, lang=1))
        v = click_probe(s, "lalt+", "lalt-")
        expect([m for m in v.app() if m.startswith("lbutton")], ["lbuttondown %d" % held, "lbuttonup %d" % held],
               "the click arrives with the Alt held as %s" % ("Ctrl" if swap else "Alt"), v)
        expect(v.injected(), ["inj down %d pass" % modifier, "inj up %d pass" % modifier],
               "the modifier and nothing else, no IME key", v)
        v = click_probe(s, "lalt lalt+", "lalt-")
        expect(v.injected()[:2], ["inj down %d pass" % VK_IME_OFF, "inj up %d pass" % VK_IME_OFF],
               "a tap before the click is still a tap", v)
        # A drag under way when the Alt goes down: the drop gets the modifier.
        v = click_probe(s, "", "lalt-", "lalt+")
        expect([m for m in v.app() if m.startswith("lbutton")], ["lbuttondown 0", "lbuttonup %d" % held],
               "the button let go of with the Alt held as %s" % ("Ctrl" if swap else "Alt"), v)
        # No key pressed after the Alt: it is let go of behind the mask.
        expect(v.injected(), ["inj down %d pass" % modifier] + ([] if swap else MENU_MASK) +
               ["inj up %d pass" % modifier], "the modifier from the Alt's press, no IME key", v)
        s.end_case()


@case("scan-codes")
def scan_codes(s):
    """Programs that read scan codes see each injected key as the physical key
    it stands for: Dvorak H, CapsLock's left Ctrl, the swapped right keys."""
    s.launch(setting_text(caps=1, swap=1, dvorak=1))
    v = s.keys("j h caps rctrl ralt lctrl")
    downs = [m for m in v.messages() if m.name in ("keydown", "syskeydown")]
    physical = {h.vk: scan_word(h) for h in v.hooks() if not is_injected(h) and is_down(h)}
    # Physical D and left Alt are not pressed: those two are not compared.
    stands_for = [ord("H"), ord("D"), VK_LCONTROL, VK_RMENU, VK_RCONTROL, VK_LMENU]
    expect([scan_word(m) for m in downs], [physical.get(vk, scan_word(m)) for m, vk in zip(downs, stands_for)],
           "scan codes (0x100: extended) of the keys the application got, against the physical keys", v)
    expect_true(len(downs) == 6 and physical[VK_RMENU] & 0x100, "six keys, right Alt extended", v)


@case("all-off")
def all_off(s):
    s.launch(setting_text())
    v = s.keys("caps lalt ralt lctrl rctrl lshift j c a 1 semicolon caps")
    expect(v.injected(), [], "nothing is injected with every switch off", v)
    expect([w for w in v.chain() if not w.endswith(" pass")], [], "every key passes", v)
    expect([a for a in v.app() if a.startswith("down")],
           ["down %d" % k for k in (20, 18, 18, 17, 17, 16, 74, 67, 65, 49, 186, 20)],
           "the application sees the keys as pressed", v)
    # CapsLock itself reached the application: letters came out in capitals.
    expect(v.chars(), "JCA1;", "characters with every switch off", v)


@case("foreign-injected")
def foreign_injected(s):
    """Keys that another program injects pass untouched, with every switch on."""
    s.launch(setting_text(caps=1, swap=1, lang=1, dvorak=1))
    keys = [ord("C"), VK_LMENU, VK_RMENU, VK_LCONTROL, VK_CAPITAL, VK_CAPITAL]
    mark = s.mark()
    # CapsLock twice: Wine's toggle ends where X's Lock is.
    s.inject(*[(vk, down) for vk in keys for down in (1, 0)])
    v = s.settle(mark)
    expect(v.chain(), ["inj %s %d probe pass" % (d, vk) for vk in keys for d in ("down", "up")],
           "injected keys pass the program untouched and nothing is added", v)
    expect([a for a in v.app() if "char" not in a],
           ["%s %d" % (d, vk) for vk in (67, 18, 18, 17, 20, 20) for d in ("down", "up")],
           "the application sees the injected keys", v)


# -- the settings window

OPTION_BOXES = [  # id, text, row
    (1, "CapsLockキーをCtrlキーに置き換える", 10),
    (2, "Altキーを単体で押してIMEを切り替え(左Alt\u2192IMEオフ\u3001右Alt\u2192IMEオン)", 35),
    (3, "Dvorak配列を利用", 60),
    (0, "AltキーとCtrlキーを入れ替える", 85),
    (4, "スタートアップに登録", 110),
]
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_THICKFRAME = 0xC00000, 0x80000, 0x20000, 0x10000, 0x40000


GUIDE_PAGE = b"<!DOCTYPE html><title>guide</title>"
GUIDE_TARGET = "C:\\e2e\\guide-ja.html"


def check_box_states(s, states):
    window, children = s.main_window()
    actual = {c.id: c.check for c in children if c.cls.lower() == "button" and c.id in states}
    expect(actual, states, "check states of the option boxes (id: state)")


def check_notice(s, notice, guide=True):
    """The notice links to the guide beside the exe, or, without it, names it as plain text."""
    if guide:
        link = re.fullmatch(r'<a href="([^"]+)">[^<>]+</a>', notice.text)
        expect(link and link.group(1), GUIDE_TARGET, "the notice's one link leads to the guide beside the exe: %r"
               % notice.text)
    else:
        expect_true("<" not in notice.text and "guide-ja.html" in notice.text,
                    "without a guide beside the exe the notice is no link and names the file: %r" % notice.text)
    expect_true("Lumbrix " + s.version in notice.text, "the notice names the version: %r" % notice.text)


def check_window_layout(s, dpi=96, exact=True):
    window, children = s.main_window()
    size = (window.right - window.left, window.bottom - window.top)
    # A notice of several lines (exact=False) makes the window taller.
    expect_true(abs(size[0] - 440 * dpi / 96) <= 2 and (abs(size[1] - 325 * dpi / 96) <= 2 or not exact and
                                                         size[1] > 325 * dpi / 96), "outer size %r at %d DPI" % (size, dpi))
    places = [(c.left - window.origin_x, c.top - window.origin_y, c.right - window.origin_x, c.bottom - window.origin_y)
              for c in children]
    for i, (left, top, right, bottom) in enumerate(places):
        expect_true(0 <= left < right <= window.client_w and 0 <= top < bottom <= window.client_h and all(
            right <= o[0] or o[2] <= left or bottom <= o[1] or o[3] <= top for o in places[:i]),
            "at %d DPI %r at %r leaves the client area or overlaps another of %r"
            % (dpi, children[i].text, places[i], places))
    expect(len(places), 10, "five boxes, the applications' label, list and Remove button, the Exit button and the notice")
    if dpi != 96 or not exact:
        return
    expect((window.text, window.left, window.top, window.right - window.left, window.bottom - window.top),
           ("Lumbrix " + s.version, 0, 0, 440, 325), "title, position and size of the settings window")
    expect(window.style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
           WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, "caption, system menu and minimise button only")
    expect(window.visible, 1, "the window is shown")

    def place(c):
        return (c.left - window.origin_x, c.top - window.origin_y, c.right - c.left, c.bottom - c.top)

    boxes = sorted((c for c in children if c.cls.lower() == "button" and c.id not in (5, 9)), key=lambda c: c.top)
    expect([(c.id, c.text, place(c)[1]) for c in boxes], [(i, t, y) for i, t, y in OPTION_BOXES],
           "option boxes from top to bottom: id, text, row")
    for c in boxes:
        expect((hex(c.style), place(c)[0]), (hex(0x50010003), 10), "style and x of box %d" % c.id)
        expect_true(place(c)[2] > 0 and place(c)[3] > 0, "box %d has no size: %r" % (c.id, place(c)))
    expect_true(len({place(c)[2] for c in boxes}) > 1, "each box is as wide as its label")

    exits = [c for c in children if c.cls.lower() == "button" and c.id == 5]
    expect(len(exits), 1, "one Exit button")
    x, y, width, height = place(exits[0])
    expect((exits[0].text, hex(exits[0].style), x, y, width), ("終了", hex(0x50010000), window.client_w - 110, 230, 100),
           "Exit button: text, style, x, y, width")
    expect_true(height > 0, "the Exit button has no height")

    notices = [c for c in children if c.cls.lower() == "syslink"]
    expect(len(notices), 1, "one notice line")
    notice = notices[0]
    x, y, width, height = place(notice)
    expect((notice.id, hex(notice.style), y), (0, hex(0x50010000), window.client_h - 20), "notice: id, style, y")
    expect_true(0 < width <= window.client_w and height > 0, "the notice has no one-line size: %r" % (place(notice),))
    expect(x, int((window.client_w - width) / 2), "the notice is centred")
    check_notice(s, notice)


@case("guide-notice")
def guide_notice(s):
    opened = s.wine.drive_c(OPENED_PAGE)
    if os.path.exists(opened):
        os.remove(opened)
    s.launch(setting_text())
    notice = [c for c in s.main_window()[1] if c.cls.lower() == "syslink"][0]
    s.click_control(notice)
    wait_for(lambda: os.path.exists(opened) and open(opened, "rb").read() == GUIDE_PAGE, 20,
             "a click on the notice to open the guide beside the exe")
    s.end_case()
    os.rename(s.guide_path, s.guide_path + ".away")
    try:
        s.launch(KEEP)
        check_notice(s, [c for c in s.main_window()[1] if c.cls.lower() == "syslink"][0], guide=False)
    finally:
        os.rename(s.guide_path + ".away", s.guide_path)


@case("setting-missing")
def setting_missing(s):
    s.launch(None)
    expect(s.read_setting(), setting_text(), "a missing setting file is created in canonical form")
    check_window_layout(s)
    check_box_states(s, {0: 0, 1: 0, 2: 0, 3: 0, 4: 0})
    v = s.keys("j")
    expect(v.chain(), passed(74), "J with every switch off", v)


@case("setting-crlf")
def setting_crlf(s):
    content = b"capslock_to_ctrl=1\r\nswap_alt_for_ctrl=0\r\nsend_lang=1\r\nuse_dvorak=1\r\n"
    s.write_setting(content)
    # An old time stamp: any rewrite, even with the same bytes, shows.
    os.utime(s.setting_path, ns=(1_000_000_000, 1_000_000_000))
    s.launch(KEEP)
    expect((s.read_setting(), os.stat(s.setting_path).st_mtime_ns), (content, 1_000_000_000),
           "a setting file with CRLF line ends is left as it is")
    check_box_states(s, {0: 0, 1: 1, 2: 1, 3: 1, 4: 0})
    v = s.keys("j")
    expect(v.chars(), "h", "J under Dvorak from a CRLF file", v)
    s.screenshot("settings-window.png")


@case("setting-bad-line")
def setting_bad_line(s):
    s.launch(b"use_dvorak=1\ncapslock_to_ctrl=1\nsend_lang=abc\nswap_alt_for_ctrl=1\n")
    expect(s.read_setting(), setting_text(caps=1, dvorak=1),
           "a bad line: the file is rewritten with the lines before it")
    check_box_states(s, {0: 0, 1: 1, 2: 0, 3: 1, 4: 0})
    v = s.keys("j lctrl")
    expect(v.chain(), replaced(74, 72) + passed(VK_LCONTROL), "Dvorak on, swap off after a bad line", v)


@case("setting-empty")
def setting_empty(s):
    s.launch(b"")
    expect(s.read_setting(), setting_text(), "an empty setting file, what a write cut short leaves, is rewritten")
    check_box_states(s, {0: 0, 1: 0, 2: 0, 3: 0, 4: 0})
    v = s.keys("j")
    expect(v.chain(), passed(74), "J with an empty setting file", v)
    # One that cannot be rewritten (read-only) says so in the notice.
    s.end_case()
    s.write_setting(b"")
    os.chmod(s.setting_path, 0o444)
    try:
        s.launch(KEEP)
        expect(s.control(0, "SysLink").text, "このフォルダーには設定を保存できません。書き込めるフォルダーに移してから起動してください。",
               "the notice when the setting file could not be written at the start")
    finally:
        os.chmod(s.setting_path, 0o644)


# Per option box: its flag in setting_text and a key check (tokens, then a
# test of the view with the switch on and with it off).
OPTION_EFFECTS = [
    (3, "dvorak", "j", lambda v: v.chars() == "h", lambda v: v.chars() == "j"),
    (1, "caps", "caps+ c caps-", lambda v: "char 3" in v.app() and "down 20" not in v.app(),
     lambda v: v.injected() == [] and "down 20" in v.app()),
    (2, "lang", "lalt", lambda v: v.injected() == ["inj down 26 pass", "inj up 26 pass"],
     lambda v: v.injected() == [] and v.app() == ["down 18", "up 18"]),
    (0, "swap", "lalt+ c lalt-", lambda v: "char 3" in v.app(),
     lambda v: v.injected() == [] and "syschar 99" in v.app()),
]


def startup_shortcut(s):
    folder = s.probe.command("startup-folder")
    expect_true(folder and folder[0].startswith("folder "), "the Startup folder is unknown: %r" % folder)
    return os.path.join(s.wine.unix_path(folder[0][len("folder "):]), "lumbrix.exe.lnk")


def lnkinfo(path):
    """The shortcut's fields and lnkinfo's text; None while it cannot be read
    (not there, or still being written)."""
    run = subprocess.run(["lnkinfo", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if run.returncode != 0:
        return None
    output = run.stdout.decode("utf-8", "replace")
    fields = {}
    for line in output.splitlines():
        if ":" in line:
            key, value = line.split(":", 1)
            fields[key.strip()] = value.strip()
    return fields, output


@case("option-clicks")
def option_clicks(s):
    s.launch(setting_text())
    for ident, flag, tokens, when_on, when_off in OPTION_EFFECTS:
        for state in (1, 0):
            s.click_control(s.control(ident))
            wanted = setting_text(**{flag: state})
            wait_for(lambda: s.read_setting() == wanted, 10, "box %d clicked to %d to rewrite the setting file"
                     % (ident, state))
            expect(s.control(ident).check, state, "box %d after the click" % ident)
            s.focus_probe()
            # A pressed CapsLock that gets through toggles it: tap it again.
            v = s.keys(tokens + (" caps" if flag == "caps" and not state else ""))
            expect_true((when_on if state else when_off)(v),
                        "box %d (%s) %s: the next keys do not follow it" % (ident, flag, "on" if state else "off"), v)

    shortcut = startup_shortcut(s)
    expect(os.path.exists(shortcut), False, "no startup shortcut before the click")
    before = (s.read_setting(), os.stat(s.setting_path).st_mtime_ns)
    s.click_control(s.control(4))
    fields, text = wait_for(lambda: lnkinfo(shortcut), 10, "the startup box to create " + shortcut)
    expect((fields.get("Local path"), fields.get("Command line arguments"), fields.get("Working directory")),
           (s.exe, "/hide", None), "the shortcut's target, arguments and working directory\n" + text)
    expect(s.control(4).check, 1, "the startup box after the click")
    expect((s.read_setting(), os.stat(s.setting_path).st_mtime_ns), before, "the startup box leaves setting alone")

    # Switches and shortcut outlive the program: Exit at once after a click
    # (the exit waits for the save), start again.
    s.click_control(s.control(3))
    program = s.programs[-1]
    s.click_control(s.control(5))
    expect(wait_exit(program, "the Exit button"), 0, "exit code after the Exit button")
    expect(s.read_setting(), setting_text(dvorak=1), "the Dvorak box's save is done by the exit")
    s.end_case()
    s.launch(KEEP)
    check_box_states(s, {0: 0, 1: 0, 2: 0, 3: 1, 4: 1})
    v = s.keys("j")
    expect(v.chars(), "h", "Dvorak after a new start", v)
    before = (s.read_setting(), os.stat(s.setting_path).st_mtime_ns)
    s.click_control(s.control(4))
    wait_for(lambda: not os.path.exists(shortcut), 10, "the startup box to delete the shortcut")
    expect(s.control(4).check, 0, "the startup box after the second click")
    expect((s.read_setting(), os.stat(s.setting_path).st_mtime_ns), before, "the startup box leaves setting alone")


OTHER_COPY_NOTICE = ("スタートアップには別の場所の Lumbrix が登録されています。"
                     "チェックを付けると、この Lumbrix に置き換えます。")


@case("startup-other-copy")
def startup_other_copy(s):
    """A shortcut left by another copy (an update unpacked into a new folder)
    leaves the box clear, with a notice saying so; ticking it points the
    shortcut at this copy."""
    other = s.wine.drive_c("old", "lumbrix.exe")
    os.makedirs(os.path.dirname(other))
    shutil.copy(s.lumbrix_source, other)
    s.programs.append(s.wine.start(s.wine.windows_path(other), cwd=os.path.dirname(other)))
    s.start_probe(after="Lumbrix")
    shortcut = startup_shortcut(s)
    s.click_control(s.control(4))
    wait_for(lambda: (lnkinfo(shortcut) or ({},))[0].get("Local path") == "C:\\old\\lumbrix.exe", 10,
             "the other copy's startup box to create its shortcut")
    s.post(s.main_window()[0].hwnd, WM_COMMAND, IDM_EXIT)
    wait_exit(s.programs[-1], "the exit command")
    s.end_case()
    s.launch(setting_text())
    expect((s.control(4).check, s.control(0, "SysLink").text), (0, OTHER_COPY_NOTICE),
           "the startup box and the notice with a shortcut to another copy")
    s.screenshot("settings-window-other-copy.png")
    s.click_control(s.control(4))
    wait_for(lambda: (lnkinfo(shortcut) or ({},))[0].get("Local path") == s.exe, 10,
             "ticking the box to point the shortcut at this copy")
    wait_for(lambda: s.control(4).check == 1, 10, "the startup box to be ticked")
    os.remove(shortcut)


@case("startup-blocked")
def startup_blocked(s):
    """A file where the Startup folder should be: no shortcut, and the box says so."""
    s.launch(setting_text())
    folder = os.path.dirname(startup_shortcut(s))
    shutil.rmtree(folder)
    try:
        open(folder, "wb").close()
        s.post(s.control(4).hwnd, BM_SETCHECK, 1)
        wait_for(lambda: s.control(4).check == 1, 10, "the startup box to be ticked")
        s.post(s.main_window()[0].hwnd, WM_COMMAND, 4)
        wait_for(lambda: s.control(4).check == 0, 10, "the startup box to be unticked: no shortcut was written")
    finally:
        os.remove(folder)
        os.makedirs(folder)
    # The folder is back: the exit does not make what the box said is not there.
    s.post(s.main_window()[0].hwnd, WM_COMMAND, IDM_EXIT)
    expect(wait_exit(s.programs[-1], "the exit command"), 0, "exit code")
    expect(os.listdir(folder), [], "no shortcut after the exit")


@case("setting-held")
def setting_held(s):
    """Another program holds the file without delete sharing: the save fails,
    the file stays whole, and the exit at the session's end saves once the
    file is free."""
    program = s.launch(setting_text())
    s.probe.command("hold " + s.wine.windows_path(s.setting_path))
    s.click_control(s.control(3))
    wait_for(lambda: s.control(3).check == 1, 10, "the Dvorak box to be ticked")
    time.sleep(0.5)
    expect(s.read_setting(), setting_text(), "the held file stays as it was")
    s.probe.command("release")
    s.post(s.main_window()[0].hwnd, WM_ENDSESSION, 1)
    expect(wait_exit(program, "the session's end"), 0, "exit code")
    expect(s.read_setting(), setting_text(dvorak=1), "the session's end saves the switch once the file is free")


@case("session-at-logon")
def session_at_logon(s):
    """Started before the session service is up, as at logon, the program asks
    for session notices again once the service is ready, remapping meanwhile."""
    requests, library = s.wine.drive_c("session-requests.log"), s.wine.drive_c("windows", "system32", "wtsapi32.dll")
    os.rename(library, library + ".away")
    shutil.copy(os.path.join(os.path.dirname(s.probe_source), "wtsapi32.dll"), library)
    try:
        s.launch(setting_text(dvorak=1), env={"WINEDLLOVERRIDES": s.wine.env["WINEDLLOVERRIDES"] + ";wtsapi32=n"})
        wait_for(lambda: os.path.exists(requests), 10, "the program to ask for session notices")
        v = s.keys("j")
        expect((open(requests).read(), v.chars()), ("1702\n", "h"), "refused at first; keys remapped meanwhile", v)
        s.probe.command("signal Global\\TermSrvReadyEvent")
        wait_for(lambda: open(requests).read() == "1702\nok\n", 10, "the program to ask again once the service is up")
        # A launch while the program exits (slowly, at the service) waits for it and then runs.
        s.post(s.main_window()[0].hwnd, WM_COMMAND, IDM_EXIT)
        second = s.start_program(env={"WINEDLLOVERRIDES": s.wine.env["WINEDLLOVERRIDES"] + ";wtsapi32=n"})
        expect(wait_exit(s.programs[0], "the exit command"), 0, "exit code")
        wait_for(lambda: len(s.main_windows()) == 1 and is_visible(s), 20, "the launch during the exit to run")
        expect(second.poll(), None, "the launch during the exit runs on")
    finally:
        os.replace(library + ".away", library)


@case("from-temp-folder")
def from_temp_folder(s):
    """Started where Explorer puts an exe run from inside its zip: the notice asks to unpack the zip
    first, and the startup box stays clear, disabled, and makes no shortcut."""
    s.start_probe()
    temp = s.probe.command("temp-folder")
    expect_true(temp and temp[0].startswith("folder "), "the temporary folder is unknown: %r" % temp)
    folder = os.path.join(s.wine.unix_path(temp[0][len("folder "):].rstrip("\\")),
                          "Temp1_Lumbrix-%s-win64.zip" % s.version, "Lumbrix")
    os.makedirs(folder)
    shutil.copy(s.lumbrix_source, os.path.join(folder, "lumbrix.exe"))
    program = s.wine.start(s.wine.windows_path(os.path.join(folder, "lumbrix.exe")), cwd=folder)
    s.programs.append(program)
    wait_for(lambda: s.main_windows() and is_visible(s), 20, "the settings window to be shown")
    check_window_layout(s, exact=False)
    s.screenshot("settings-window-temp.png")
    window, notice = s.main_window()[0], s.control(0, "SysLink")
    left, right = notice.left - window.origin_x, notice.right - window.origin_x
    expect_true("<" not in notice.text and "zip を展開してから起動してください" in notice.text
                and 10 <= left < right <= window.client_w - 10,
                "the notice asks, as plain text inside the margins, to unpack the zip: %r" % notice.text)
    box = s.control(4)
    expect((box.check, hex(box.style)), (0, hex(0x50010003 | WS_DISABLED)), "the startup box: clear and disabled")
    shortcut = startup_shortcut(s)
    # The exit carries out the last wish of the box: none came from the click.
    s.click_control(box)
    s.click_control(s.control(5))
    expect(wait_exit(program, "the Exit button"), 0, "exit code after the Exit button")
    expect(os.path.exists(shortcut), False, "a shortcut into the temporary folder: " + shortcut)


WM_CLOSE, WM_ENDSESSION, WM_COMMAND, WM_SYSCOMMAND, SC_MINIMIZE, HTCLOSE = 0x10, 0x16, 0x111, 0x112, 0xF020, 20
WS_MINIMIZE, WS_DISABLED = 0x20000000, 0x08000000
IDM_SETTINGS, IDM_EXIT, IDM_PAUSE = 100, 101, 110
BM_SETCHECK = 0xF1
WM_TRAYICON, TRAY_ICON_ID = 0x400 + 1000, 1000
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 0x200, 0x201, 0x202, 0x203
WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK = 0x204, 0x205, 0x206


def visible_menus(s):
    return [w for w in s.windows() if w.kind == "top" and w.cls == "#32768" and w.visible]


def open_tray_menu(s, hwnd, at_pointer=True):
    """Right button up on the tray icon; returns the popup menu's window.
    `at_pointer`: Wine tells where the pointer is as its own windows last
    saw it, which with the settings window hidden may be elsewhere."""
    pointer = (300, 150)
    s.display.move(*pointer)
    if at_pointer:
        # Wine learns of the move when the window under the pointer reads it.
        wait_for(lambda: s.probe.command("cursor") == ["%d %d" % pointer], 10, "Wine to see the pointer moved")
    s.post(hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONUP)
    menus = wait_for(lambda: visible_menus(s), 10, "the tray menu to open")
    expect(len(menus), 1, "one popup menu")
    if at_pointer:
        expect((menus[0].left, menus[0].top), pointer, "the tray menu opens at the pointer")
    return menus[0]


def click_menu_item(s, menu, from_bottom, rows=9):
    """Clicks the item `from_bottom` places above the menu's last one. `rows`:
    the menu's height in items, a separator being about half of one: the
    switches, the pause and the probe's item, Settings and Exit, two separators."""
    height = (menu.bottom - menu.top) / rows
    s.display.click(menu.left + (menu.right - menu.left) // 3, menu.bottom - height * (from_bottom + 0.5))


def is_visible(s):
    return s.main_window()[0].visible


@case("close-and-tray")
def close_and_tray(s):
    program = s.launch(setting_text(dvorak=1))
    window = s.main_window()[0]
    hwnd = window.hwnd
    box = [line for line in s.probe.command("hitbox %x %d %d %d %d %d" % (
        hwnd, HTCLOSE, window.left, window.top, window.right, window.origin_y)) if line.startswith("box ")]
    expect_true(box, "the settings window's caption has no close button")
    left, top, right, bottom = (int(n) for n in box[0].split()[1:])
    s.display.click((left + right) // 2, (top + bottom) // 2)
    wait_for(lambda: not is_visible(s), 10, "the close button to hide the window")
    expect(program.poll(), None, "the program lives on after its window is closed")
    s.focus_probe()
    v = s.keys("j")
    expect(v.chars(), "h", "keys are remapped while the window is hidden", v)

    # Tray callbacks that must change nothing; the menu that a right button
    # up opens afterwards proves that they were all handled.
    for wparam, lparam in ((TRAY_ICON_ID + 1, WM_LBUTTONUP), (TRAY_ICON_ID - 1, WM_RBUTTONUP),
                           (TRAY_ICON_ID, WM_LBUTTONDOWN), (TRAY_ICON_ID, WM_LBUTTONDBLCLK),
                           (TRAY_ICON_ID, WM_MOUSEMOVE), (TRAY_ICON_ID, WM_RBUTTONDOWN),
                           (TRAY_ICON_ID, WM_RBUTTONDBLCLK), (TRAY_ICON_ID | 0x10000, WM_LBUTTONUP)):
        s.post(hwnd, WM_TRAYICON, wparam, lparam)
    menu = open_tray_menu(s, hwnd)
    expect(is_visible(s), 0, "tray callbacks other than the icon's button-ups change nothing")
    s.display.screenshot(os.path.join(s.out, "tray-menu.png"),
                         "%dx%d+%d+%d" % (menu.right - menu.left, menu.bottom - menu.top, menu.left, menu.top))
    click_menu_item(s, menu, 1)
    wait_for(lambda: is_visible(s), 10, "the menu's settings item to show the window")
    expect_focus(s, 1, "the first box once the tray menu shows the window")
    wait_for(lambda: not visible_menus(s), 10, "the menu to close")

    s.post(hwnd, WM_CLOSE)
    wait_for(lambda: not is_visible(s), 10, "WM_CLOSE to hide the window")
    s.post(hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP)
    wait_for(lambda: is_visible(s), 10, "a left click on the tray icon to show the window")
    expect_focus(s, 1, "the first box once the tray icon shows the window")
    # The menu's command, with a notification code in the high word.
    s.post(hwnd, WM_CLOSE)
    wait_for(lambda: not is_visible(s), 10, "WM_CLOSE to hide the window")
    s.post(hwnd, WM_COMMAND, 0x10000 | IDM_SETTINGS)
    wait_for(lambda: is_visible(s), 10, "the settings command to show the window")

    menu = open_tray_menu(s, hwnd)
    click_menu_item(s, menu, 0)
    expect(wait_exit(program, "the tray menu's last item"), 0, "exit code after the tray menu's exit item")
    expect(s.main_windows(), [], "no window is left")
    s.focus_probe()
    v = s.keys("j")
    expect((v.chain(), v.chars()), (passed(74), "j"), "no key is remapped after the exit", v)


@case("pause")
def pause(s):
    """The menu's pause lets every key pass, the watchdog included; choosing it again remaps again."""
    s.launch(setting_text(swap=1))
    hwnd = s.main_window()[0].hwnd
    open_tray_menu(s, hwnd)
    s.send("p")
    wait_for(lambda: not visible_menus(s), 10, "P to choose the pause")
    s.focus_probe()
    for when in ("paused", "paused, a while after the watchdog would have re-armed"):
        v = s.keys("lalt+ c lalt-")
        expect((v.injected(), [w for w in v.chain() if not w.endswith(" pass")], "syschar 99" in v.app()),
               ([], [], True), when + ": every key passes untouched", v)
        time.sleep(1)
    s.post(hwnd, WM_COMMAND, IDM_PAUSE)
    time.sleep(0.5)  # the posted command, then the new hook, now in front of the probe's
    mark = s.mark()
    s.send("lalt+ c lalt-")
    v = s.settle(mark, repeats=True)
    expect_true("char 3" in v.app(), "resumed: Alt is Ctrl again", v)


@case("exclude")
def exclude(s):
    """Keys pass untouched while an application on the hand-written list is in
    front; the tray menu takes it off the list, which is written then."""
    path = os.path.join(s.folder, "exclude")
    # A NUL ends a name: kept in one, it would cut the next save short.
    text = b"\xef\xbb\xbf# left alone\r\nmstsc.exe\r\n\r\n  KEY_PROBE.EXE\r\nnotepad.exe\x00\r\n"
    with open(path, "wb") as out:
        out.write(text)
    try:
        s.launch(setting_text(swap=1))
        s.screenshot("settings-window-exclude.png")
        v = s.keys("lalt+ c lalt-")
        expect((v.injected(), "syschar 99" in v.app()), ([], True), "the probe left alone: keys pass untouched", v)
        menu = open_tray_menu(s, s.main_window()[0].hwnd)
        s.display.screenshot(os.path.join(s.out, "tray-menu-exclude.png"),
                             "%dx%d+%d+%d" % (menu.right - menu.left, menu.bottom - menu.top, menu.left, menu.top))
        expect(open(path, "rb").read(), text, "the hand-written list is left as it is until it changes")
        s.send("e")
        wait_for(lambda: open(path, "rb").read() == b"mstsc.exe\nnotepad.exe\n", 10, "E to take the probe off the list")
        s.focus_probe()
        v = s.keys("lalt+ c lalt-")
        expect_true("char 3" in v.app(), "off the list: Alt is Ctrl again", v)
        s.post(s.main_window()[0].hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP)
        expect_focus(s, 1, "the first box once the tray icon shows the window")
        s.send("tab tab tab tab tab")
        expect_focus(s, "ListBox", "the list of applications after the startup box")
        s.send("delete")
        wait_for(lambda: open(path, "rb").read() == b"notepad.exe\n", 10, "Delete on the list to remove a name")
        s.send("tab")
        expect_focus(s, 9, "the Remove button after the list")
        s.send("space")
        wait_for(lambda: open(path, "rb").read() == b"", 10, "the Remove button to remove the last name")
        expect_focus(s, "ListBox", "the list, before the Remove button is disabled")
        s.send("tab")
        expect_focus(s, 5, "the keyboard still moves the focus")
    finally:
        os.remove(path)


@case("tray-command-keys")
def tray_command_keys(s):
    """After a tray command that does not show the hidden window (the menu
    needs that window in front), Space, R and Esc reach the application
    that was in front: none presses a box, the Remove button or closes."""
    path = os.path.join(s.folder, "exclude")
    with open(path, "wb") as out:
        out.write(b"mstsc.exe\n")
    try:
        program = s.launch(setting_text(), ["/hide"])
        hwnd = s.main_window()[0].hwnd
        os.utime(s.setting_path, ns=(10**9, 10**9))
        # Clicked: the keys go where the X focus is, which a hidden window never has.
        for from_bottom, what in ((3.5, "the pause"), (3.5, "the resume"), (8, "the CapsLock switch's item")):
            click_menu_item(s, open_tray_menu(s, hwnd, at_pointer=False), from_bottom)
            wait_for(lambda: not visible_menus(s), 10, "a click to choose " + what)
            wait_for(lambda: (lambda f: f is not None and f.hwnd == s.probe.hwnd)(s.probe.foreground()), 10,
                     "the application in front before the menu to be in front again after " + what)
            v = s.keys("space r escape")
            expect((v.chars(), "down 27" in v.app()), (" r\x1b", True),
                   "after %s the keys reach the application" % what, v)
        expect((s.read_setting(), is_visible(s), program.poll(), open(path, "rb").read()),
               (setting_text(caps=1), 0, None, b"mstsc.exe\n"),
               "only the menu's switch changed; the window stays hidden, the list as it was")
    finally:
        os.remove(path)


@case("left-alone-at-start")
def left_alone_at_start(s):
    """An application left alone already in front when the program starts
    never has the switches applied: a lit CapsLock stays lit until the
    application leaves the list, through the menu's item that names it."""
    path = os.path.join(s.folder, "exclude")
    with open(path, "wb") as out:
        out.write("\ufeffkey_probe.exe\r\n".encode("utf-16-le"))  # Notepad's "Unicode"
    s.write_setting(setting_text(caps=1))
    s.start_probe()
    s.focus_probe()

    def own_caps(r):
        return isinstance(r, Hook) and r.vk == VK_CAPITAL and r.extra == 0 and is_injected(r)

    mark = s.mark()
    s.inject((VK_CAPITAL, 1), (VK_CAPITAL, 0))
    s.wait_record(mark, lambda r: isinstance(r, Hook) and r.vk == VK_CAPITAL and r.extra == PROBE_TAG
                  and not is_down(r), 10, "the probe's CapsLock")
    s.display.set_caps_lock(True)
    try:
        mark = s.mark()
        s.start_program(["/hide"])
        wait_for(lambda: s.main_windows(), 20, "the program's window")
        menu = open_tray_menu(s, s.main_window()[0].hwnd, at_pointer=False)
        expect([r for r in s.probe.since(mark) if own_caps(r)], [],
               "the lit CapsLock is left alone while the application left alone is in front")
        click_menu_item(s, menu, 2.5)
        wait_for(lambda: open(path, "rb").read() == b"", 10, "the menu's item naming the probe to take it off the list")
        s.wait_record(mark, lambda r: own_caps(r) and not is_down(r), 10,
                      "the lock switched off once the probe is off the list")
    finally:
        s.display.set_caps_lock(False)
        os.remove(path)


def expect_focus(s, wanted, what):
    """`wanted`: the id of the button with the program's keyboard focus, or its class."""
    def focus():
        lines = s.probe.command("focus-of %x" % s.main_window()[0].hwnd)
        return lines and (lambda w: w.id if w.cls == "Button" else w.cls)(parse_window(lines[0]))
    wait_for(lambda: focus() == wanted, 10, "the focus on %r: %s" % (wanted, what))


@case("keyboard")
def keyboard(s):
    program = s.launch(setting_text(), in_front=True)
    expect_focus(s, 1, "the first box at start-up")
    os.utime(s.setting_path, ns=(10**9, 10**9))
    # Tab goes round; Enter on box 1 (IDOK's id) and on Exit does nothing.
    for keys, wanted in (("return tab", 2), ("tab", 3), ("tab", 0), ("tab", 4), ("tab", "ListBox"), ("tab", 5),
                         ("return tab", "SysLink"),
                         ("tab", 1), ("lshift+ tab lshift-", "SysLink"), ("tab", 1)):
        s.send(keys)
        expect_focus(s, wanted, "after " + keys)
    expect((s.read_setting(), os.stat(s.setting_path).st_mtime_ns, program.poll()), (setting_text(), 10**9, None),
           "Enter leaves the setting file alone and the program running")
    s.send("space")
    wait_for(lambda: s.read_setting() == setting_text(caps=1), 10, "Space to switch the first box on")
    os.utime(s.setting_path, ns=(10**9, 10**9))
    s.send("tab escape")  # on box 2, whose id is IDCANCEL's
    wait_for(lambda: not is_visible(s), 10, "Esc to hide the window")
    expect((s.read_setting(), os.stat(s.setting_path).st_mtime_ns), (setting_text(caps=1), 10**9),
           "Esc leaves the setting file alone")
    check_box_states(s, {0: 0, 1: 1, 2: 0, 3: 0, 4: 0})
    s.post(s.main_window()[0].hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP)
    expect_focus(s, 2, "shown again, the window returns to the box that had the focus")


def release_then_type_c(s, mark, key="caps", modifier=VK_LCONTROL):
    """Releases a held key, types C, and expects the modifier pressed for it
    (CapsLock's Ctrl by default) to be pressed and released once by then."""
    s.send(key + "- c")
    v = s.settle(mark)
    app_vk = VK_CONTROL if modifier in (VK_LCONTROL, VK_RCONTROL) else VK_MENU
    try:
        expect((v.app().count("down %d" % app_vk), v.app().count("up %d" % app_vk), v.chars()), (1, 1, "c"),
               "the modifier pressed for %s is released once by the time it is; C afterwards is a plain c" % key, v)
    finally:
        # Whatever stays down here must not leak into the next case.
        s.inject((modifier, 0))


def hold(s, mark, key, vk):
    """Presses a key and waits until the hooks have judged it: a command
    posted before would overtake it."""
    s.send(key + "+")
    s.wait_record(mark, lambda r: isinstance(r, Hook) and r.vk == vk and not is_injected(r), 10, key + " to be judged")


@case("exit-while-held")
def exit_while_held(s):
    program = s.launch(setting_text(caps=1))
    hwnd = s.main_window()[0].hwnd
    mark = s.mark()
    hold(s, mark, "caps", VK_CAPITAL)
    # The tray menu's exit item, chosen while CapsLock is held.
    s.post(hwnd, WM_COMMAND, IDM_EXIT)
    expect(wait_exit(program, "the exit command"), 0, "exit code")
    release_then_type_c(s, mark)


def switch_off(s, ident):
    """The box's click, without taking the keyboard from the probe's window."""
    box = s.control(ident)
    s.post(box.hwnd, BM_SETCHECK, 0)
    s.post(s.main_window()[0].hwnd, WM_COMMAND, box.id)
    wait_for(lambda: s.read_setting() == setting_text(), 10, "switch %d to be turned off" % ident)


@case("option-off-while-held")
def option_off_while_held(s):
    s.launch(setting_text(caps=1))
    mark = s.mark()
    hold(s, mark, "caps", VK_CAPITAL)
    switch_off(s, 1)
    release_then_type_c(s, mark)

    s.end_case()
    s.launch(setting_text(swap=1))
    mark = s.mark()
    hold(s, mark, "lctrl", VK_LCONTROL)
    switch_off(s, 0)
    release_then_type_c(s, mark, "lctrl", VK_LMENU)


WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK = 0x218, 0x12, 0x2B1, 0x8


@case("hook-rearmed")
def hook_rearmed(s):
    """After a resume, an unlock, or a key that raw input saw and the hook did
    not, the hook is installed anew, in front of every other: each key is
    remapped once, and after the exit not at all."""
    program = s.launch(setting_text(dvorak=1))
    hwnd = s.main_window()[0].hwnd
    for message, wparam in ((WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC), (WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK),
                            ("silent hook", 0)):
        if message == "silent hook":
            # The probe's hook, in front, keeps J from the program's hook. A
            # moment after the last key the program's hook saw: a raw key
            # stamped within the watchdog's slack of it counts as seen.
            s.probe.command("drop 2")
            time.sleep(0.3)
            s.send("j")
            time.sleep(1)
        else:
            s.post(hwnd, message, wparam)
            # A key already on its way through the chain while the hook is
            # swapped may pass the old one by; this is about the keys after.
            time.sleep(0.2)
        mark = s.mark()
        s.send("j")
        v = s.settle(mark, repeats=True)
        expect(v.chain(), ["inj down 72 pass", "inj up 72 pass"], "a new hook in front of the probe's after %s" % message, v)
        expect(s.probe.command("rehook"), ["in front"], "the probe hooks in front again")
        v = s.keys("j")
        expect((v.chain(), v.chars()), (replaced(74, 72), "h"), "J is remapped exactly once after %s" % message, v)
    s.post(hwnd, WM_COMMAND, IDM_EXIT)
    expect(wait_exit(program, "the exit command"), 0, "exit code")
    s.focus_probe()
    v = s.keys("j")
    expect((v.chain(), v.chars()), (passed(74), "j"), "no key is remapped after the exit", v)


@case("unlock-clears-lock")
def unlock_clears_lock(s):
    """With CapsLock as Ctrl, a lock switched on where the hook was blind
    (typed on the sign-in screen, say) is switched off at the unlock: one
    CapsLock press and release of the program's own."""
    s.launch(setting_text(caps=1))
    hwnd = s.main_window()[0].hwnd

    def caps_up(extra):
        return lambda r: isinstance(r, Hook) and r.vk == VK_CAPITAL and not is_down(r) and r.extra == extra

    # Injected by another program, the press passes and switches Wine's lock
    # on; X's follows by hand, or the next physical key would switch it back.
    mark = s.mark()
    s.inject((VK_CAPITAL, 1), (VK_CAPITAL, 0))
    s.wait_record(mark, caps_up(PROBE_TAG), 10, "the probe's CapsLock")
    s.display.set_caps_lock(True)
    mark = s.mark()
    s.post(hwnd, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK)
    try:
        s.wait_record(mark, caps_up(0), 10, "a CapsLock of the program's own after the unlock")
    finally:
        s.display.set_caps_lock(False)
    v = s.settle(mark)
    caps = [c for c in v.chain() if c.split()[2] == str(VK_CAPITAL)]
    expect(caps, ["inj down %d pass" % VK_CAPITAL, "inj up %d pass" % VK_CAPITAL],
           "the unlock switches the lock off with one CapsLock press and release", v)


@case("two-launches")
def two_launches(s):
    """Two launches at once leave one instance, with one hook."""
    s.write_setting(setting_text(dvorak=1))
    pair = [s.start_program(), s.start_program()]
    ended = wait_for(lambda: [p.returncode for p in pair if p.poll() is not None], 30, "one of two launches to end")
    s.start_probe(after="Lumbrix")
    wait_for(lambda: is_visible(s), 20, "the settings window to be shown")
    expect((ended, len(s.main_windows())), ([0], 1), "exit codes of the ended launches, and windows left")
    s.focus_probe()
    v = s.keys("j")
    expect(v.chain(), replaced(74, 72), "one engine: each key replaced exactly once", v)


@case("takeover")
def takeover(s):
    """The restart as administrator's new instance (/takeover) ends the
    running one and starts its engine once the old hook is gone, answering
    its window's messages while it waits: each key is replaced exactly once."""
    first = s.launch(setting_text(dvorak=1))
    second = s.start_program(["/takeover"])
    expect(wait_exit(first, "the takeover"), 0, "the old instance's exit code")
    wait_for(lambda: len(s.main_windows()) == 1, 20, "the new instance's window")
    expect((second.poll(), is_visible(s)), (None, 0), "the new instance runs, hidden")
    s.focus_probe()
    views = []

    def typed_h():
        # The new hook lies in front of the probe's: the probe sees what it passes.
        mark = s.mark()
        s.send("j")
        views.append(s.settle(mark, repeats=True))
        return views[-1].chars() == "h"
    wait_for(typed_h, 10, "the new instance's engine to start", interval=0.1)
    expect(views[-1].injected(), ["inj down 72 pass", "inj up 72 pass"], "one engine: J replaced exactly once",
           views[-1])


@case("hide-and-second-launch")
def hide_and_second_launch(s):
    first = s.launch(setting_text(dvorak=1), ["/hide"])
    expect(is_visible(s), 0, "/hide starts the window hidden")
    v = s.keys("j")
    expect(v.chain(), replaced(74, 72), "the hook runs while the window is hidden", v)

    # The startup shortcut's /hide at logon finds the copy started before it.
    second = s.start_program(["/hide"])
    expect(wait_exit(second, "a second launch with /hide"), 0, "exit code of a second launch with /hide")
    time.sleep(1)
    expect((is_visible(s), len(s.main_windows())), (0, 1), "a second launch with /hide leaves the window hidden")
    for args in ([], []):
        second = s.start_program(args)
        expect(wait_exit(second, "a second launch %r" % args), 0, "exit code of a second launch %r" % args)
        wait_for(lambda: is_visible(s), 10, "a second launch to show the first instance's window")
        expect_focus(s, 1, "the first box once a second launch shows the window")
        expect(len(s.main_windows()), 1, "one instance after a second launch")
        expect(first.poll(), None, "the first instance lives on")
        foreground = s.probe.foreground()
        expect(foreground and foreground.cls, "Lumbrix", "the first instance's window comes to the foreground")

    s.focus_probe()
    v = s.keys("j")
    expect(v.chain(), replaced(74, 72), "one engine: each key replaced exactly once", v)

    hwnd = s.main_window()[0].hwnd
    for how in ("a second launch", "the tray icon"):
        s.post(hwnd, WM_SYSCOMMAND, SC_MINIMIZE)
        wait_for(lambda: s.main_window()[0].style & WS_MINIMIZE, 10, "the window to be minimised")
        if how == "the tray icon":
            s.post(hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP)
        else:
            expect(wait_exit(s.start_program(), how), 0, "exit code of " + how)
        wait_for(lambda: not s.main_window()[0].style & WS_MINIMIZE, 10, how + " to restore the minimised window")
        expect_focus(s, 1, "the first box once %s restores the window" % how)


@case("hide-arguments")
def hide_arguments(s):
    for args, hidden in ((["/hidex"], True), (["/HIDE"], False), (["/hide", "x"], False), (["-hide"], False)):
        s.launch(setting_text(), args)
        expect(is_visible(s), 0 if hidden else 1, "window visibility when started with %r" % args)
        s.end_case()


@case("exit-button")
def exit_button(s):
    program = s.launch(setting_text(caps=1, dvorak=1))
    v = s.keys("j")
    expect(v.chars(), "h", "Dvorak before the exit", v)
    s.click_control(s.control(5))
    expect(wait_exit(program, "the Exit button"), 0, "exit code after the Exit button")
    s.focus_probe()
    v = s.keys("j lalt caps+ c caps- caps")
    expect(v.injected(), [], "nothing is injected after the exit", v)
    expect([w for w in v.chain() if not w.endswith(" pass")], [], "every key passes after the exit", v)
    expect(v.chars(), "jC", "keys reach the application unchanged after the exit", v)


def hold_repeating(s, name, vk, repeats):
    """Holds a key with auto-repeat on until the hook has seen `repeats`
    presses, then lets it go."""
    def presses(records):
        return sum(1 for h in records if isinstance(h, Hook) and h.vk == vk and is_down(h) and not is_injected(h))

    mark = s.mark()
    s.display.set_autorepeat(True)
    try:
        s.send(name + "+")
        wait_for(lambda: presses(s.probe.since(mark)) >= repeats, 10, "%s to repeat" % name)
        s.send(name + "-")
    finally:
        s.display.set_autorepeat(False)
    v = s.settle(mark, repeats=True)
    return v, presses(v.hooks())


@case("auto-repeat")
def auto_repeat(s):
    """A held key repeats: one replacement per press, and one release."""
    s.launch(setting_text(caps=1, lang=1))
    v, presses = hold_repeating(s, "caps", VK_CAPITAL, 4)
    expect(v.chain(), (["phys down 20 drop"] + masked_ctrl_press()) * presses + ["phys up 20 drop", "inj up 162 pass"],
           "CapsLock held: each repeat presses Ctrl again", v)
    expect(v.app(), ["down 17"] * presses + ["up 17"], "CapsLock held, in the application", v)
    # Repeats start after the hold time: the first press turns into Alt at
    # the hold time, every repeat into one more Alt press.
    v, presses = hold_repeating(s, "lalt", VK_LMENU, 4)
    expect(v.chain(), ["phys down 164 drop", "inj down 164 pass"] + ["phys down 164 drop", "inj down 164 pass"] *
           (presses - 1) + ["phys up 164 drop"] + MENU_MASK + ["inj up 164 pass"], "left Alt held with Alt-tap on", v)
    expect(v.app(), ["down 18"] * presses + ["down 232", "up 232", "up 18"], "left Alt held, in the application", v)


@case("load")
def load(s):
    """Hundreds of fast keystrokes with Dvorak and CapsLock on: each arrives
    once, in order, translated."""
    s.launch(setting_text(caps=1, dvorak=1))
    rng = random.Random(5)
    keys = "".join(QWERTY_ROWS[1:]).replace("\\", "") + "1234567890 "
    tokens, expected_vks, expected_chars = [], [], []
    strokes = chords = shifted = 0
    while strokes < 420:
        physical = rng.choice(keys)
        dvorak = TO_DVORAK[physical]
        if strokes % 17 == 16 and dvorak.isalpha():
            tokens += ["caps+", key_name(physical), "caps-"]
            expected_chars.append(chr(ord(dvorak.upper()) - 64))
            strokes += 2
            chords += 1
        elif strokes % 11 == 10 and dvorak.isalpha():
            tokens += ["lshift+", key_name(physical), "lshift-"]
            expected_chars.append(dvorak.upper())
            strokes += 2
            shifted += 1
        else:
            tokens.append(key_name(physical))
            expected_chars.append(dvorak)
            strokes += 1
        expected_vks.append(vk_of(dvorak))
    v = s.keys(" ".join(tokens), timeout=120)
    downs = [int(a.split()[1]) for a in v.app() if a.startswith("down ")]
    ups = [int(a.split()[1]) for a in v.app() if a.startswith("up ")]
    expect([k for k in downs if k not in (VK_SHIFT, VK_CONTROL)], expected_vks, "keys in the application", v)
    expect(sorted(k for k in ups if k not in (VK_SHIFT, VK_CONTROL)), sorted(expected_vks),
           "one release per key in the application", v)
    expect(v.chars(), "".join(expected_chars), "characters in the application", v)
    expect([(downs.count(k), ups.count(k)) for k in (VK_CONTROL, VK_SHIFT)], [(chords, chords), (shifted, shifted)],
           "one Ctrl per CapsLock chord and one Shift per shifted key, each released", v)
    first, last = v.records[0].qpc, v.records[-1].qpc
    print("    %d keystrokes (%d CapsLock chords, %d shifted) in %.0f ms: %d hook calls, %d messages"
          % (strokes, chords, shifted, v.ms(last - first), len(v.hooks()), len(v.messages())))
    # Past the watchdog's check: a hook installed anew would lie in front of the probe's.
    time.sleep(1)
    v = s.keys("j")
    expect(v.chain(), replaced(74, 72), "the program's hook stays behind the probe's: no re-arm while typing", v)


@case("display-scale")  # the last case: it changes the whole prefix's display scale
def display_scale(s):
    for dpi in (144, 192):
        s.wine.set_dpi(dpi)
        s.launch(setting_text(caps=1, dvorak=1), in_front=True)
        check_window_layout(s, dpi)
        s.screenshot("settings-window-%d.png" % dpi)
        menu = open_tray_menu(s, s.main_window()[0].hwnd)
        s.display.screenshot(os.path.join(s.out, "tray-menu-%d.png" % dpi),
                             "%dx%d+%d+%d" % (menu.right - menu.left, menu.bottom - menu.top, menu.left, menu.top))
        s.send("escape")
        wait_for(lambda: not visible_menus(s), 10, "Esc to close the tray menu")
        s.end_case()
    s.wine.set_dpi(96)


# ---- running -------------------------------------------------------------------------

class RunLimit(BaseException):
    pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lumbrix", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--only", nargs="*")
    options = parser.parse_args()
    os.makedirs(options.out, exist_ok=True)

    def over_time(signum, frame):
        raise RunLimit()
    signal.signal(signal.SIGALRM, over_time)
    signal.signal(signal.SIGTERM, over_time)
    signal.alarm(RUN_LIMIT_S)

    started = time.monotonic()
    failures = []
    session = Session(options.lumbrix, options.probe, options.version, options.out)
    try:
        session.start()
        print("display %s, prefix %s, ready in %.1f s" % (session.display.name, session.wine.prefix,
                                                          time.monotonic() - started), flush=True)
        for name, function in CASES:
            if options.only and name not in options.only:
                continue
            case_start = time.monotonic()
            session.case_logs = []
            try:
                function(session)
                session.end_case()
                print("PASS %-24s %5.1f s" % (name, time.monotonic() - case_start), flush=True)
            except Exception as failure:
                text = str(failure) if isinstance(failure, Failure) else traceback.format_exc()
                try:
                    session.end_case()
                except Exception:
                    pass
                failures.append(name)
                print("FAIL %-24s %5.1f s\n%s\n  probe logs and Wine's output kept in %s"
                      % (name, time.monotonic() - case_start, text, session.keep_logs(name)), flush=True)
    except RunLimit:
        failures.append("(run stopped after %d s)" % RUN_LIMIT_S)
    except Failure as failure:
        failures.append("(set-up: %s)" % failure)
    finally:
        signal.alarm(0)
        session.close()
    print("%s in %.1f s" % ("FAILED: " + ", ".join(failures) if failures else "all passed",
                            time.monotonic() - started), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
