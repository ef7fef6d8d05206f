#!/usr/bin/python3
"""A fleet run whose reader goes away while units are in the middle of their transfers, as the
most common early ends of a long run happen: its output piped into `head`, which exits after the
first line that shows a unit at work (case `pipe`), or its terminal hung up (case `hangup`: the
pseudo-terminal is closed, the program gets SIGHUP and EIO). Either way the program must end by
itself: every unit with its own result in a complete report, what each unit stored equal to the
set's files, no unit left mid-transfer; a hang-up is an interrupt (no further unit starts, exit
status 130), a closed pipe only loses the output (every unit completes, exit status 0).

    hangup_test.py --cli kqvorlink-cli-scaled --kqunit kqunit --case pipe|hangup
"""

import argparse, fcntl, json, os, select, socket, subprocess, sys, tempfile, termios, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim"))
import make_sample_set  # noqa: E402

# Eight units, four at a time; each of the set's three files takes 1.5 s to end, so the cut
# finds the first four in their transfers and the other four waiting.
CASES = {"pipe": ("127.0.21.%d", 11), "hangup": ("127.0.21.%d", 21)}
FILES = ("FPGA5M.bin", "gamma.tbl", "LOGO.bmp")


def addresses(case):
    pattern, first = CASES[case]
    return [pattern % n for n in range(first, first + 8)]


def start_cli(cli, case, folder, report):
    units = addresses(case)
    args = [cli, "0.05", "update", "--jobs", "4", "--report", report,
            units[0] + "-" + units[-1]]
    if case == "pipe":
        return subprocess.Popen(args, cwd=folder, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL), None
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, b"\x18\x00\x50\x00\x00\x00\x00\x00")

    def own_terminal():  # the terminal becomes the program's own: closing it hangs it up
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    program = subprocess.Popen(args, cwd=folder, stdin=slave, stdout=slave, stderr=slave,
                               start_new_session=True, preexec_fn=own_terminal)
    os.close(slave)
    return program, master


def cut_when_at_work(program, master):
    """Reads until the output shows a unit at work, then goes away; false after 30 s."""
    fd = master if master is not None else program.stdout.fileno()
    seen, deadline = b"", time.monotonic() + 30
    while time.monotonic() < deadline and b"5M FPGA Program" not in seen:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                data = os.read(fd, 4096)
            except OSError:
                break
            if not data:
                break
            seen += data
    time.sleep(0.3)  # well inside the first file's transfer
    if master is not None:
        os.close(master)
    else:
        program.stdout.close()
    return b"5M FPGA Program" in seen


def check(case, status, report_path, store):
    problems = []
    interrupted = case == "hangup"
    if status != (130 if interrupted else 0):
        problems.append("exit status %s" % status)
    try:
        with open(report_path) as f:
            report = json.load(f)
    except (OSError, ValueError) as e:
        return problems + ["no readable report: %s" % e]
    if report.get("end") is None:
        problems.append("the report has no end: it was not written at the end of the run")
    results = [u.get("result") for u in report.get("units", [])]
    expected = ["complete"] * 4 + ["not started" if interrupted else "complete"] * 4
    if results != expected:
        problems.append("results %r, expected %r" % (results, expected))
    set_folder = os.path.join(os.path.dirname(report_path), "set")
    for address, result in zip(addresses(case), results):
        folder = os.path.join(store, address)
        stored = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        if result != "complete":
            if stored:
                problems.append("%s (%s) stored %r" % (address, result, stored))
            continue
        for name in FILES:
            with open(os.path.join(set_folder, name), "rb") as a:
                sent = a.read()
            try:
                with open(os.path.join(folder, name), "rb") as b:
                    got = b.read()
            except OSError:
                got = None
            if got != sent:
                problems.append("%s: %s arrived %s" % (
                    address, name, "not at all" if got is None else "cut short or changed"))
    return problems


def run(cli, kqunit, case, folder):
    make_sample_set.make_set(os.path.join(folder, "set"), only={"fpga5m", "gamma", "logo"})
    with open(os.path.join(folder, "slow.txt"), "w") as f:
        f.write("transfer-end delay 1500 always\n")
    units = addresses(case)
    store = os.path.join(folder, "store")
    unit_process = subprocess.Popen(
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
        else:
            return ["the simulated units did not start"]
        report = os.path.join(folder, "report.json")
        program, master = start_cli(cli, case, os.path.join(folder, "set"), report)
        try:
            if not cut_when_at_work(program, master):
                return ["no unit was seen at work within 30 s"]
            status = program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            return ["the program did not end within a minute of the cut"]
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
        return check(case, status, report, store)
    finally:
        unit_process.terminate()
        unit_process.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--kqunit", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="fleet-hangup-") as folder:
        problems = run(os.path.abspath(args.cli), os.path.abspath(args.kqunit), args.case, folder)
    print("\n".join("FAIL %s: %s" % (args.case, p) for p in problems) or "ok: " + args.case)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
