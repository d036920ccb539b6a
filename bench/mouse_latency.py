#!/usr/bin/python3
"""Mouse-move latency under Wine with and without a mouse hook, side by side
in one run.

Physical mouse moves go in through XTEST; the end-to-end suite's key probe
hooks the mouse in front of every other mouse hook and stamps each physical
move, and its window, under the cursor, stamps the WM_MOUSEMOVE it receives.
Four setups take turns: no other mouse hook; the yardstick (a bare mouse hook
that passes everything); lumbrix.exe with the Alt-tap switch on and no tap
pending, which installs no mouse hook; lumbrix.exe while left Alt taps are
pending (Alt held, a few moves, a click, Alt let go), whose mouse hook passes
the moves. The click, which Lumbrix's hook swallows and sends again behind
the Alt, shows that tap's moves passed that hook: the moves of a tap whose
click passed untouched are not counted.

Prints, for each setup, the median latency and the median time that the
mouse hooks behind the probe's took per move, then the ratios.

Usage: mouse_latency.py --lumbrix EXE --probe EXE --yardstick EXE [--moves N]
"""

import argparse
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from e2e_harness import Failure, Mouse, Msg  # noqa: E402
from run_e2e import KEYCODES, Session, setting_text  # noqa: E402

WM_MOUSEMOVE, WM_LBUTTONDOWN = 0x200, 0x201
LLMHF_INJECTED = 1
ROUNDS = 4
GAP_S = 0.03
# Moves per Alt tap, an even number: the click comes where the moves began.
# With the gaps around them the click decides the tap well inside the 500 ms
# hold time.
MOVES_PER_TAP = 4


class Pointer:
    """Moves the X pointer back and forth inside the probe's window."""

    def __init__(self, session):
        probe = [w for w in session.windows() if w.kind == "top" and w.cls == "LumbrixKeyProbe"][0]
        self.session = session
        self.x, self.y = (probe.left + probe.right) // 2, (probe.top + probe.bottom) // 2
        self.step = 0
        session.display.move(self.x, self.y)
        time.sleep(0.2)

    def move(self):
        self.step += 1
        self.session.display.move(self.x + 4 * (self.step % 2), self.y)
        time.sleep(GAP_S)


def physical(record, message):
    return isinstance(record, Mouse) and record.message == message and not record.flags & LLMHF_INJECTED


def latencies(records, frequency):
    """For each physical move the probe's hook saw, the milliseconds until the
    window's next WM_MOUSEMOVE and those spent in the hooks behind the
    probe's; and the number of clicks that a hook behind the probe's
    swallowed. With taps, only the moves before such a click count."""
    ms = 1000.0 / frequency
    result, behind, tap_result, tap_behind = [], [], [], []
    swallowed = 0
    pending = None
    for record in records:
        if physical(record, WM_MOUSEMOVE):
            pending = record
        elif isinstance(record, Msg) and record.name == "mousemove" and pending:
            tap_result.append((record.qpc - pending.qpc) * ms)
            tap_behind.append((pending.qpc_out - pending.qpc) * ms)
            pending = None
        elif physical(record, WM_LBUTTONDOWN):
            if record.next:
                result += tap_result
                behind += tap_behind
                swallowed += 1
            tap_result, tap_behind = [], []
    return result + tap_result, behind + tap_behind, swallowed


def measure(session, count, taps=False):
    """Moves the mouse `count` times in the probe's window, in Alt taps if
    asked; ends the case and returns the probe's latencies."""
    if session.probe.command("mouse") != ["hooked"]:
        raise Failure("the key probe could not hook the mouse")
    pointer = Pointer(session)
    mark = session.probe.mark()
    if taps:
        for _ in range((count + MOVES_PER_TAP - 1) // MOVES_PER_TAP):
            session.key(KEYCODES["lalt"], True)
            time.sleep(GAP_S)
            for _ in range(MOVES_PER_TAP):
                pointer.move()
            session.display.click(pointer.x, pointer.y)
            time.sleep(GAP_S)
            session.key(KEYCODES["lalt"], False)
            time.sleep(0.1)
    else:
        for _ in range(count):
            pointer.move()
    time.sleep(0.5)
    records = session.probe.since(mark)
    frequency = session.probe.frequency
    session.end_case()
    return latencies(records, frequency)


def measure_none(session, count):
    session.start_probe()
    session.focus_probe()
    return measure(session, count)


def measure_yardstick(session, yardstick, count):
    program = session.wine.start(session.wine.windows_path(yardstick), ["mouse"])
    session.start_probe(after="LumbrixYardstick")
    session.focus_probe()
    result = measure(session, count)
    session.wine.stop(program)
    return result


def measure_lumbrix(session, count, taps):
    program = session.launch(setting_text(lang=1), ["/hide"])
    result = measure(session, count, taps)
    session.wine.stop(program)
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lumbrix", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--yardstick", required=True)
    parser.add_argument("--moves", type=int, default=200, help="mouse moves per setup, over all rounds")
    options = parser.parse_args()
    yardstick = os.path.abspath(options.yardstick)

    # No window text is checked here: the version goes unused.
    session = Session(options.lumbrix, options.probe, None, "/tmp")
    names = ("no hook", "bare hook", "lumbrix, no tap", "lumbrix, tap pending")
    results = {name: ([], []) for name in names}
    swallowed = 0
    per_round = (options.moves + ROUNDS - 1) // ROUNDS
    try:
        session.start()
        staged = session.wine.drive_c("yardstick_hook.exe")
        shutil.copy(yardstick, staged)
        for _ in range(ROUNDS):
            for name, run in zip(names, (lambda: measure_none(session, per_round),
                                         lambda: measure_yardstick(session, staged, per_round),
                                         lambda: measure_lumbrix(session, per_round, False),
                                         lambda: measure_lumbrix(session, per_round, True))):
                latency, behind, clicks = run()
                results[name][0].extend(latency)
                results[name][1].extend(behind)
                swallowed += clicks
    finally:
        session.close()

    medians = {}
    for name in names:
        latency, behind = results[name]
        if not latency:
            print("%-22s no move arrived" % name)
            return 1
        medians[name] = statistics.median(latency)
        print("%-22s %4d moves  median %.3f ms  (min %.3f, max %.3f)  hooks behind the probe's: median %.3f ms"
              % (name, len(latency), medians[name], min(latency), max(latency), statistics.median(behind)))
    taps = ROUNDS * ((per_round + MOVES_PER_TAP - 1) // MOVES_PER_TAP)
    print("taps whose click Lumbrix's mouse hook swallowed: %d of %d" % (swallowed, taps))
    print("lumbrix with a tap pending / bare hook: %.3f" % (medians["lumbrix, tap pending"] / medians["bare hook"]))
    print("lumbrix with no tap / no hook: %.3f" % (medians["lumbrix, no tap"] / medians["no hook"]))
    print("bare hook / no hook: %.3f (%+.3f ms a move)"
          % (medians["bare hook"] / medians["no hook"], medians["bare hook"] - medians["no hook"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
