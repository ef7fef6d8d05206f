#!/usr/bin/python3
"""kqvorlink-cli as a process of its own against a kqunit fleet, where the system has a say.
`pipe`, `hangup`: while four units are in their transfers the reader goes away (a reader that
exits like `head`, or a terminal hung up: SIGHUP, then EIO). The run ends by itself with a
complete report and every unit's files whole or not sent; a hang-up is an interrupt (the
waiting units never start, exit 130), a closed pipe loses only output (all complete, exit 0).
`skip`: three runs of `update --skip-version NOMATCH` over 64 units at the default jobs take each
lock twice; none may be refused as busy (children once held copies of the locks).
`clocks`: two units one after the other in Berlin, begun 4 s before the clocks go back (the
clock is Debian's faketime); every time of the report carries its offset, and in real time they
come in the order of the run.

    fleet_process_test.py --cli kqvorlink-cli-scaled --kqunit kqunit --case pipe|hangup|skip|clocks
"""

import argparse, calendar, fcntl, json, os, re, select, socket, subprocess, sys, tempfile, \
    termios, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim"))
import make_sample_set  # noqa: E402

UNITS = {"pipe": (11, 8), "hangup": (21, 8), "skip": (31, 64),
         "clocks": (96, 2)}  # first 127.0.21.N, count
FILES = ("FPGA5M.bin", "gamma.tbl", "LOGO.bmp")
CLOCKS_GO_BACK = 1792890000  # 2026-10-25T01:00:00Z: 03:00 summer time becomes 02:00 in Berlin
TIME = re.compile(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)([+-])(\d\d):(\d\d)")


def start_cli(cli, case, units, folder):
    args = [cli, "1", "update", "--skip-version", "NOMATCH"] if case == "skip" else [
        cli, "0.05", "update", "--jobs", "1" if case == "clocks" else "4"]
    if case == "clocks":
        ahead = CLOCKS_GO_BACK - 4 - int(time.time())
        args = ["faketime", "-f", "%+ds" % ahead] + args
    args += ["--report", "../report.json", units[0] + "-" + units[-1]]
    if case != "hangup":
        out = subprocess.PIPE if case == "pipe" else subprocess.DEVNULL
        program = subprocess.Popen(args, cwd=folder, stdout=out, stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, TZ="Europe/Berlin"))
        return program, program.stdout and program.stdout.fileno(), program.stdout
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, b"\x18\x00\x50\x00\x00\x00\x00\x00")
    program = subprocess.Popen(  # the terminal becomes its own: closing it hangs it up
        args, cwd=folder, stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
        preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    return program, master, None


def cut_when_at_work(fd, pipe):
    seen, deadline = b"", time.monotonic() + 30
    while b"5M FPGA Program" not in seen and time.monotonic() < deadline:
        try:
            seen += os.read(fd, 4096) if select.select([fd], [], [], 0.1)[0] else b"."
        except OSError:  # the program has ended and closed its terminal
            break
    time.sleep(0.3)  # inside the first file's transfer
    pipe.close() if pipe else os.close(fd)


def moment(text):
    """Seconds since 1970 of a report's time, or None when it lacks its offset."""
    found = TIME.fullmatch(text or "")
    if not found:
        return None
    fields = [int(found.group(n)) for n in (1, 2, 3, 4, 5, 6, 8, 9)]
    east = (fields[6] * 3600 + fields[7] * 60) * (1 if found.group(7) == "+" else -1)
    return calendar.timegm(tuple(fields[:6]) + (0, 0, 0)) - east


def times_in_order(report):
    """What is wrong with the report's times: each with its offset, in the order of the run
    (one unit after the other), the first before the clocks went back and the last after."""
    texts = [report["start"]]
    for unit in report["units"]:
        texts += [unit["start"]] + [t for run in unit["runs"] for t in (run["start"], run["end"])]
        texts += [unit["end"]]
    texts.append(report["end"])
    moments = [moment(t) for t in texts]
    if None in moments or moments != sorted(moments):
        return ["times without offset or out of order: %s" % texts]
    if not (moments[0] < CLOCKS_GO_BACK <= moments[-1] and texts[0].endswith("+02:00")
            and texts[-1].endswith("+01:00")):
        return ["the run did not span the clocks going back: %s" % texts]
    return []


def check(case, status, units, folder):
    hangup = case == "hangup"
    problems = [] if status == (130 if hangup else 0) else ["exit status %s" % status]
    with open(os.path.join(folder, "report.json")) as f:
        report = json.load(f)
    results = [u["result"] for u in report["units"]]
    if report["end"] is None or results != [
            "not started" if hangup and n >= 4 else "complete" for n in range(len(units))]:
        problems.append("end %s, results %r" % (report["end"], sorted(set(
            "%s: %s" % (u["result"], u["message"]) for u in report["units"]))))
    if case == "clocks":
        problems += times_in_order(report)
    for address, result in zip(units, results):
        for name in FILES:
            stored = os.path.join(folder, "store", address, name)
            with open(os.path.join(folder, "set", name), "rb") as a:
                whole = os.path.exists(stored) and open(stored, "rb").read() == a.read()
            if whole != (result == "complete"):
                problems.append("%s (%s): %s %s" % (address, result, name, "whole" if whole
                                                    else "cut short or missing"))
    return problems


def run(cli, kqunit, case, folder):
    make_sample_set.make_set(os.path.join(folder, "set"), only={"fpga5m", "gamma", "logo"})
    with open(os.path.join(folder, "slow.txt"), "w") as f:
        f.write("" if case == "skip" else "transfer-end delay 1500 always\n")
    units = ["127.0.21.%d" % n for n in range(UNITS[case][0], sum(UNITS[case]))]
    simulated = subprocess.Popen(
        [kqunit, "--address", units[0] + "-" + units[-1], "--store",
         os.path.join(folder, "store"), "--strict", "--scenario", os.path.join(folder, "slow.txt")],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    problems = []
    try:
        for _ in range(100):  # until the last unit answers, at most 10 s
            try:
                socket.create_connection((units[-1], 21), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        for _ in range(3 if case == "skip" else 1):
            program, fd, pipe = start_cli(cli, case, units, os.path.join(folder, "set"))
            if case in ("pipe", "hangup"):
                cut_when_at_work(fd, pipe)
            try:
                problems += check(case, program.wait(timeout=60), units, folder)
            except subprocess.TimeoutExpired:
                program.kill()
                problems.append("the program did not end within a minute")
            if problems:
                break
    finally:
        simulated.terminate()
        simulated.wait(timeout=10)
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
