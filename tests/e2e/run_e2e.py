#!/usr/bin/env python3
"""End-to-end tests: the Windows program KQVorlink.exe under Wine in a virtual X display,
worked through its window by kqdriver.exe, against the simulated unit kqunit on loopback.

    python3 tests/e2e/run_e2e.py --build BUILD_WINDOWS --kqunit PATH/kqunit [--only NAME ...]
                                 [--exe KQVorlink.exe] [--group start|run] [--list]
                                 [--gtest kqwintests.exe ...] [--pictures docs]
                                 [--cli kqvorlink-cli.exe]

Ends with the line "N passed, M failed" and a non-zero exit status when any case failed.
"""

import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean

import scenarios_layout  # noqa: E402,F401  (registers its scenarios)
import scenarios_run  # noqa: E402,F401
import scenarios_start  # noqa: E402,F401
from e2e_case import SCENARIOS, run_case  # noqa: E402
from cli_cases import run_cli_cases  # noqa: E402
from session import Display, Driver, Wine, isolate_or_continue, log  # noqa: E402


class Environment:
    def __init__(self, args):
        self.exe = args.exe or os.path.join(args.build, "KQVorlink.exe")
        self.driver_exe = os.path.join(args.build, "kqdriver.exe")
        self.kqunit = args.kqunit
        self.build = args.build
        self.work = args.work or os.path.join(args.build, "e2e")
        # Where the cases keep the pictures that the README shows (none when not given).
        self.pictures = getattr(args, "pictures", None)
        self.display = None
        self.wine = None
        self.driver = None

    def start(self):
        for path in (self.exe, self.driver_exe, self.kqunit):
            if not os.path.exists(path):
                raise RuntimeError("missing " + path)
        os.makedirs(self.work, exist_ok=True)
        self.display = Display()
        log("  virtual display %s" % self.display.name)
        self.wine = Wine(os.path.join(self.build, "wineprefix"), self.display.name)
        started = time.time()
        self.wine.prepare()
        log("  Wine prefix ready (%.1f s)" % (time.time() - started))
        self.driver = Driver(self.driver_exe, self.wine)
        answer = self.driver("alive", timeout=120)
        if not answer.get("ok"):
            raise RuntimeError("the window driver does not answer: %s" % answer)
        if answer["copies"]:
            raise RuntimeError("a copy of KQVorlink.exe is already running in this Wine prefix")

    def stop(self):
        if self.driver:
            self.driver.stop()
        if self.wine:
            self.wine.kill_server()
        if self.display:
            self.display.stop()


def run_gtest(env, exe):
    """Runs a GoogleTest program of the Windows backend under Wine in this session's display and
    network; returns (passed, failed, lines worth showing)."""
    name = os.path.splitext(os.path.basename(exe))[0]
    folder = os.path.join(env.work, name)
    os.makedirs(folder, exist_ok=True)
    try:
        done = subprocess.run(["wine", exe], cwd=folder, env=env.wine.env, capture_output=True,
                              stdin=subprocess.DEVNULL,
                              text=True, errors="replace", timeout=900)
        output, status = done.stdout + done.stderr, done.returncode
    except subprocess.TimeoutExpired:
        output, status = "", None
    with open(os.path.join(folder, "output.txt"), "w") as f:
        f.write(output)
    passed = re.search(r"\[  PASSED  \] (\d+) test", output)
    failed = re.search(r"(\d+) FAILED TESTS?", output)
    passed = int(passed.group(1)) if passed else 0
    failed = int(failed.group(1)) if failed else 0
    if status != 0 and failed == 0:
        failed = 1
    lines = [line for line in output.splitlines() if line.startswith("[  FAILED  ]")]
    if status is None:
        lines.append("timed out")
    return passed, failed, lines


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build folder of the Windows program")
    parser.add_argument("--kqunit", required=True, help="the simulated unit's program")
    parser.add_argument("--exe", help="the program to test (default: BUILD/KQVorlink.exe)")
    parser.add_argument("--work", help="folder for case folders and pictures")
    parser.add_argument("--group", choices=("start", "run"), help="only this group of cases")
    parser.add_argument("--only", nargs="*", help="only these cases")
    parser.add_argument("--list", action="store_true", help="list the cases and stop")
    parser.add_argument("--pictures", help="keep the README's pictures of the window here")
    parser.add_argument("--cli", help="kqvorlink-cli.exe: run its cases after the GoogleTest programs")
    parser.add_argument("--gtest", nargs="*", default=[],
                        help="GoogleTest programs of the Windows backend to run first under Wine")
    args = parser.parse_args(argv)
    args.build = os.path.abspath(args.build)
    args.kqunit = os.path.abspath(args.kqunit)
    args.exe = os.path.abspath(args.exe) if args.exe else None
    args.pictures = os.path.abspath(args.pictures) if args.pictures else None

    chosen = [
        (name, group, function)
        for name, group, function in SCENARIOS
        if (not args.group or group == args.group) and (not args.only or name in args.only)
    ]
    if args.list:
        for name, group, _ in SCENARIOS:
            print("%-5s %s" % (group, name))
        return 0
    if not chosen:
        print("no case matches")
        print("0 passed, 1 failed")
        return 1

    if not isolate_or_continue([sys.executable, os.path.abspath(__file__)] + argv):
        return 1
    env = Environment(args)
    passed = failed = 0
    try:
        env.start()
        for exe in args.gtest:
            started = time.time()
            ok, bad, lines = run_gtest(env, os.path.abspath(exe))
            passed += ok
            failed += bad
            log("%s %s: %d passed, %d failed (%.1f s)" % (
                "ok  " if not bad else "FAIL", os.path.basename(exe), ok, bad, time.time() - started))
            for line in lines:
                log("     " + line)
        if args.cli:
            ok, bad = run_cli_cases(env, os.path.abspath(args.cli))
            passed += ok
            failed += bad
        for index, (name, group, function) in enumerate(chosen):
            failures, seconds = run_case(name, index, function, env)
            if failures:
                failed += 1
                log("FAIL %s (%.1f s)" % (name, seconds))
                for failure in failures:
                    log("     " + failure.replace("\n", "\n     "))
            else:
                passed += 1
                log("ok   %s (%.1f s)" % (name, seconds))
    except Exception as error:
        log("e2e session failed: %s" % error)
        failed += 1
    finally:
        env.stop()
    print("%d passed, %d failed" % (passed, failed), flush=True)
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
