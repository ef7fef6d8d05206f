#!/usr/bin/python3
"""Benchmark of updating many sites with the kqvorlink.fleet collection: 4 sites of 64 units.

Sets up the sites of the rehearsal (tests/sites/site_hosts.py) with a full update set (CPU
program included, so each unit restarts and the run lasts about a minute, in real time), then:

  one unit     kqvorlink-cli alone on one site host, one unit: the yardstick
  ssh cold     ansible ping of every site, new SSH connections (SSH set-up + a module sent)
  ssh warm     the same over the open connections (a module sent and run)
  prepare      check.yml the first time: package copied and installed, set copied, units asked
  check        check.yml again: nothing to copy, units asked
  update       update.yml: check play, then every site's 64 units updated at once

and prints a table: wall time, ratio to one unit's run, peak memory of the controller (every
process of ansible-playbook with its ssh children, summed, sampled every 0.1 s), and for the
update what Ansible adds on top of the longest run of kqvorlink-cli on a site.

    tests/bench/sites_bench.py --deb build/release/kqvorlink_2.0.0.0_amd64.deb \
        --kqunit build/native/kqunit --cli build/release/kqvorlink-cli [--sites 4] [--units 64]

Run as root, in a network namespace of its own (unshare -n).
"""

import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "sites"))
sys.path.insert(0, os.path.join(ROOT, "sim"))

import make_sample_set  # noqa: E402
from site_hosts import Sites  # noqa: E402

FIRST = "127.0.0.10"
RUN_SECONDS = 900


def tree_rss_kib(root):
    """Resident memory of root and all its descendants, in KiB."""
    parents = {}
    rss = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/statm" % pid) as f:
                rss[int(pid)] = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
            parents[int(pid)] = int(fields[1])
        except (OSError, IndexError, ValueError):
            continue
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo += [p for p, parent in parents.items() if parent == pid]
    return total


def timed(cmd, env=None, log=None):
    """(seconds, exit status, peak KiB of the process tree)."""
    started = time.monotonic()
    out = open(log, "w") if log else subprocess.DEVNULL
    process = subprocess.Popen(cmd, env=env, stdout=out, stderr=subprocess.STDOUT,
                               start_new_session=True)
    peak = [0]

    def sample():
        while process.poll() is None:
            peak[0] = max(peak[0], tree_rss_kib(process.pid))
            time.sleep(0.1)

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        rc = process.wait(RUN_SECONDS)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, 9)
        rc = process.wait()
    sampler.join()
    return time.monotonic() - started, rc, peak[0]


def longest_cli_run(reports, sites):
    """Seconds of the longest kqvorlink-cli run among the sites' fetched update reports."""
    longest = 0
    for site in sites:
        with open(os.path.join(reports, site.name, "update-report.json")) as f:
            report = json.load(f)
        start, end = (datetime.datetime.fromisoformat(report[k]) for k in ("start", "end"))
        longest = max(longest, (end - start).total_seconds())
    return longest


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb", required=True)
    parser.add_argument("--kqunit", required=True)
    parser.add_argument("--cli", required=True, help="kqvorlink-cli for the one-unit yardstick")
    parser.add_argument("--sites", type=int, default=4)
    parser.add_argument("--units", type=int, default=64)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="kqsitesbench.")
    last = "127.0.0.%d" % (10 + args.units - 1)
    sites = None
    rows = []
    try:
        sites = Sites(folder, os.path.abspath(args.kqunit), os.path.join(ROOT, "ansible"))
        for _ in range(args.sites):
            sites.add((FIRST, last))
        set_dir = os.path.join(folder, "set")
        make_sample_set.make_set(set_dir)
        reports = os.path.join(folder, "reports")
        inventory = sites.write_inventory(
            os.path.join(folder, "inventory.json"),
            {"kqvorlink_deb": os.path.abspath(args.deb), "kqvorlink_set": set_dir,
             "kqvorlink_reports": reports, "kqvorlink_jobs": args.units},
            lambda s: ["%s-%s" % (FIRST, last)])
        env = sites.environment()
        one = sites.sites[0]
        seconds, rc, peak = timed(["ip", "netns", "exec", one.netns, os.path.abspath(args.cli),
                                   "update", "--set", set_dir, "--log-dir", folder, "--report",
                                   os.path.join(folder, "one.json"), FIRST],
                                  log=os.path.join(folder, "one.txt"))
        yardstick = seconds
        rows.append(("one unit (kqvorlink-cli alone)", seconds, rc, peak, None))
        ping = ["ansible", "-i", inventory, "sites", "-m", "ansible.builtin.ping"]
        rows.append(("ssh cold: ping, new connections",) + timed(ping, env) + (None,))
        rows.append(("ssh warm: ping, open connections",) + timed(ping, env) + (None,))
        book = os.path.join(ROOT, "ansible", "playbooks")
        for name, playbook in (("prepare: check.yml, first time", "check.yml"),
                               ("check: check.yml again", "check.yml"),
                               ("update: update.yml (check + update)", "update.yml")):
            log = os.path.join(folder, playbook + ".txt")
            seconds, rc, peak = timed(["ansible-playbook", "-i", inventory,
                                       os.path.join(book, playbook)], env, log)
            added = seconds - longest_cli_run(reports, sites.sites) if playbook == "update.yml" \
                else None
            rows.append((name, seconds, rc, peak, added))
    finally:
        if sites:
            sites.close()
    print("%d sites of %d units; update set %s; yardstick %.1f s" % (
        args.sites, args.units, "with the CPU program", yardstick))
    print("%-40s %9s %6s %5s %12s %14s" % ("step", "wall s", "ratio", "exit", "peak MiB",
                                           "Ansible adds"))
    for name, seconds, rc, peak, added in rows:
        print("%-40s %9.1f %6.2f %5d %12.1f %14s" % (
            name, seconds, seconds / yardstick, rc, peak / 1024.0,
            "" if added is None else "%.1f s" % added))
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
