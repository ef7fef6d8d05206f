#!/usr/bin/python3
"""The fleet front end's live view as a person sees it: kqvorlink-cli updates 64 simulated units
on a pseudo-terminal of 24 rows and 80 columns, and a terminal emulator renders what it writes.
At three moments of the run (all running, some failed, the last few running) the screen must
show the counts, the failed units, as many running units as fit and how many more there are;
at every moment the scroll-back must hold only the lines printed before the view, and at the end
the view's counts followed by the summary table.

    fleet_view_screen_test.py --cli kqvorlink-cli-scaled --kqunit kqunit
"""

import argparse
import fcntl
import os
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time

import pyte

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "sim"))
import make_sample_set  # noqa: E402

ROWS, COLUMNS = 24, 80
UNITS = 64
JOBS = 58
FIRST, LAST = "127.0.10.1", "127.0.10.64"
SCALE = "0.05"
# Six units of the other model fail once they have answered (late: their greeting waits); the
# rest take a second for each of the set's three files.
SCENARIO = """transfer-end delay 1000 always
[127.0.10.1-127.0.10.6]
model KQ-B2
greeting delay 1500
"""
WRONG_MODEL = {"127.0.10.%d" % n for n in range(1, 7)}

HEADER = re.compile(r"^(\d+) complete, (\d+) failed, (\d+) running, (\d+) waiting \| "
                    r"\d+:\d\d elapsed(, about \d+:\d\d left)?$")
FAILED_LINE = re.compile(r"^(127\.0\.10\.\d+) +KQ-A2  failed: Error : Device Type Wrong\.$")
RUNNING_LINE = re.compile(r"^(127\.0\.10\.\d+) +KQ-A2  .{22}\[[#.]{20}\]( \S.*)?$")
PLAN = [re.compile(r"^Update set: model KQ-A2; an update sends:$")] + [
    re.compile(r"^  .{22} %s +\d+ bytes$" % re.escape(name))
    for name in ("FPGA5M.bin", "gamma.tbl", "LOGO.bmp")]
SUMMARY_HEAD = "unit            result        duration  message"
SUMMARY_LINE = re.compile(r"^(127\.0\.10\.\d+) +(complete|failed) +\d+\.\ds  (.*)$")


class Moment:
    """A moment of the run, known by the counts in the view's header, and what the screen shows
    then: the rows the view takes, the failed and running units listed, the closing line."""

    def __init__(self, name, counts, rows, failed, running, closing, time_left):
        self.name, self.counts, self.rows = name, counts, rows
        self.failed, self.running, self.closing, self.time_left = failed, running, closing, time_left


MOMENTS = [
    Moment("all_running", (0, 0, 58, 6), rows=24, failed=0, running=22,
           closing="... and 36 more running", time_left=False),
    Moment("failed_units_stay_visible", (0, 6, 58, 0), rows=24, failed=6, running=16,
           closing="... and 42 more running", time_left=False),
    Moment("last_units_running", (52, 6, 6, 0), rows=13, failed=6, running=6, closing=None,
           time_left=True),
]


def text_of(row):
    return "".join(row[x].data for x in range(COLUMNS)).rstrip()


def screen_lines(screen):
    return [line.rstrip() for line in screen.display]


def history_lines(screen):
    return [text_of(row) for row in screen.history.top]


def check_plan(lines, what):
    problems = []
    if len(lines) != len(PLAN) or not all(p.match(l) for p, l in zip(PLAN, lines)):
        problems.append("%s: expected only the set's plan, got %r" % (what, lines))
    return problems


def check_moment(moment, screen):
    """What a person sees at this moment; returns the problems found."""
    lines = screen_lines(screen)
    problems = check_plan(history_lines(screen), moment.name + ": scroll-back")
    used = len(lines)
    while used > 0 and not lines[used - 1]:
        used -= 1
    if used != moment.rows:
        problems.append("%s: the view takes %d rows, expected %d" % (moment.name, used,
                                                                      moment.rows))
    header = HEADER.match(lines[0])
    if not header or bool(header.group(5)) != moment.time_left:
        problems.append("%s: header %r (time left expected: %s)" % (moment.name, lines[0],
                                                                    moment.time_left))
    body = lines[1:used]
    if moment.closing is not None:
        if not body or body[-1] != moment.closing:
            problems.append("%s: last row %r, expected %r" % (moment.name, body[-1:],
                                                              moment.closing))
        body = body[:-1]
    failed = [l for l in body[:moment.failed] if FAILED_LINE.match(l)]
    if {FAILED_LINE.match(l).group(1) for l in failed} != (WRONG_MODEL if moment.failed else set()):
        problems.append("%s: failed units listed first: %r" % (moment.name,
                                                               body[:moment.failed]))
    running = body[moment.failed:]
    if len(running) != moment.running or not all(RUNNING_LINE.match(l) for l in running):
        problems.append("%s: expected %d running units, got %r" % (moment.name, moment.running,
                                                                   running))
    return problems


def check_end(screen, status):
    """After the run: the plan, the view's last counts, the summary table of every unit."""
    lines = history_lines(screen) + screen_lines(screen)
    while lines and not lines[-1]:
        lines.pop()
    problems = check_plan(lines[:len(PLAN)], "end: the first lines")
    rest = lines[len(PLAN):]
    expected_head = "58 complete, 6 failed, 0 running, 0 waiting"
    if not rest or not HEADER.match(rest[0]) or not rest[0].startswith(expected_head):
        problems.append("end: after the plan %r, expected the counts %r" % (rest[:1],
                                                                            expected_head))
    if rest[1:3] != ["", SUMMARY_HEAD]:
        problems.append("end: then the summary's head, got %r" % rest[1:3])
    table = [SUMMARY_LINE.match(l) for l in rest[3:]]
    if len(table) != UNITS or not all(table):
        problems.append("end: the summary has %d rows: %r" % (len(table), rest[3:]))
    else:
        for row in table:
            failed = row.group(1) in WRONG_MODEL
            expected = ("failed", "Error : Device Type Wrong.") if failed else (
                "complete", "Update Complete.")
            if (row.group(2), row.group(3)) != expected:
                problems.append("end: summary row %r" % row.group(0))
    if status != 1:
        problems.append("end: exit status %s, expected 1 (some units failed)" % status)
    return problems


def wait_for_units(deadline):
    while time.monotonic() < deadline:
        try:
            socket.create_connection((LAST, 21), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def run(cli, kqunit, folder):
    make_sample_set.make_set(os.path.join(folder, "set"), only={"fpga5m", "gamma", "logo"})
    with open(os.path.join(folder, "fleet.txt"), "w") as f:
        f.write(SCENARIO)
    units = subprocess.Popen([kqunit, "--address", FIRST + "-" + LAST, "--store",
                              os.path.join(folder, "stores"), "--strict", "--scenario",
                              os.path.join(folder, "fleet.txt"), "--idle-timeout-s", "60"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not wait_for_units(time.monotonic() + 15):
            return ["the simulated units did not start"]
        return watch(cli, os.path.join(folder, "set"))
    finally:
        units.terminate()
        units.wait(timeout=10)


def watch(cli, set_folder):
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    program = subprocess.Popen(
        [cli, SCALE, "update", "--jobs", str(JOBS), FIRST + "-" + LAST], cwd=set_folder,
        stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
        preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    screen = pyte.HistoryScreen(COLUMNS, ROWS, history=1000)
    stream = pyte.ByteStream(screen)
    problems, pending = [], list(MOMENTS)
    unread = False
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.03)
            if ready:
                try:
                    data = os.read(master, 65536)
                except OSError:  # the program has ended and closed the terminal
                    data = b""
                if not data:
                    break
                stream.feed(data)
                unread = True
                continue
            if not unread:
                continue
            # A pause in the output: a whole frame is on the screen.
            unread = False
            header = HEADER.match(screen_lines(screen)[0])
            if pending and header and tuple(map(int, header.group(1, 2, 3, 4))) == \
                    pending[0].counts:
                problems += check_moment(pending.pop(0), screen)
        else:
            problems.append("the run did not end within a minute")
            program.kill()
        status = program.wait(timeout=10)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        os.close(master)
    problems += ["%s: never seen" % m.name for m in pending]
    return problems + check_end(screen, status)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--kqunit", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="fleet-view-") as folder:
        problems = run(os.path.abspath(args.cli), os.path.abspath(args.kqunit), folder)
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("ok: %d moments and the end as a person sees them" % len(MOMENTS))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
