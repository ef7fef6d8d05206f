"""The rehearsal's first plays: the module's documentation, status.yml (a check of every site
and the fleet page), an update with a failing site, retry.yml and an update that skips the
units' version."""

import ast
import os
import re
import subprocess

from rehearsal_fleet import FIRST, LAST, FAULTY, OTHER_MODEL, REFUSING, ROOT, all_of, every


# The modules and the keys they return.
MODULES = {"kqvorlink_update": ["report", "units", "summary", "not_complete", "would_update",
                                "kept_logs", "version_mismatch", "set", "operator"],
           "kqvorlink_fleet_page": ["page", "bytes", "counts", "set_marks", "problems"]}


def steps(r, state):
    """(what is done, [(check name, check)]) of these plays, in order."""
    all_units = r.sites.sites[0].unit_addresses()
    clean_of_faulty = [a for a in all_units if a not in (OTHER_MODEL, REFUSING)]
    complete = {a: "complete" for a in all_units}

    def documentation():
        for name in MODULES:
            with open(os.path.join(ROOT, "ansible", "ansible_collections", "kqvorlink", "fleet",
                                   "plugins", "modules", name + ".py")) as f:
                options = next(n.value for n in ast.parse(f.read()).body if isinstance(n, ast.Assign)
                            and getattr(n.targets[0], "id", "") == "ARGUMENT_SPEC")
            out = subprocess.run(["ansible-doc", "kqvorlink.fleet." + name],
                                 env=r.sites.environment(), stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, timeout=60)
            state[name] = out, eval(compile(ast.Expression(options), name, "eval"), {"dict": dict})

    def doc_names(module, names):
        text = state[module][0].stdout
        missing = [n for n in names if not re.search(r"^[-=] %s$|^\s+%s:$" % (n, n), text, re.M)]
        return not missing, "not in ansible-doc: %s" % missing

    def status_play():
        state["empty"] = r.snapshot()
        r.playbook("status.yml")

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


    return [
        (documentation, [
            ("ansible-doc renders the modules", lambda: all_of(
                (state[m][0].returncode == 0 and "EXAMPLES:" in state[m][0].stdout,
                 state[m][0].stdout[-300:]) for m in MODULES)),
            ("every option is documented", lambda: all_of(
                doc_names(m, state[m][1]) for m in MODULES)),
            ("every returned key is documented", lambda: all_of(
                doc_names(m, keys) for m, keys in MODULES.items())),
        ]),
        (status_play, [
            ("check mode stores nothing on any unit",
             lambda: (not r.snapshot(), "stored %s" % list(r.snapshot())[:3])),
            ("status.yml succeeds on every site",
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
            ("one run kept a site; the page in a browser shows each unit as the reports do",
             lambda: all_of([r.page.runs_kept(1), r.page.rows_match()])),
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
            ("the page is written although a site failed, its rows as the kept reports",
             lambda: all_of([r.page.runs_kept(3), r.page.rows_match()])),
            ("filtered by result, the page shows the failed units alone",
             lambda: r.page.filtered("failed")),
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
    ]
