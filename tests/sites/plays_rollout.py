"""The rehearsal's roll-out plays: sites whose check fails, a canary wave that stops a set
that does not take, and a roll-out to a target version with a unit switched on late."""

import json
import os
import time

from rehearsal_fleet import (FIRST, KEPT_RUNS, LAST, LATE, LATE_SITE, PLAY_SECONDS,
                             SWITCHED_OFF, TARGET, all_of, every)


def steps(r, state):
    """(what is done, [(check name, check)]) of these plays, in order."""
    all_units = r.sites.sites[0].unit_addresses()
    current = {a: "current" for a in all_units}

    def failed_checks():
        """update.yml on sites 1 and 2, each with a unit switched off; site2 updates regardless."""
        path = r.sites.write_inventory(os.path.join(r.folder, "inventory-off.json"), r.group_vars,
                                       lambda s: ["%s-%s" % (FIRST, SWITCHED_OFF)])
        r.set_host_var(path, "site2", "kqvorlink_on_failed_check", "update")
        r.playbook("update.yml", path, {"kqvorlink_sites": "site1:site2",
                                        "kqvorlink_skip_version": state["version"]})

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

    def unreachable_play():
        """status.yml with no site host reachable."""
        path = r.sites.write_inventory(os.path.join(r.folder, "inventory-unreachable.json"),
                                       r.group_vars, lambda s: ["%s-%s" % (FIRST, LAST)])
        with open(path) as f:
            inventory = json.load(f)
        for name, host in inventory["all"]["children"]["sites"]["hosts"].items():
            # a name of its own: no open connection of the earlier plays serves it
            host.update(ansible_host="gone-" + name,
                        ansible_ssh_common_args="-o ProxyCommand=false")
        with open(path, "w") as f:
            json.dump(inventory, f)
        state["page_written"] = os.stat(os.path.join(r.reports, "fleet.html")).st_mtime_ns
        r.playbook("status.yml", path)

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
            ("the newest runs kept, the oldest gone; the page shows each unit as they do",
             lambda: all_of([r.page.runs_kept(KEPT_RUNS), r.page.rows_match(),
                             r.page.screenshot(r.screenshot)])),
        ]),
        (unreachable_play, [
            ("no site host reachable: every site fails, the page is written all the same and "
             "marks each unreachable", lambda: all_of([
                 r.recap_is(**every({"failed": 1})), r.page.unreachable(state["page_written"])])),
        ]),
    ]
