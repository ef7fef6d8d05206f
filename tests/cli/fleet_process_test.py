#!/usr/bin/python3
"""kqvorlink-cli as a process of its own against a kqunit fleet, where the operating system has a
say:
- `pipe`, `hangup`: its reader goes away while units are in the middle of their transfers: the
  output piped into a reader that exits like `head` once a unit is at work, or its terminal hung
  up (the pseudo-terminal closed: SIGHUP, then EIO). It must end by itself with every unit's own
  result in a complete report and every file a unit stored equal to the set's; a hang-up is an
  interrupt (the waiting units never start, exit 130), a closed pipe only loses the output
  (every unit completes, exit 0).
- `skip`: `update --skip-version NOMATCH` over 64 units at the default jobs, three runs, takes
  each unit's lock for the version check and again for the update; no unit may be refused as
  being updated by another run (a child started meanwhile once held copies of the locks: 1 to 4
  of 64 units were refused in most runs).

    fleet_process_test.py --cli kqvorlink-cli-scaled --kqunit kqunit --case pipe|hangup|skip
"""

import argparse, fcntl, json, os, select, socket, subprocess, sys, tempfile, termios, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim"))
import make_sample_set  # noqa: E402

# The units of each case; where the reader goes away, four at a time, each file's end 1.5 s late.
UNITS = {"pipe": (11, 8), "hangup": (21, 8), "skip": (31, 64)}
FILES = ("FPGA5M.bin", "gamma.tbl", "LOGO.bmp")


def start_cli(cli, case, units, folder):
    args = [cli, "1", "update", "--skip-version", "NOMATCH"] if case == "skip" else [
        cli, "0.05", "update", "--jobs", "4"]
    args += ["--report", "../report.json", units[0] + "-" + units[-1]]
    if case == "skip":
        return subprocess.Popen(args, cwd=folder, stdout=subprocess.DEVNULL), None, None
    if case == "pipe":
        program = subprocess.Popen(args, cwd=folder, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        return program, program.stdout.fileno(), program.stdout.close
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, b"\x18\x00\x50\x00\x00\x00\x00\x00")
    program = subprocess.Popen(  # the terminal becomes its own: closing it hangs it up
        args, cwd=folder, stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
        preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    return program, master, lambda: os.close(master)


def cut_when_at_work(fd, cut):
    seen, deadline = b"", time.monotonic() + 30
    while b"5M FPGA Program" not in seen and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                data = os.read(fd, 4096)
            except OSError:  # the program has ended and closed its terminal
                data = b""
            if not data:
                return ["the program ended before a unit was at work: %r" % seen]
            seen += data
    time.sleep(0.3)  # inside the first file's transfer
    cut()
    return []


def run(cli, kqunit, case, folder):
    make_sample_set.make_set(os.path.join(folder, "set"), only={"fpga5m", "gamma", "logo"})
    with open(os.path.join(folder, "slow.txt"), "w") as f:
        f.write("" if case == "skip" else "transfer-end delay 1500 always\n")
    first, count = UNITS[case]
    units = ["127.0.21.%d" % n for n in range(first, first + count)]
    store = os.path.join(folder, "store")
    simulated = subprocess.Popen(
        [kqunit, "--address", units[0] + "-" + units[-1], "--store", store, "--strict",
         "--scenario", os.path.join(folder, "slow.txt")],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):  # until the last unit answers, at most 10 s
            try:
                socket.create_connection((units[-1], 21), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        problems = []
        for _ in range(3 if case == "skip" else 1):
            program, fd, cut = start_cli(cli, case, units, os.path.join(folder, "set"))
            problems += [] if case == "skip" else cut_when_at_work(fd, cut)
            try:
                status = program.wait(timeout=60)
            except subprocess.TimeoutExpired:
                program.kill()
                return problems + ["the program did not end within a minute"]
            problems += check(case, status, units, folder, store)
            if problems:
                break
    finally:
        simulated.terminate()
        simulated.wait(timeout=10)
    return problems


def check(case, status, units, folder, store):
    hangup = case == "hangup"
    problems = [] if status == (130 if hangup else 0) else ["exit status %s" % status]
    with open(os.path.join(folder, "report.json")) as f:
        report = json.load(f)
    if report["end"] is None:
        problems.append("the report was not written at the end of the run")
    results = [u["result"] for u in report["units"]]
    expected = ["complete"] * 4 + ["not started" if hangup else "complete"] * (len(units) - 4)
    if results != expected:
        problems.append("results %r" % sorted(set("%s: %s" % (u["result"], u["message"])
                                                  for u in report["units"])))
    for address, result in zip(units, results):
        for name in FILES:
            stored = os.path.join(store, address, name)
            with open(os.path.join(folder, "set", name), "rb") as a:
                sent = a.read()
            got = open(stored, "rb").read() if os.path.exists(stored) else None
            if (got == sent) != (result == "complete"):
                problems.append("%s (%s): %s %s" % (address, result, name, "arrived whole" if
                                                    got == sent else "cut short or missing"))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--cli", "--kqunit"):
        parser.add_argument(option, required=True)
    parser.add_argument("--case", required=True, choices=sorted(UNITS))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="fleet-process-") as folder:
        problems = run(os.path.abspath(args.cli), os.path.abspath(args.kqunit), args.case, folder)
    print("\n".join("FAIL %s: %s" % (args.case, p) for p in problems) or "ok: " + args.case)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
