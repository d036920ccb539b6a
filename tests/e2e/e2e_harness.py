"""Plumbing of the end-to-end suite.

A private Xvfb display driven through XTEST (physical keys by evdev keycode,
mouse clicks), a private Wine prefix in which lumbrix.exe and the key probe
run, and the probe's log and command folder, read and written from here.
Python standard library only: Xlib and XTEST are reached through ctypes.
"""

import collections
import ctypes
import os
import shutil
import subprocess
import tempfile
import time


class Failure(Exception):
    """A check of the suite failed; the text says what and what was seen."""


def wait_for(predicate, timeout, what, interval=0.01):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# ---- X display ---------------------------------------------------------------

# The keyboard of the display: the standard evdev keycodes and US symbols, but
# CapsLock produces its keysym without locking anything in X. Wine compares its
# own CapsLock toggle with X's Lock state at every key press and sends fake
# CapsLock events when they differ; a CapsLock press that the program under
# test swallows leaves Wine's toggle alone, so X must leave its own alone too.
# Where a CapsLock press does reach Wine, the runner sets X's Lock to match
# (see Session.sync_caps_lock). Alt and Ctrl carry no action either, so that
# X repeats them while held, as Windows repeats every key of a PC keyboard;
# Wine keeps its own modifier state from the key events and needs none of X's.
KEYMAP = """xkb_keymap {
    xkb_keycodes { include "evdev+aliases(qwerty)" };
    xkb_types { include "complete" };
    xkb_compat { include "complete" };
    xkb_symbols { include "pc+us+inet(evdev)"
        replace key <CAPS> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Caps_Lock ],
                             actions[Group1] = [ NoAction() ] };
        replace key <LALT> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Alt_L ],
                             actions[Group1] = [ NoAction() ] };
        replace key <RALT> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Alt_R ],
                             actions[Group1] = [ NoAction() ] };
        replace key <LCTL> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Control_L ],
                             actions[Group1] = [ NoAction() ] };
        replace key <RCTL> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Control_R ],
                             actions[Group1] = [ NoAction() ] };
    };
    xkb_geometry { include "pc(pc105)" };
};
"""

LOCK_MASK = 2
XKB_USE_CORE_KBD = 0x100
REVERT_TO_PARENT = 2
KB_KEY, KB_AUTO_REPEAT_MODE, AUTO_REPEAT_MODE_ON = 1 << 6, 1 << 7, 1

# X's per-key repeat leaves lock and modifier keys out; a PC keyboard under
# Windows repeats them too: CapsLock, left and right Alt and Ctrl.
REPEATING_MODIFIERS = (66, 64, 108, 37, 105)

# Where, on drive C:, the prefix copies a page that the shell is asked to open.
OPENED_PAGE = "opened-page.html"


class _XKeyboardControl(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in (
        "key_click_percent", "bell_percent", "bell_pitch", "bell_duration", "led", "led_mode", "key",
        "auto_repeat_mode")]


def _load_xlib():
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XAutoRepeatOff.argtypes = [ctypes.c_void_p]
    x11.XAutoRepeatOn.argtypes = [ctypes.c_void_p]
    x11.XChangeKeyboardControl.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_XKeyboardControl)]
    x11.XkbSetAutoRepeatRate.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]
    x11.XkbLockModifiers.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]
    x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
    x11.XGetInputFocus.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int)]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_ulong]
    return x11, xtst


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


class Display:
    """An Xvfb of our own on the first free number of `numbers`."""

    def __init__(self, numbers, workdir):
        self.numbers = numbers
        self.workdir = workdir
        self.process = None
        self.number = None
        self.handle = None
        self.x11, self.xtst = _load_xlib()

    @property
    def name(self):
        return ":%d" % self.number

    def start(self):
        for number in self.numbers:
            if self._taken(number):
                continue
            log = open(os.path.join(self.workdir, "xvfb-%d.log" % number), "wb")
            process = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            log.close()
            socket = "/tmp/.X11-unix/X%d" % number
            deadline = time.monotonic() + 15
            while process.poll() is None and not os.path.exists(socket) and time.monotonic() < deadline:
                time.sleep(0.02)
            # The display is ours only if our server holds its lock: another
            # run may have started one on the same number at the same moment.
            handle = None
            if process.poll() is None and self._lock_holder(number) == process.pid:
                handle = self.x11.XOpenDisplay((":%d" % number).encode())
            if handle:
                self.process, self.number, self.handle = process, number, handle
                self._prepare()
                return
            if process.poll() is None:
                process.kill()
            process.wait()
        raise Failure("no free X display among %s" % ", ".join(":%d" % n for n in self.numbers))

    @staticmethod
    def _lock_holder(number):
        try:
            with open("/tmp/.X%d-lock" % number) as lock:
                return int(lock.read().strip())
        except (OSError, ValueError):
            return None

    def _taken(self, number):
        holder = self._lock_holder(number)
        return holder is not None and _pid_alive(holder)

    def _prepare(self):
        keymap = os.path.join(self.workdir, "keymap.xkb")
        with open(keymap, "w") as out:
            out.write(KEYMAP)
        subprocess.run(["xkbcomp", "-w", "0", keymap, self.name], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for keycode in REPEATING_MODIFIERS:
            control = _XKeyboardControl(key=keycode, auto_repeat_mode=AUTO_REPEAT_MODE_ON)
            self.x11.XChangeKeyboardControl(self.handle, KB_KEY | KB_AUTO_REPEAT_MODE, ctypes.byref(control))
        # Held keys stay single events, except where a case asks for repeats:
        # they would make every hold a different stream.
        self.set_autorepeat(False)
        self.set_caps_lock(False)

    def set_autorepeat(self, on, delay_ms=800, interval_ms=100):
        if on:
            self.x11.XkbSetAutoRepeatRate(self.handle, XKB_USE_CORE_KBD, delay_ms, interval_ms)
            self.x11.XAutoRepeatOn(self.handle)
        else:
            self.x11.XAutoRepeatOff(self.handle)
        self.x11.XSync(self.handle, 0)

    def key(self, keycode, down):
        self.xtst.XTestFakeKeyEvent(self.handle, keycode, 1 if down else 0, 0)
        self.x11.XSync(self.handle, 0)

    def click(self, x, y, button=1):
        self.xtst.XTestFakeMotionEvent(self.handle, -1, int(x), int(y), 0)
        self.x11.XSync(self.handle, 0)
        self.xtst.XTestFakeButtonEvent(self.handle, button, 1, 0)
        self.x11.XSync(self.handle, 0)
        self.xtst.XTestFakeButtonEvent(self.handle, button, 0, 0)
        self.x11.XSync(self.handle, 0)

    def move(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.handle, -1, int(x), int(y), 0)
        self.x11.XSync(self.handle, 0)

    def focus(self, window):
        """Sets the X input focus. With no window manager it otherwise follows
        the pointer, and Wine routes a physical key to the window that X
        gave it to."""
        self.x11.XSetInputFocus(self.handle, window, REVERT_TO_PARENT, 0)
        self.x11.XSync(self.handle, 0)

    def focused(self):
        window, revert = ctypes.c_ulong(), ctypes.c_int()
        self.x11.XGetInputFocus(self.handle, ctypes.byref(window), ctypes.byref(revert))
        return window.value

    def set_caps_lock(self, on):
        self.x11.XkbLockModifiers(self.handle, XKB_USE_CORE_KBD, LOCK_MASK, LOCK_MASK if on else 0)
        self.x11.XSync(self.handle, 0)

    def screenshot(self, path, crop=None):
        command = ["import", "-display", self.name, "-window", "root"]
        if crop:
            command += ["-crop", crop, "+repage"]
        subprocess.run(command + [path], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        if self.handle:
            self.x11.XCloseDisplay(self.handle)
            self.handle = None
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# ---- Wine --------------------------------------------------------------------

def _find_program(*names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    for name in names:
        path = os.path.join("/usr/lib/wine", name)
        if os.path.exists(path):
            return path
    raise Failure("none of %s is installed" % ", ".join(names))


class Wine:
    """A fresh Wine prefix of our own on our display."""

    def __init__(self, display):
        self.prefix = tempfile.mkdtemp(prefix="e2e-wine-", dir="/tmp")
        self.wine = _find_program("wine", "wine64")
        self.wineserver = _find_program("wineserver", "wineserver64")
        env = {k: v for k, v in os.environ.items()
               if not (k.startswith("LC_") or k in ("LANGUAGE", "WINEPREFIX", "WINEARCH", "WINELOADER",
                                                     "WINESERVER", "DISPLAY", "WAYLAND_DISPLAY"))}
        # Wine's errors only, which the logs of a failed case keep.
        env.update(DISPLAY=display.name, WINEPREFIX=self.prefix, WINEDEBUG="+timestamp,+pid,fixme-all",
                   WINEDLLOVERRIDES="winemenubuilder.exe=d", LANG="ja_JP.UTF-8")
        self.env = env
        self.processes = []

    def boot(self):
        subprocess.run([self.wine, "wineboot", "-i"], env=self.env, timeout=240, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The caption buttons are drawn with Marlett, which this Wine build
        # does not find in its own data folder.
        marlett = "/usr/share/wine/fonts/marlett.ttf"
        if os.path.exists(marlett):
            os.makedirs(self.drive_c("windows", "Fonts"), exist_ok=True)
            shutil.copy(marlett, self.drive_c("windows", "Fonts"))
        # No window manager runs on the display: Wine draws the captions
        # itself instead of leaving them bare, and does not wait two seconds
        # at every hidden or destroyed window for one to answer.
        subprocess.run([self.wine, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/t", "REG_SZ", "/d", "N", "/f"], env=self.env, timeout=60, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Opening an HTML page copies it to OPENED_PAGE instead of starting a
        # browser: the cases see which file a link opened.
        for key, value in ((r"HKLM\Software\Classes\.html", "LumbrixE2E.page"),
                           (r"HKLM\Software\Classes\LumbrixE2E.page\shell\open\command",
                            r'C:\windows\system32\cmd.exe /c copy /y "%%1" C:\%s' % OPENED_PAGE)):
            subprocess.run([self.wine, "reg", "add", key, "/ve", "/d", value, "/f"], env=self.env, timeout=60,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Explorer, which keeps the tray, started with the boot: it must read
        # the setting afresh too.
        self.stop_server()

    def set_dpi(self, dpi):
        """The display scale of the prefix, read afresh by every process."""
        subprocess.run([self.wine, "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels",
                        "/t", "REG_DWORD", "/d", str(dpi), "/f"], env=self.env, timeout=60, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stop_server()

    def stop_server(self):
        """Ends our prefix's server and every process in the prefix; the
        next Wine command starts them afresh."""
        subprocess.run([self.wineserver, "-k"], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([self.wineserver, "-w"], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def windows_path(self, path):
        path = os.path.abspath(path)
        root = self.drive_c()
        if path == root or path.startswith(root + os.sep):
            return "C:\\" + os.path.relpath(path, root).replace("/", "\\").lstrip(".")
        return "Z:" + path.replace("/", "\\")

    def unix_path(self, path):
        if path[:3].upper() != "C:\\":
            raise Failure("not a path on drive C: %r" % path)
        return self.drive_c(*path[3:].split("\\"))

    def start(self, program, args=(), cwd=None, log=os.devnull, env=None):
        """Starts a Windows program; its own and Wine's output go to `log`."""
        with open(log, "ab") as out:
            process = subprocess.Popen([self.wine, program] + list(args), env=dict(self.env, **(env or {})), cwd=cwd,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def stop(self, process, timeout=5):
        """Ends a process started here: killed by its PID if still running."""
        if process.poll() is None:
            process.kill()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            pass

    def close(self):
        for process in self.processes:
            self.stop(process)
        # Only our prefix's server, and with it the helper processes that Wine
        # started in that prefix.
        self.stop_server()
        shutil.rmtree(self.prefix, ignore_errors=True)


# ---- the key probe -----------------------------------------------------------

LLKHF_INJECTED = 0x10
PROBE_TAG = 0x50524F42

Hook = collections.namedtuple("Hook", "qpc qpc_out message vk scan flags time extra next")
Mouse = collections.namedtuple("Mouse", "qpc qpc_out message x y flags time extra next")
Msg = collections.namedtuple("Msg", "qpc name wparam lparam extra")
Window = collections.namedtuple(
    "Window", "kind hwnd pid cls id style visible left top right bottom client_w client_h "
              "origin_x origin_y check text")


def is_down(record):
    if isinstance(record, Hook):
        return record.message in (0x100, 0x104)
    return record.name in ("keydown", "syskeydown")


def is_injected(hook):
    return bool(hook.flags & LLKHF_INJECTED)


class Probe:
    """key_probe.exe in a folder of its own: its log and its command box."""

    def __init__(self, wine, exe, folder, after=None):
        self.wine = wine
        self.folder = folder
        os.makedirs(os.path.join(folder, "cmd"), exist_ok=True)
        self.log_path = os.path.join(folder, "probe.log")
        self.command_dir = os.path.join(folder, "cmd")
        args = [wine.windows_path(self.log_path), wine.windows_path(self.command_dir)]
        if after:
            args += ["--after", after]
        self.hwnd = None
        self.xwindow = None
        started = time.monotonic()
        # A probe with no window after 10 s, hung or ended (Wine now and then
        # fails to set up a new process), is started once more.
        for attempt in (1, 2):
            self._records, self._offset, self.frequency, self.window = [], 0, None, None
            self.process = wine.start(wine.windows_path(exe), args, cwd=folder,
                                      log=os.path.join(folder, "wine-%d.log" % attempt))
            try:
                wait_for(lambda: self._poll() or self.window or self._died() or attempt == 2, 10, "its window")
            except Failure:
                pass
            if self.window or attempt == 2:
                break
            how = "it ended with code %s" % self.process.returncode if self._died() else "none after 10 s"
            wine.stop(self.process)
            if os.path.exists(self.log_path):
                os.replace(self.log_path, os.path.join(folder, "probe-1.log"))
            print("    the key probe made no window (%s): started once more" % how, flush=True)
        try:
            wait_for(lambda: self._poll() or self.hwnd or self._died(), 30, "the key probe to start")
        finally:
            if self.hwnd is None:  # its hook would stay in the cases' chain
                wine.stop(self.process)
        if self.hwnd is None:
            raise Failure("the key probe ended with code %s" % self.process.returncode)
        if time.monotonic() - started > 5:
            print("    the key probe took %.1f s to start" % (time.monotonic() - started), flush=True)

    def _died(self):
        return self.process.poll() is not None

    def _poll(self):
        """Reads whatever complete lines the probe has written since."""
        try:
            with open(self.log_path, "rb") as log:
                log.seek(self._offset)
                data = log.read()
        except FileNotFoundError:
            return
        end = data.rfind(b"\n") + 1
        self._offset += end
        for line in data[:end].decode("ascii").splitlines():
            words = line.split()
            if words[0] == "hook":
                self._records.append(Hook(int(words[1]), int(words[2]), int(words[3], 16), int(words[4]),
                                          int(words[5]), int(words[6], 16), int(words[7]), int(words[8], 16),
                                          int(words[9])))
            elif words[0] == "mouse":
                self._records.append(Mouse(int(words[1]), int(words[2]), int(words[3], 16), int(words[4]),
                                           int(words[5]), int(words[6], 16), int(words[7]), int(words[8], 16),
                                           int(words[9])))
            elif words[0] == "msg":
                self._records.append(Msg(int(words[1]), words[2], int(words[3]), int(words[4], 16),
                                         int(words[5], 16)))
            elif words[0] == "window":
                self.window = int(words[1], 16)
            elif words[0] == "freq":
                self.frequency = int(words[1])
            elif words[0] == "ready":
                self.hwnd = int(words[2], 16)
                self.xwindow = int(words[3], 16)
            elif words[0] == "lost":
                raise Failure("the key probe ran out of room and lost %s records" % words[1])

    def records(self):
        self._poll()
        return self._records

    def mark(self):
        return len(self.records())

    def since(self, mark):
        return self.records()[mark:]

    def command(self, text, timeout=15):
        """Runs one probe command; returns its answer lines."""
        reply = os.path.join(self.command_dir, "reply")
        if os.path.exists(reply):
            os.remove(reply)
        temp = os.path.join(self.command_dir, "cmd.tmp")
        with open(temp, "w") as out:
            out.write(text + "\n")
        os.rename(temp, os.path.join(self.command_dir, "cmd"))
        wait_for(lambda: os.path.exists(reply) or self._died(), timeout, "the key probe to answer %r" % text)
        if not os.path.exists(reply):
            raise Failure("the key probe ended while asked %r" % text)
        with open(reply, "rb") as answer:
            lines = answer.read().decode("utf-8").splitlines()
        os.remove(reply)
        if not lines or lines[0] != "ok" or lines[-1] != "end":
            raise Failure("the key probe answered %r with %r" % (text, lines))
        return lines[1:-1]

    def windows(self):
        """The program's windows (with children after their parent), popup
        menus and the probe, as the probe sees them now."""
        return [parse_window(line) for line in self.command("windows")]

    def foreground(self):
        lines = self.command("foreground")
        return parse_window(lines[0]) if lines else None

    def quit(self):
        if self.process.poll() is None:
            try:
                self.command("quit")
                self.process.wait(timeout=10)
            except (Failure, subprocess.TimeoutExpired):
                pass
        self.wine.stop(self.process)
        self._poll()


def parse_window(line):
    words = line.split(" ", 16)
    if len(words) == 16:
        words.append("")
    numbers = [int(w) for w in words[6:16]]
    return Window(words[0], int(words[1], 16), int(words[2]), words[3], int(words[4]), int(words[5], 16),
                  *numbers, words[16])
