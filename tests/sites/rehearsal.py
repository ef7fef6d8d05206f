#!/usr/bin/python3
"""Rehearsal of updating many sites with the kqvorlink.fleet collection, on one machine.

Three sites (see site_hosts.py), each with units 127.0.0.10-127.0.0.25; site3 has a unit of the
other model (127.0.0.25) and one that refuses the logo (127.0.0.17). The controller runs the
collection's playbooks, and after each the checks of that step look at what the units stored,
at the reports and logs the controller got back and at Ansible's recap. Ends with
'N passed, M failed'.

    tests/sites/rehearsal.py --deb build/native/kqvorlink_2.0.0.0_amd64.deb --kqunit build/native/kqunit

Run as root. The update set has no CPU program, so no unit restarts and a unit's run takes
seconds; the last two plays' set has one, and kqvorlink-cli-scaled runs it at SCALE.
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

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "sim"))

import make_sample_set  # noqa: E402
from site_hosts import Sites  # noqa: E402

FIRST, LAST = "127.0.0.10", "127.0.0.25"
OTHER_MODEL, REFUSING = "127.0.0.25", "127.0.0.17"
SWITCHED_OFF = "127.0.0.26"  # on a site's list, but no unit answers there
FAULTY = "site3"
REFUSE_LOGO = 'command "EXCM k_Lg" reply "550 Selector refused."\n'
SCENARIO = "[%s]\nmodel KQ-B2\n[%s]\n%s" % (OTHER_MODEL, REFUSING, REFUSE_LOGO)
SET_COMPONENTS = ["web0", "logo"]  # three small files; the logo is what one unit refuses
PLAY_SECONDS = 150
TARGET, SCALE = "KQ-A2.01.02.12", 0.25  # what the units report after the CPU program
LATE, LATE_SITE = "127.0.29.10", "site2"  # switched on only once the run has tried it


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
                           "kqvorlink_reports": self.reports}
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

    def unchanged_except(self, before, changed_units):
        """No stored file changed since `before`, except in the stores of changed_units."""
        after = self.snapshot()
        moved = [p for p in set(before) | set(after) if before.get(p) != after.get(p)
                 and not any(os.sep + u + os.sep in p for u in changed_units)]
        return not moved, ", ".join(sorted(moved)[:4])


def recap(text):
    """{host: {ok, changed, failed, ...}} from the PLAY RECAP lines."""
    counts = {}
    for host, fields in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", text, re.M):
        counts[host] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", fields)}
    return counts


def every(value):
    return {s: dict(value) for s in ("site1", "site2", "site3")}


def steps(r):
    """The rehearsal: (what is done, [(check name, check)])."""
    all_units = r.sites.sites[0].unit_addresses()
    clean_of_faulty = [a for a in all_units if a not in (OTHER_MODEL, REFUSING)]
    complete = {a: "complete" for a in all_units}
    state = {}

    def documentation():
        module = os.path.join(ROOT, "ansible", "ansible_collections", "kqvorlink", "fleet",
                              "plugins", "modules", "kqvorlink_update.py")
        names = {}
        with open(module) as f:
            exec(compile(f.read().split("\ndef ", 1)[0].replace("from ansible", "#"), module,
                         "exec"), names)
        out = subprocess.run(["ansible-doc", "kqvorlink.fleet.kqvorlink_update"],
                             env=r.sites.environment(), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, timeout=60)
        state["doc"], state["module"] = out, names

    def doc_names(names):
        text = state["doc"].stdout
        missing = [n for n in names if not re.search(r"^[-=] %s$|^\s+%s:$" % (n, n), text, re.M)]
        return not missing, "not in ansible-doc: %s" % missing

    def check_play():
        state["empty"] = r.snapshot()
        r.playbook("check.yml")

    def update_play():
        r.playbook("update.yml", extra={"kqvorlink_serial": 2,
                                        "kqvorlink_max_fail_percentage": 100})

    def retry_play():
        state["before_retry"] = r.snapshot()
        r.site(FAULTY).start_units("[%s]\nmodel KQ-B2\n" % OTHER_MODEL)  # the logo is accepted now
        r.playbook("retry.yml")

    def skip_play():
        state["before_skip"] = r.snapshot()
        version = r.report("site1", "check-update-report.json")["units"][0]["version"]
        state["version"] = version
        # The unit of the other model is taken off the faulty site's list.
        inventory = r.sites.write_inventory(
            os.path.join(r.folder, "inventory-after.json"), r.group_vars,
            lambda s: ["%s-127.0.0.24" % FIRST] if s.name == FAULTY else ["%s-%s" % (FIRST, LAST)])
        r.playbook("update.yml", inventory, {"kqvorlink_skip_version": version})

    def failed_checks():
        """update.yml on sites 1 and 2, each with a unit switched off; site2 updates regardless."""
        path = r.sites.write_inventory(os.path.join(r.folder, "inventory-off.json"), r.group_vars,
                                       lambda s: ["%s-%s" % (FIRST, SWITCHED_OFF)])
        with open(path) as f:
            inventory = json.load(f)
        hosts = inventory["all"]["children"]["sites"]["hosts"]
        hosts["site2"]["kqvorlink_on_failed_check"] = "update"
        with open(path, "w") as f:
            json.dump(inventory, f)
        r.playbook("update.yml", path, {"kqvorlink_sites": "site1:site2",
                                        "kqvorlink_skip_version": state["version"]})
    current = {a: "current" for a in all_units}

    def canary_play():
        for s in r.sites.sites:
            s.start_units("version-after keep\n")  # a set whose CPU program does not take
        state["before_canary"] = r.snapshot()
        r.playbook("update.yml", extra=dict(r.rollout, kqvorlink_waves="1,100%"))

    def switch_on_late():
        """Switches the late unit on once the run has tried it and waits to try it again."""
        path = os.path.join(r.site(LATE_SITE).folder, "overlay", "var", "upper", "lib",
                            "kqvorlink", "reports", "update-report.json")  # as the run goes
        deadline = time.monotonic() + PLAY_SECONDS / 2
        while time.monotonic() < deadline and "late_on" not in state:
            try:
                with open(path) as f:
                    units = json.load(f)["units"]
            except (OSError, ValueError, KeyError, TypeError):
                units = []
            if any(u.get("address") == LATE and u.get("result") == "waiting" and u.get("attempts")
                   for u in units):
                r.site(LATE_SITE).switch_on(LATE)
                state["late_on"] = True
            time.sleep(0.1)

    def target_play():
        for s in r.sites.sites:
            s.start_units("")  # the version after the CPU program is the one it names
        path = r.sites.write_inventory(
            os.path.join(r.folder, "inventory-late.json"), r.group_vars,
            lambda s: ["%s-%s" % (FIRST, LAST)] + ([LATE] if s.name == LATE_SITE else []))
        r.playbook("update.yml", path, dict(r.rollout, kqvorlink_on_failed_check="update",
                                            kqvorlink_jobs=32,  # every unit at once: no waits
                                            kqvorlink_retry_unanswered=8, kqvorlink_retry_delay=1),
                   during=switch_on_late)

    def verified(site):
        report, late = r.report(site), [LATE] if site == LATE_SITE else []
        got = {u["address"]: (u["result"], u["version_after"]) for u in report["units"]}
        return (report["target_version"] == TARGET and got == {
            a: ("complete", TARGET) for a in all_units + late}, "got %s" % got)
    sites = ("site1", "site2", "site3")
    stopped = dict({a: "not started" for a in all_units}, **{FIRST: "failed"})
    why = ["do not run %s after the update: %s: KQ-A2.01.02.45" % (TARGET, FIRST),
           "wave 2 of 2 not started"]

    return [
        (documentation, [
            ("ansible-doc renders the module", lambda: (
                state["doc"].returncode == 0 and "EXAMPLES:" in state["doc"].stdout,
                state["doc"].stdout[-300:])),
            ("every option is documented", lambda: doc_names(state["module"]["ARGUMENT_SPEC"])),
            ("every returned key is documented", lambda: doc_names(
                ["report", "units", "summary", "not_complete", "would_update", "kept_logs",
                 "version_mismatch"])),
        ]),
        (check_play, [
            ("check mode stores nothing on any unit",
             lambda: (not r.snapshot(), "stored %s" % list(r.snapshot())[:3])),
            ("check play succeeds on every site",
             lambda: (r.play["rc"] == 0, "exit status %d" % r.play["rc"])),
            ("each site's check report is fetched and every unit answered",
             lambda: (all(r.report(s, "check-update-report.json")["summary"]["answered"] == 16
                          for s in ("site1", "site2", "site3")), "")),
            ("check mode writes no report on any site host", lambda: (not any(
                os.path.exists(s.folder + "/overlay/var/upper/lib/kqvorlink/reports")
                for s in r.sites.sites), "")),
            ("the check report marks the other model",
             lambda: ([u["address"] for u in r.report(FAULTY, "check-update-report.json")["units"]
                       if not u["model_matches"]] == [OTHER_MODEL], "")),
        ]),
        (update_play, [
            ("clean sites' units hold the set byte for byte",
             lambda: all_of(r.units_hold_set(s, all_units) for s in ("site1", "site2"))),
            ("the faulty site's clean units hold the set byte for byte",
             lambda: r.units_hold_set(FAULTY, clean_of_faulty)),
            ("the unit of the other model received nothing",
             lambda: (not os.listdir(r.stored(FAULTY, OTHER_MODEL)) if os.path.isdir(
                 r.stored(FAULTY, OTHER_MODEL)) else True, "")),
            ("only the faulty site failed, the others changed",
             lambda: r.recap_is(site1={"failed": 0, "unreachable": 0},
                                site2={"failed": 0, "unreachable": 0},
                                site3={"failed": 1, "unreachable": 0})),
            ("the failure names both failed units", lambda: r.failure_names(
                FAULTY, [OTHER_MODEL, REFUSING])),
            ("every site's report is fetched with each unit's result", lambda: all_of([
                r.results("site1", complete), r.results("site2", complete),
                r.results(FAULTY, dict(complete, **{OTHER_MODEL: "failed", REFUSING: "failed"}))])),
            ("the failed units' logs are fetched, no others", lambda: all_of([
                r.logs_fetched(FAULTY, [OTHER_MODEL, REFUSING]), r.logs_fetched("site1", []),
                r.logs_fetched("site2", [])])),
        ]),
        (retry_play, [
            ("the cleared unit now holds the set", lambda: r.units_hold_set(FAULTY, [REFUSING])),
            ("no other unit was touched",
             lambda: r.unchanged_except(state["before_retry"], [REFUSING])),
            ("the retry ran only the faulty site's failed units", lambda: all_of([
                r.results("site1", complete), r.results("site2", complete),
                r.results(FAULTY, {OTHER_MODEL: "failed", REFUSING: "complete"})])),
            ("only the faulty site failed again",
             lambda: r.recap_is(site1={"failed": 0}, site2={"failed": 0}, site3={"failed": 1})),
        ]),
        (skip_play, [
            ("the run with the units' version is ok and changes nothing",
             lambda: all_of([(r.play["rc"] == 0, "exit status %d" % r.play["rc"]),
                             r.recap_is(**every({"failed": 0, "changed": 0}))])),
            ("every unit is reported current", lambda: all_of([
                r.results("site1", {a: "current" for a in all_units}),
                r.results("site2", {a: "current" for a in all_units}),
                r.results(FAULTY, {a: "current" for a in all_units if a != OTHER_MODEL})])),
            ("no unit was sent anything", lambda: r.unchanged_except(state["before_skip"], [])),
        ]),
        (failed_checks, [
            ("by default the site fails as left out, naming the unit; none runs", lambda: all_of([
                r.recap_is(site1={"failed": 1}), r.results("site1", current),
                r.failure_names("site1", ["left out", SWITCHED_OFF])])),
            ("updated all the same: the site fails naming the unit, others run", lambda: all_of([
                r.recap_is(site2={"failed": 1}), r.failure_names("site2", [SWITCHED_OFF]),
                r.results("site2", dict(current, **{SWITCHED_OFF: "failed"}))])),
        ]),
        (canary_play, [
            ("a canary wave stops a set that does not take at one unit per site, naming why",
             lambda: all_of([r.recap_is(**every({"failed": 1}))] + [
                 r.results(s, stopped) for s in sites] + [r.failure_names(s, why) for s in sites])),
            ("no other unit was sent anything",
             lambda: r.unchanged_except(state["before_canary"], [FIRST])),
        ]),
        (target_play, [
            ("every site is ok, the target version verified on every unit", lambda: all_of(
                [r.recap_is(**every({"failed": 0, "unreachable": 0}))] + [
                    verified(s) for s in sites])),
            ("the unit switched on during the run is updated on a further attempt", lambda: (
                "late_on" in state and r.report(LATE_SITE)["units"][-1]["attempts"] > 1,
                "switched on: %s" % ("late_on" in state))),
        ]),
    ]


def all_of(outcomes):
    outcomes = list(outcomes)
    return all(ok for ok, _ in outcomes), "; ".join(d for ok, d in outcomes if not ok)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb", required=True, help="the package to install on the site hosts")
    parser.add_argument("--kqunit", required=True, help="the simulated unit's program")
    parser.add_argument("--scaled-cli", help="kqvorlink-cli-scaled (default: beside kqunit)")
    parser.add_argument("--keep", action="store_true", help="keep the temp folder")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("the rehearsal needs root (network and mount namespaces)")
        return 2
    folder = tempfile.mkdtemp(prefix="kqsites.")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # tear down in `finally`
    passed = failed = 0
    started = time.monotonic()
    sites = None
    try:
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
        if sites:
            sites.close()
        print("rehearsal: %.0f s; files in %s" % (time.monotonic() - started, folder))
        if not args.keep and failed == 0:
            shutil.rmtree(folder, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
