#!/usr/bin/env python3
"""Headless demo: runs one real update with KQVorlink.exe under Wine in a virtual display,
driving its window as a person would, against kqunit serving an update set; prints what the
window showed, the outcome, the activity log and what the unit received.

    python3 tests/e2e/demo_run.py --build BUILD_WINDOWS --kqunit PATH/kqunit --set DIR
                                  [--address 127.0.0.50] [--unit-scenario FILE]
"""

import argparse
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean

from run_e2e import Environment  # noqa: E402
from session import Program, Unit, isolate_or_continue, log  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "sim"))
import demo_log  # noqa: E402

STEP_NAMES = {
    1005: "1 CPU program", 1006: "2 5M FPGA program", 1007: "3 resize FPGA program",
    1008: "4 web 0 data", 1009: "5 web 1 data", 1010: "6 cursor data", 1011: "7 icon data",
    1012: "8 shading data", 1013: "9 gamma data", 1014: "10 scene data", 1021: "11 logo data",
    1022: "12 2M FPGA program", 1016: "default data setting",
}


def keep_log(folder, kept):
    """Hard-links the program's activity log, which it wrote on opening, to `kept`: the program
    appends to it by name and deletes the name after a successful run, so the link keeps every
    entry. Returns False when the program wrote no log."""
    path = os.path.join(folder, demo_log.LOG_NAME)
    end = time.time() + 10
    while not os.path.exists(path) and time.time() < end:
        time.sleep(0.1)
    if os.path.exists(kept):
        os.remove(kept)
    try:
        os.link(path, kept)
        return True
    except OSError:
        return False


def demo(env, args):
    folder = os.path.join(env.work, "demo-folder")
    store = os.path.join(env.work, "demo-unit-store")
    for path in (folder, store):
        shutil.rmtree(path, ignore_errors=True)
    shutil.copytree(args.set, folder)
    shutil.copy(env.exe, os.path.join(folder, "KQVorlink.exe"))
    sources = {n: open(os.path.join(args.set, n), "rb").read() for n in os.listdir(args.set)}

    unit = Unit(env.kqunit, args.address, store, os.path.join(env.work, "demo-unit-output.txt"),
                scenario=args.unit_scenario)
    program = Program(folder, env.wine, os.path.join(env.work, "demo-wine-output.txt"))
    d = env.driver
    try:
        window = d("wait-window 30000")
        if not window["ok"]:
            log("the program's window did not open")
            return 1
        state = {c["id"]: c for c in d("state")["controls"]}
        log("window: %s" % window["caption"])
        log("heading: %s   model: %s" % (state[1002]["text"], state[1020]["text"]))
        log("steps found in the folder: %s" % ", ".join(
            STEP_NAMES[i] for i in STEP_NAMES if state[i]["visible"]))
        log("typing %s into the address fields and pressing Update" % args.address)
        for field, part in zip((1026, 1027, 1028, 1029), args.address.split(".")):
            d("type %d %s" % (field, part))
        kept = os.path.join(env.work, "demo-kept-log.txt")
        keeping = keep_log(folder, kept)
        d("click 1001")
        started = time.time()
        shown = set()  # labels seen shown; one of them hiding is its step blinking
        blinking = set()
        status = None
        ended = "time"
        while time.time() - started < 400 and ended == "time":
            chunk = time.time()
            answer = d("watch 3000")
            ended = answer["ended"]
            for e in answer["events"]:
                when = chunk + e["t"] / 1000.0 - started
                label = e["id"]
                if label == 1015 and e.get("text") and e["text"] != status:
                    status = e["text"]
                    log("  [%5.1f s] %s" % (when, status))
                elif label in STEP_NAMES and e["visible"]:
                    shown.add(label)
                elif label in shown and label not in blinking:
                    blinking.add(label)
                    log("  [%5.1f s] step %s is blinking" % (when, STEP_NAMES[label]))
        box = d("wait-box 5000")
        success = box.get("ok") and box["text"].rstrip() == "Update Complete."
        if box.get("ok"):
            log("message box (%s icon): %s" % (box["icon"], box["text"].rstrip()))
            d("press-box")
        else:
            log("the run ended without a message box")
        if program.running() and d("alive")["main"]:
            log("version line: %s" % d("get 1047").get("text", ""))
        log("")
        if keeping:
            demo_log.print_kept(folder, [kept])
        else:
            log("== the program wrote no activity log")
        unit.stop()
        stored = unit.stored()
        log("\nthe unit received %d command lines and stored %d files:" % (
            len(unit.commands()), len(stored)))
        for name, data in stored.items():
            same = "same as the source" if sources.get(name) == data else "DIFFERS from the source"
            log("  %-14s %7d bytes, %s" % (name, len(data), same))
        if program.running() and d("alive")["main"]:
            d("click 1019")
            notice = d("wait-box 5000")
            if notice.get("ok"):
                log("on Exit: %s" % notice["text"].rstrip())
                d("press-box")
            program.wait_end(15)
        log("\nresult: %s" % ("update complete" if success else "the update failed"))
        return 0 if success else 1
    finally:
        program.kill()
        unit.stop()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--kqunit", required=True)
    parser.add_argument("--set", required=True, help="folder with the update set")
    parser.add_argument("--address", default="127.0.0.50")
    parser.add_argument("--unit-scenario", help="scenario file for kqunit")
    parser.add_argument("--exe")
    parser.add_argument("--work")
    args = parser.parse_args(argv)
    if not args.address.startswith("127."):
        parser.error("the demo uses loopback addresses only")
    for name in ("build", "kqunit", "set"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    args.exe = os.path.abspath(args.exe) if args.exe else None
    if args.unit_scenario:
        args.unit_scenario = os.path.abspath(args.unit_scenario)
    if not isolate_or_continue([sys.executable, os.path.abspath(__file__)] + argv):
        return 1
    env = Environment(args)
    try:
        env.start()
        return demo(env, args)
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
