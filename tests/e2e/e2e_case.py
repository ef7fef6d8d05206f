"""One end-to-end case: its own folder with a copy of the program, its own simulated unit on its
own loopback address, soft checks that collect every failure, and a clean-up that leaves no
program or unit running."""

import os
import re
import shutil
import time
import traceback

from session import Program, Unit

SCENARIOS = []

MAIN_BOX_CAPTION = "KQVorlink"
TIMESTAMP = re.compile(rb"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d ", re.M)


def scenario(name, group):
    """Registers a scenario function f(case); `group` is "start" or "run"."""

    def register(function):
        SCENARIOS.append((name, group, function))
        return function

    return register


def log_entries(data):
    """The entries of an activity log: the text behind each time stamp (caption, blank, text;
    an entry without caption begins with a blank), each without the CR LF the writer adds."""
    starts = [m.start() for m in TIMESTAMP.finditer(data)] + [len(data)]
    entries = []
    for begin, end in zip(starts, starts[1:]):
        entry = data[begin + 20 : end]
        if entry.endswith(b"\r\n"):
            entry = entry[:-2]
        entries.append(entry.decode("latin-1"))
    return entries


class CaseFailed(Exception):
    pass


class Case:
    def __init__(self, name, index, env):
        self.name = name
        self.env = env
        self.driver = env.driver
        self.work = os.path.join(env.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        self.folder = os.path.join(self.work, "folder")
        os.makedirs(self.folder)
        shutil.copy(env.exe, os.path.join(self.folder, "KQVorlink.exe"))
        self.address = "127.0.0.%d" % (200 + index % 20)
        self.failures = []
        self.programs = []
        self.units = []

    # -- checks -------------------------------------------------------------------------------

    def check(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, "%s: got %r, expected %r" % (what, actual, expected))

    def require(self, condition, what):
        """A check without which the rest of the case makes no sense."""
        if not self.check(condition, what):
            raise CaseFailed(what)

    # -- the program --------------------------------------------------------------------------

    def d(self, command, timeout=None):
        return self.driver(command, timeout)

    def start_program(self, expect_window=True):
        program = Program(self.folder, self.env.wine, os.path.join(self.work, "wine-output.txt"))
        self.programs.append(program)
        if expect_window:
            answer = self.d("wait-window 30000")
            self.require(answer["ok"], "the main dialog did not open: %s" % answer)
        return program

    def state(self):
        answer = self.d("state")
        self.require(answer["ok"], "no main dialog to read: %s" % answer)
        return {c["id"]: c for c in answer["controls"]}

    def visible_labels(self):
        controls = self.state()
        return sorted(i for i in list(range(1005, 1015)) + [1016, 1021, 1022] if controls[i]["visible"])

    def type_address(self, address):
        for field, part in zip((1026, 1027, 1028, 1029), address.split(".")):
            answer = self.d("type %d %s" % (field, part))
            self.require(answer["ok"], "cannot type into %d: %s" % (field, answer))

    def click(self, control):
        answer = self.d("click %d" % control)
        self.require(answer["ok"], "cannot press %d: %s" % (control, answer))

    def expect_box(self, text, icon, what, timeout_ms=20000, press=True, owned=True):
        """Waits for a message box of the program, checks its text and icon and presses OK."""
        box = self.d("wait-box %d" % timeout_ms)
        if not self.check(box["ok"], "%s: no message box appeared" % what):
            return None
        if text is not None:
            self.equal(box["text"].rstrip("\r\n"), text, what + " (box text)")
        self.equal(box["icon"], icon, what + " (box icon)")
        self.equal([b["text"] for b in box["buttons"]], ["OK"], what + " (box buttons)")
        self.equal(box["owned_by_main"], owned, what + " (box owned by the main dialog)")
        if press:
            self.check(self.d("press-box")["ok"], what + ": the box did not close on OK")
        return box

    def expect_no_box(self, ms, what):
        box = self.d("wait-box %d" % ms)
        if not self.check(not box["ok"], "%s: unexpected box %r" % (what, box.get("text"))):
            self.d("press-box")

    def expect_end(self, program, what, seconds=15):
        ended = program.wait_end(seconds)
        self.check(ended, what + ": the program did not end")
        gone = self.d("wait-gone 10000")
        self.check(gone["ok"], what + ": a copy of the program is still running")
        return ended

    def log_data(self):
        path = os.path.join(self.folder, "KQVorlink.log")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def check_in_order(self, entries, patterns, what, exact=False):
        """Each pattern must be found in (or, exact, be) an entry after the entry that matched
        the previous pattern."""
        position = 0
        for pattern in patterns:
            found = next(
                (
                    i
                    for i in range(position, len(entries))
                    if (pattern == entries[i] if exact else pattern in entries[i])
                ),
                None,
            )
            if not self.check(found is not None, "%s: %r not found in order" % (what, pattern)):
                return False
            position = found + 1
        return True

    # -- the unit -----------------------------------------------------------------------------

    def start_unit(self, model=None, faults=(), address=None):
        scenario_file = None
        if faults:
            scenario_file = os.path.join(self.work, "unit-scenario.txt")
            with open(scenario_file, "w") as f:
                f.write("\n".join(faults) + "\n")
        unit = Unit(
            self.env.kqunit,
            address or self.address,
            os.path.join(self.work, "unit-store"),
            os.path.join(self.work, "unit-output.txt"),
            model=model,
            scenario=scenario_file,
        )
        self.units.append(unit)
        return unit

    def check_stored(self, unit, expected, what):
        """The unit stored exactly the given {name: bytes}."""
        stored = unit.stored()
        self.equal(sorted(stored), sorted(expected), what + " (files the unit stored)")
        for name, data in expected.items():
            if name in stored:
                self.check(stored[name] == data, "%s: %s differs from its source" % (what, name))

    # -- running ------------------------------------------------------------------------------

    def clean_up(self):
        for program in self.programs:
            program.kill()
        for unit in self.units:
            unit.stop()
        if not self.driver("wait-gone 10000")["ok"]:
            self.failures.append("a copy of the program was still running after the case")


def run_case(name, index, function, env):
    """Runs one scenario; returns the list of its failures (empty when it passed)."""
    started = time.time()
    case = Case(name, index, env)
    try:
        function(case)
    except CaseFailed:
        pass
    except Exception:  # a broken case is reported, not allowed to stop the others
        case.failures.append("error: " + traceback.format_exc().strip().splitlines()[-1])
        case.failures.append(traceback.format_exc())
    finally:
        try:
            case.clean_up()
        except Exception as error:
            case.failures.append("clean-up: %s" % error)
    return case.failures, time.time() - started
