# -*- coding: utf-8 -*-
# The fleet as the kept runs on the controller tell it: every site's runs in the order they
# began, every unit's history across them, what each unit runs now and the counts of the fleet.
# The reports are read by kqvorlink_reports; this file only puts them side by side.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import re
from datetime import datetime

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_reports import (
    read_report, unit_done, version_given, version_in_report)

RUNS = "runs"
# The last reports, read for a site that has no kept run yet (runs from before they were kept).
LAST_REPORTS = ("check-update-report.json", "update-report.json")
KEPT_NAME = re.compile(r"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{6}-(check|update)\.json$")
TIME = re.compile(r"[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])T([01][0-9]|2[0-3])(:[0-5][0-9]){2}")
# A report larger than this is not read: it would make the page larger than any browser shows.
LARGEST_REPORT = 64 * 1024 * 1024


def moment(clock_text):
    t = clock_text
    return datetime(int(t[:4]), int(t[5:7]), int(t[8:10]), int(t[11:13]), int(t[14:16]),
                    int(t[17:19]))


def clock(text):
    """The local date and time at the start of a report's time text, or None (also for a day
    that does not exist)."""
    if not isinstance(text, str) or not TIME.match(text):
        return None
    try:
        moment(text)
    except ValueError:
        return None
    return text[:19]


def text_or_none(value):
    return value if isinstance(value, str) else None


def count(value):
    return value if isinstance(value, int) and not isinstance(value, bool) and value >= 0 else None


def check_entry(unit):
    answered = unit.get("answered") is True
    return dict(result="answered" if answered else "no answer", model=text_or_none(unit.get("model")),
                before=text_or_none(unit.get("version")), after=None,
                read=text_or_none(unit.get("version")) if answered else None,
                message=text_or_none(unit.get("message")), no_answer=not answered,
                start=None, end=None, attempts=None, updated=False)


def update_entry(unit):
    result = unit.get("result") if isinstance(unit.get("result"), str) else "unknown"
    before, after = text_or_none(unit.get("version_before")), text_or_none(unit.get("version_after"))
    model = text_or_none(unit.get("model"))
    # What the unit said it runs: asked again after the update, else what it said before when
    # nothing was changed; after a complete update that was not asked again it is not known.
    read = after if after is not None else (None if result == "complete" else before)
    attempts = count(unit.get("attempts"))
    answered, runs = unit.get("answered"), unit.get("runs")
    return dict(result=result, model=model, before=before, after=after, read=read,
                message=text_or_none(unit.get("message")),
                # said by reports that give `answered` (null: not asked), else inferred from
                # what the unit told (settle_unit)
                no_answer=(answered is False) if isinstance(answered, bool) else None,
                # checked (clock) only where they are shown: most are never
                start=unit.get("start"), end=unit.get("end"),
                wave=count(unit.get("wave")) or None,
                runs=[r for r in runs if isinstance(r, dict)] if isinstance(runs, list) else None,
                attempts=attempts, updated=result == "complete", done=unit_done(unit))


def read_run(path):
    """One kept report as a run, or (None, why it cannot be read)."""
    try:
        if os.path.getsize(path) > LARGEST_REPORT:
            return None, "%s is larger than %d bytes" % (path, LARGEST_REPORT)
    except OSError as e:
        return None, "%s cannot be read (%s)" % (path, e)
    report, problem = read_report(path)
    if problem:
        return None, problem
    kind = report["report"]
    entry = check_entry if kind == "check" else update_entry
    units = [(u["address"], entry(u)) for u in report["units"]]
    return dict(kind=kind, start=clock(report.get("start")), end=clock(report.get("end")),
                file=os.path.basename(path), target=text_or_none(report.get("target_version")),
                finish_by=clock(report.get("finish_by")), units=units), None


def site_files(folder):
    """The site's kept runs, oldest first; its last reports when it has none."""
    runs = os.path.join(folder, RUNS)
    try:
        kept = sorted(n for n in os.listdir(runs) if KEPT_NAME.match(n))
    except OSError:
        kept = []
    if kept:
        return [os.path.join(runs, n) for n in kept]
    return [os.path.join(folder, n) for n in LAST_REPORTS
            if os.path.isfile(os.path.join(folder, n))]


def read_site(name, folder, target):
    runs, problems = [], []
    for path in site_files(folder):
        run, problem = read_run(path)
        if run:
            runs.append(run)
        else:
            problems.append(problem)
    runs.sort(key=lambda r: (r["start"] or "", r["file"]))
    site = dict(name=name, runs=runs, problems=problems, units={},
                last_check=last_of(runs, "check"), last_update=last_of(runs, "update"))
    # The target given, as the program compares it; else the site's last update's.
    wanted = version_given(target)
    if target is None and site["last_update"]:
        target = site["last_update"]["target"]
        wanted = version_in_report(target)
    site["target"] = target
    for index, run in enumerate(runs):
        for address, entry in run["units"]:
            entry["run"] = index
            unit = site["units"].setdefault(address, dict(address=address, history=[]))
            unit["history"].append(entry)
    for unit in site["units"].values():
        settle_unit(unit, wanted)
    return site


def last_of(runs, kind):
    of_kind = [r for r in runs if r["kind"] == kind]
    return of_kind[-1] if of_kind else None


def settle_unit(unit, wanted):
    """What the unit is now, from its history (oldest first); `wanted` is the target version's
    bytes or None."""
    version = model = updated = None
    no_answer = False
    for entry in unit["history"]:
        model = entry["model"] or model
        if entry["no_answer"] is not None:
            no_answer = entry["no_answer"]  # a check, or an update that gives `answered`, says
        elif entry["model"] is not None or entry["result"] in ("complete", "current"):
            no_answer = False  # an update that the unit answered
        if entry["read"] is not None:
            version = entry["read"]
        elif entry["updated"]:
            version = None  # changed since it last said
        if entry["updated"]:
            updated = entry
    last = unit["history"][-1]
    last_update = [e for e in unit["history"] if e["attempts"] is not None]
    unit.update(model=model, version=version, last=last, updated=updated,
                attempts=last_update[-1]["attempts"] if last_update else None,
                no_answer=no_answer,
                on_target=None if wanted is None or version is None
                else version_in_report(version) == wanted)


def site_names(reports, sites):
    """The sites asked for, then every other folder of the reports folder, each once."""
    names = list(sites or [])
    try:
        found = sorted(n for n in os.listdir(reports) if os.path.isdir(os.path.join(reports, n)))
    except OSError:
        found = []
    return names + [n for n in found if n not in names]


def read_fleet(reports, sites=None, target=None):
    """Every site of the fleet with its runs and units, and the fleet's counts."""
    fleet = dict(sites=[], target=target)
    for name in site_names(reports, sites):
        # A name that is a path would read another folder's reports.
        if name in ("", ".", "..") or "/" in name or "\0" in name:
            continue
        fleet["sites"].append(read_site(name, os.path.join(reports, name), target))
    units = [u for s in fleet["sites"] for u in s["units"].values()]
    fleet["counts"] = dict(
        sites=len(fleet["sites"]), units=len(units),
        on_target=sum(1 for u in units if u["on_target"]),
        no_answer=sum(1 for u in units if u["no_answer"]),
        models=tally(u["model"] for u in units), versions=tally(u["version"] for u in units))
    ends = [r["end"] or r["start"] for s in fleet["sites"] for r in s["runs"] if r["start"]]
    fleet["as_of"] = max(ends) if ends else None
    return fleet


def tally(values):
    counts = {}
    for value in values:
        counts[value] = counts.get(value, 0) + 1
    return sorted(counts.items(), key=lambda kv: (-kv[1], kv[0] is None, kv[0] or ""))


def wave_starts(spans):
    """The times at which a wave began, from the units' (start, end or None): units started
    while every unit that had started before them had ended (a wave starts only when every unit
    of the one before has ended). A unit still running holds every later start in its wave."""
    timed = sorted((start, end or "~") for start, end in spans)
    starts, until, i = [], None, 0
    while i < len(timed):
        start = timed[i][0]
        if until is not None and start >= until:
            starts.append(start)
        while i < len(timed) and timed[i][0] == start:
            until = timed[i][1] if until is None else max(until, timed[i][1])
            i += 1
    return starts
