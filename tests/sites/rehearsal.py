#!/usr/bin/python3
"""Rehearsal of updating many sites with the kqvorlink.fleet collection, on one machine.

Three sites (see site_hosts.py), each with units 127.0.0.10-127.0.0.25; site3 has a unit of the
other model (127.0.0.25) and one that refuses the logo (127.0.0.17). The controller runs the
collection's playbooks (plays_first.py, plays_rollout.py, then the signed set of
plays_signed.py, made with kqvorlink-cli beside kqunit), and after each the checks of
that step look at what the units stored, at the reports and logs the controller got back, at
Ansible's recap and at the fleet page in a browser (page_checks.py). Ends with
'N passed, M failed'.

    tests/sites/rehearsal.py --deb build/native/kqvorlink_2.0.0.0_amd64.deb --kqunit build/native/kqunit

Run as root. The update set has no CPU program, so no unit restarts and a unit's run takes
seconds; the two roll-out plays' set has one, and kqvorlink-cli-scaled runs it at SCALE.
"""

import argparse
import filecmp
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rehearsal_fleet import (FIRST, KEPT_RUNS, LAST, PLAY_SECONDS, ROOT, SCALE,  # noqa: E402
                             SCENARIO, SET_COMPONENTS, SITES, TARGET)
sys.path.insert(0, os.path.join(ROOT, "sim"))

import make_sample_set  # noqa: E402
import plays_first  # noqa: E402
import plays_rollout  # noqa: E402
import plays_signed  # noqa: E402
from page_checks import PageChecks  # noqa: E402
from site_hosts import Sites  # noqa: E402


class Rehearsal:
    def __init__(self, args, folder, sites):
        self.folder = folder
        self.set = os.path.join(folder, "set")
        make_sample_set.make_set(self.set, only=set(SET_COMPONENTS))
        self.reports = os.path.join(folder, "reports")
        self.sites = sites
        for n in range(3):
            self.sites.add((FIRST, LAST), SCENARIO if n == 2 else "")
        self.group_vars = {"kqvorlink_deb": os.path.abspath(args.deb), "kqvorlink_set": self.set,
                           "kqvorlink_reports": self.reports, "kqvorlink_kept_runs": KEPT_RUNS}
        self.inventory = self.sites.write_inventory(
            os.path.join(folder, "inventory.json"), self.group_vars, lambda s: ["%s-%s" % (FIRST, LAST)])
        self.play = {}
        self.plays = []
        cpu_set, scaled = os.path.join(folder, "set-cpu"), os.path.join(folder, "scaled-cli")
        make_sample_set.make_set(cpu_set, only={"cpu"})
        with open(scaled, "w") as f:
            f.write('#!/bin/sh\nexec %s %s "$@"\n' % (os.path.abspath(args.scaled_cli or os.path.join(
                os.path.dirname(args.kqunit), "kqvorlink-cli-scaled")), SCALE))
        os.chmod(scaled, 0o755)
        self.rollout = {"kqvorlink_set": cpu_set, "kqvorlink_cli": scaled,
                        "kqvorlink_target_version": TARGET}
        self.cli = os.path.join(os.path.dirname(args.kqunit), "kqvorlink-cli")
        self.page = PageChecks(folder, self.reports, SITES)
        self.screenshot = args.screenshot or os.path.join(folder, "fleet-page.png")

    # --- what the steps do

    def playbook(self, name, inventory=None, extra=None, during=None):
        cmd = ["ansible-playbook", "-i", inventory or self.inventory,
               os.path.join(ROOT, "ansible", "playbooks", name)]
        for key, value in (extra or {}).items():
            cmd += ["-e", "%s=%s" % (key, value)]
        started = time.monotonic()
        path = os.path.join(self.folder, "play-%d-%s.txt" % (len(self.plays),
                                                             os.path.basename(name)))
        self.plays.append(path)
        with open(path, "w") as log:
            # A group of its own, so that a play that overruns is ended with all its workers.
            play = subprocess.Popen(cmd, env=self.sites.environment(), stdout=log,
                                    stderr=subprocess.STDOUT, start_new_session=True)
            try:
                if during:
                    during()
                rc = play.wait(max(1, PLAY_SECONDS - (time.monotonic() - started)))
            except subprocess.TimeoutExpired:
                os.killpg(play.pid, signal.SIGKILL)
                play.wait()
                raise RuntimeError("%s ran longer than %d s (see %s)" % (name, PLAY_SECONDS, path))
        with open(path) as log:
            out = log.read()
        print("  %s: exit status %d, %.1f s" % (name, rc, time.monotonic() - started))
        self.play = {"rc": rc, "out": out, "recap": recap(out)}

    def set_host_var(self, inventory, host, name, value):
        """Gives one site of an inventory that write_inventory wrote a variable of its own."""
        with open(inventory) as f:
            hosts = json.load(f)
        hosts["all"]["children"]["sites"]["hosts"][host][name] = value
        with open(inventory, "w") as f:
            json.dump(hosts, f)

    def site(self, name):
        return next(s for s in self.sites.sites if s.name == name)

    def stored(self, site, address):
        return os.path.join(self.site(site).store, address)

    def snapshot(self):
        """Every stored file of every unit, with its change time and size."""
        shot = {}
        for s in self.sites.sites:
            for top, _dirs, files in os.walk(s.store):
                for name in files:
                    st = os.stat(os.path.join(top, name))
                    shot[os.path.join(top, name)] = (st.st_mtime_ns, st.st_size)
        return shot

    def report(self, site, name="update-report.json"):
        with open(os.path.join(self.reports, site, name)) as f:
            return json.load(f)

    # --- what the checks look at

    def units_hold_set(self, site, addresses):
        """The units' stores hold every file of the set, byte for byte."""
        bad = []
        for address in addresses:
            for name in os.listdir(self.set):
                held = os.path.join(self.stored(site, address), name)
                if not os.path.exists(held) or not filecmp.cmp(held, os.path.join(self.set, name),
                                                                shallow=False):
                    bad.append("%s %s/%s" % (site, address, name))
        return not bad, ", ".join(bad[:4])

    def results(self, site, expected):
        """The fetched update report holds exactly these units with these results."""
        got = {u["address"]: u["result"] for u in self.report(site)["units"]}
        return got == expected, "got %s" % got

    def recap_is(self, **want):
        """Ansible's recap: each site's counts as given (a count of None is not looked at)."""
        bad = []
        for site, counts in want.items():
            have = self.play["recap"].get(site, {})
            for key, value in counts.items():
                if have.get(key) != value:
                    bad.append("%s %s=%s" % (site, key, have.get(key)))
        return not bad, ", ".join(bad)

    def failure_names(self, site, addresses):
        """The task's failure message for the site names each of these units."""
        msgs = re.findall(r"fatal: \[%s\]: FAILED! => (\{.*\})" % site, self.play["out"])
        text = " ".join(json.loads(m).get("msg", "") for m in msgs)
        missing = [a for a in addresses if a not in text]
        return bool(msgs) and not missing, "message %r" % text[:300]

    def logs_fetched(self, site, addresses):
        folder = os.path.join(self.reports, site, "logs")
        have = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        want = sorted("KQVorlink-%s.log" % a for a in addresses)
        sizes = [os.path.getsize(os.path.join(folder, n)) for n in have]
        return have == want and all(sizes), "have %s" % have

    def unchanged_except(self, before, changed_units, site=None):
        """No stored file changed since `before`, except in the stores of changed_units; with
        `site`, of that site's units alone."""
        after, within = self.snapshot(), self.site(site).store + os.sep if site else ""
        moved = [p for p in set(before) | set(after) if before.get(p) != after.get(p)
                 and p.startswith(within)
                 and not any(os.sep + u + os.sep in p for u in changed_units)]
        return not moved, ", ".join(sorted(moved)[:4])


def recap(text):
    """{host: {ok, changed, failed, ...}} from the PLAY RECAP lines."""
    counts = {}
    for host, fields in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", text, re.M):
        counts[host] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", fields)}
    return counts


def steps(rehearsal):
    """The rehearsal: (what is done, [(check name, check)]), play after play."""
    state = {}
    return (plays_first.steps(rehearsal, state) + plays_rollout.steps(rehearsal, state) +
            plays_signed.steps(rehearsal, state))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb", required=True, help="the package to install on the site hosts")
    parser.add_argument("--kqunit", required=True, help="the simulated unit's program")
    parser.add_argument("--scaled-cli", help="kqvorlink-cli-scaled (default: beside kqunit)")
    parser.add_argument("--keep", action="store_true", help="keep the temp folder")
    parser.add_argument("--screenshot", help="where the picture of the fleet page goes "
                        "(default: the temp folder)")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("the rehearsal needs root (network and mount namespaces)")
        return 2
    folder = tempfile.mkdtemp(prefix="kqsites.")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # tear down in `finally`
    passed = failed = 0
    started = time.monotonic()
    sites = rehearsal = None
    try:
        # The browser's driver listens on loopback, in this namespace of the controller's.
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=30)
        sites = Sites(folder, args.kqunit, os.path.join(ROOT, "ansible"))
        rehearsal = Rehearsal(args, folder, sites)
        for step, checks in steps(rehearsal):
            print("%s:" % step.__name__.replace("_", " "))
            step()
            for name, check in checks:
                try:
                    ok, detail = check()
                except (OSError, KeyError, ValueError, IndexError) as e:
                    ok, detail = False, "%s: %s" % (type(e).__name__, e)
                passed, failed = passed + ok, failed + (not ok)
                print("  %s %s%s" % ("ok  " if ok else "FAIL", name, "" if ok else ": " + detail))
    except Exception as e:  # a step that could not run fails the rehearsal, with its reason
        print("rehearsal stopped: %s: %s" % (type(e).__name__, e))
        failed += 1
    finally:
        if rehearsal:
            rehearsal.page.close()
        if sites:
            sites.close()
        print("rehearsal: %.0f s; files in %s" % (time.monotonic() - started, folder))
        if not args.keep and failed == 0:
            shutil.rmtree(folder, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
