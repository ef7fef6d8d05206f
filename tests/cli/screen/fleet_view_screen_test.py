#!/usr/bin/python3
"""The fleet's live view as a person sees it: kqvorlink-cli updates 64 simulated units on a 24x80
pseudo-terminal and a terminal emulator renders its output. At three moments the screen must show
the counts, the failed units with their own model, the running ones that fit (each with a step)
and how many more; the scroll-back only the lines printed before the view; at the end the summary
table with the failed units last, then the counts.

    fleet_view_screen_test.py --cli kqvorlink-cli-scaled --kqunit kqunit
"""

import argparse, fcntl, os, re, select, socket, struct, subprocess, sys, tempfile, termios, time
from collections import namedtuple

import pyte

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "sim"))
import make_sample_set  # noqa: E402

ROWS, COLUMNS, UNITS = 24, 80, "127.0.22.1-127.0.22.64"
# Six units of the other model fail once their late greeting has come; the others take 1.5 s
# for each of the set's three files. 58 run at once. Each moment lasts about two seconds.
SCENARIO = 'transfer-end delay 1500 always\n[127.0.22.1-127.0.22.6]\nmodel KQ-B2\n' \
           'greeting delay 2000\n'
WRONG_MODEL = ["127.0.22.%d" % n for n in range(1, 7)]
HEADER = re.compile(r"^(\d+) complete, (\d+) failed, (\d+) running, (\d+) waiting \| "
                    r"\d+:\d\d elapsed(, about \d+:\d\d left)?$")
FAILED = re.compile(r"^(127\.0\.22\.\d) +KQ-B2  failed: Error : Device Type Wrong\.$")
# Until a unit has named its model it shows "?"; the step column is never blank.
RUNNING = re.compile(r"^127\.0\.22\.\d+ +(KQ-A2|\?    )  \S.{21}\[[#.]{20}\] \S.*$")
PLAN = [r"Update set: model KQ-A2; an update sends:"] + [
    r"  .{22} %s +\d+ bytes" % re.escape(f) for f in ("FPGA5M.bin", "gamma.tbl", "LOGO.bmp")]
SUMMARY = re.compile(r"^(127\.0\.22\.\d+) +(complete|failed) +\d+\.\ds  (.*)$")

# A moment is known by the header's counts (complete, failed, running, waiting); then the view
# takes `rows` rows: the failed units, the running ones and a closing line.
Moment = namedtuple("Moment", "name when rows failed running closing time_left")
MOMENTS = [
    Moment("all_running", lambda c: c == (0, 0, 58, 6), lambda c: 24, 0, lambda c: 22,
           "... and 36 more running", False),
    Moment("failed_units_stay_visible", lambda c: c == (0, 6, 58, 0), lambda c: 24, 6,
           lambda c: 16, "... and 42 more running", False),
    # The last units' ends are spread out: any count of them, as long as all fit.
    Moment("last_units_running", lambda c: c[0] > 0 and c[1] == 6 and 0 < c[2] <= 17,
           lambda c: 7 + c[2], 6, lambda c: c[2], None, True),
]


def lines_of(rows):
    return ["".join(row[x].data for x in range(COLUMNS)).rstrip() for row in rows]


def check_plan(lines, what):
    if len(lines) == len(PLAN) and all(re.fullmatch(p, l) for p, l in zip(PLAN, lines)):
        return []
    return ["%s: expected only the set's plan, got %r" % (what, lines)]


def check_moment(m, counts, screen):
    lines = [l.rstrip() for l in screen.display]
    problems = check_plan(lines_of(screen.history.top), m.name + ": scroll-back")
    used = max([i + 1 for i, l in enumerate(lines) if l] + [0])
    header = HEADER.match(lines[0])
    body = lines[1:used]
    closing = body.pop() if m.closing and body else None
    failed = [FAILED.match(l) for l in body[:m.failed]]
    shown = ([f.group(1) for f in failed if f], len(body) - m.failed,
             all(RUNNING.match(l) for l in body[m.failed:]))
    if (used, bool(header and header.group(5)), closing) != (m.rows(counts), m.time_left,
                                                             m.closing):
        problems.append("%s: rows, time left, closing line: %r" % (m.name, (used, lines[0],
                                                                           closing)))
    if shown != (WRONG_MODEL[:m.failed], m.running(counts), True):
        problems.append("%s: expected %d failed then %d running units, got %r" % (
            m.name, m.failed, m.running(counts), body))
    return problems


def check_end(screen, status):
    lines = lines_of(screen.history.top) + [l.rstrip() for l in screen.display]
    while lines and not lines[-1]:
        lines.pop()
    problems = check_plan(lines[:len(PLAN)], "end: the first lines")
    rest = lines[len(PLAN):] + [""]
    if rest[:2] != ["", "unit            result        duration  message"]:
        problems.append("end: expected the summary's head after the plan: %r" % rest[:2])
    rows = [SUMMARY.match(l) for l in rest[2:-2]]
    complete = ["127.0.22.%d" % n for n in range(7, 65)]
    expected = [(a, "complete", "Update Complete.") for a in complete] + [
        (a, "failed", "Error : Device Type Wrong.") for a in WRONG_MODEL]
    if [r and r.group(1, 2, 3) for r in rows] != expected:
        problems.append("end: the summary, complete units first: %r" % rest[2:-2])
    if not (HEADER.match(rest[-2]) and rest[-2].startswith("58 complete, 6 failed, 0 running")):
        problems.append("end: expected the counts last: %r" % rest[-2])
    return problems + ([] if status == 1 else ["end: exit status %s, not 1" % status])


def watch(cli, set_folder):
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    program = subprocess.Popen([cli, "0.05", "update", "--jobs", "58", UNITS], cwd=set_folder,
                               stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
    os.close(slave)
    screen = pyte.HistoryScreen(COLUMNS, ROWS, history=1000)
    stream, problems, pending, unread, seen = pyte.ByteStream(screen), [], list(MOMENTS), False, []
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            if select.select([master], [], [], 0.03)[0]:
                try:
                    data = os.read(master, 65536)
                except OSError:  # the program has ended and closed the terminal
                    break
                if not data:
                    break
                stream.feed(data)
                unread = True
            elif unread:  # a pause in the output: a whole frame is on the screen
                unread = False
                header = HEADER.match(screen.display[0].rstrip())
                counts = header and tuple(map(int, header.group(1, 2, 3, 4)))
                seen.append(counts)
                if pending and counts and pending[0].when(counts):
                    problems += check_moment(pending.pop(0), counts, screen)
        else:
            problems.append("the run did not end within a minute")
    finally:
        if time.monotonic() >= deadline:
            program.kill()
        status = program.wait(timeout=20)
        os.close(master)
    problems += ["%s: never seen; counts seen: %r" % (m.name, seen) for m in pending[:1]]
    return problems + check_end(screen, status)


def run(cli, kqunit, folder):
    make_sample_set.make_set(os.path.join(folder, "set"), only={"fpga5m", "gamma", "logo"})
    with open(os.path.join(folder, "fleet.txt"), "w") as f:
        f.write(SCENARIO)
    units = subprocess.Popen([kqunit, "--address", UNITS, "--store", os.path.join(folder, "s"),
                              "--strict", "--scenario", os.path.join(folder, "fleet.txt")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(150):  # until the last unit answers, at most 15 s
            try:
                socket.create_connection(("127.0.22.64", 21), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        else:
            return ["the simulated units did not start"]
        return watch(cli, os.path.join(folder, "set"))
    finally:
        units.terminate()
        units.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--kqunit", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="fleet-view-") as folder:
        problems = run(os.path.abspath(args.cli), os.path.abspath(args.kqunit), folder)
    print("\n".join("FAIL " + p for p in problems) or "ok: 3 moments and the end")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
