"""kqvorlink-cli.exe under Wine against kqunit on 127.0.0.230-239: `check` of two units (one of
another model) and a one-unit `update`, with the exit status, the printed outcome, the report and
the files the unit stored, byte for byte; on 127.0.21.240-241 the console closed mid-run; and
the signed set's signature rows (tests/trust/signed_set_test.py), ssh-keygen deciding each."""

import json
import os
import shutil
import subprocess
import sys
import time

from session import Unit, log

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "trust"))
import signed_set_test  # noqa: E402

SAMPLE_SET = os.path.join(HERE, "..", "..", "sim", "make_sample_set.py")


def make_set(folder):
    # No CPU program: its real-time restart wait of a minute would only lengthen the test.
    subprocess.run([sys.executable, SAMPLE_SET, folder, "--only", "fpga5m,web0,shading,logo"],
                   check=True, stdout=subprocess.DEVNULL)


def run_cli(env, exe, folder, args):
    done = subprocess.run(["wine", exe] + args, cwd=folder, env=env.wine.env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          errors="replace", timeout=300)
    with open(os.path.join(folder, "output-%s.txt" % args[0]), "w") as f:
        f.write(done.stdout + done.stderr)
    return done.returncode, done.stdout


def check_case(env, exe, folder):
    failures = []
    units = [Unit(env.kqunit, "127.0.0.230", os.path.join(folder, "store-230"),
                  os.path.join(folder, "unit-230.txt")),
             Unit(env.kqunit, "127.0.0.231", os.path.join(folder, "store-231"),
                  os.path.join(folder, "unit-231.txt"), model="KQ-B2")]
    try:
        status, out = run_cli(env, exe, folder, ["check", "--set", "set", "127.0.0.230-127.0.0.231"])
        if status != 1:
            failures.append("check: exit %s, not 1 (one unit is of another model)" % status)
        for needed in ('127.0.0.230      model KQ-A2 (matches the set), version "KQ-A2.01.02.45"',
                       "127.0.0.231      model KQ-B2 (NOT the set's model)",
                       "FPGA5M.bin", "70000 bytes"):
            if needed not in out:
                failures.append("check: %r not printed:\n%s" % (needed, out))
        for unit in units:
            seen = [c for c in unit.commands() if not c.startswith(("PASS", "USER"))]
            if seen != ["EXCM r_INF", "EXCM uname", "QUIT"]:
                failures.append("check: unit received %s" % seen)
    finally:
        for unit in units:
            unit.stop()
    return failures


def update_case(env, exe, folder):
    failures = []
    unit = Unit(env.kqunit, "127.0.0.232", os.path.join(folder, "store-232"),
                os.path.join(folder, "unit-232.txt"))
    try:
        status, out = run_cli(env, exe, folder, ["update", "--set", "set", "--report",
                                                 "report.json", "127.0.0.232"])
        if status != 0:
            failures.append("update: exit %s, not 0:\n%s" % (status, out))
        if "127.0.0.232     KQ-A2  complete: Update Complete." not in out:
            failures.append("update: no outcome line:\n%s" % out)
        if "\x1b" in out:
            failures.append("update: control sequences into a pipe")
        with open(os.path.join(folder, "report.json")) as f:
            report = json.load(f)
        got = report["units"][0]
        if got["result"] != "complete" or len(got["components"]) != 5:
            failures.append("update: report %s" % got)
        stored = unit.stored()
        for name in os.listdir(os.path.join(folder, "set")):
            if name.startswith("KQVorlink"):
                continue
            with open(os.path.join(folder, "set", name), "rb") as f:
                if stored.get(name) != f.read():
                    failures.append("update: %s not stored byte for byte" % name)
        if os.path.exists(os.path.join(folder, "set", "KQVorlink-127.0.0.232.log")):
            failures.append("update: the complete unit's log was kept")
    finally:
        unit.stop()
    return failures


def console_closed_case(env, exe, folder):
    """The console window closed while a unit is in its transfer: Windows runs the handlers and
    ends the process a few seconds after they return, so the handler holds it until the report
    names the running unit and the one that will not start. (Wine lets the process go on.)"""
    slow = os.path.join(folder, "slow.txt")
    with open(slow, "w") as f:
        f.write("transfer-end delay 3000 always\n")
    units = [Unit(env.kqunit, a, os.path.join(folder, "store-" + a), os.path.join(
        folder, "unit-%s.txt" % a), scenario=slow) for a in ("127.0.21.240", "127.0.21.241")]
    errors = open(os.path.join(folder, "errors.txt"), "w+")
    program = subprocess.Popen(
        ["wine", exe, "update", "--set", "set", "--jobs", "1", "--report", "report.json",
         "127.0.21.240-127.0.21.241"], cwd=folder, env=env.wine.env, stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=errors)
    try:
        end = time.time() + 60
        while not any(c.startswith("STOR") for c in units[0].commands()) and time.time() < end:
            time.sleep(0.1)
        answer = env.driver("console-event kqvorlink-cli.exe 2 10000", timeout=30)
        with open(os.path.join(folder, "report.json")) as f:
            results = [u["result"] for u in json.load(f)["units"]]
        errors.seek(0)
        seen = (answer.get("returned") and answer.get("ms", 0) < 6000, results,
                "still running: 127.0.21.240" in errors.read(), program.wait(timeout=60))
        expected = (True, ["running", "not started"], True, 130)
        return [] if seen == expected else ["close: returned in time, the report then, the "
                                            "running unit named, exit: %r" % (seen,)]
    finally:
        if program.poll() is None:
            program.kill()
        errors.close()
        for unit in units:
            unit.stop()


def signed_set_case(env, exe, folder):
    """The signature rows with the Windows program: its verdict is ssh-keygen's on each."""
    def call(args):
        return subprocess.run(["wine", exe] + args, cwd=folder, env=env.wine.env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    return signed_set_test.run_rows(call, os.path.join(folder, "signing"))


def run_cli_cases(env, exe):
    """Returns (passed, failed)."""
    passed = failed = 0
    for name, case in (("cli check", check_case), ("cli update", update_case),
                       ("cli console closed", console_closed_case),
                       ("cli signed set", signed_set_case)):
        folder = os.path.join(env.work, name.replace(" ", "-"))
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        make_set(os.path.join(folder, "set"))
        started = time.time()
        try:
            failures = case(env, exe, folder)
        except Exception as error:  # a case that breaks counts as failed, the others still run
            failures = ["%s" % error]
        if failures:
            failed += 1
            log("FAIL %s (%.1f s)" % (name, time.time() - started))
            for failure in failures:
                log("     " + failure.replace("\n", "\n     "))
        else:
            passed += 1
            log("ok   %s (%.1f s)" % (name, time.time() - started))
    return passed, failed
